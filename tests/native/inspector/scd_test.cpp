// "scd" against containers built by the independent encoder of oracle.h, and the containers
// that "scd --encipher" writes, read back independently.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

class ScdTest : public CScratchTest {};

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

// Files whose content the module reads (status 0: the content goes to -o, the report to
// standard output) and files the update rejects (status 1: no content, one line after the report
// on standard error); each row names the key line.
TEST_F(ScdTest, EachFormGivesItsStatusAndKeyLine)
{
    const std::string plain = Document(100);
    const Bytes good = EncodeContainerFor(plain, kDataKey);
    Bytes body = ToBytes(plain);
    body.resize(112, 0);
    body[105] = 0x77; // fill that is not zero, and a whole block more than the module writes
    std::string withZero = plain;
    withZero[10] = '\0';
    Bytes damagedMagic = good;
    damagedMagic[3] ^= 0x10;
    Bytes noLength = good;
    PutLe32(noLength.data() + 32, 0);
    Bytes otherKey = good;
    otherKey[20] ^= 0x01;
    const struct {
        Bytes file;
        int status;
        std::string content; // what -o receives
        std::string part;    // of the report, or of the last line on a rejection
    } cases[] = {
        {EncodeContainerFor(Document(127), kDataKey), 0, Document(127), "stored length L: 128 (content of 127 bytes"},
        {ToBytes("\xEF\xBB\xBF\r\n<scd/>"), 0, "", "result:          nothing to decode; the module reads this file"},
        {EncodeContainer(kDataKey, 101 | (uint64_t(3) << 32), body), 0, plain,
         "high 32 bits 0x00000003, which the module ignores\n"},
        {EncodeContainer(kDataKey, 101, body), 0, plain, "note:            the fill after the content is not zero"},
        {EncodeContainerFor(withZero, kDataKey), 0, withZero, "a zero byte at content offset 10 ends the text"},
        {Bytes(good.begin(), good.begin() + 30), 1, "",
         "a container cut short to 30 bytes (its header alone takes 40)"},
        {damagedMagic, 1, "", "a container whose magic was damaged, read as plain text"},
        {EncodeRecordFile(0, {}), 1, "", "not XML: it does not begin with '<' (file offset 0 holds 4B 52 56 FE 01)"},
        {ToBytes("<scd>\x07</scd>"), 1, "",
         "byte \\x07 at file offset 5 is a character XML does not allow; the update rejects it (0x80004005)"},
        {ToBytes(std::string(1, '\0') + "<scd/>"), 1, "", "not XML: no text before the zero byte at file offset 0"},
        {{}, 1, "", "empty file (0 bytes): the module has no content to read"},
        {Bytes(good.begin(), good.begin() + 40), 1, "", "enciphered container without a body: the module fails"},
        {Bytes(good.begin(), good.end() - 3), 1, "", "damaged container: the stored length L is larger than the body"},
        {noLength, 1, "", "the stored length L is 0"},
        {otherKey, 1, "", "does not end in a zero byte"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(PathOf("out.xml"));
        const std::string path = Write("in.xml", c.file);
        const SResult result = Inspect({"scd", path, "-o", PathOf("out.xml")});
        EXPECT_EQ(result.status, c.status) << c.part << result.err;
        EXPECT_EQ(ReadText("out.xml"), c.content) << c.part;
        // With -o the report goes to standard output; a rejection leaves one line on standard error.
        const std::string& text = c.status == 0 ? result.out : result.err;
        EXPECT_EQ(c.status == 0 || text.rfind("submca-inspect: " + path + ": ", 0) == 0, true) << text;
        EXPECT_EQ(Lines(result.err).size(), size_t(c.status)) << result.err;
        EXPECT_TRUE(Contains(text, c.part)) << text;
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
        ASSERT_EQ(Inspect({"scd", "--encipher", input, "-o", PathOf("SCD.xml")}).status, 0);
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
    // A symbolic link to the input is the input.
    const SResult refused = Inspect({"scd", "--encipher", input, "-o", PathOf("link.xml")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err.rfind("submca-inspect: scd: -o names the input file itself; add --in-place instead", 0), 0u);
    EXPECT_EQ(ReadText("SCD.xml"), plain);

    ASSERT_EQ(Inspect({"scd", "--encipher", input, "--in-place"}).status, 0);
    EXPECT_EQ(ReadText("SCD.xml").size(), 40 + 96u);
    SResult again = Inspect({"scd", "--encipher", input, "-o", PathOf("twice.xml")});
    EXPECT_EQ(again.err, "submca-inspect: " + input + ": already enciphered: the module leaves such a file as it is\n");
    EXPECT_FALSE(std::filesystem::exists(PathOf("twice.xml")));

    EXPECT_EQ(Inspect({"scd", input, "--in-place"}).status, 0);
    EXPECT_EQ(ReadText("SCD.xml"), plain);
    // No temporary files are left beside the replaced one.
    for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        EXPECT_FALSE(Contains(entry.path().filename().string(), ".inspect-"));
}
// -o writes through a device, a FIFO and a symbolic link, and never puts a regular file in their
// place; a replaced file keeps its permissions; what cannot be written gives status 3.
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
        const SResult result = Inspect({"scd", input, "-o", c.out});
        EXPECT_EQ(result.status, c.status) << c.out << result.err;
        EXPECT_EQ(result.err.empty() ? std::string() : Lines(result.err).back(), c.message);
        struct stat after = {};
        lstat(c.out.c_str(), &after);
        EXPECT_EQ(after.st_mode & S_IFMT, c.type) << c.out;
    }
    std::string received(plain.size() + 1, '\0');
    received.resize(size_t(std::max<ssize_t>(0, read(reader, &received[0], received.size()))));
    close(reader);
    EXPECT_EQ(received, plain);
    EXPECT_EQ(ReadText("target.xml"), plain);
    struct stat target;
    ASSERT_EQ(stat(PathOf("target.xml").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);
}

// Without -o the content goes to standard output only when a terminal would show all of it as it
// is; the module's verdict does not change that (it parses only up to the first zero byte).
TEST_F(ScdTest, StandardOutputGetsOnlyTextATerminalShows)
{
    const std::string refused = ", a control that a terminal does not show as text; it is not written to standard "
                                "output (give -o OUT to save it)";
    const struct {
        std::string content;
        int status;
        std::string message; // the one line on standard error after "submca-inspect: FILE: "
    } cases[] = {
        {"\xEF\xBB\xBF<scd>\t\xC3\xA9\xE2\x82\xAC\r\n</scd>\n", 0, ""},
        {"<scd>caf\xE9</scd>", 0, ""}, // 8-bit text in a Windows code page
        {"<scd/>\n" + std::string(1, '\0') + "\x1B]0;owned\x07\x1B[2J", 3,
         "the content holds \\x00 at content offset 7" + refused},
        {"<scd>\x7F</scd>", 3, "the content holds \\x7F at content offset 5" + refused},
        {"<scd>\xC2\x9B"
         "2J</scd>",
         3, "the content holds \\xC2\\x9B at content offset 5" + refused},
        {"<scd>\x9B"
         "2J</scd>",
         3, "the content holds \\x9B at content offset 5" + refused},
        {"<scd>\xE2\x80\xAElmth.exe</scd>", 3, "the content holds \\xE2\\x80\\xAE at content offset 5" + refused},
        {"<scd>\xE2\x81\xA6</scd>", 3, "the content holds \\xE2\\x81\\xA6 at content offset 5" + refused},
    };
    for (const auto& c : cases) {
        const std::string path = Write("SCD.xml", EncodeContainerFor(c.content, kDataKey));
        const SResult result = Inspect({"scd", path});
        EXPECT_EQ(result.status, c.status) << c.message << result.err;
        EXPECT_EQ(result.out, c.status == 0 ? c.content : std::string());
        EXPECT_TRUE(IsPlainText(result.err)) << result.err;
        if (c.status != 0)
            EXPECT_EQ(Lines(result.err).back(), "submca-inspect: " + path + ": " + c.message);
        // The same content goes to a file whole.
        EXPECT_EQ(Inspect({"scd", path, "-o", PathOf("out.xml")}).status, 0);
        EXPECT_EQ(ReadText("out.xml"), c.content);
    }
}

// Cuts and altered bytes of a good container: never a crash; a verdict of 0 or 1, or 3 when the
// deciphered noise holds what a terminal acts on; otherwise one message line after the report
// and no content.
TEST_F(ScdTest, DamagedContainersNeverBreakTheTool)
{
    const Bytes good = EncodeContainerFor(Document(70), kDataKey);
    std::mt19937 rng(4711);
    for (size_t i = 0; i < good.size() + 300; ++i) {
        Bytes file(good.begin(), good.begin() + std::min(i, good.size()));
        if (i >= good.size())
            file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
        const SResult result = Inspect({"scd", Write("d.xml", file)});
        ASSERT_TRUE(result.status == 0 || result.status == 1 || result.status == 3) << i;
        ASSERT_TRUE(IsPlainText(result.err)) << i;
        if (result.status != 0) {
            ASSERT_EQ(result.out, "") << i;
            ASSERT_EQ(Lines(result.err).back().rfind("submca-inspect: ", 0), 0u) << i << result.err;
        }
    }
}
