// "records" against files built by the independent encoder of support.cpp (OpenSSL's Blowfish
// and MD5), against files written by the core's own store, and against damaged files.
#include <algorithm>
#include <random>

#include "framework/recordstore.h"
#include "support.h"

using namespace inspecttest;

namespace {

class RecordsTest : public CScratchTest
{
protected:
    // The driver's file after a scheduling call that installs: "Probe" had a false condition.
    Bytes SequenceFile() const
    {
        return EncodeRecordFile(
            3, {DwordRecord("COND1:SUB_PR_Action", 1), DwordRecord("COND1:Probe", 0), DwordRecord("Install", 1)});
    }

    // Runs "records" and expects a rejection: status 1 and exactly one line on standard error.
    std::string Rejected(const std::vector<std::string>& arguments, std::string* out = nullptr)
    {
        const SResult result = Inspect(arguments);
        EXPECT_EQ(result.status, 1) << result.err;
        const std::vector<std::string> lines = Lines(result.err);
        EXPECT_EQ(lines.size(), 1u) << result.err;
        if (out != nullptr)
            *out = result.out;
        return lines.empty() ? std::string() : lines[0];
    }
};

} // namespace

TEST_F(RecordsTest, SequenceFileListsTheDriversDecisions)
{
    const std::string path = Write("SUB_PR_Action.dat", SequenceFile());
    const SResult result = Inspect({"records", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    // Offsets: 28-byte header, then 40-byte heads with 8 data bytes each.
    EXPECT_EQ(result.out,
              "file:            " + path +
                  " (172 bytes)\n"
                  "magic:           0xFE56524B (ok)\n"
                  "version:         1 (ok)\n"
                  "count:           3 records\n"
                  "digest:          ok\n"
                  "kind:            per-sequence data file of the custom action driver (sequence \"SUB_PR_Action\")\n"
                  "\n"
                  "[1] offset 28, 32-bit value: COND1:SUB_PR_Action = 1 (0x00000001)\n"
                  "    -> condition held at scheduling: \"SUB_PR_Action\" runs in the later phases (installing); "
                  "\"SUB_PR_Action\" is the sequence's own clean-up action\n"
                  "[2] offset 76, 32-bit value: COND1:Probe = 0 (0x00000000)\n"
                  "    -> condition false at scheduling: \"Probe\" is skipped in the later phases (installing)\n"
                  "[3] offset 124, 32-bit value: Install = 1 (0x00000001)\n"
                  "    -> installing: the product was not installed when the sequence was scheduled\n");
}

// The kind of file comes from its records; the name only prompts a hint when the framework
// would not find the file under it.
TEST_F(RecordsTest, KindComesFromTheContentNotTheName)
{
    const Bytes properties = EncodeRecordFile(2, {DwordRecord("UC:PROP_COUNT", 1), StringRecord("CAWPROP", "1")});
    const struct {
        std::string name;
        Bytes file;
        std::string kind;
        std::string hint; // empty: no "name:" line
    } cases[] = {
        {"SUB_PR_Action (1).dat", SequenceFile(),
         "per-sequence data file of the custom action driver (sequence \"SUB_PR_Action\")",
         "the framework reads this file only as \"SUB_PR_Action.dat\" in the temporary folder, not as "
         "\"SUB_PR_Action (1).dat\""},
        {"krvlprop.dat", SequenceFile(),
         "per-sequence data file of the custom action driver (sequence \"SUB_PR_Action\")",
         "the framework reads this file only as \"SUB_PR_Action.dat\" in the temporary folder, not as "
         "\"krvlprop.dat\""},
        {"sub_pr_action.DAT", SequenceFile(),
         "per-sequence data file of the custom action driver (sequence \"SUB_PR_Action\")", ""},
        {"krvlprop - Copy.dat", properties, "shared property file of actions with properties",
         "the framework reads this file only as \"krvlprop.dat\" in the temporary folder, not as "
         "\"krvlprop - Copy.dat\""},
        {"krvlprop.dat", EncodeRecordFile(1, {StringRecord("INSTALLDIR", "C:\\")}),
         "record file without entries of the framework",
         "named like the shared property file, but it holds none of that file's own entries"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SResult result = Inspect({"records", Write(c.name, c.file)});
        EXPECT_EQ(result.status, 0) << result.err;
        const std::vector<std::string> lines = Lines(result.out);
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[5], "kind:            " + c.kind);
        EXPECT_EQ(lines[6], c.hint.empty() ? std::string() : "name:            " + c.hint);
    }
}

TEST_F(RecordsTest, PropertyFileExplainsEveryEntryAndShowsRawValues)
{
    const std::string longName = "AN_INSTALLER_PROPERTY_OF_31_CHR";
    ASSERT_EQ(longName.size(), 31u);
    const Bytes opaque = oracle::FromHex("00112233445566778899AABBCCDDEEFF0102");
    Bytes opaqueData = opaque;
    opaqueData.resize(24, 0);
    const std::vector<SRawRecord> records = {
        DwordRecord("UC:PROP_COUNT", 2),
        StringRecord("CAWPROP", "1"),
        StringRecord("INSTALLDIR", "C:\\Program Files\\Korvalin\\"),
        DwordRecord("LongProp:Count", 0),
        StringRecord("LongProp0:Name", longName),
        StringRecord("LongProp0:Value", "say \"hi\"\t\x01\xE9"),
        RawRecord("Opaque", 7, 24, opaqueData),
        StringRecord("Install", "1"),
        DwordRecord("Answer", 0xFFFFFFFF),
    };
    const std::string path = Write("krvlprop.dat", EncodeRecordFile(9, records));
    const SResult result = Inspect({"records", path});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    const std::vector<std::string> expected = {
        "kind:            record file with both driver and property-file entries",
        "",
        "[1] offset 28, 32-bit value: UC:PROP_COUNT = 2 (0x00000002)",
        "    -> 2 scheduled actions still need this property file: the last rollback or commit step deletes it",
        "[2] offset 76, string: CAWPROP = \"1\"",
        "    -> an action with properties prepared this file in its scheduling phase",
        "[3] offset 124, string: INSTALLDIR = \"C:\\Program Files\\Korvalin\\\"",
        "    -> installer property kept for the deferred, rollback and commit phases",
        "[4] offset 196, 32-bit value: LongProp:Count = 0 (0x00000000)",
        "    -> long-named properties: entry 0 is in use",
        "[5] offset 244, string: LongProp0:Name = \"" + longName + "\"",
        "    -> full name of the long-named property in entry 0",
        "[6] offset 324, string: LongProp0:Value = \"say \"hi\"\\x09\\x01\\xE9\"",
        "    -> value of the long-named property \"" + longName + "\"",
        "[7] offset 380, type 7 (unknown to the module, kept unchanged), 24 bytes: Opaque",
        "      0000: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
        "      0010: 01 02 00 00 00 00 00 00",
        "[8] offset 444, string: Install = \"1\"",
        "    -> not a 32-bit value: the driver finds no \"Install\" and takes the removal side in the later phases",
        "[9] offset 492, 32-bit value: Answer = 4294967295 (0xFFFFFFFF)",
    };
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), expected);
}

// A file the core's writer produced, checked byte-wise against the independent encoder first:
// the writer puts the newest record first, and the listing follows the file (a 7-character string
// takes 16 data bytes).
TEST_F(RecordsTest, FileWrittenByTheCoreStore)
{
    InstallToolBox::CRecordStore store;
    ASSERT_EQ(store.Init(InstallToolBox::g_abInstoptsKey, InstallToolBox::INSTOPTS_KEY_SIZE), 0);
    ASSERT_EQ(store.SetDword("Install", 0), 0);
    ASSERT_EQ(store.SetDword("COND0:Probe", 1), 0);
    ASSERT_EQ(store.SetString("Path", "C:\\Temp"), 0);
    std::vector<uint8_t> written;
    ASSERT_EQ(store.Save(written), 0);
    ASSERT_EQ(written, EncodeRecordFile(3, {StringRecord("Path", "C:\\Temp"), DwordRecord("COND0:Probe", 1),
                                            DwordRecord("Install", 0)}));

    const SResult result = Inspect({"records", Write("Probe.dat", written)});
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 12u) << result.out;
    EXPECT_EQ(lines[7], "[1] offset 28, string: Path = \"C:\\Temp\"");
    EXPECT_EQ(lines[8], "[2] offset 84, 32-bit value: COND0:Probe = 1 (0x00000001)");
    EXPECT_EQ(lines[9], "    -> condition held at scheduling: \"Probe\" runs in the later phases (not installing); "
                        "\"Probe\" is the sequence's own clean-up action");
    EXPECT_EQ(lines[10], "[3] offset 132, 32-bit value: Install = 0 (0x00000000)");
    EXPECT_EQ(lines[11],
              "    -> not installing (removal, repair or change): the later phases call the uninstall operations");
}

// Records the module never writes itself: the lookups still work, and the notes say what differs.
TEST_F(RecordsTest, IrregularRecordsGetNotes)
{
    Bytes paddedDword(16, 0);
    paddedDword[0] = 5;
    paddedDword[9] = 0xAA;
    const std::vector<SRawRecord> records = {
        DwordRecord("Twice", 1),
        RawRecord("Wide", 1, 16, paddedDword),
        RawRecord(std::string(32, 'N'), 0, 8, Bytes{'v', 0, 0, 0, 0, 0, 0, 0}),
        DwordRecord("Twice", 2),
        StringRecord("LongProp3:Value", "orphan"),
    };
    const Bytes file = EncodeRecordFile(5, records, Bytes(5, 0xA5), 2);
    const SResult result = Inspect({"records", Write("odd.dat", file)});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string& out = result.out;
    EXPECT_NE(out.find("version:         2 (the module writes 1 and does not check it)\n"), std::string::npos);
    EXPECT_NE(out.find("[1] offset 28, 32-bit value: Twice = 1 (0x00000001)\n"
                       "    note: not what the module reads: record 4 has the same name and type and comes later "
                       "in the file\n"),
              std::string::npos);
    EXPECT_NE(out.find("[2] offset 76, 32-bit value: Wide = 5 (0x00000005)\n"
                       "    note: data size 16, where the module writes 8 for this value\n"
                       "    note: the fill after the value is not zero\n"),
              std::string::npos);
    EXPECT_NE(out.find("[3] offset 132, string: " + std::string(32, 'N') +
                       " = \"v\"\n"
                       "    note: the name field has no terminator: the module's lookups never find this record\n"),
              std::string::npos);
    EXPECT_NE(out.find("[4] offset 180, 32-bit value: Twice = 2 (0x00000002)\n"), std::string::npos);
    EXPECT_NE(out.find("    -> value of long-named entry 3, whose name record is missing\n"), std::string::npos);
    EXPECT_NE(out.find("note: 5 bytes after the last record, which the module does not read\n"), std::string::npos);
}

TEST_F(RecordsTest, EmptyStoreFile)
{
    const SResult result = Inspect({"records", Write("empty.dat", EncodeRecordFile(0, {}))});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("file:            " + PathOf("empty.dat") + " (28 bytes)\n"), std::string::npos);
    EXPECT_NE(result.out.find("count:           0 records\ndigest:          ok\n"
                              "kind:            record file without entries of the framework\n\n(no records)\n"),
              std::string::npos);
}

TEST_F(RecordsTest, FilesTooShortOrOfAnotherKind)
{
    EXPECT_EQ(Rejected({"records", Write("zero.dat", {})}),
              "submca-inspect: " + PathOf("zero.dat") +
                  ": empty file (0 bytes), not a record file; the module treats the file as missing");
    const Bytes good = SequenceFile();
    EXPECT_EQ(Rejected({"records", Write("short.dat", Bytes(good.begin(), good.begin() + 27))}),
              "submca-inspect: " + PathOf("short.dat") +
                  ": too short for a record file: 27 bytes, the header alone takes 28; the module treats the file "
                  "as missing");

    Bytes wrongMagic = good;
    wrongMagic[3] = 0xFF;
    std::string out;
    EXPECT_EQ(Rejected({"records", Write("magic.dat", wrongMagic)}, &out),
              "submca-inspect: " + PathOf("magic.dat") +
                  ": not a record file: wrong magic number; the module treats the file as missing");
    EXPECT_NE(out.find("magic:           0xFF56524B (a record file has 0xFE56524B)\n"), std::string::npos);

    const Bytes container = EncodeContainerFor("<x/>", Bytes(16, 7));
    EXPECT_NE(Rejected({"records", Write("SCD.xml", container)}).find("enciphered SCD.xml container"),
              std::string::npos);
}

TEST_F(RecordsTest, DigestMismatchListsOnlyWhenForced)
{
    Bytes altered = SequenceFile();
    altered[80] ^= 0x01; // inside the second record
    const std::string path = Write("SUB_PR_Action.dat", altered);
    std::string out;
    EXPECT_EQ(Rejected({"records", path}, &out),
              "submca-inspect: " + path +
                  ": digest mismatch; the module treats the file as missing (add --force to list what can be read)");
    EXPECT_NE(out.find("digest:          MISMATCH: the file was changed or damaged after the module wrote it\n"),
              std::string::npos);
    EXPECT_EQ(out.find("[1]"), std::string::npos);

    EXPECT_EQ(Rejected({"records", path, "--force"}, &out),
              "submca-inspect: " + path + ": listed despite the failed check; the module treats the file as missing");
    EXPECT_NE(out.find("[1] offset 28, 32-bit value: COND1:SUB_PR_Action = 1 (0x00000001)\n"), std::string::npos);
    EXPECT_NE(out.find("[2] offset 76, "), std::string::npos);
    EXPECT_NE(out.find("[3] offset 124, 32-bit value: Install = 1"), std::string::npos);

    // The digest field itself altered.
    Bytes digestAltered = SequenceFile();
    digestAltered[12] ^= 0x80;
    EXPECT_NE(Rejected({"records", Write("d.dat", digestAltered)}).find("digest mismatch"), std::string::npos);
}

TEST_F(RecordsTest, CountsBeyondTheRecordsPresent)
{
    for (uint32_t count : {4u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        const Bytes file =
            EncodeRecordFile(count, {DwordRecord("Install", 1), DwordRecord("COND1:A", 0), DwordRecord("COND1:B", 1)});
        std::string out;
        EXPECT_EQ(Rejected({"records", Write("c.dat", file)}, &out),
                  "submca-inspect: " + PathOf("c.dat") + ": record 4 of " + std::to_string(count) +
                      " at offset 172 is cut short: 0 bytes left for its 40-byte head; the module treats the file "
                      "as missing");
        EXPECT_NE(out.find("count:           " + std::to_string(count) + " records\n"), std::string::npos);
        EXPECT_NE(out.find("digest:          ok\n"), std::string::npos);
        EXPECT_NE(out.find("[3] offset 124, 32-bit value: COND1:B = 1"), std::string::npos);
    }
}

// Records whose head is wrong although the digest matches: the reason names the fault.
TEST_F(RecordsTest, MalformedRecordsAreNamed)
{
    const struct {
        SRawRecord record;
        std::string reason;
    } cases[] = {
        {RawRecord("Bad", 0, 12, Bytes(12, 0)),
         "malformed: its head declares 12 bytes of data, not whole 8-byte blocks"},
        {RawRecord("Bad", 9, 2064, Bytes(2064, 1)),
         "malformed: its head declares 2064 bytes of data, more than the 2056 any value takes"},
        {RawRecord("Bad", 0, 8, Bytes(8, 'x')), "malformed: a string whose data holds no terminator"},
        {RawRecord("Bad", 1, 0, {}), "malformed: a 32-bit value with 0 bytes of data"},
        {RawRecord("Bad", 0, 64, Bytes(8, 0)), "cut short: its head declares 64 bytes of data but only 8 bytes follow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const Bytes file = EncodeRecordFile(2, {DwordRecord("First", 1), c.record});
        const std::string line = Rejected({"records", Write("m.dat", file)});
        EXPECT_EQ(line, "submca-inspect: " + PathOf("m.dat") + ": record 2 of 2 at offset 76 is " + c.reason +
                            "; the module treats the file as missing");
    }
}

TEST_F(RecordsTest, FilesBeyondTheVerifiedSize)
{
    const std::vector<SRawRecord> one = {DwordRecord("Install", 1)};
    const Bytes atLimit = EncodeRecordFile(1, one, Bytes(262144 - 76, 0));
    ASSERT_EQ(atLimit.size(), 262144u);
    const SResult accepted = Inspect({"records", Write("limit.dat", atLimit)});
    EXPECT_EQ(accepted.status, 0);
    EXPECT_NE(accepted.out.find("note: 262068 bytes after the last record"), std::string::npos);

    const std::string over = Write("over.dat", EncodeRecordFile(1, one, Bytes(262145 - 76, 0)));
    std::string out;
    EXPECT_EQ(Rejected({"records", over}, &out),
              "submca-inspect: " + over +
                  ": too large to verify; the module treats the file as missing (add --force to list what can be "
                  "read)");
    EXPECT_NE(out.find("digest:          not checked: the module verifies files of at most 262144 bytes"),
              std::string::npos);
    EXPECT_NE(Rejected({"records", over, "--force"}, &out).find("listed despite the failed check"), std::string::npos);
    EXPECT_NE(out.find("[1] offset 28, 32-bit value: Install = 1"), std::string::npos);
}

TEST_F(RecordsTest, FilesThatCannotBeRead)
{
    SResult result = Inspect({"records", PathOf("absent.dat")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "submca-inspect: " + PathOf("absent.dat") + ": no such file\n");
    EXPECT_EQ(result.out, "");

    result = Inspect({"records", m_folder});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "submca-inspect: " + m_folder + ": is a folder\n");

    // Beyond what the tool lists, the module's own verdict is still known.
    result = Inspect({"records", Write("big.dat", Bytes(4 * 1024 * 1024 + 1, 0)), "--force"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "submca-inspect: " + PathOf("big.dat") +
                              ": larger than 4194304 bytes: the module verifies record files of at most 262144 bytes; "
                              "the module treats the file as missing; this tool lists none that large, even with "
                              "--force (a limit of the tool)\n");
}

// Every cut and many altered bytes of a good file: never a crash (the sanitizers watch), and
// always the rejection the module makes (the digest covers every byte after the magic), told in
// one line.
TEST_F(RecordsTest, DamagedFilesNeverBreakTheTool)
{
    const Bytes good = EncodeRecordFile(
        3, {StringRecord("CAWPROP", "1"), DwordRecord("UC:PROP_COUNT", 1), RawRecord("Blob", 5, 16, Bytes(16, 0x5A))});
    std::mt19937 rng(20240601);
    std::vector<Bytes> damaged;
    for (size_t size = 0; size < good.size(); ++size)
        damaged.emplace_back(good.begin(), good.begin() + size);
    for (int i = 0; i < 300; ++i) {
        Bytes file = good;
        file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
        damaged.push_back(file);
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        const std::string path = Write("d.dat", damaged[i]);
        for (bool force : {false, true}) {
            std::vector<std::string> arguments = {"records", path};
            if (force)
                arguments.push_back("--force");
            const SResult result = Inspect(arguments);
            ASSERT_EQ(result.status, 1) << i;
            ASSERT_EQ(Lines(result.err).size(), 1u) << i << result.err;
        }
    }
}
