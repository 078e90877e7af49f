// "scd" against containers built by the independent encoder of support.cpp, and the containers
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

const Bytes kDataKey = oracle::FromHex("0F1E2D3C4B5A69788796A5B4C3D2E1F0");
const Bytes kMagic = oracle::GuidBytes("{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}");

// A control document of exactly size bytes.
std::string Document(size_t size)
{
    std::string text = "<?xml version=\"1.0\"?>\n<scd><controlSettings scdSequence=\"7\"/></scd>\n";
    text.resize(size, ' ');
    text.back() = '\n';
    return text;
}

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::string Count(size_t bytes)
{
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string ToText(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class ScdTest : public CScratchTest
{
protected:
    std::string Rejected(const std::vector<std::string>& arguments, SResult* full = nullptr)
    {
        const SResult result = Inspect(arguments);
        EXPECT_EQ(result.status, 1) << result.err;
        const std::vector<std::string> lines = Lines(result.err);
        if (full != nullptr)
            *full = result;
        return lines.empty() ? std::string() : lines.back();
    }
};

} // namespace

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

// L + 1 a multiple of 8 gets a whole block of fill; the content goes to a file and the report
// to standard output.
TEST_F(ScdTest, ContainerDecodesToAFile)
{
    const std::string plain = Document(127);
    const std::string path = Write("SCD.xml", EncodeContainerFor(plain, kDataKey));
    const SResult result = Inspect({"scd", path, "-o", PathOf("plain.xml")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ToText(Read("plain.xml")), plain);
    EXPECT_NE(result.out.find("stored length L: 128 (content of 127 bytes and its terminating zero)\n"
                              "body size P:     136 bytes (file size less the 40-byte header)\n"
                              "whole blocks:    yes (17 blocks of 8 bytes)\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("content:         127 bytes of plain text written to " + PathOf("plain.xml") + "\n"),
              std::string::npos);
}

TEST_F(ScdTest, PlainFilesAreReportedAndNotCopied)
{
    const std::string path = Write("SCD.xml", ToBytes(Document(60)));
    SResult result = Inspect({"scd", path, "-o", PathOf("out.xml")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "file:            " + path +
                              " (60 bytes)\n"
                              "form:            plain (no container magic)\n"
                              "result:          nothing to decode; the module reads this file as it is and enciphers "
                              "it when the update has read it; whether the update accepts the XML only "
                              "'submca-inspect check' tells\n");
    EXPECT_FALSE(Exists("out.xml"));
}

// What the update makes of files that are not its control file, told by the exit status: the
// module reads each as plain text, and the parser refuses it.
TEST_F(ScdTest, PlainFilesThatCannotBeXmlAreRejected)
{
    const Bytes good = EncodeContainerFor(Document(100), kDataKey);
    std::mt19937 rng(99);
    Bytes noise(5000000);
    std::generate(noise.begin(), noise.end(), [&] { return uint8_t(rng()); });
    noise[0] = 0xA7;
    Bytes damagedMagic = good;
    damagedMagic[3] ^= 0x10;
    Bytes recordFile = EncodeRecordFile(0, {});
    recordFile.insert(recordFile.end(), {'<', 'a', '>'});
    const struct {
        const char* name;
        Bytes file;
        std::string message; // after "submca-inspect: <path>: "
        std::string report;  // a line of the report
    } cases[] = {
        {"random bytes", noise, "not XML: it does not begin with '<' (file offset 0 holds A7 ",
         "result:          rejected: the update reads it as plain text and fails to parse it"},
        {"container cut to 30 bytes", Bytes(good.begin(), good.begin() + 30),
         "a container cut short to 30 bytes (its header alone takes 40): it does not begin with '<' (file offset 0 "
         "holds 52 8B F0 D3 19 6C 7A 4E); the update rejects it (0x80004005)",
         "form:            plain: it begins with the container magic but is shorter than the 40-byte header, so "
         "the module reads it as plain"},
        {"damaged magic", damagedMagic,
         "a container whose magic was damaged, read as plain text: it does not begin with '<' (file offset 0 holds "
         "52 8B F0 C3 19 6C 7A 4E); the update rejects it (0x80004005)",
         "note:            the first 16 bytes are close to the container magic: a container whose magic was "
         "damaged, which the module can no longer decipher"},
        {"record file", recordFile, "not XML: it does not begin with '<' (file offset 0 holds 4B 52 56 FE 01)",
         "note:            it begins with the record-file magic: try 'submca-inspect records "},
        {"control character", ToBytes("<scd>\x07</scd>"),
         "not XML: byte \\x07 at file offset 5 is a character XML does not allow; the update rejects it "
         "(0x80004005)",
         "form:            plain (no container magic)"},
        {"white space only", ToBytes(" \r\n\t"), "not XML: no text; the update rejects it (0x80004005)", ""},
        {"zero byte first", ToBytes(std::string(1, '\0') + "<scd/>"),
         "not XML: no text before the zero byte at file offset 0; the update rejects it (0x80004005)",
         "note:            a zero byte at content offset 0 ends the text that the module parses"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SResult result;
        const std::string path = Write("in.xml", c.file);
        EXPECT_EQ(Rejected({"scd", path}, &result).rfind("submca-inspect: " + path + ": " + c.message, 0), 0u)
            << result.err;
        EXPECT_NE(result.err.find(c.report), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A UTF-8 byte order mark and white space may come before the first element.
    EXPECT_EQ(Inspect({"scd", Write("bom.xml", ToBytes("\xEF\xBB\xBF\r\n<scd/>"))}).status, 0);
}

TEST_F(ScdTest, DamagedContainersAreRefused)
{
    const std::string plain = Document(100);
    const Bytes good = EncodeContainerFor(plain, kDataKey);
    SResult result;

    EXPECT_EQ(Rejected({"scd", Write("empty.xml", {})}),
              "submca-inspect: " + PathOf("empty.xml") + ": empty file (0 bytes): the module has no content to read");

    EXPECT_EQ(Rejected({"scd", Write("header.xml", Bytes(good.begin(), good.begin() + 40))}, &result),
              "submca-inspect: " + PathOf("header.xml") +
                  ": enciphered container without a body: the module fails to read it");
    EXPECT_NE(result.err.find("body size P:     0 bytes"), std::string::npos);

    // The body cut by 3 bytes: neither whole blocks nor large enough for L.
    Bytes cut(good.begin(), good.end() - 3);
    EXPECT_EQ(Rejected({"scd", Write("cut.xml", cut)}, &result),
              "submca-inspect: " + PathOf("cut.xml") +
                  ": damaged container: the stored length L is larger than the body; the module refuses it");
    EXPECT_NE(result.err.find("whole blocks:    no (12 blocks of 8 bytes and 5 bytes that stay enciphered)\n"
                              "large enough:    no (L = 101 but the whole blocks hold only 96 bytes)\n"),
              std::string::npos);
    EXPECT_EQ(result.out, "");

    Bytes longer = good;
    oracle::PutLe32(longer.data() + 32, 500);
    EXPECT_NE(Rejected({"scd", Write("long.xml", longer)}, &result).find("L is larger than the body"),
              std::string::npos);
    EXPECT_NE(result.err.find("large enough:    no (L = 500 but the whole blocks hold only 104 bytes)\n"),
              std::string::npos);

    Bytes zeroLength = good;
    oracle::PutLe32(zeroLength.data() + 32, 0);
    EXPECT_NE(Rejected({"scd", Write("zero.xml", zeroLength)}, &result).find("the stored length L is 0"),
              std::string::npos);
    EXPECT_NE(result.err.find("stored length L: 0 (invalid: even an empty content stores its terminating zero)\n"),
              std::string::npos);

    // A changed byte turns its 8-byte block into noise: the first change whose noise holds a
    // control character, as most do.
    Bytes flipped;
    for (uint8_t change = 1; flipped.empty(); ++change) {
        Bytes candidate = good;
        candidate[40 + 50] ^= change;
        const Bytes body = DecodeContainer(candidate).body;
        if (std::any_of(body.begin() + 48, body.begin() + 56, [](uint8_t c) { return c < 0x09; }))
            flipped = candidate;
    }
    EXPECT_NE(
        Rejected({"scd", Write("flip.xml", flipped)}, &result).find("the deciphered content is not XML: byte \\x"),
        std::string::npos);
    EXPECT_NE(result.err.find("the body was damaged or altered, and the update rejects it (0x80004005)"),
              std::string::npos);

    // Another data key deciphers the body into noise without the terminating zero.
    Bytes otherKey = good;
    otherKey[20] ^= 0x01;
    EXPECT_NE(Rejected({"scd", Write("key.xml", otherKey)}, &result).find("does not end in a zero byte"),
              std::string::npos);
    EXPECT_NE(result.err.find("terminator:      missing"), std::string::npos);
}

// Irregular containers that the module still reads: the content comes out, the report says
// what differs.
TEST_F(ScdTest, IrregularContainersAreReadWithNotes)
{
    const std::string plain = Document(100);
    Bytes ragged = EncodeContainerFor(plain, kDataKey);
    ragged.insert(ragged.end(), {1, 2, 3});
    SResult result = Inspect({"scd", Write("ragged.xml", ragged)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_NE(result.err.find("whole blocks:    no (13 blocks of 8 bytes and 3 bytes that stay enciphered)\n"
                              "large enough:    yes (L = 101 fits the 104 bytes of whole blocks; the module writes "
                              "P = 104 for this L)\n"),
              std::string::npos);

    Bytes body = ToBytes(plain);
    body.resize(112, 0);
    body[105] = 0x77; // fill that is not zero, and a whole block more than the module writes
    Bytes padded = EncodeContainer(kDataKey, 101 | (uint64_t(3) << 32), body);
    result = Inspect({"scd", Write("padded.xml", padded)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_NE(result.err.find("stored length L: 101 (content of 100 bytes and its terminating zero); high 32 bits "
                              "0x00000003, which the module ignores\n"),
              std::string::npos);
    EXPECT_NE(result.err.find("large enough:    yes (L = 101 fits the 112 bytes of whole blocks; the module writes "
                              "P = 104 for this L)\n"),
              std::string::npos);
    EXPECT_NE(result.err.find("note:            the fill after the content is not zero (the module ignores it)\n"),
              std::string::npos);

    std::string withZero = plain;
    withZero[10] = '\0';
    result = Inspect({"scd", Write("zero.xml", EncodeContainerFor(withZero, kDataKey))});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, withZero);
    EXPECT_NE(result.err.find("note:            a zero byte at content offset 10 ends the text that the module "
                              "parses\n"),
              std::string::npos);
}

// What --encipher writes, read back by the independent decoder.
TEST_F(ScdTest, EncipherWritesTheModulesContainer)
{
    for (size_t size : {2u, 7u, 8u, 100u, 127u, 5000u}) {
        SCOPED_TRACE(size);
        const std::string plain = Document(size);
        const std::string input = Write("plain.xml", ToBytes(plain));
        const SResult result = Inspect({"scd", "--encipher", input, "-o", PathOf("SCD.xml")});
        ASSERT_EQ(result.status, 0) << result.err;
        const size_t length = size + 1;
        const size_t body = length + 8 - length % 8;
        EXPECT_EQ(result.out, "file:            " + input + " (" + Count(size) + ")\n" +
                                  "form:            enciphered container written to " + PathOf("SCD.xml") + "\n" +
                                  "stored length L: " + std::to_string(length) + " (content of " + Count(size) +
                                  " and its terminating zero)\n" + "body size P:     " + Count(body) + " (" +
                                  Count(body - length) + " of zero fill)\n" + "file size:       " + Count(40 + body) +
                                  "\n");
        const Bytes file = Read("SCD.xml");
        ASSERT_EQ(file.size(), 40 + body);
        const SContainer container = DecodeContainer(file);
        EXPECT_EQ(container.magic, kMagic);
        EXPECT_EQ(container.storedLength, length);
        Bytes expected = ToBytes(plain);
        expected.resize(body, 0);
        EXPECT_EQ(container.body, expected);
        EXPECT_EQ(ToText(Read("plain.xml")), plain);

        const SResult decoded = Inspect({"scd", PathOf("SCD.xml")});
        EXPECT_EQ(decoded.status, 0);
        EXPECT_EQ(decoded.out, plain);
    }
}

TEST_F(ScdTest, EachEncipheringDrawsAFreshKey)
{
    const std::string input = Write("plain.xml", ToBytes(Document(64)));
    ASSERT_EQ(Inspect({"scd", "--encipher", input, "-o", PathOf("a.xml")}).status, 0);
    ASSERT_EQ(Inspect({"scd", "--encipher", input, "-o", PathOf("b.xml")}).status, 0);
    const SContainer a = DecodeContainer(Read("a.xml"));
    const SContainer b = DecodeContainer(Read("b.xml"));
    EXPECT_NE(a.dataKey, b.dataKey);
    EXPECT_NE(Read("a.xml"), Read("b.xml"));
    EXPECT_EQ(a.body, b.body);
}

TEST_F(ScdTest, TheInputIsReplacedOnlyWhenAsked)
{
    const std::string plain = Document(90);
    const std::string input = Write("SCD.xml", ToBytes(plain));
    std::filesystem::create_symlink(input, PathOf("link.xml"));

    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } refused[] = {
        {{"scd", "--encipher", input, "-o", input},
         "scd: -o names the input file itself; add --in-place instead to replace it"},
        {{"scd", "--encipher", input, "-o", PathOf("link.xml")},
         "scd: -o names the input file itself; add --in-place instead to replace it"},
        {{"scd", input, "-o", PathOf("link.xml")},
         "scd: -o names the input file itself; add --in-place instead to replace it"},
        {{"scd", "--encipher", input}, "scd: --encipher needs -o OUT or --in-place"},
        {{"scd", "--encipher", input, "-o", PathOf("x.xml"), "--in-place"},
         "scd: give either -o OUT or --in-place, not both"},
    };
    for (const auto& c : refused) {
        const SResult result = Inspect(c.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "submca-inspect: " + c.message + " (see 'submca-inspect scd --help')\n");
        EXPECT_EQ(ToText(Read("SCD.xml")), plain);
    }
    EXPECT_FALSE(Exists("x.xml"));

    ASSERT_EQ(Inspect({"scd", "--encipher", input, "--in-place"}).status, 0);
    const SContainer container = DecodeContainer(Read("SCD.xml"));
    EXPECT_EQ(container.magic, kMagic);
    EXPECT_EQ(container.storedLength, plain.size() + 1);

    SResult again;
    EXPECT_EQ(Rejected({"scd", "--encipher", input, "-o", PathOf("twice.xml")}, &again),
              "submca-inspect: " + input + ": already enciphered: the module leaves such a file as it is");
    EXPECT_FALSE(Exists("twice.xml"));
    EXPECT_EQ(Rejected({"scd", "--encipher", Write("empty.xml", {}), "-o", PathOf("e.xml")}),
              "submca-inspect: " + PathOf("empty.xml") +
                  ": empty file: the module does not encipher an empty control "
                  "file");

    const SResult decoded = Inspect({"scd", input, "--in-place"});
    EXPECT_EQ(decoded.status, 0);
    EXPECT_NE(decoded.out.find("content:         90 bytes of plain text written to " + input + "\n"),
              std::string::npos);
    EXPECT_EQ(ToText(Read("SCD.xml")), plain);
    // No temporary files are left beside the replaced one.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        files += entry.path().filename().string().find(".inspect-") != std::string::npos;
    EXPECT_EQ(files, 0u);
}

// -o writes through a device, a FIFO and a symbolic link, and never puts a regular file in their
// place; a replaced file keeps its permissions.
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        const SResult result = Inspect({"scd", input, "-o", c.out});
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.err.empty() ? std::string() : Lines(result.err).back(), c.message);
        struct stat after;
        ASSERT_EQ(lstat(c.out.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, c.type);
    }
    std::string received(plain.size() + 1, '\0');
    received.resize(size_t(std::max<ssize_t>(0, read(reader, &received[0], received.size()))));
    close(reader);
    EXPECT_EQ(received, plain);
    EXPECT_EQ(ToText(Read("target.xml")), plain);
    struct stat target;
    ASSERT_EQ(stat(PathOf("target.xml").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);
}

TEST_F(ScdTest, UnwritableOutputAndUnreadableInput)
{
    const std::string input = Write("SCD.xml", EncodeContainerFor(Document(50), kDataKey));
    SResult result = Inspect({"scd", input, "-o", PathOf("missing/plain.xml")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(Lines(result.err).back(),
              "submca-inspect: " + PathOf("missing/plain.xml") + ": cannot be created (no such file)");

    result = Inspect({"scd", PathOf("absent.xml")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "submca-inspect: " + PathOf("absent.xml") + ": no such file\n");
}

// Cuts and altered bytes of a good container: never a crash, a verdict of 0 or 1, and on 1 one
// message line after the report and no content.
TEST_F(ScdTest, DamagedContainersNeverBreakTheTool)
{
    const Bytes good = EncodeContainerFor(Document(70), kDataKey);
    std::mt19937 rng(4711);
    std::vector<Bytes> damaged;
    for (size_t size = 0; size < good.size(); ++size)
        damaged.emplace_back(good.begin(), good.begin() + size);
    for (int i = 0; i < 300; ++i) {
        Bytes file = good;
        file[rng() % file.size()] ^= uint8_t(1 + rng() % 255);
        damaged.push_back(file);
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        const SResult result = Inspect({"scd", Write("d.xml", damaged[i])});
        ASSERT_TRUE(result.status == 0 || result.status == 1) << i;
        if (result.status == 1) {
            ASSERT_EQ(result.out, "") << i;
            ASSERT_EQ(Lines(result.err).back().rfind("submca-inspect: ", 0), 0u) << i << result.err;
        }
    }
}
