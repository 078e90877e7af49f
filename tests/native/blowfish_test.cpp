#include "framework/blowfish.h"

#include <gtest/gtest.h>

#include "oracle.h"

using InstallToolBox::CBlowfish;
using oracle::Bytes;
using oracle::FromHex;

namespace {

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Rows of Eric Young's Blowfish ECB test set (weak, repeated and alternating keys and blocks), in
// the published big-endian block order. Keys of other lengths are compared with OpenSSL below.
const Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

} // namespace

// Each vector in both directions after moving it into the file word order, and OpenSSL agreeing
// with the vector as typed here.
TEST(Blowfish, PublishedVectorsInFileWordOrder)
{
    for (const Vector& v : kEcbVectors) {
        const Bytes key = FromHex(v.key);
        Bytes plain = FromHex(v.plain);
        Bytes cipher = FromHex(v.cipher);
        oracle::SwapHalves(plain.data(), plain.size());
        oracle::SwapHalves(cipher.data(), cipher.size());
        Bytes reference = plain;
        oracle::Blowfish(key, reference.data(), reference.size(), true);
        EXPECT_EQ(reference, cipher) << "OpenSSL disagrees with the vector " << v.cipher;

        CBlowfish blowfish;
        ASSERT_TRUE(blowfish.Init(key.data(), key.size()));
        Bytes block = plain;
        blowfish.Encipher(block.data(), block.size());
        EXPECT_EQ(block, cipher) << "encipher " << v.plain << " under " << v.key;
        blowfish.Decipher(block.data(), block.size());
        EXPECT_EQ(block, plain) << "decipher " << v.cipher;
    }
}

// Random buffers (odd block counts, a tail that is not a whole block and stays as it is) under
// keys of 1 to 128 bytes, against OpenSSL, which reads the first 72 key bytes: all the cycling
// key schedule ever reads. A refused key (none, or longer than 128 bytes) leaves the schedule.
TEST(Blowfish, MatchesOpenSslOnRandomData)
{
    std::mt19937 rng(0xB10F);
    const Bytes tooLong(129, 0x5A);
    for (size_t keySize : {1, 3, 8, 31, 56, 72, 73, 128}) {
        const Bytes key = oracle::RandomBytes(rng, keySize);
        CBlowfish blowfish;
        ASSERT_TRUE(blowfish.Init(key.data(), key.size()));
        EXPECT_FALSE(blowfish.Init(tooLong.data(), tooLong.size()));
        EXPECT_FALSE(blowfish.Init(tooLong.data(), 0));
        EXPECT_FALSE(blowfish.Init(nullptr, 8));
        for (size_t dataSize : {8, 40, 4096 + 13, 5}) {
            const Bytes plain = oracle::RandomBytes(rng, dataSize);
            Bytes ours = plain;
            Bytes theirs = plain;
            blowfish.Encipher(ours.data(), ours.size());
            oracle::Blowfish(key, theirs.data(), theirs.size(), true);
            ASSERT_EQ(ours, theirs) << "key " << keySize << " data " << dataSize;
            blowfish.Decipher(ours.data(), ours.size());
            ASSERT_EQ(ours, plain) << "key " << keySize << " data " << dataSize;
        }
    }
}
