// Blowfish (16 rounds, initial tables from the hexadecimal digits of pi) in the word order
// of the module's files: each 8-byte block is two little-endian 32-bit words, bytes 0-3 the
// left half and bytes 4-7 the right half. That is not the big-endian order of the published
// test vectors; each half of such a vector has to be byte-swapped to compare.
#pragma once

#include <cstddef>
#include <cstdint>

namespace InstallToolBox {

constexpr size_t BLOWFISH_BLOCK_SIZE = 8;
constexpr size_t BLOWFISH_MIN_KEY_SIZE = 1;
constexpr size_t BLOWFISH_MAX_KEY_SIZE = 128;
constexpr size_t BLOWFISH_P_WORDS = 18;

class CBlowfish {
public:
    CBlowfish() noexcept;
    ~CBlowfish();
    CBlowfish(const CBlowfish&) = delete;
    CBlowfish& operator=(const CBlowfish&) = delete;

    // Runs the key schedule: the key bytes are cycled, most significant byte first, into the
    // P words, then the zero block is enciphered repeatedly to replace P and the S-boxes.
    // Refuses (false, state unchanged) a null key or a size outside 1..128 bytes.
    [[nodiscard]] bool Init(const void* key, size_t keySize) noexcept;

    // Electronic-codebook mode in place over the whole 8-byte blocks of the buffer; bytes
    // after the last whole block are left as they are. Only meaningful after a successful Init.
    void Encipher(void* data, size_t size) const noexcept;
    void Decipher(void* data, size_t size) const noexcept;

private:
    uint32_t m_adwP[BLOWFISH_P_WORDS];
    uint32_t m_adwS[4][256];
};

// Overwrites key material with zeros through a volatile pointer, so the stores survive
// optimisation even when the memory is freed right afterwards.
void WipeBytes(void* data, size_t size) noexcept;

} // namespace InstallToolBox
