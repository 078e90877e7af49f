#include "recordstore.h"
#include "byteorder.h"

#include <cstring>
#include <memory>
#include <new>

#include "blowfish.h"
#include "md5.h"

namespace InstallToolBox {

namespace {

constexpr size_t RECORD_TYPE_OFFSET = 32;
constexpr size_t RECORD_SIZE_OFFSET = 36;
constexpr size_t HEADER_COUNT_OFFSET = 8;
constexpr size_t HEADER_DIGEST_OFFSET = 12;

// At least one byte of zero fill, a whole block of it when the content fills its last block.
inline size_t DataSizeFor(size_t contentSize) noexcept
{
    return contentSize + 8 - contentSize % 8;
}

// A record name is equal when the 32-byte field holds exactly these characters and a terminator;
// a field without a terminator matches no name.
bool NameEquals(const uint8_t* field, const char* name) noexcept
{
    size_t length = 0;
    while (length < RECORD_NAME_SIZE && name[length] != '\0') {
        if (uint8_t(name[length]) != field[length])
            return false;
        ++length;
    }
    return length < RECORD_NAME_SIZE && field[length] == 0;
}

// The cipher state (4 KiB) lives for one load or save and is wiped when it is freed; when it
// cannot be allocated or keyed the operation fails with RS_OUT_OF_MEMORY.
std::unique_ptr<CBlowfish> MakeCipher(const uint8_t* key, size_t keySize) noexcept
{
    std::unique_ptr<CBlowfish> cipher(new (std::nothrow) CBlowfish);
    if (cipher && !cipher->Init(key, keySize))
        cipher.reset();
    return cipher;
}

// Grows with the writes; a write it cannot hold in memory fails like a full disk.
class CVectorSink final : public IRecordSink {
public:
    explicit CVectorSink(std::vector<uint8_t>& file) noexcept : m_file(file) {}

    bool WriteAt(uint64_t offset, const void* data, size_t size) noexcept override
    {
        if (offset > SIZE_MAX - size)
            return false;
        const size_t end = size_t(offset) + size;
        try {
            if (m_file.size() < end)
                m_file.resize(end);
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::memcpy(m_file.data() + offset, data, size);
        return true;
    }

    bool SetEnd(uint64_t size) noexcept override
    {
        if (size > SIZE_MAX)
            return false;
        try {
            m_file.resize(size_t(size));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

private:
    std::vector<uint8_t>& m_file;
};

} // namespace

struct CRecordStore::SRecord {
    SRecord* pNext = nullptr;
    // Name, type and data size exactly as in the file, so that records of a type this module
    // does not know are written back unchanged.
    uint8_t abHead[RECORD_HEAD_SIZE] = {};
    std::unique_ptr<uint8_t[]> pbData;

    uint32_t GetType() const noexcept { return LoadLe32(abHead + RECORD_TYPE_OFFSET); }
    uint32_t GetDataSize() const noexcept { return LoadLe32(abHead + RECORD_SIZE_OFFSET); }

    // Null when either allocation fails; the data bytes start zeroed.
    static SRecord* New(size_t dataSize) noexcept
    {
        std::unique_ptr<SRecord> record(new (std::nothrow) SRecord);
        if (!record)
            return nullptr;
        record->pbData.reset(new (std::nothrow) uint8_t[dataSize]());
        return record->pbData ? record.release() : nullptr;
    }
};

CMemoryRecordSource::CMemoryRecordSource(const void* data, size_t size) noexcept
    : m_pbData(static_cast<const uint8_t*>(data)), m_cbSize(size), m_cbPosition(0)
{
}

uint64_t CMemoryRecordSource::GetSize() noexcept
{
    return m_cbSize;
}

bool CMemoryRecordSource::Read(void* buffer, size_t size) noexcept
{
    if (size > m_cbSize - m_cbPosition)
        return false;
    if (size != 0)
        std::memcpy(buffer, m_pbData + m_cbPosition, size);
    m_cbPosition += size;
    return true;
}

CRecordStore::CRecordStore() noexcept : m_pFirst(nullptr), m_dwCount(0), m_cbKey(0), m_abKey() {}

CRecordStore::~CRecordStore()
{
    FreeRecords();
    WipeBytes(m_abKey, sizeof(m_abKey));
}

int CRecordStore::Init(const void* key, size_t keySize) noexcept
{
    if (key == nullptr || keySize == 0)
        return RS_BAD_ARGUMENT;
    if (keySize > RECORD_MAX_KEY_SIZE)
        return RS_KEY_TOO_LONG;
    std::memcpy(m_abKey, key, keySize);
    m_cbKey = keySize;
    return RS_SUCCESS;
}

void CRecordStore::FreeRecords() noexcept
{
    // Iteratively: an unverified file may hold a very long list.
    while (m_pFirst != nullptr) {
        SRecord* next = m_pFirst->pNext;
        delete m_pFirst;
        m_pFirst = next;
    }
}

uint32_t CRecordStore::GetCount() const noexcept
{
    return m_dwCount;
}

bool CRecordStore::GetRecords(std::vector<SRecordView>& views) const noexcept
{
    views.clear();
    try {
        for (const SRecord* record = m_pFirst; record != nullptr; record = record->pNext)
            views.push_back({record->abHead, record->GetType(), record->GetDataSize(), record->pbData.get()});
    } catch (const std::bad_alloc&) {
        views.clear();
        return false;
    }
    return true;
}

const CRecordStore::SRecord* CRecordStore::Find(const char* name, uint32_t type) const noexcept
{
    for (const SRecord* record = m_pFirst; record != nullptr; record = record->pNext) {
        if (record->GetType() == type && NameEquals(record->abHead, name))
            return record;
    }
    return nullptr;
}

int CRecordStore::SetRecord(const char* name, uint32_t type, const void* content, size_t contentSize) noexcept
{
    const size_t dataSize = DataSizeFor(contentSize);
    SRecord* record = SRecord::New(dataSize);
    if (record == nullptr)
        return RS_OUT_OF_MEMORY;
    std::memcpy(record->abHead, name, std::strlen(name));
    StoreLe32(record->abHead + RECORD_TYPE_OFFSET, type);
    StoreLe32(record->abHead + RECORD_SIZE_OFFSET, uint32_t(dataSize));
    std::memcpy(record->pbData.get(), content, contentSize);

    bool replaced = false;
    for (SRecord** link = &m_pFirst; *link != nullptr; link = &(*link)->pNext) {
        if (NameEquals((*link)->abHead, name)) {
            SRecord* old = *link;
            *link = old->pNext;
            delete old;
            replaced = true;
            break;
        }
    }
    record->pNext = m_pFirst;
    m_pFirst = record;
    if (!replaced)
        ++m_dwCount;
    return RS_SUCCESS;
}

int CRecordStore::SetString(const char* name, const char* value) noexcept
{
    if (name == nullptr || value == nullptr || std::strlen(name) >= RECORD_NAME_SIZE)
        return RS_BAD_ARGUMENT;
    const size_t contentSize = std::strlen(value) + 1;
    if (contentSize > RECORD_MAX_CONTENT)
        return RS_BAD_ARGUMENT;
    return SetRecord(name, RECORD_TYPE_STRING, value, contentSize);
}

int CRecordStore::SetDword(const char* name, uint32_t value) noexcept
{
    if (name == nullptr || std::strlen(name) >= RECORD_NAME_SIZE)
        return RS_BAD_ARGUMENT;
    uint8_t content[4];
    StoreLe32(content, value);
    return SetRecord(name, RECORD_TYPE_DWORD, content, sizeof(content));
}

int CRecordStore::GetString(const char* name, char* buffer, size_t bufferSize, const char* defaultValue) const noexcept
{
    if (name == nullptr || buffer == nullptr)
        return RS_BAD_ARGUMENT;

    const char* text = "";
    int status = RS_NOT_FOUND;
    if (const SRecord* record = Find(name, RECORD_TYPE_STRING)) {
        text = reinterpret_cast<const char*>(record->pbData.get());
        status = RS_SUCCESS;
    } else if (defaultValue != nullptr) {
        text = defaultValue;
    }

    // A loaded string record always holds its terminator within D (checked by Load).
    const size_t size = std::strlen(text) + 1;
    if (size > bufferSize) {
        if (bufferSize != 0)
            buffer[0] = '\0';
        return RS_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text, size);
    return status;
}

int CRecordStore::GetDword(const char* name, uint32_t* value, uint32_t defaultValue) const noexcept
{
    if (name == nullptr || value == nullptr)
        return RS_BAD_ARGUMENT;
    if (const SRecord* record = Find(name, RECORD_TYPE_DWORD)) {
        *value = LoadLe32(record->pbData.get());
        return RS_SUCCESS;
    }
    *value = defaultValue;
    return RS_NOT_FOUND;
}

namespace {

// A loaded record must hold what its type needs: a string its terminator, a 32-bit value its
// 4 bytes. Records of other types are taken as they are.
bool IsRecordSound(uint32_t type, const uint8_t* data, size_t dataSize) noexcept
{
    switch (type) {
    case RECORD_TYPE_STRING:
        return std::memchr(data, 0, dataSize) != nullptr;
    case RECORD_TYPE_DWORD:
        return dataSize >= 4;
    default:
        return true;
    }
}

} // namespace

int CRecordStore::Load(IRecordSource& source, bool verify) noexcept
{
    uint8_t header[RECORD_HEADER_SIZE];
    if (!source.Read(header, sizeof(header)) || LoadLe32(header) != RECORD_FILE_MAGIC)
        return RS_BAD_FORMAT;

    const std::unique_ptr<CBlowfish> cipher = MakeCipher(m_abKey, m_cbKey);
    if (!cipher)
        return RS_OUT_OF_MEMORY;
    uint8_t digest[MD5_DIGEST_SIZE];
    std::memcpy(digest, header + HEADER_DIGEST_OFFSET, sizeof(digest));
    cipher->Decipher(digest, sizeof(digest));

    // With verify the whole rest of the file is read once for the digest and the records are
    // then taken from that copy.
    std::unique_ptr<uint8_t[]> body;
    size_t bodySize = 0;
    if (verify) {
        const uint64_t fileSize = source.GetSize();
        if (fileSize < RECORD_HEADER_SIZE || fileSize > RECORD_MAX_FILE_SIZE)
            return RS_BAD_CHECKSUM;
        bodySize = size_t(fileSize) - RECORD_HEADER_SIZE;
        body.reset(new (std::nothrow) uint8_t[bodySize]);
        if (!body)
            return RS_OUT_OF_MEMORY;
        if (!source.Read(body.get(), bodySize))
            return RS_BAD_FORMAT;
        CMd5 md5;
        md5.Update(header, HEADER_DIGEST_OFFSET);
        md5.Update(body.get(), bodySize);
        uint8_t computed[MD5_DIGEST_SIZE];
        md5.Final(computed);
        if (std::memcmp(computed, digest, sizeof(digest)) != 0)
            return RS_BAD_CHECKSUM;
    }
    CMemoryRecordSource bodySource(body.get(), bodySize);
    IRecordSource& records = verify ? static_cast<IRecordSource&>(bodySource) : source;

    FreeRecords();
    m_dwCount = LoadLe32(header + HEADER_COUNT_OFFSET);

    for (uint32_t i = 0; i < m_dwCount; ++i) {
        uint8_t head[RECORD_HEAD_SIZE];
        if (!records.Read(head, sizeof(head)))
            return RS_BAD_FORMAT;
        cipher->Decipher(head, sizeof(head));
        // D is accepted when it is whole blocks (the data is deciphered in place) and no more
        // than the longest content gives: a larger D is nothing this module writes, and the
        // bound keeps a forged size from driving the allocation. Either fault, or data too
        // small for its type, makes the file malformed.
        const uint32_t dataSize = LoadLe32(head + RECORD_SIZE_OFFSET);
        if (dataSize % 8 != 0 || dataSize > RECORD_MAX_DATA)
            return RS_BAD_FORMAT;

        std::unique_ptr<SRecord> record(SRecord::New(dataSize));
        if (!record)
            return RS_OUT_OF_MEMORY;
        std::memcpy(record->abHead, head, sizeof(head));
        if (!records.Read(record->pbData.get(), dataSize))
            return RS_BAD_FORMAT;
        cipher->Decipher(record->pbData.get(), dataSize);
        if (!IsRecordSound(record->GetType(), record->pbData.get(), dataSize))
            return RS_BAD_FORMAT;

        record->pNext = m_pFirst;
        m_pFirst = record.release();
    }
    return RS_SUCCESS;
}

int CRecordStore::Load(const void* data, size_t size, bool verify) noexcept
{
    if (data == nullptr && size != 0)
        return RS_BAD_ARGUMENT;
    CMemoryRecordSource source(data, size);
    return Load(source, verify);
}

int CRecordStore::Save(IRecordSink& sink) const noexcept
{
    const std::unique_ptr<CBlowfish> cipher = MakeCipher(m_abKey, m_cbKey);
    if (!cipher)
        return RS_OUT_OF_MEMORY;

    uint8_t header[RECORD_HEADER_SIZE];
    StoreLe32(header, RECORD_FILE_MAGIC);
    StoreLe32(header + 4, RECORD_FILE_VERSION);
    StoreLe32(header + HEADER_COUNT_OFFSET, m_dwCount);
    CMd5 md5;
    md5.Update(header, HEADER_DIGEST_OFFSET);

    uint64_t offset = RECORD_HEADER_SIZE;
    uint8_t buffer[RECORD_HEAD_SIZE + RECORD_MAX_DATA];
    for (const SRecord* record = m_pFirst; record != nullptr; record = record->pNext) {
        const size_t dataSize = record->GetDataSize();
        const size_t size = RECORD_HEAD_SIZE + dataSize;
        std::memcpy(buffer, record->abHead, RECORD_HEAD_SIZE);
        std::memcpy(buffer + RECORD_HEAD_SIZE, record->pbData.get(), dataSize);
        cipher->Encipher(buffer, size);
        if (!sink.WriteAt(offset, buffer, size))
            return RS_WRITE_FAILED;
        md5.Update(buffer, size);
        offset += size;
    }

    md5.Final(header + HEADER_DIGEST_OFFSET);
    cipher->Encipher(header + HEADER_DIGEST_OFFSET, MD5_DIGEST_SIZE);
    if (!sink.SetEnd(offset) || !sink.WriteAt(0, header, sizeof(header)))
        return RS_WRITE_FAILED;
    return RS_SUCCESS;
}

int CRecordStore::Save(std::vector<uint8_t>& file) const noexcept
{
    file.clear();
    CVectorSink sink(file);
    return Save(sink);
}

} // namespace InstallToolBox
