// Independent references for the native tests: OpenSSL's Blowfish and MD5, driven in the
// module's block word order from outside, and encoders of the record file and the control-file
// container typed from the formats, not from the code.
#pragma once

#include <openssl/blowfish.h>
#include <openssl/md5.h>

#include <algorithm>
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
    for (size_t i = 0; i + 8 <= size; i += 8) {
        SwapHalves(data + i, 8);
        BF_ecb_encrypt(data + i, data + i, &schedule, encipher ? BF_ENCRYPT : BF_DECRYPT);
        SwapHalves(data + i, 8);
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

inline void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

const Bytes kRecordKey = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};
// "{D3F08B52-6C19-4E7A-9B41-E275A0C8D93F}" and "{4E92A7C1-58B3-4D06-A1F8-7C3E60B295DA}" in the
// memory layout of a GUID structure: Data1, Data2 and Data3 little-endian, Data4 in order.
const Bytes kMagic = FromHex("528BF0D3196C7A4E9B41E275A0C8D93F");
const Bytes kKeyEncipheringKey = FromHex("C1A7924EB358064DA1F87C3E60B295DA");

// One record before enciphering: a 40-byte head (name field, type, data size D) and D bytes.
struct Record {
    Bytes head;
    Bytes data;
};

inline Record RawRecord(const std::string& nameField, uint32_t type, uint32_t dataSize, const Bytes& data)
{
    Record record{Bytes(40, 0), data};
    std::copy_n(nameField.begin(), std::min<size_t>(nameField.size(), 32), record.head.begin());
    PutLe32(record.head.data() + 32, type);
    PutLe32(record.head.data() + 36, dataSize);
    return record;
}

// A string as the module lays it out: D = L + 8 - L mod 8 with L the length and its zero.
inline Record StringRecord(const std::string& name, const std::string& value)
{
    const size_t length = value.size() + 1;
    Bytes data(value.begin(), value.end());
    data.resize(length + 8 - length % 8, 0);
    return RawRecord(name, 0, uint32_t(data.size()), data);
}

inline Record DwordRecord(const std::string& name, uint32_t value)
{
    Bytes data(8, 0);
    PutLe32(data.data(), value);
    return RawRecord(name, 1, 8, data);
}

// A record file in the given record order: the header with the count, each record enciphered
// whole, trailing bytes, and the enciphered MD5 over header bytes 0-11 and all after the header.
inline Bytes EncodeRecordFile(uint32_t count, const std::vector<Record>& records, const Bytes& trailing = {},
                              uint32_t version = 1)
{
    Bytes file(28, 0);
    PutLe32(file.data(), 0xFE56524B);
    PutLe32(file.data() + 4, version);
    PutLe32(file.data() + 8, count);
    for (const Record& record : records) {
        Bytes stored = record.head;
        stored.insert(stored.end(), record.data.begin(), record.data.end());
        Blowfish(kRecordKey, stored.data(), stored.size(), true);
        file.insert(file.end(), stored.begin(), stored.end());
    }
    file.insert(file.end(), trailing.begin(), trailing.end());
    Bytes digested(file.begin(), file.begin() + 12);
    digested.insert(digested.end(), file.begin() + 28, file.end());
    auto digest = Md5(digested.data(), digested.size());
    Blowfish(kRecordKey, digest.data(), digest.size(), true);
    std::copy(digest.begin(), digest.end(), file.begin() + 12);
    return file;
}

// An enciphered control file: the magic, the data key enciphered with the key-enciphering key,
// the 64-bit stored length, and the body (padded by the caller) enciphered with the data key.
inline Bytes EncodeContainer(const Bytes& dataKey, uint64_t storedLength, const Bytes& body)
{
    Bytes file = kMagic;
    Bytes key = dataKey;
    Blowfish(kKeyEncipheringKey, key.data(), key.size(), true);
    file.insert(file.end(), key.begin(), key.end());
    for (int i = 0; i < 8; ++i)
        file.push_back(uint8_t(storedLength >> (8 * i)));
    Bytes enciphered = body;
    Blowfish(dataKey, enciphered.data(), enciphered.size(), true);
    file.insert(file.end(), enciphered.begin(), enciphered.end());
    return file;
}

// The container of a plain file: L = size + 1, then 1 to 8 zero bytes of fill.
inline Bytes EncodeContainerFor(const std::string& plain, const Bytes& dataKey)
{
    const size_t length = plain.size() + 1;
    Bytes body(plain.begin(), plain.end());
    body.resize(length + 8 - length % 8, 0);
    return EncodeContainer(dataKey, length, body);
}

// The deciphered body (whole blocks) of a container, and its data key.
inline Bytes DecipheredBody(const Bytes& file, Bytes* dataKey = nullptr)
{
    Bytes key(file.begin() + 16, file.begin() + 32);
    Blowfish(kKeyEncipheringKey, key.data(), 16, false);
    Bytes body(file.begin() + 40, file.end());
    Blowfish(key, body.data(), body.size(), false);
    if (dataKey != nullptr)
        *dataKey = key;
    return body;
}

} // namespace oracle
