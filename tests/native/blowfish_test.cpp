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

// Eric Young's Blowfish ECB test set, in the published big-endian block order.
const Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The same set's variable-key-length vectors: plaintext FEDCBA9876543210 under the first n
// bytes of F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677, n = 1..24.
const char kSetKeyMaterial[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char* const kSetKeyCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
    "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
    "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
    "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

// Checks one published vector in both directions after moving it into the file word order,
// and that OpenSSL agrees with the vector as typed here.
void ExpectVector(const Bytes& key, const std::string& plainHex, const std::string& cipherHex)
{
    Bytes plain = FromHex(plainHex);
    Bytes cipher = FromHex(cipherHex);
    oracle::SwapHalves(plain.data(), plain.size());
    oracle::SwapHalves(cipher.data(), cipher.size());
    Bytes reference = plain;
    oracle::Blowfish(key, reference.data(), reference.size(), true);
    EXPECT_EQ(reference, cipher) << "OpenSSL disagrees with the vector " << cipherHex;

    CBlowfish blowfish;
    ASSERT_TRUE(blowfish.Init(key.data(), key.size()));
    Bytes block = plain;
    blowfish.Encipher(block.data(), block.size());
    EXPECT_EQ(block, cipher) << "encipher " << plainHex << " under " << key.size() << " key bytes";
    blowfish.Decipher(block.data(), block.size());
    EXPECT_EQ(block, plain) << "decipher " << cipherHex;
}

} // namespace

TEST(Blowfish, PublishedVectorsInFileWordOrder)
{
    for (const Vector& v : kEcbVectors)
        ExpectVector(FromHex(v.key), v.plain, v.cipher);
    const Bytes material = FromHex(kSetKeyMaterial);
    for (size_t n = 1; n <= 24; ++n)
        ExpectVector(Bytes(material.begin(), material.begin() + n), "FEDCBA9876543210", kSetKeyCiphers[n - 1]);
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
