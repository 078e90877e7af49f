#include "framework/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "oracle.h"

using InstallToolBox::CMd5;
using oracle::Bytes;

namespace {

std::string Hex(const uint8_t* digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

std::string DigestWhole(const std::string& text)
{
    CMd5 md5;
    md5.Update(text.data(), text.size());
    uint8_t digest[16];
    md5.Final(digest);
    return Hex(digest);
}

std::string DigestBytewise(const std::string& text)
{
    CMd5 md5;
    for (char c : text)
        md5.Update(&c, 1);
    uint8_t digest[16];
    md5.Final(digest);
    return Hex(digest);
}

}  // namespace

TEST(Md5, Rfc1321TestSuite)
{
    const struct {
        const char* text;
        const char* digest;
    } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& entry : suite) {
        EXPECT_EQ(DigestWhole(entry.text), entry.digest) << '"' << entry.text << '"';
        EXPECT_EQ(DigestBytewise(entry.text), entry.digest) << '"' << entry.text << "\" byte by byte";
    }
}

TEST(Md5, MillionLetterA)
{
    const std::string chunk(1000, 'a');
    CMd5 md5;
    for (int i = 0; i < 1000; ++i)
        md5.Update(chunk.data(), chunk.size());
    uint8_t digest[16];
    md5.Final(digest);
    EXPECT_EQ(Hex(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

// Every length around the padding boundaries (55, 56, 63, 64 bytes and their multiples), fed in
// random pieces, with the same object reused after Init.
TEST(Md5, MatchesOpenSslForAllLengthsAndSplits)
{
    std::mt19937 rng(1321);
    CMd5 md5;
    for (size_t size = 0; size <= 300; ++size) {
        const Bytes data = oracle::RandomBytes(rng, size);
        md5.Init();
        size_t fed = 0;
        while (fed < size) {
            const size_t piece = std::min<size_t>(size - fed, rng() % 70);
            md5.Update(data.data() + fed, piece);
            fed += piece;
        }
        uint8_t digest[16];
        md5.Final(digest);
        const auto expected = oracle::Md5(data.data(), data.size());
        ASSERT_EQ(Hex(digest), Hex(expected.data())) << "size " << size;
    }

    const Bytes big = oracle::RandomBytes(rng, 1 << 20);
    md5.Init();
    md5.Update(big.data(), 3);
    md5.Update(big.data() + 3, big.size() - 3);
    uint8_t digest[16];
    md5.Final(digest);
    EXPECT_EQ(Hex(digest), Hex(oracle::Md5(big.data(), big.size()).data()));
}
