#include "update/scdcontainer.h"

#include <gtest/gtest.h>

#include "oracle.h"

using namespace clfs::update::scd;
using namespace oracle;

namespace {

Bytes PlainText(size_t size)
{
    Bytes text(size);
    for (size_t i = 0; i < size; ++i)
        text[i] = uint8_t("<control name=\"x\"/>\r\n"[i % 21]);
    return text;
}

Bytes WithZero(Bytes content)
{
    content.push_back(0);
    return content;
}

} // namespace

TEST(ScdContainer, KeysAreGuidStructureLayouts)
{
    EXPECT_EQ(Bytes(g_abMagic, g_abMagic + 16), FromHex("528BF0D3196C7A4E9B41E275A0C8D93F"));
    EXPECT_EQ(Bytes(g_abKeyEncipheringKey, g_abKeyEncipheringKey + 16), kKeyEncipheringKey);
}

// The file the module writes for a content, against the file built with OpenSSL, and read back
// through ReadContent and through the pieces the file class uses step by step. A content that
// fills its last block gets a whole block of zero fill.
TEST(ScdContainer, WritesAndReadsTheHandBuiltFile)
{
    std::mt19937 rng(22);
    const std::pair<size_t, size_t> sizes[] = {{1, 8}, {7, 8}, {8, 16}, {101, 104}, {128, 136}, {4096, 4104}};
    for (const auto& [length, bodySize] : sizes) {
        SCOPED_TRACE(length);
        Bytes content = WithZero(oracle::RandomBytes(rng, length - 1));
        const Bytes dataKey = oracle::RandomBytes(rng, 16);
        size_t body = 0;
        ASSERT_TRUE(GetBodySize(length, body));
        EXPECT_EQ(body, bodySize);
        Bytes padded = content;
        padded.resize(bodySize, 0);
        const Bytes expected = EncodeContainer(dataKey, length, padded);
        Bytes file;
        ASSERT_TRUE(BuildFile(content.data(), content.size(), dataKey.data(), file));
        EXPECT_EQ(file, expected);

        std::vector<uint8_t> back;
        ASSERT_EQ(ReadContent(expected.data(), expected.size(), back), SCD_READ_DECIPHERED);
        EXPECT_EQ(back, content);
        uint8_t key[16];
        ASSERT_TRUE(DecipherDataKey(expected.data(), key));
        EXPECT_EQ(Bytes(key, key + 16), dataKey);
        Bytes deciphered(expected.begin() + 40, expected.end());
        ASSERT_TRUE(DecipherBody(key, deciphered.data(), deciphered.size()));
        EXPECT_EQ(deciphered, padded);
        ZeroKey(key);
        EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
        EXPECT_EQ(GetPlainLength(expected.data()), length);
        EXPECT_TRUE(IsPlainLengthValid(deciphered.data(), deciphered.size(), uint32_t(length)));

        // Enciphering in place, with the content at the start of the body.
        Bytes header(40, 0xCC);
        content.resize(bodySize, 0xCC);
        ASSERT_TRUE(Encipher(content.data(), length, dataKey.data(), header.data(), content.data(), bodySize));
        header.insert(header.end(), content.begin(), content.end());
        EXPECT_EQ(header, expected);
    }

    // The largest length the header holds needs a 33-bit body size; beyond it nothing is stored.
    size_t body = 0;
    EXPECT_EQ(GetBodySize(0xFFFFFFFF, body), sizeof(size_t) > 4);
    if (sizeof(size_t) > 4) {
        EXPECT_EQ(uint64_t(body), uint64_t(1) << 32);
        EXPECT_FALSE(GetBodySize(size_t(uint64_t(1) << 32), body));
    }
    Bytes untouched(40, 0xCC);
    Bytes shortBody(16, 0xCC);
    const Bytes content = WithZero(PlainText(20));
    EXPECT_FALSE(Encipher(content.data(), content.size(), Bytes(16, 1).data(), untouched.data(), shortBody.data(), 16));
    EXPECT_FALSE(Encipher(content.data(), 0, Bytes(16, 1).data(), untouched.data(), shortBody.data(), 8));
    EXPECT_EQ(untouched, Bytes(40, 0xCC));
    EXPECT_EQ(shortBody, Bytes(16, 0xCC));
}

// What ReadContent makes of each form of file; a refused read leaves the output alone.
TEST(ScdContainer, ReadStatusOfEachForm)
{
    const Bytes plain = PlainText(100);
    const Bytes dataKey = FromHex("00112233445566778899AABBCCDDEEFF");
    const Bytes good = EncodeContainerFor(std::string(plain.begin(), plain.end()), dataKey);
    const auto withLength = [&good](uint32_t length) {
        Bytes file = good;
        oracle::PutLe32(file.data() + 32, length);
        return file;
    };
    Bytes shortFile = kMagic;
    shortFile.resize(39, 'x');
    Bytes nearMagic = good;
    nearMagic[15] ^= 1;
    Bytes highBits = good;
    highBits[39] = 0x80;
    Bytes longer = good;
    longer.insert(longer.end(), {1, 2, 3});
    Bytes wrongKey = good;
    wrongKey[20] ^= 0x40;
    const struct {
        const char* what;
        Bytes file;
        ReadStatus status;
        Bytes content; // what the output holds afterwards
    } cases[] = {
        {"empty", {}, SCD_READ_EMPTY, {9}},
        {"plain", plain, SCD_READ_PLAIN, WithZero(plain)},
        {"shorter than a header, with the magic", shortFile, SCD_READ_PLAIN, WithZero(shortFile)},
        {"one byte off the magic", nearMagic, SCD_READ_PLAIN, WithZero(nearMagic)},
        {"header only", Bytes(good.begin(), good.begin() + 40), SCD_READ_EMPTY, {9}},
        {"enciphered", good, SCD_READ_DECIPHERED, WithZero(plain)},
        {"high 32 bits of L ignored", highBits, SCD_READ_DECIPHERED, WithZero(plain)},
        {"bytes after the whole blocks", longer, SCD_READ_DECIPHERED, WithZero(plain)},
        {"L beyond the body", withLength(105), SCD_READ_DAMAGED, {9}},
        {"L of 4 GiB - 1", withLength(0xFFFFFFFF), SCD_READ_DAMAGED, {9}},
        {"L of 0", withLength(0), SCD_READ_DAMAGED, {9}},
        {"L not ending in the zero byte", withLength(100), SCD_READ_DAMAGED, {9}},
        {"body cut into a block", Bytes(good.begin(), good.end() - 3), SCD_READ_DAMAGED, {9}},
        {"altered data key", wrongKey, SCD_READ_DAMAGED, {9}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out = {9};
        EXPECT_EQ(ReadContent(c.file.data(), c.file.size(), out), c.status) << c.what;
        EXPECT_EQ(out, c.content) << c.what;
    }

    // The partial block of a damaged body stays as stored.
    Bytes tail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    ASSERT_TRUE(DecipherBody(dataKey.data(), tail.data(), tail.size()));
    EXPECT_EQ(Bytes(tail.begin() + 8, tail.end()), Bytes({9, 10, 11}));
}
