// "records" against files built by the independent encoder of oracle.h (OpenSSL's Blowfish and
// MD5), against a file written by the core's own store, and against damaged files.
#include <random>

#include "framework/recordstore.h"
#include "support.h"

using namespace inspecttest;

namespace {

// The driver's file after a scheduling call that installs: "Probe" had a false condition.
const Bytes kSequenceFile = EncodeRecordFile(
    3, {DwordRecord("COND1:SUB_PR_Action", 1), DwordRecord("COND1:Probe", 0), DwordRecord("Install", 1)});

class RecordsTest : public CScratchTest {};

} // namespace

// The one report compared whole: offsets from the 28-byte header and 48-byte records.
TEST_F(RecordsTest, SequenceFileListsTheDriversDecisions)
{
    const std::string path = Write("SUB_PR_Action.dat", kSequenceFile);
    const SResult result = Inspect({"records", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
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

// Files the tool lists (status 0: the kind comes from the records, the name only prompts a
// hint) and files the module treats as missing (status 1, one line on standard error); each row
// names a key line of the report or a part of that line.
TEST_F(RecordsTest, EachFileGivesItsStatusAndKeyLine)
{
    InstallToolBox::CRecordStore store;
    ASSERT_EQ(store.Init(InstallToolBox::g_abInstoptsKey, InstallToolBox::INSTOPTS_KEY_SIZE), 0);
    ASSERT_EQ(store.SetDword("Install", 0), 0);
    ASSERT_EQ(store.SetString("Path", "C:\\Temp"), 0);
    std::vector<uint8_t> written;
    ASSERT_EQ(store.Save(written), 0);
    const Bytes props =
        EncodeRecordFile(4, {DwordRecord("UC:PROP_COUNT", 2), StringRecord("LongProp0:Value", "say \"hi\"\t\x01\xE9"),
                             RawRecord("Opaque", 7, 24, FromHex("00112233445566778899AABBCCDDEEFF0102000000000000")),
                             StringRecord("Install", "1")});
    const Bytes odd = EncodeRecordFile(3,
                                       {DwordRecord("Twice", 1),
                                        RawRecord(std::string(32, 'N'), 0, 8, Bytes{'v', 0, 0, 0, 0, 0, 0, 0}),
                                        DwordRecord("Twice", 2)},
                                       {}, 2);
    Bytes wrongMagic = kSequenceFile;
    wrongMagic[3] = 0xFF;
    Bytes altered = kSequenceFile;
    altered[80] ^= 0x01;
    const auto withRecord = [](const Record& bad) { return EncodeRecordFile(2, {DwordRecord("First", 1), bad}); };
    const std::vector<Record> three = {DwordRecord("Install", 1), DwordRecord("COND1:A", 0), DwordRecord("COND1:B", 1)};
    // Forged sequence names with a correct digest: the key is no secret.
    const Bytes escapes = EncodeRecordFile(1, {DwordRecord("COND1:\x1B]0;x\x07\x1B[2J", 1)});
    const Bytes controls = EncodeRecordFile(1, {DwordRecord("COND1:\xC2\x9B"
                                                            "1m\x9B\x7F\xE2\x80\xAEtxt",
                                                            1)});
    const struct {
        std::string name;
        Bytes file;
        int status; // 1: the module treats the file as missing; 2: so, and --force is given
        std::string part;
    } cases[] = {
        {"SUB_PR_Action (1).dat", kSequenceFile, 0, "the framework reads this file only as \"SUB_PR_Action.dat\""},
        {"SUB_PR_Action.dat", escapes, 0,
         "kind:            per-sequence data file of the custom action driver (sequence "
         "\"\\x1B]0;x\\x07\\x1B[2J\")\nname:            the framework reads this file only as "
         "\"\\x1B]0;x\\x07\\x1B[2J.dat\" in the temporary folder"},
        {"SUB_PR_Action.dat", escapes, 0, "    -> condition held at scheduling: \"\\x1B]0;x\\x07\\x1B[2J\" runs"},
        {"SUB_PR_Action.dat", controls, 0, "(sequence \"\\xC2\\x9B1m\\x9B\\x7F\\xE2\\x80\\xAEtxt\")\n"},
        {"krvlprop.dat", EncodeRecordFile(1, {StringRecord("INSTALLDIR", "C:\\")}), 0,
         "kind:            record file without entries of the framework\n"},
        {"Probe.dat", written, 0,
         "[1] offset 28, string: Path = \"C:\\Temp\"\n[2] offset 84, 32-bit value: Install = 0"},
        {"props.dat", props, 0, "-> 2 scheduled actions still need this property file"},
        {"props.dat", props, 0, "type 7 (unknown to the module, kept unchanged), 24 bytes: Opaque\n      0000: 00 11"},
        {"props.dat", props, 0, "-> not a 32-bit value: the driver finds no \"Install\""},
        {"odd.dat", odd, 0, "version:         2 (the module writes 1 and does not check it)\n"},
        {"odd.dat", odd, 0, "note: not what the module reads: record 3 has the same name and type"},
        {"odd.dat", odd, 0, "note: the name field has no terminator: the module's lookups never find this record"},
        {"zero.dat", {}, 1, "empty file (0 bytes), not a record file; the module treats the file as missing"},
        {"short.dat", Bytes(kSequenceFile.begin(), kSequenceFile.begin() + 27), 1,
         "too short for a record file: 27 bytes, the header alone takes 28"},
        {"magic.dat", wrongMagic, 1, "not a record file: wrong magic number; the module treats the file as missing"},
        {"SCD.xml", EncodeContainerFor("<x/>", Bytes(16, 7)), 1, "enciphered SCD.xml container"},
        {"altered.dat", altered, 1,
         "digest mismatch; the module treats the file as missing (add --force to list what can be read)"},
        {"forced.dat", altered, 2, "listed despite the failed check; the module treats the file as missing"},
        {"count.dat", EncodeRecordFile(0xFFFFFFFF, three), 1,
         "record 4 of 4294967295 at offset 172 is cut short: 0 bytes left for its 40-byte head"},
        {"blocks.dat", withRecord(RawRecord("Bad", 0, 12, Bytes(12, 0))), 1,
         "record 2 of 2 at offset 76 is malformed: its head declares 12 bytes of data, not whole 8-byte blocks"},
        {"long.dat", withRecord(RawRecord("Bad", 9, 2064, Bytes(2064, 1))), 1,
         "malformed: its head declares 2064 bytes of data, more than the 2056 any value takes"},
        {"unterminated.dat", withRecord(RawRecord("Bad", 0, 8, Bytes(8, 'x'))), 1,
         "malformed: a string whose data holds no terminator"},
        {"novalue.dat", withRecord(RawRecord("Bad", 1, 0, {})), 1, "malformed: a 32-bit value with 0 bytes of data"},
        {"cut.dat", withRecord(RawRecord("Bad", 0, 64, Bytes(8, 0))), 1,
         "cut short: its head declares 64 bytes of data but only 8 bytes follow"},
        {"over.dat", EncodeRecordFile(1, {DwordRecord("Install", 1)}, Bytes(262145 - 76, 0)), 1,
         "too large to verify; the module treats the file as missing"},
        {"big.dat", Bytes(4 * 1024 * 1024 + 1, 0), 2,
         "larger than 4194304 bytes: the module verifies record files of at most 262144 bytes"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"records", Write(c.name, c.file)};
        if (c.status == 2)
            arguments.push_back("--force");
        const SResult result = Inspect(arguments);
        EXPECT_EQ(result.status, std::min(c.status, 1)) << c.name;
        EXPECT_TRUE(IsPlainText(result.out + result.err)) << result.out << result.err;
        if (c.status == 0) {
            EXPECT_TRUE(Contains(result.out, c.part)) << c.name << " lacks: " << c.part << "\n" << result.out;
            continue;
        }
        const std::vector<std::string> lines = Lines(result.err);
        ASSERT_EQ(lines.size(), 1u) << result.err;
        EXPECT_EQ(lines[0].rfind("submca-inspect: " + PathOf(c.name) + ": ", 0), 0u) << lines[0];
        EXPECT_TRUE(Contains(lines[0], c.part)) << lines[0];
    }
}

// Every cut and many altered bytes of a good file: never a crash (the sanitizers watch), and
// always the module's rejection (the digest covers every byte after the magic) in one line.
TEST_F(RecordsTest, DamagedFilesNeverBreakTheTool)
{
    const Bytes good = EncodeRecordFile(
        3, {StringRecord("CAWPROP", "1"), DwordRecord("UC:PROP_COUNT", 1), RawRecord("Blob", 5, 16, Bytes(16, 0x5A))});
    std::mt19937 rng(20240601);
    for (size_t i = 0; i < good.size() + 300; ++i) {
        Bytes file(good.begin(), good.begin() + std::min(i, good.size()));
        if (i >= good.size())
            file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
        const std::string path = Write("d.dat", file);
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"records", path}, {"records", path, "--force"}}) {
            const SResult result = Inspect(arguments);
            ASSERT_EQ(result.status, 1) << i;
            ASSERT_EQ(Lines(result.err).size(), 1u) << i << result.err;
        }
    }
}
