#pragma once
#include "support/file.h"
#include "update/scdcontainer.h"

#include <cstdint>

namespace sr {
class IMemory;
} // namespace sr

namespace clfs::update {

// The submission control file "SCD.xml", plain or in its enciphered container. Initialize opens
// it for reading and writing, shared for reading only, for the object's whole life, and tells the
// two forms apart by the magic at its start; GetDecryptedData hands out the plain content in
// either form; Encrypt rewrites a plain file in the enciphered form with a fresh data key. The
// destructor enciphers when Initialize asked for it, then closes the file. Failures are traced
// and returned as HRESULTs; nothing throws. One thread at a time.
class CSCDFile {
public:
    CSCDFile() noexcept = default;
    CSCDFile(const CSCDFile&) = delete;
    CSCDFile& operator=(const CSCDFile&) = delete;
    ~CSCDFile();

    // Refuses with E_ACCESSDENIED, before anything about the file changes, a file that is not a
    // plain file of its own (see srLib::CheckOwnFile). Otherwise clears the read-only attribute
    // (it is not restored). A header that cannot be read whole is no failure: the file then
    // counts as plain.
    long Initialize(const wchar_t* path, bool encryptOnClose) noexcept;
    // A new memory block whose reference passes to the caller (releasing the one memory held
    // before): a plain file's bytes and one zero byte, or an enciphered file's stored content.
    // memory is changed only on success. An enciphered file whose stored length does not fit
    // its deciphered body gives HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) and is left as it is.
    long GetDecryptedData(sr::IMemory*& memory) noexcept;
    // Does nothing to a file already enciphered. A failure after the file was cut to length 0
    // leaves it cut or partly written.
    long Encrypt() noexcept;

private:
    long ReadHeader(const wchar_t* path) noexcept;
    // Deciphers the size body bytes at the start of block in place and cuts the block to the
    // stored length.
    long Decipher(sr::IMemory& block, uint64_t size) noexcept;
    long WriteEnciphered(sr::IMemory& content) noexcept;

    srLib::CFile m_file;
    bool m_bEncryptOnClose = false;
    bool m_bEncrypted = false;
    uint8_t m_abHeader[scd::SCD_HEADER_SIZE] = {};
    bool m_bWritable = false;
};

} // namespace clfs::update
