#include "update/scdfile.h"

#include "support/memoryimpl.h"
#include "support/krvref.h"
#include "support/ownfile.h"
#include "update/lasterror.h"
#include "service/tracesite.h"

#include <wincrypt.h>

#include <cstring>

namespace clfs::update {
namespace {

using utils::CKrvRef;
using utils::CTraceSite;
using utils::HresultFromError;

const CTraceSite kInitialize(L"long __thiscall clfs::update::CSCDFile::Initialize(const wchar_t *,bool) throw()");
const CTraceSite
    kGetDecryptedData(L"long __thiscall clfs::update::CSCDFile::GetDecryptedData(class sr::IMemory *&) throw()");
const CTraceSite kEncrypt(L"long __thiscall clfs::update::CSCDFile::Encrypt(void) throw()");
const CTraceSite kDestructor(L"__thiscall clfs::update::CSCDFile::~CSCDFile(void)");

const long kFileNotFound = static_cast<long>(0x80070002);
const long kNoData = static_cast<long>(0x800700E8);
const long kFileCorrupt = static_cast<long>(0x80070570);

// The largest content whose block (one byte more) and container body (up to 8 bytes more) one
// read or write of a 32-bit count can move.
const uint64_t kMaxContentSize = 0xFFFFFFF0;

// The system's cryptographic random source, held for one use.
class CRandomSource {
public:
    CRandomSource() noexcept
    {
        if (!CryptAcquireContextW(&m_hProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            m_hProvider = 0;
    }
    CRandomSource(const CRandomSource&) = delete;
    CRandomSource& operator=(const CRandomSource&) = delete;
    // Keeps the thread's last error, so a failed Fill can still be reported.
    ~CRandomSource()
    {
        if (!m_hProvider)
            return;
        const DWORD error = GetLastError();
        CryptReleaseContext(m_hProvider, 0);
        SetLastError(error);
    }

    bool Fill(uint8_t* data, DWORD size) noexcept { return m_hProvider && CryptGenRandom(m_hProvider, size, data); }

private:
    HCRYPTPROV m_hProvider = 0;
};

// A fresh data key; false with the thread's last error set when the random source fails.
bool MakeKey(uint8_t* key) noexcept
{
    CRandomSource source;
    return source.Fill(key, scd::SCD_KEY_SIZE);
}

// Attributes go through the handle whose file was checked, whatever the path names by now. Zero
// times in the record leave the file's times as they are, and zero attributes would too: a file
// left with none gets the normal attribute.
bool SetAttributesOf(HANDLE file, DWORD attributes) noexcept
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

long ClearReadOnly(HANDLE file, const wchar_t* path) noexcept
{
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) {
        const long hr = utils::HresultFromLastError();
        kInitialize.Error(L"Failed to get attrib for %ls: 0x%08X", path, hr);
        return hr;
    }
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        kInitialize.Info(L"%ls not read-only", path);
        return S_OK;
    }
    if (!SetAttributesOf(file, basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY)) {
        const long hr = utils::HresultFromLastError();
        kInitialize.Error(L"Failed to set file attrib for %ls: 0x%08X", path, hr);
        return hr;
    }
    kInitialize.Info(L"Cleared read-only flag for %ls", path);
    return S_OK;
}

long OpenFailure(const wchar_t* path, DWORD error) noexcept
{
    const long hr = HresultFromError(error);
    kInitialize.Error(L"Failed to open %ls - 0x%08X (%d)", path, hr, static_cast<int>(error));
    return hr;
}

// The result of a failed read from the code the file object stored.
long ReadFailure(DWORD stored) noexcept
{
    const long code = static_cast<long>(stored);
    const long hr = code > 0 ? static_cast<long>(0x80070000UL | (stored & 0xFFFF)) : code;
    return hr < 0 ? hr : utils::HresultFromLastError();
}

// Passes the block's reference to the caller's variable.
void HandOut(CKrvRef<sr::IMemory>& block, sr::IMemory*& memory) noexcept
{
    if (memory)
        memory->Release();
    memory = block.Detach();
}

} // namespace

CSCDFile::~CSCDFile()
{
    if (m_bEncryptOnClose) {
        kDestructor.Info(L"Encrypting on close");
        const long hr = Encrypt();
        if (hr < 0)
            kDestructor.Error(L"Failed to encrypt file: 0x%08X", hr);
    } else {
        kDestructor.Info(L"Not encrypting on close");
    }
    m_file.Close();
}

long CSCDFile::Initialize(const wchar_t* path, bool encryptOnClose) noexcept
{
    m_bWritable = false;
    if (!path || !*path) {
        kInitialize.Error(L"no file name");
        return E_INVALIDARG;
    }
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        const long hr = utils::HresultFromLastError();
        kInitialize.Error(L"Failed to get attrib for %ls: 0x%08X", path, hr);
        return hr;
    }
    // The file is looked at through a handle that reads and writes no data: attribute access is
    // granted on a read-only file and takes no part in sharing, and a named pipe at the path may
    // only identify SYSTEM, not act as it. Only a plain file of its own is changed at all; reading
    // and writing then reopen that very file, whatever the path names by then.
    srLib::CFile checked;
    if (!checked.Open(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr))
        return OpenFailure(path, checked.GetLastError());
    const srLib::EFileRefusal refusal = srLib::CheckOwnFile(checked.GetHandle(), path);
    if (refusal != srLib::EFileRefusal::eNone) {
        kInitialize.Error(L"Refused %ls: %ls", path, srLib::DescribeRefusal(refusal));
        return E_ACCESSDENIED;
    }
    const long cleared = ClearReadOnly(checked.GetHandle(), path);
    if (cleared < 0)
        return cleared;
    m_bWritable = true;
    const HANDLE reopened = ReOpenFile(checked.GetHandle(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0);
    if (reopened == INVALID_HANDLE_VALUE)
        return OpenFailure(path, ::GetLastError());
    m_file.Attach(reopened);
    m_bEncryptOnClose = encryptOnClose;
    m_bEncrypted = false;
    return ReadHeader(path);
}

long CSCDFile::ReadHeader(const wchar_t* path) noexcept
{
    if (!m_file.ReadAt(0, 0, m_abHeader, scd::SCD_HEADER_SIZE)) {
        kInitialize.Error(L"Read() == FALSE: %d, assuming not encrypted", m_file.GetLastError());
        return S_OK;
    }
    if (!scd::HasMagic(m_abHeader)) {
        kInitialize.Info(L"SCD File %ls not encrypted", path);
        return S_OK;
    }
    kInitialize.Info(L"SCD File %ls is encrypted", path);
    m_bEncrypted = true;
    return S_OK;
}

long CSCDFile::GetDecryptedData(sr::IMemory*& memory) noexcept
{
    if (!m_file.IsOpen()) {
        kGetDecryptedData.Error(L"file not open");
        return kFileNotFound;
    }
    CKrvRef<sr::IMemory> block(srKrv::CMemoryImpl::CreateMemoryImpl());
    if (!block) {
        kGetDecryptedData.Error(L"pMemory == NULL");
        return E_OUTOFMEMORY;
    }
    uint64_t size = m_file.GetLength();
    kGetDecryptedData.Info(L"size = %I64u", size);
    uint64_t readPosition = 0;
    if (m_bEncrypted) {
        readPosition = scd::SCD_HEADER_SIZE;
        kGetDecryptedData.Info(L"encrypted, readpos set to %I64u", readPosition);
        if (size >= scd::SCD_HEADER_SIZE) {
            size -= scd::SCD_HEADER_SIZE;
            kGetDecryptedData.Info(L"reduced size by %d bytes to %I64u", static_cast<int>(scd::SCD_HEADER_SIZE), size);
        }
    }
    if (size == 0) {
        kGetDecryptedData.Error(L"size == 0");
        return kNoData;
    }
    auto* data =
        size <= kMaxContentSize ? static_cast<uint8_t*>(block->NewAlloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!data) {
        kGetDecryptedData.Error(L"pByte == NULL");
        return E_OUTOFMEMORY;
    }
    if (!m_file.ReadAt(static_cast<DWORD>(readPosition), static_cast<DWORD>(readPosition >> 32), data,
                       static_cast<DWORD>(size))) {
        const long hr = ReadFailure(m_file.GetLastError());
        kGetDecryptedData.Error(L"Failed to read data: 0x%08X", hr);
        return hr;
    }
    if (!m_bEncrypted) {
        data[size] = 0;
        kGetDecryptedData.Info(L"Not Encrypted.");
        HandOut(block, memory);
        return S_OK;
    }
    const long hr = Decipher(*block.Get(), size);
    if (hr < 0)
        return hr;
    HandOut(block, memory);
    kGetDecryptedData.Info(L"Success");
    return S_OK;
}

long CSCDFile::Decipher(sr::IMemory& block, uint64_t size) noexcept
{
    auto* body = static_cast<uint8_t*>(block.GetData());
    uint8_t dataKey[scd::SCD_KEY_SIZE];
    if (!scd::DecipherDataKey(m_abHeader, dataKey)) {
        kGetDecryptedData.Error(L"key.init() == false");
        return E_FAIL;
    }
    const bool keyed = scd::DecipherBody(dataKey, body, static_cast<size_t>(size));
    scd::ZeroKey(dataKey);
    if (!keyed) {
        kGetDecryptedData.Error(L"init() == false");
        return E_FAIL;
    }
    // A damaged or wrongly keyed file: nothing is handed out and the file stays as it is.
    const uint32_t plainLength = scd::GetPlainLength(m_abHeader);
    if (!scd::IsPlainLengthValid(body, static_cast<size_t>(size), plainLength)) {
        kGetDecryptedData.Error(L"damaged: stored length %u, body of %I64u bytes", plainLength, size);
        return kFileCorrupt;
    }
    if (!block.ReAlloc(plainLength)) {
        kGetDecryptedData.Error(L"Failed to re-size  memory");
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

long CSCDFile::Encrypt() noexcept
{
    if (!m_file.IsOpen()) {
        kEncrypt.Error(L"File not open");
        return kFileNotFound;
    }
    if (m_bEncrypted) {
        kEncrypt.Info(L"Already Encrypted");
        return S_OK;
    }
    if (!m_bWritable) {
        kEncrypt.Error(L"File not writable");
        return E_ACCESSDENIED;
    }
    sr::IMemory* loaded = nullptr;
    const long hr = GetDecryptedData(loaded);
    CKrvRef<sr::IMemory> content(loaded);
    if (hr < 0) {
        kEncrypt.Error(L"Failed to load data: 0x%08X", hr);
        return hr;
    }
    return WriteEnciphered(*content.Get());
}

long CSCDFile::WriteEnciphered(sr::IMemory& content) noexcept
{
    const size_t plainLength = content.GetSize();
    size_t bodySize = 0;
    if (!scd::GetBodySize(plainLength, bodySize)) {
        kEncrypt.Error(L"pByte == NULL");
        return E_OUTOFMEMORY;
    }
    kEncrypt.Info(L"Padding %Iu to %Iu bytes", bodySize - plainLength, bodySize);
    CKrvRef<sr::IMemory> body(srKrv::CMemoryImpl::CreateMemoryImpl());
    auto* bodyBytes = body ? static_cast<uint8_t*>(body->NewAlloc(bodySize)) : nullptr;
    if (!bodyBytes) {
        kEncrypt.Error(L"pByte == NULL");
        return E_OUTOFMEMORY;
    }
    uint8_t dataKey[scd::SCD_KEY_SIZE];
    if (!MakeKey(dataKey)) {
        const long hr = utils::HresultFromLastError();
        kEncrypt.Error(L"MakeKey() == false: 0x%08X", hr);
        return hr;
    }
    uint8_t header[scd::SCD_HEADER_SIZE];
    const bool enciphered = scd::Encipher(static_cast<const uint8_t*>(content.GetData()), plainLength, dataKey, header,
                                          bodyBytes, bodySize);
    scd::ZeroKey(dataKey);
    if (!enciphered) {
        kEncrypt.Error(L"init == false");
        return E_FAIL;
    }
    if (!m_file.SetLength(0)) {
        kEncrypt.Error(L"SetLength == false");
        return HresultFromError(m_file.GetLastError());
    }
    if (!m_file.Write(header, scd::SCD_HEADER_SIZE)) {
        const long hr = HresultFromError(m_file.GetLastError());
        kEncrypt.Error(L"Failed to write hdr: 0x%08X", hr);
        return hr;
    }
    if (!m_file.Write(bodyBytes, static_cast<DWORD>(bodySize))) {
        const long hr = HresultFromError(m_file.GetLastError());
        kEncrypt.Error(L"Failed to write data: 0x%08X", hr);
        return hr;
    }
    std::memcpy(m_abHeader, header, scd::SCD_HEADER_SIZE);
    m_bEncrypted = true;
    kEncrypt.Info(L"Success");
    return S_OK;
}

} // namespace clfs::update
