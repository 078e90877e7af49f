// The record store behind the install options data: a newest-first list of named string and
// 32-bit records, kept on disk as a Blowfish-enciphered file protected by an MD5 digest.
//
// File layout (little-endian): a 28-byte header - magic 0xFE56524B, version 1, record count,
// the MD5 digest enciphered as two blocks - then the records, each a 40-byte head (32-byte
// name, type, data size D) and D data bytes, enciphered together. The digest covers header
// bytes 0-11 and every record as stored, in file order.
//
// The store works on byte streams only. Opening, sharing, creating and cutting the file is the
// caller's business, and so are the statuses RS_FILE_NOT_FOUND and RS_OPEN_FAILED; a failing
// sink becomes RS_WRITE_FAILED.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace InstallToolBox {

enum RecordStatus : int {
    RS_SUCCESS = 0,
    RS_BAD_ARGUMENT = 2, // missing pointer, name of 32 characters or more, value too long
    RS_FILE_NOT_FOUND = 3,
    RS_OPEN_FAILED = 4,
    RS_BAD_FORMAT = 5,   // header too short, wrong magic number, record cut short or malformed
    RS_BAD_CHECKSUM = 6, // digest mismatch, or file size outside 28..262144 bytes
    RS_BUFFER_TOO_SMALL = 7,
    RS_OUT_OF_MEMORY = 8, // also: the cipher state cannot be set up
    RS_WRITE_FAILED = 9,
    RS_NOT_FOUND = 10, // the default was returned
    RS_KEY_TOO_LONG = 11,
};

enum RecordType : uint32_t {
    RECORD_TYPE_STRING = 0,
    RECORD_TYPE_DWORD = 1,
};

constexpr uint32_t RECORD_FILE_MAGIC = 0xFE56524B;
constexpr uint32_t RECORD_FILE_VERSION = 1;
constexpr size_t RECORD_HEADER_SIZE = 28;
constexpr size_t RECORD_HEAD_SIZE = 40;
constexpr size_t RECORD_NAME_SIZE = 32;
constexpr size_t RECORD_MAX_CONTENT = 2048;
// D for the longest content: D = L + 8 - (L mod 8) with L = 2048.
constexpr size_t RECORD_MAX_DATA = RECORD_MAX_CONTENT + 8;
constexpr uint64_t RECORD_MAX_FILE_SIZE = 262144;

constexpr size_t RECORD_MAX_KEY_SIZE = 128;

// The key of every install options file.
constexpr size_t INSTOPTS_KEY_SIZE = 8;
inline constexpr uint8_t g_abInstoptsKey[INSTOPTS_KEY_SIZE] = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};

// The file being loaded, read from its start.
class IRecordSource {
public:
    // Size of the whole file in bytes; consulted only when the digest is verified.
    virtual uint64_t GetSize() noexcept = 0;
    // Reads exactly size bytes at the current position and moves past them; false when fewer
    // bytes are left or the read fails.
    virtual bool Read(void* buffer, size_t size) noexcept = 0;

protected:
    ~IRecordSource() = default;
};

// The file being saved, already opened and cut to length 0 by the caller.
class IRecordSink {
public:
    // Writes every one of size bytes at offset; false on a failed or short write.
    virtual bool WriteAt(uint64_t offset, const void* data, size_t size) noexcept = 0;
    // Ends the file at size bytes.
    virtual bool SetEnd(uint64_t size) noexcept = 0;

protected:
    ~IRecordSink() = default;
};

// A whole file already in memory; the bytes must outlive the source.
class CMemoryRecordSource final : public IRecordSource {
public:
    CMemoryRecordSource(const void* data, size_t size) noexcept;
    uint64_t GetSize() noexcept override;
    bool Read(void* buffer, size_t size) noexcept override;

private:
    const uint8_t* m_pbData;
    size_t m_cbSize;
    size_t m_cbPosition;
};

class CRecordStore {
public:
    CRecordStore() noexcept;
    ~CRecordStore();
    CRecordStore(const CRecordStore&) = delete;
    CRecordStore& operator=(const CRecordStore&) = delete;

    // Keeps a copy of the cipher key, which each load and save schedules anew.
    // RS_BAD_ARGUMENT for a null or empty key, RS_KEY_TOO_LONG beyond 128 bytes; a store
    // without a key fails every load and save with RS_OUT_OF_MEMORY.
    int Init(const void* key, size_t keySize) noexcept;

    // Replace any record of that name (whatever its type) by a new one at the front of the
    // list; the count grows only when nothing was replaced. RS_BAD_ARGUMENT for a missing
    // pointer, a name of 32 characters or more, or a string of more than 2047 characters.
    // On RS_OUT_OF_MEMORY the store is left as it was.
    int SetString(const char* name, const char* value) noexcept;
    int SetDword(const char* name, uint32_t value) noexcept;

    // The first string record of that name, terminator included: RS_SUCCESS, or
    // RS_BUFFER_TOO_SMALL when bufferSize cannot hold it. Not found: the default (or an empty
    // string when defaultValue is null) and RS_NOT_FOUND, or RS_BUFFER_TOO_SMALL when that does
    // not fit. Whenever RS_BUFFER_TOO_SMALL is returned and bufferSize is not 0, the buffer holds
    // an empty string.
    int GetString(const char* name, char* buffer, size_t bufferSize, const char* defaultValue) const noexcept;
    // The first 32-bit record of that name: RS_SUCCESS; otherwise *value = defaultValue and
    // RS_NOT_FOUND.
    int GetDword(const char* name, uint32_t* value, uint32_t defaultValue) const noexcept;

    // Reads a file. With verify, the size must be 28..262144 bytes and the digest must match,
    // or RS_BAD_CHECKSUM leaves the store as it was. Once the header has passed, the current
    // records are replaced: the count becomes the header's and the records are put at the front
    // of the list as they are read; a record that cannot be read ends the load with
    // RS_BAD_FORMAT (or RS_OUT_OF_MEMORY) and the records read before it stay.
    int Load(IRecordSource& source, bool verify) noexcept;
    // The same over a whole file in memory; RS_BAD_ARGUMENT for null data of non-zero size.
    int Load(const void* data, size_t size, bool verify) noexcept;

    // Writes the records from offset 28 in list order, ends the file after them and writes the
    // header last, so a save cut short leaves a file without a valid header. RS_WRITE_FAILED
    // when the sink fails.
    int Save(IRecordSink& sink) const noexcept;
    // The exact file bytes; file is replaced.
    int Save(std::vector<uint8_t>& file) const noexcept;

    // The number of records as written to the header; a load sets it from the file's header.
    uint32_t GetCount() const noexcept;

    // One record as the store holds it, deciphered, for diagnostic tools.
    struct SRecordView {
        const uint8_t* pbName; // the 32-byte name field; one without a terminator matches no lookup
        uint32_t dwType;       // any type: records of types this module does not know are kept
        uint32_t cbData;       // D, the data size in the record's head
        const uint8_t* pbData; // the D data bytes, zero fill included
    };
    // Every record in list order: newest first, the order Save writes them, and so the reverse
    // of the file they were loaded from. After a load that stopped at a damaged record these are
    // the records read before it, which may be fewer than GetCount. The views point into the
    // store and stay valid until it is next changed, loaded or destroyed. False, with views
    // empty, when memory runs out.
    bool GetRecords(std::vector<SRecordView>& views) const noexcept;

private:
    struct SRecord;

    int SetRecord(const char* name, uint32_t type, const void* content, size_t contentSize) noexcept;
    const SRecord* Find(const char* name, uint32_t type) const noexcept;
    void FreeRecords() noexcept;

    SRecord* m_pFirst;
    uint32_t m_dwCount;
    size_t m_cbKey;
    uint8_t m_abKey[RECORD_MAX_KEY_SIZE];
};

} // namespace InstallToolBox
