#include "framework/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "oracle.h"

using InstallToolBox::CMd5;
using oracle::Bytes;

namespace {

// The digest of data fed to one reused object in random pieces shorter than maxPiece bytes
// (0: in one piece).
Bytes Digest(CMd5& md5, const std::string& data, size_t maxPiece, std::mt19937& rng)
{
    md5.Init();
    for (size_t fed = 0; fed < data.size();) {
        const size_t piece = maxPiece == 0 ? data.size() : std::min<size_t>(data.size() - fed, rng() % maxPiece);
        md5.Update(data.data() + fed, piece);
        fed += piece;
    }
    Bytes digest(16);
    md5.Final(digest.data());
    return digest;
}

} // namespace

TEST(Md5, Rfc1321TestSuite)
{
    const struct {
        std::string text;
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
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    std::mt19937 rng(1321);
    CMd5 md5;
    for (const auto& entry : suite) {
        EXPECT_EQ(Digest(md5, entry.text, 0, rng), oracle::FromHex(entry.digest)) << entry.text.substr(0, 80);
        EXPECT_EQ(Digest(md5, entry.text, 2, rng), oracle::FromHex(entry.digest)) << "byte by byte";
    }
}

// Every length around the padding boundaries (55, 56, 63, 64 bytes and their multiples), fed in
// random pieces, with the same object reused after Init.
TEST(Md5, MatchesOpenSslForAllLengthsAndSplits)
{
    std::mt19937 rng(1321);
    CMd5 md5;
    for (size_t size = 0; size <= 300; ++size) {
        const Bytes data = oracle::RandomBytes(rng, size);
        const auto expected = oracle::Md5(data.data(), data.size());
        ASSERT_EQ(Digest(md5, std::string(data.begin(), data.end()), 70, rng), Bytes(expected.begin(), expected.end()))
            << "size " << size;
    }
}
