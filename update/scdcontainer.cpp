#include "scdcontainer.h"

#include <cstring>
#include <new>

#include "framework/blowfish.h"

namespace clfs {
namespace update {
namespace scd {

using InstallToolBox::CBlowfish;

const uint8_t g_abMagic[SCD_MAGIC_SIZE] = {
    0x52, 0x8B, 0xF0, 0xD3, 0x19, 0x6C, 0x7A, 0x4E, 0x9B, 0x41, 0xE2, 0x75, 0xA0, 0xC8, 0xD9, 0x3F,
};

const uint8_t g_abKeyEncipheringKey[SCD_KEY_SIZE] = {
    0xC1, 0xA7, 0x92, 0x4E, 0xB3, 0x58, 0x06, 0x4D, 0xA1, 0xF8, 0x7C, 0x3E, 0x60, 0xB2, 0x95, 0xDA,
};

bool HasMagic(const uint8_t* data) noexcept
{
    return std::memcmp(data, g_abMagic, SCD_MAGIC_SIZE) == 0;
}

uint32_t GetPlainLength(const uint8_t* header) noexcept
{
    const uint8_t* p = header + SCD_LENGTH_OFFSET;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool GetBodySize(size_t plainLength, size_t& bodySize) noexcept
{
    const uint64_t length = plainLength;
    if (length > UINT32_MAX)
        return false;
    const uint64_t padded = length + 8 - length % 8;
    if (padded > SIZE_MAX)
        return false;
    bodySize = size_t(padded);
    return true;
}

bool DecipherDataKey(const uint8_t* header, uint8_t* dataKey) noexcept
{
    CBlowfish keyCipher;
    if (!keyCipher.Init(g_abKeyEncipheringKey, SCD_KEY_SIZE))
        return false;
    std::memcpy(dataKey, header + SCD_KEY_OFFSET, SCD_KEY_SIZE);
    keyCipher.Decipher(dataKey, SCD_KEY_SIZE);
    return true;
}

bool DecipherBody(const uint8_t* dataKey, uint8_t* body, size_t size) noexcept
{
    CBlowfish dataCipher;
    if (!dataCipher.Init(dataKey, SCD_KEY_SIZE))
        return false;
    dataCipher.Decipher(body, size);
    return true;
}

bool IsPlainLengthValid(const uint8_t* body, size_t size, uint32_t plainLength) noexcept
{
    const size_t deciphered = size - size % 8;
    return plainLength >= 1 && plainLength <= deciphered && body[plainLength - 1] == 0;
}

bool Encipher(const uint8_t* content, size_t plainLength, const uint8_t* dataKey, uint8_t* header, uint8_t* body,
              size_t bodySize) noexcept
{
    size_t expected = 0;
    if (plainLength == 0 || !GetBodySize(plainLength, expected) || bodySize != expected)
        return false;
    CBlowfish dataCipher;
    CBlowfish keyCipher;
    if (!dataCipher.Init(dataKey, SCD_KEY_SIZE) || !keyCipher.Init(g_abKeyEncipheringKey, SCD_KEY_SIZE))
        return false;

    std::memmove(body, content, plainLength);
    std::memset(body + plainLength, 0, bodySize - plainLength);
    dataCipher.Encipher(body, bodySize);

    std::memcpy(header, g_abMagic, SCD_MAGIC_SIZE);
    std::memcpy(header + SCD_KEY_OFFSET, dataKey, SCD_KEY_SIZE);
    keyCipher.Encipher(header + SCD_KEY_OFFSET, SCD_KEY_SIZE);
    uint8_t* length = header + SCD_LENGTH_OFFSET;
    for (int i = 0; i < 4; ++i)
        length[i] = uint8_t(plainLength >> (8 * i));
    std::memset(length + 4, 0, 4);
    return true;
}

void ZeroKey(uint8_t* key) noexcept
{
    InstallToolBox::WipeBytes(key, SCD_KEY_SIZE);
}

namespace {

ReadStatus ReadEnciphered(const uint8_t* file, size_t size, std::vector<uint8_t>& content)
{
    const size_t bodySize = size - SCD_HEADER_SIZE;
    if (bodySize == 0)
        return SCD_READ_EMPTY;
    std::vector<uint8_t> body(file + SCD_HEADER_SIZE, file + size);

    uint8_t dataKey[SCD_KEY_SIZE];
    if (!DecipherDataKey(file, dataKey))
        return SCD_READ_KEY_FAILED;
    const bool keyed = DecipherBody(dataKey, body.data(), bodySize);
    ZeroKey(dataKey);
    if (!keyed)
        return SCD_READ_KEY_FAILED;

    const uint32_t plainLength = GetPlainLength(file);
    if (!IsPlainLengthValid(body.data(), bodySize, plainLength))
        return SCD_READ_DAMAGED;
    body.resize(plainLength);
    content.swap(body);
    return SCD_READ_DECIPHERED;
}

} // namespace

ReadStatus ReadContent(const uint8_t* file, size_t size, std::vector<uint8_t>& content) noexcept
{
    try {
        if (size >= SCD_HEADER_SIZE && HasMagic(file))
            return ReadEnciphered(file, size, content);
        if (size == 0)
            return SCD_READ_EMPTY;
        std::vector<uint8_t> plain(size + 1);
        std::memcpy(plain.data(), file, size);
        content.swap(plain);
        return SCD_READ_PLAIN;
    } catch (const std::bad_alloc&) {
        return SCD_READ_OUT_OF_MEMORY;
    }
}

bool BuildFile(const uint8_t* content, size_t plainLength, const uint8_t* dataKey, std::vector<uint8_t>& file) noexcept
{
    size_t bodySize = 0;
    if (!GetBodySize(plainLength, bodySize) || bodySize > SIZE_MAX - SCD_HEADER_SIZE)
        return false;
    try {
        std::vector<uint8_t> built(SCD_HEADER_SIZE + bodySize);
        if (!Encipher(content, plainLength, dataKey, built.data(), built.data() + SCD_HEADER_SIZE, bodySize))
            return false;
        file.swap(built);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace scd
} // namespace update
} // namespace clfs
