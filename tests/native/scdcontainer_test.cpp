#include "update/scdcontainer.h"

#include <gtest/gtest.h>

#include "oracle.h"

using namespace clfs::update::scd;
using oracle::Bytes;

namespace {

const Bytes kMagic = oracle::GuidBytes("{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}");
const Bytes kKeyEncipheringKey = oracle::GuidBytes("{4E92A7C1-58B3-4D06-A1F8-7C3E60B295DA}");

// An enciphered file taken apart with OpenSSL.
struct Opened {
    Bytes magic;
    Bytes dataKey;
    uint64_t length = 0;
    Bytes body;  // deciphered, whole blocks
};

Opened OpenWithOpenSsl(const Bytes& file)
{
    Opened o;
    o.magic.assign(file.begin(), file.begin() + 16);
    o.dataKey.assign(file.begin() + 16, file.begin() + 32);
    oracle::Blowfish(kKeyEncipheringKey, o.dataKey.data(), 16, false);
    o.length = oracle::Le32(file.data() + 32) | uint64_t(oracle::Le32(file.data() + 36)) << 32;
    o.body.assign(file.begin() + 40, file.end());
    oracle::Blowfish(o.dataKey, o.body.data(), o.body.size(), false);
    return o;
}

// An enciphered file built with OpenSSL from a content, a data key and a stored length.
Bytes BuildWithOpenSsl(const Bytes& content, const Bytes& dataKey, uint32_t storedLength, size_t bodySize)
{
    Bytes file = kMagic;
    Bytes key = dataKey;
    oracle::Blowfish(kKeyEncipheringKey, key.data(), 16, true);
    file.insert(file.end(), key.begin(), key.end());
    Bytes length(8, 0);
    oracle::PutLe32(length.data(), storedLength);
    file.insert(file.end(), length.begin(), length.end());
    Bytes body = content;
    body.resize(bodySize, 0);
    oracle::Blowfish(dataKey, body.data(), body.size(), true);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

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

}  // namespace

TEST(ScdContainer, KeysAreGuidStructureLayouts)
{
    EXPECT_EQ(Bytes(g_abMagic, g_abMagic + 16), kMagic);
    EXPECT_EQ(Bytes(g_abKeyEncipheringKey, g_abKeyEncipheringKey + 16), kKeyEncipheringKey);
    EXPECT_EQ(kMagic[0], 0x52);
    EXPECT_EQ(kMagic[4], 0x19);
    EXPECT_EQ(kMagic[8], 0x9B);
}

TEST(ScdContainer, BodySizes)
{
    const struct {
        size_t plain;
        size_t body;
    } cases[] = {{1, 8}, {7, 8}, {8, 16}, {101, 104}, {128, 136}};
    for (const auto& c : cases) {
        size_t body = 0;
        ASSERT_TRUE(GetBodySize(c.plain, body)) << c.plain;
        EXPECT_EQ(body, c.body) << c.plain;
    }

    // The largest length the header holds needs a 33-bit body size; beyond it nothing is stored.
    size_t body = 0;
    const bool fits = GetBodySize(0xFFFFFFFF, body);
    if (sizeof(size_t) > 4) {
        EXPECT_TRUE(fits);
        EXPECT_EQ(uint64_t(body), uint64_t(1) << 32);
        EXPECT_FALSE(GetBodySize(size_t(uint64_t(1) << 32), body));
    } else {
        EXPECT_FALSE(fits);
    }
}

// A plain file of 100 bytes: 101 content bytes, 3 bytes of fill, a 144-byte file.
TEST(ScdContainer, HundredByteFile)
{
    const Bytes plain = PlainText(100);
    std::vector<uint8_t> content;
    ASSERT_EQ(ReadContent(plain.data(), plain.size(), content), SCD_READ_PLAIN);
    ASSERT_EQ(content, WithZero(plain));

    const Bytes dataKey = oracle::FromHex("000102030405060708090A0B0C0D0E0F");
    Bytes file;
    ASSERT_TRUE(BuildFile(content.data(), content.size(), dataKey.data(), file));
    ASSERT_EQ(file.size(), 144u);
    EXPECT_EQ(Bytes(file.begin() + 32, file.begin() + 40), Bytes({101, 0, 0, 0, 0, 0, 0, 0}));

    const Opened o = OpenWithOpenSsl(file);
    EXPECT_EQ(o.magic, kMagic);
    EXPECT_EQ(o.dataKey, dataKey);
    EXPECT_EQ(o.length, 101u);
    Bytes expectedBody = WithZero(plain);
    expectedBody.resize(104, 0);
    EXPECT_EQ(o.body, expectedBody);

    std::vector<uint8_t> back;
    ASSERT_EQ(ReadContent(file.data(), file.size(), back), SCD_READ_DECIPHERED);
    EXPECT_EQ(back, WithZero(plain));
}

// Content that fills its last block (127 + 1 bytes) gets a whole block of zero fill.
TEST(ScdContainer, WholeBlockOfFill)
{
    const Bytes content = WithZero(PlainText(127));
    const Bytes dataKey = oracle::FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F");
    Bytes file;
    ASSERT_TRUE(BuildFile(content.data(), content.size(), dataKey.data(), file));
    ASSERT_EQ(file.size(), 40u + 136u);
    const Opened o = OpenWithOpenSsl(file);
    EXPECT_EQ(o.length, 128u);
    EXPECT_EQ(Bytes(o.body.begin(), o.body.begin() + 128), content);
    EXPECT_EQ(Bytes(o.body.begin() + 128, o.body.end()), Bytes(8, 0));
}

TEST(ScdContainer, ReadsFileBuiltIndependently)
{
    std::mt19937 rng(22);
    for (size_t size : {1, 7, 8, 9, 100, 4095, 65536}) {
        const Bytes content = WithZero(oracle::RandomBytes(rng, size));
        const Bytes dataKey = oracle::RandomBytes(rng, 16);
        const size_t body = content.size() + 8 - content.size() % 8;
        const Bytes file = BuildWithOpenSsl(content, dataKey, uint32_t(content.size()), body);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadContent(file.data(), file.size(), back), SCD_READ_DECIPHERED) << size;
        EXPECT_EQ(back, content) << size;

        // The pieces the file class uses, step by step.
        uint8_t key[16];
        ASSERT_TRUE(DecipherDataKey(file.data(), key));
        EXPECT_EQ(Bytes(key, key + 16), dataKey);
        Bytes deciphered(file.begin() + 40, file.end());
        ASSERT_TRUE(DecipherBody(key, deciphered.data(), deciphered.size()));
        ZeroKey(key);
        EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
        EXPECT_EQ(GetPlainLength(file.data()), content.size());
        EXPECT_TRUE(IsPlainLengthValid(deciphered.data(), deciphered.size(), GetPlainLength(file.data())));
    }
}

TEST(ScdContainer, FreshKeysGiveDifferentFilesWithTheSameContent)
{
    const Bytes content = WithZero(PlainText(300));
    const Bytes key1(16, 0x11);
    const Bytes key2(16, 0x22);
    Bytes file1, file2;
    ASSERT_TRUE(BuildFile(content.data(), content.size(), key1.data(), file1));
    ASSERT_TRUE(BuildFile(content.data(), content.size(), key2.data(), file2));
    EXPECT_NE(file1, file2);
    std::vector<uint8_t> back1, back2;
    EXPECT_EQ(ReadContent(file1.data(), file1.size(), back1), SCD_READ_DECIPHERED);
    EXPECT_EQ(ReadContent(file2.data(), file2.size(), back2), SCD_READ_DECIPHERED);
    EXPECT_EQ(back1, content);
    EXPECT_EQ(back2, content);
}

TEST(ScdContainer, EncipherInPlaceAndRefusals)
{
    const Bytes content = WithZero(PlainText(20));
    const Bytes dataKey(16, 0x5C);
    Bytes expected;
    ASSERT_TRUE(BuildFile(content.data(), content.size(), dataKey.data(), expected));

    Bytes header(40, 0xCC);
    Bytes body(24, 0xCC);
    std::memcpy(body.data(), content.data(), content.size());
    ASSERT_TRUE(Encipher(body.data(), content.size(), dataKey.data(), header.data(), body.data(), body.size()));
    header.insert(header.end(), body.begin(), body.end());
    EXPECT_EQ(header, expected);

    Bytes untouched(40, 0xCC);
    Bytes shortBody(16, 0xCC);
    EXPECT_FALSE(Encipher(content.data(), content.size(), dataKey.data(), untouched.data(), shortBody.data(), 16));
    EXPECT_FALSE(Encipher(content.data(), 0, dataKey.data(), untouched.data(), shortBody.data(), 8));
    EXPECT_EQ(untouched, Bytes(40, 0xCC));
    EXPECT_EQ(shortBody, Bytes(16, 0xCC));
}

TEST(ScdContainer, PlainForms)
{
    std::vector<uint8_t> content;
    EXPECT_EQ(ReadContent(nullptr, 0, content), SCD_READ_EMPTY);

    // Shorter than a header: plain even when it starts with the magic.
    Bytes shortFile = kMagic;
    shortFile.resize(39, 'x');
    ASSERT_EQ(ReadContent(shortFile.data(), shortFile.size(), content), SCD_READ_PLAIN);
    EXPECT_EQ(content, WithZero(shortFile));
    EXPECT_TRUE(HasMagic(shortFile.data()));

    // One byte differing from the magic makes a file plain.
    Bytes nearMagic = PlainText(200);
    std::copy(kMagic.begin(), kMagic.end(), nearMagic.begin());
    nearMagic[15] ^= 1;
    ASSERT_EQ(ReadContent(nearMagic.data(), nearMagic.size(), content), SCD_READ_PLAIN);
    EXPECT_EQ(content, WithZero(nearMagic));

    // A header and nothing else.
    Bytes headerOnly;
    const Bytes one = {0};
    ASSERT_TRUE(BuildFile(one.data(), 1, Bytes(16, 1).data(), headerOnly));
    headerOnly.resize(40);
    EXPECT_EQ(ReadContent(headerOnly.data(), headerOnly.size(), content), SCD_READ_EMPTY);
}

TEST(ScdContainer, DamagedForms)
{
    const Bytes content = WithZero(PlainText(100));
    const Bytes dataKey = oracle::FromHex("00112233445566778899AABBCCDDEEFF");
    const Bytes good = BuildWithOpenSsl(content, dataKey, 101, 104);
    std::vector<uint8_t> out = {9};

    // Stored lengths beyond the body, zero, or not ending in the zero byte.
    for (uint32_t length : {105u, 0xFFFFFFFFu, 0u, 100u}) {
        Bytes bad = good;
        oracle::PutLe32(bad.data() + 32, length);
        EXPECT_EQ(ReadContent(bad.data(), bad.size(), out), SCD_READ_DAMAGED) << length;
    }
    EXPECT_EQ(out, Bytes({9})) << "output changed by a refused read";

    // Only the low 32 bits of the length count.
    Bytes highBits = good;
    highBits[39] = 0x80;
    ASSERT_EQ(ReadContent(highBits.data(), highBits.size(), out), SCD_READ_DECIPHERED);
    EXPECT_EQ(out, content);

    // A body that is not whole blocks: the partial block stays enciphered and cannot be handed out.
    Bytes cut(good.begin(), good.end() - 3);
    EXPECT_EQ(ReadContent(cut.data(), cut.size(), out), SCD_READ_DAMAGED);
    Bytes longer = good;
    longer.insert(longer.end(), {1, 2, 3});
    ASSERT_EQ(ReadContent(longer.data(), longer.size(), out), SCD_READ_DECIPHERED);
    EXPECT_EQ(out, content);

    Bytes tail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    ASSERT_TRUE(DecipherBody(dataKey.data(), tail.data(), tail.size()));
    EXPECT_EQ(Bytes(tail.begin() + 8, tail.end()), Bytes({9, 10, 11}));

    // An altered data key deciphers to noise; the last content byte then is almost never zero.
    Bytes wrongKey = good;
    wrongKey[20] ^= 0x40;
    EXPECT_EQ(ReadContent(wrongKey.data(), wrongKey.size(), out), SCD_READ_DAMAGED);
}

TEST(ScdContainer, RandomDamageStaysInBounds)
{
    std::mt19937 rng(2);
    const Bytes content = WithZero(PlainText(333));
    Bytes good;
    ASSERT_TRUE(BuildFile(content.data(), content.size(), oracle::RandomBytes(rng, 16).data(), good));
    for (int round = 0; round < 3000; ++round) {
        Bytes bad = good;
        for (int f = 1 + int(rng() % 3); f > 0; --f)
            bad[16 + rng() % (bad.size() - 16)] = uint8_t(rng());
        bad.resize(rng() % 2 ? bad.size() : 40 + rng() % (bad.size() - 40));
        std::vector<uint8_t> out;
        const ReadStatus status = ReadContent(bad.data(), bad.size(), out);
        if (status == SCD_READ_DECIPHERED) {
            ASSERT_LE(out.size(), bad.size() - 40);
            ASSERT_EQ(out.back(), 0);
        }
    }
}
