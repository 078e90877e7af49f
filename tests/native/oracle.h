// Independent references for the native tests: OpenSSL's Blowfish and MD5, driven in the
// module's block word order from outside, and small parsing helpers.
#pragma once

#include <openssl/blowfish.h>
#include <openssl/md5.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace oracle {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(const std::string& text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

// Reverses the bytes of each 4-byte half of every block: turns the big-endian block order of
// the published vectors and of BF_ecb_encrypt into the little-endian order of the module's
// files and back.
inline void SwapHalves(uint8_t* data, size_t size)
{
    for (size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(data[i], data[i + 3]);
        std::swap(data[i + 1], data[i + 2]);
    }
}

// OpenSSL's Blowfish ECB over the whole blocks of a buffer, in the little-endian word order.
inline void Blowfish(const Bytes& key, uint8_t* data, size_t size, bool encipher)
{
    BF_KEY schedule;
    BF_set_key(&schedule, int(key.size()), key.data());
    const size_t whole = size - size % 8;
    for (size_t i = 0; i < whole; i += 8) {
        uint8_t block[8];
        std::memcpy(block, data + i, 8);
        SwapHalves(block, 8);
        BF_ecb_encrypt(block, block, &schedule, encipher ? BF_ENCRYPT : BF_DECRYPT);
        SwapHalves(block, 8);
        std::memcpy(data + i, block, 8);
    }
}

inline std::array<uint8_t, 16> Md5(const uint8_t* data, size_t size)
{
    std::array<uint8_t, 16> digest;
    MD5(data, size, digest.data());
    return digest;
}

inline Bytes RandomBytes(std::mt19937& rng, size_t size)
{
    Bytes out(size);
    for (auto& b : out)
        b = uint8_t(rng());
    return out;
}

inline uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// "{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}" in the memory layout of a GUID structure: Data1 as a
// little-endian 32-bit number, Data2 and Data3 as little-endian 16-bit numbers, Data4 in order.
inline Bytes GuidBytes(const std::string& text)
{
    const Bytes d1 = FromHex(text.substr(1, 8));
    const Bytes d2 = FromHex(text.substr(10, 4));
    const Bytes d3 = FromHex(text.substr(15, 4));
    const Bytes d4 = FromHex(text.substr(20, 4) + text.substr(25, 12));
    Bytes out = {d1[3], d1[2], d1[1], d1[0], d2[1], d2[0], d3[1], d3[0]};
    out.insert(out.end(), d4.begin(), d4.end());
    return out;
}

}  // namespace oracle
