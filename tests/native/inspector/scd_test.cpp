// "scd" against containers built by the independent encoder of oracle.h, and the containers
// that "scd --encipher" writes, read back independently.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "support.h"

using namespace inspecttest;

namespace {

const Bytes kDataKey = FromHex("0F1E2D3C4B5A69788796A5B4C3D2E1F0");

// A control document of exactly size bytes.
std::string Document(size_t size)
{
    std::string text = "<?xml version=\"1.0\"?>\n<scd><controlSettings scdSequence=\"7\"/></scd>\n";
    text.resize(size, ' ');
    text.back() = '\n';
    return text;
}

class ScdTest : public CScratchTest
{
};

} // namespace

// The one report compared whole.
TEST_F(ScdTest, ContainerDecodesToStandardOutputWithTheReportAside)
{
    const std::string plain = Document(100);
    const std::string path = Write("SCD.xml", EncodeContainerFor(plain, kDataKey));
    const SResult result = Inspect({"scd", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_EQ(result.err, "file:            " + path +
                              " (144 bytes)\n"
                              "form:            enciphered container\n"
                              "magic:           {D3F08B52-6C19-4E7A-9B41-E275A0C8D93F} (ok)\n"
                              "stored length L: 101 (content of 100 bytes and its terminating zero)\n"
                              "body size P:     104 bytes (file size less the 40-byte header)\n"
                              "whole blocks:    yes (13 blocks of 8 bytes)\n"
                              "large enough:    yes (L = 101 fits the 104 bytes of whole blocks)\n"
                              "terminator:      ok (the content ends in a zero byte)\n"
                              "integrity:       not checked: the container carries no checksum, so an altered body "
                              "deciphers to other bytes without notice; only 'submca-inspect check' tells whether "
                              "the update accepts them\n"
                              "content:         100 bytes of plain text written to standard output\n");
}

// Files whose content the module reads (status 0): the content goes to -o, the report to
// standard output, and says what differs from what the module writes.
TEST_F(ScdTest, ReadableFilesAndTheirKeyLines)
{
    const std::string plain = Document(100);
    Bytes ragged = EncodeContainerFor(plain, kDataKey);
    ragged.insert(ragged.end(), {1, 2, 3});
    Bytes body = ToBytes(plain);
    body.resize(112, 0);
    body[105] = 0x77; // fill that is not zero, and a whole block more than the module writes
    std::string withZero = plain;
    withZero[10] = '\0';
    const struct {
        const char* name;
        Bytes file;
        std::string content; // what -o receives; nothing for a plain file
        std::vector<std::string> parts;
    } cases[] = {
        {"whole block of fill", EncodeContainerFor(Document(127), kDataKey), Document(127),
         {"stored length L: 128 (content of 127 bytes and its terminating zero)\nbody size P:     136 bytes",
          "content:         127 bytes of plain text written to "}},
        {"plain", ToBytes(Document(60)), "",
         {"form:            plain (no container magic)\nresult:          nothing to decode; the module reads this "
          "file as it is"}},
        {"bytes after the whole blocks", ragged, plain,
         {"whole blocks:    no (13 blocks of 8 bytes and 3 bytes that stay enciphered)\nlarge enough:    yes (L = "
          "101 fits the 104 bytes of whole blocks; the module writes P = 104 for this L)\n"}},
        {"longer body, high bits, fill", EncodeContainer(kDataKey, 101 | (uint64_t(3) << 32), body), plain,
         {"high 32 bits 0x00000003, which the module ignores\n", "L = 101 fits the 112 bytes of whole blocks",
          "note:            the fill after the content is not zero (the module ignores it)\n"}},
        {"zero byte in the content", EncodeContainerFor(withZero, kDataKey), withZero,
         {"note:            a zero byte at content offset 10 ends the text that the module parses\n"}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(PathOf("out.xml"));
        const SResult result = Inspect({"scd", Write("in.xml", c.file), "-o", PathOf("out.xml")});
        EXPECT_EQ(result.status, 0) << c.name << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(std::filesystem::exists(PathOf("out.xml")), !c.content.empty()) << c.name;
        EXPECT_EQ(ReadText("out.xml"), c.content) << c.name;
        for (const std::string& part : c.parts)
            EXPECT_TRUE(Contains(result.out, part)) << c.name << " lacks: " << part << "\n" << result.out;
    }
    // A UTF-8 byte order mark and white space may come before the first element.
    EXPECT_EQ(Inspect({"scd", Write("bom.xml", ToBytes("\xEF\xBB\xBF\r\n<scd/>"))}).status, 0);
}

// Files the update rejects (status 1): no content, one line after the report on standard error.
TEST_F(ScdTest, RejectedFilesGiveOneLine)
{
    const Bytes good = EncodeContainerFor(Document(100), kDataKey);
    std::mt19937 rng(99);
    Bytes noise = RandomBytes(rng, 5000000);
    noise[0] = 0xA7;
    Bytes damagedMagic = good;
    damagedMagic[3] ^= 0x10;
    Bytes recordFile = EncodeRecordFile(0, {});
    recordFile.insert(recordFile.end(), {'<', 'a', '>'});
    const auto withLength = [&good](uint32_t length) {
        Bytes file = good;
        PutLe32(file.data() + 32, length);
        return file;
    };
    // A changed byte turns its 8-byte block into noise: the first change whose noise holds a
    // control character, as most do.
    Bytes flipped;
    for (uint8_t change = 1; flipped.empty(); ++change) {
        Bytes candidate = good;
        candidate[40 + 50] ^= change;
        const Bytes body = DecipheredBody(candidate);
        if (std::any_of(body.begin() + 48, body.begin() + 56, [](uint8_t c) { return c < 0x09; }))
            flipped = candidate;
    }
    Bytes otherKey = good;
    otherKey[20] ^= 0x01;
    const struct {
        const char* name;
        Bytes file;
        std::string message; // a part of the last line
        std::string report;  // a part of the report
    } cases[] = {
        {"random bytes", noise, "not XML: it does not begin with '<' (file offset 0 holds A7 ",
         "result:          rejected: the update reads it as plain text and fails to parse it"},
        {"container cut to 30 bytes", Bytes(good.begin(), good.begin() + 30),
         "a container cut short to 30 bytes (its header alone takes 40): it does not begin with '<' (file offset 0 "
         "holds 52 8B F0 D3 19 6C 7A 4E); the update rejects it (0x80004005)",
         "shorter than the 40-byte header, so the module reads it as plain"},
        {"damaged magic", damagedMagic, "a container whose magic was damaged, read as plain text",
         "note:            the first 16 bytes are close to the container magic"},
        {"record file", recordFile, "not XML: it does not begin with '<' (file offset 0 holds 4B 52 56 FE 01)",
         "note:            it begins with the record-file magic: try 'submca-inspect records "},
        {"control character", ToBytes("<scd>\x07</scd>"),
         "not XML: byte \\x07 at file offset 5 is a character XML does not allow; the update rejects it (0x80004005)",
         "form:            plain (no container magic)"},
        {"white space only", ToBytes(" \r\n\t"), "not XML: no text; the update rejects it (0x80004005)", ""},
        {"zero byte first", ToBytes(std::string(1, '\0') + "<scd/>"), "not XML: no text before the zero byte at file offset 0",
         "note:            a zero byte at content offset 0 ends the text that the module parses"},
        {"empty", {}, "empty file (0 bytes): the module has no content to read", ""},
        {"header only", Bytes(good.begin(), good.begin() + 40),
         "enciphered container without a body: the module fails to read it", "body size P:     0 bytes"},
        {"body cut by 3 bytes", Bytes(good.begin(), good.end() - 3),
         "damaged container: the stored length L is larger than the body; the module refuses it",
         "whole blocks:    no (12 blocks of 8 bytes and 5 bytes that stay enciphered)\nlarge enough:    no (L = 101 "
         "but the whole blocks hold only 96 bytes)\n"},
        {"L beyond the body", withLength(500), "L is larger than the body",
         "large enough:    no (L = 500 but the whole blocks hold only 104 bytes)\n"},
        {"L of 0", withLength(0), "the stored length L is 0",
         "stored length L: 0 (invalid: even an empty content stores its terminating zero)\n"},
        {"altered body", flipped, "the deciphered content is not XML: byte \\x",
         "the body was damaged or altered, and the update rejects it (0x80004005)"},
        {"altered data key", otherKey, "does not end in a zero byte", "terminator:      missing"},
    };
    for (const auto& c : cases) {
        const std::string path = Write("in.xml", c.file);
        const SResult result = Inspect({"scd", path});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
        const std::string last = Lines(result.err).empty() ? "" : Lines(result.err).back();
        EXPECT_EQ(last.rfind("submca-inspect: " + path + ": ", 0), 0u) << last;
        EXPECT_TRUE(Contains(last, c.message)) << c.name << ": " << last;
        EXPECT_TRUE(Contains(result.err, c.report)) << c.name << "\n" << result.err;
    }
}

// What --encipher writes is the container of the plain file under the data key it holds, and
// each enciphering draws a fresh key.
TEST_F(ScdTest, EncipherWritesTheModulesContainer)
{
    Bytes previousKey;
    for (size_t size : {2u, 7u, 8u, 100u, 5000u}) {
        const std::string plain = Document(size);
        const std::string input = Write("plain.xml", ToBytes(plain));
        const SResult result = Inspect({"scd", "--encipher", input, "-o", PathOf("SCD.xml")});
        ASSERT_EQ(result.status, 0) << result.err;
        const size_t length = size + 1;
        EXPECT_TRUE(Contains(result.out, "body size P:     " + std::to_string(length + 8 - length % 8) + " bytes"));
        const Bytes file = ToBytes(ReadText("SCD.xml"));
        Bytes dataKey;
        DecipheredBody(file, &dataKey);
        EXPECT_EQ(file, EncodeContainerFor(plain, dataKey)) << size;
        EXPECT_NE(dataKey, previousKey);
        previousKey = dataKey;
        EXPECT_EQ(ReadText("plain.xml"), plain);
    }
}

TEST_F(ScdTest, TheInputIsReplacedOnlyWhenAsked)
{
    const std::string plain = Document(90);
    const std::string input = Write("SCD.xml", ToBytes(plain));
    std::filesystem::create_symlink(input, PathOf("link.xml"));
    const std::string itself = "scd: -o names the input file itself; add --in-place instead to replace it";
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } refused[] = {
        {{"scd", "--encipher", input, "-o", input}, itself},
        {{"scd", "--encipher", input, "-o", PathOf("link.xml")}, itself},
        {{"scd", input, "-o", PathOf("link.xml")}, itself},
        {{"scd", "--encipher", input}, "scd: --encipher needs -o OUT or --in-place"},
        {{"scd", "--encipher", input, "-o", PathOf("x.xml"), "--in-place"},
         "scd: give either -o OUT or --in-place, not both"},
    };
    for (const auto& c : refused) {
        const SResult result = Inspect(c.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "submca-inspect: " + c.message + " (see 'submca-inspect scd --help')\n");
        EXPECT_EQ(ReadText("SCD.xml"), plain);
    }
    EXPECT_FALSE(std::filesystem::exists(PathOf("x.xml")));

    ASSERT_EQ(Inspect({"scd", "--encipher", input, "--in-place"}).status, 0);
    EXPECT_EQ(ToBytes(ReadText("SCD.xml")).size(), 40 + 96u);
    SResult again = Inspect({"scd", "--encipher", input, "-o", PathOf("twice.xml")});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "submca-inspect: " + input + ": already enciphered: the module leaves such a file as it is\n");
    EXPECT_FALSE(std::filesystem::exists(PathOf("twice.xml")));
    again = Inspect({"scd", "--encipher", Write("empty.xml", {}), "-o", PathOf("e.xml")});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(Contains(again.err, "empty file: the module does not encipher an empty control file\n"));

    const SResult decoded = Inspect({"scd", input, "--in-place"});
    EXPECT_EQ(decoded.status, 0);
    EXPECT_TRUE(Contains(decoded.out, "content:         90 bytes of plain text written to " + input + "\n"));
    EXPECT_EQ(ReadText("SCD.xml"), plain);
    // No temporary files are left beside the replaced one.
    for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        EXPECT_FALSE(Contains(entry.path().filename().string(), ".inspect-"));
}

// -o writes through a device, a FIFO and a symbolic link, and never puts a regular file in their
// place; a replaced file keeps its permissions; what cannot be written or read gives status 3.
TEST_F(ScdTest, OutputGoesThroughWhatIsNotARegularFile)
{
    const std::string plain = Document(100);
    const std::string input = Write("SCD.xml", EncodeContainerFor(plain, kDataKey));
    ASSERT_EQ(mkfifo(PathOf("fifo").c_str(), 0600), 0);
    // Reading and writing, this end never blocks and keeps the FIFO open for the tool's write.
    const int reader = open(PathOf("fifo").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(mkfifo(PathOf("unread").c_str(), 0600), 0);
    Write("target.xml", ToBytes("old"));
    ASSERT_EQ(chmod(PathOf("target.xml").c_str(), 0640), 0);
    std::filesystem::create_symlink("target.xml", PathOf("link.xml"));

    const struct {
        std::string out;
        int status;
        mode_t type; // what out is afterwards
        std::string message;
    } cases[] = {
        {"/dev/zero", 0, S_IFCHR, ""}, // takes and drops what is written, like /dev/null
        {PathOf("fifo"), 0, S_IFIFO, ""},
        {PathOf("link.xml"), 0, S_IFLNK, ""},
        {PathOf("unread"), 3, S_IFIFO,
         "submca-inspect: " + PathOf("unread") + ": cannot be written (no program reads from it)"},
        {PathOf("missing/plain.xml"), 3, 0,
         "submca-inspect: " + PathOf("missing/plain.xml") + ": cannot be created (no such file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        const SResult result = Inspect({"scd", input, "-o", c.out});
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.err.empty() ? std::string() : Lines(result.err).back(), c.message);
        struct stat after = {};
        lstat(c.out.c_str(), &after);
        EXPECT_EQ(after.st_mode & S_IFMT, c.type);
    }
    std::string received(plain.size() + 1, '\0');
    received.resize(size_t(std::max<ssize_t>(0, read(reader, &received[0], received.size()))));
    close(reader);
    EXPECT_EQ(received, plain);
    EXPECT_EQ(ReadText("target.xml"), plain);
    struct stat target;
    ASSERT_EQ(stat(PathOf("target.xml").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);

    const SResult absent = Inspect({"scd", PathOf("absent.xml")});
    EXPECT_EQ(absent.status, 3);
    EXPECT_EQ(absent.err, "submca-inspect: " + PathOf("absent.xml") + ": no such file\n");
}

// Cuts and altered bytes of a good container: never a crash, a verdict of 0 or 1, and on 1 one
// message line after the report and no content.
TEST_F(ScdTest, DamagedContainersNeverBreakTheTool)
{
    const Bytes good = EncodeContainerFor(Document(70), kDataKey);
    std::mt19937 rng(4711);
    for (size_t i = 0; i < good.size() + 300; ++i) {
        Bytes file(good.begin(), good.begin() + std::min(i, good.size()));
        if (i >= good.size())
            file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
        const SResult result = Inspect({"scd", Write("d.xml", file)});
        ASSERT_TRUE(result.status == 0 || result.status == 1) << i;
        if (result.status == 1) {
            ASSERT_EQ(result.out, "") << i;
            ASSERT_EQ(Lines(result.err).back().rfind("submca-inspect: ", 0), 0u) << i << result.err;
        }
    }
}
