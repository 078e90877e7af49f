// The enciphered container of the submission control file.
//
// Layout (little-endian): 16-byte magic (a GUID in structure layout), the 16-byte data key
// enciphered with the key-enciphering key, the plain length L as 64 bits (only the low 32 are
// used), then the body: L content bytes (the plain file and one zero byte) and 1 to 8 zero
// bytes of fill, P = L + 8 - (L mod 8) bytes in all, enciphered with the data key. Both keys
// drive Blowfish in the little-endian word order of the module's files.
//
// These are the byte-level pieces of clfs::update::CSCDFile; the file handling and the random
// data key come from the Windows side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace clfs {
namespace update {
namespace scd {

constexpr size_t SCD_MAGIC_SIZE = 16;
constexpr size_t SCD_KEY_SIZE = 16;
constexpr size_t SCD_KEY_OFFSET = 16;
constexpr size_t SCD_LENGTH_OFFSET = 32;
constexpr size_t SCD_HEADER_SIZE = 40;

// {D3F08B52-6C19-4E7A-9B41-E275A0C8D93F} in GUID structure layout.
extern const uint8_t g_abMagic[SCD_MAGIC_SIZE];
// {4E92A7C1-58B3-4D06-A1F8-7C3E60B295DA} in GUID structure layout.
extern const uint8_t g_abKeyEncipheringKey[SCD_KEY_SIZE];

// Whether the 16 bytes at data are the magic. A file is enciphered exactly when a whole 40-byte
// header can be read and this holds for it.
bool HasMagic(const uint8_t* data) noexcept;

// L from header bytes 32-39: the low 32 bits, which is all the writer fills.
uint32_t GetPlainLength(const uint8_t* header) noexcept;

// P for a content of plainLength bytes. False when L cannot be stored in the header's 32 bits
// or P does not fit a size_t.
[[nodiscard]] bool GetBodySize(size_t plainLength, size_t& bodySize) noexcept;

// The data key: header bytes 16-31 deciphered with the key-enciphering key. False when the
// key cipher cannot be keyed; dataKey is then untouched. The caller zeroes the copy after use.
[[nodiscard]] bool DecipherDataKey(const uint8_t* header, uint8_t* dataKey) noexcept;

// Deciphers the body in place, whole blocks only: the last size mod 8 bytes of a damaged body
// stay as stored. False when the data cipher cannot be keyed; the body is then untouched.
[[nodiscard]] bool DecipherBody(const uint8_t* dataKey, uint8_t* body, size_t size) noexcept;

// Whether a deciphered body of size bytes can hand out plainLength content bytes. A damaged
// or wrongly keyed file is refused rather than handed out partly deciphered or unterminated:
// L must be at least 1, lie within the whole blocks, and its last byte must be the zero byte
// every writer puts there.
bool IsPlainLengthValid(const uint8_t* body, size_t size, uint32_t plainLength) noexcept;

// Builds the enciphered form of plainLength content bytes (the plain file and its zero byte):
// all 40 header bytes, and the P body bytes, which must be exactly GetBodySize(plainLength).
// content may be the start of body itself. False, with nothing written, for an empty content
// (a reader refuses L = 0), a size mismatch or a keying failure.
[[nodiscard]] bool Encipher(const uint8_t* content, size_t plainLength, const uint8_t* dataKey, uint8_t* header,
                            uint8_t* body, size_t bodySize) noexcept;

// Overwrites a copy of a data key.
void ZeroKey(uint8_t* key) noexcept;

enum ReadStatus {
    SCD_READ_PLAIN,      // a plain file: its bytes and one zero byte
    SCD_READ_DECIPHERED, // an enciphered file: its L content bytes
    SCD_READ_EMPTY,      // no content bytes: an empty file, or a header without body
    SCD_READ_DAMAGED,    // the stored length does not fit the body (IsPlainLengthValid)
    SCD_READ_KEY_FAILED, // a cipher could not be keyed
    SCD_READ_OUT_OF_MEMORY,
};

// The content a whole file in memory hands out, in either form.
ReadStatus ReadContent(const uint8_t* file, size_t size, std::vector<uint8_t>& content) noexcept;

// The whole enciphered file (header and body) for plainLength content bytes.
[[nodiscard]] bool BuildFile(const uint8_t* content, size_t plainLength, const uint8_t* dataKey,
                             std::vector<uint8_t>& file) noexcept;

} // namespace scd
} // namespace update
} // namespace clfs
