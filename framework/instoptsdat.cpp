#include "framework/instoptsdat.h"

#include "framework/recordstore.h"
#include "framework/regkey.h"

#include <new>
#include <vector>

namespace InstallToolBox {
namespace {

class CFileHandle {
public:
    explicit CFileHandle(HANDLE handle) : m_hFile(handle) {}
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;
    ~CFileHandle()
    {
        if (IsOpen()) {
            const DWORD lastError = GetLastError();
            CloseHandle(m_hFile);
            SetLastError(lastError);
        }
    }
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_hFile; }

private:
    HANDLE m_hFile;
};

class CFileSource final : public IRecordSource {
public:
    explicit CFileSource(HANDLE file) : m_hFile(file) {}
    uint64_t GetSize() noexcept override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(m_hFile, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool Read(void* buffer, size_t size) noexcept override
    {
        BYTE* next = static_cast<BYTE*>(buffer);
        while (size > 0) {
            DWORD got = 0;
            const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
            if (!ReadFile(m_hFile, next, want, &got, nullptr) || got == 0)
                return false;
            next += got;
            size -= got;
        }
        return true;
    }

private:
    HANDLE m_hFile;
};

class CFileSink final : public IRecordSink {
public:
    explicit CFileSink(HANDLE file) : m_hFile(file) {}
    bool WriteAt(uint64_t offset, const void* data, size_t size) noexcept override
    {
        if (!Seek(offset))
            return false;
        DWORD written = 0;
        return WriteFile(m_hFile, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    }
    bool SetEnd(uint64_t size) noexcept override { return Seek(size) && SetEndOfFile(m_hFile); }

private:
    bool Seek(uint64_t offset)
    {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(m_hFile, position, nullptr, FILE_BEGIN) != FALSE;
    }
    HANDLE m_hFile;
};

bool FileExists(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Text of the thread's ANSI code page, as the file keeps names and values; empty on failure.
std::vector<char> ToAnsi(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::vector<char>();
    std::vector<char> ansi(static_cast<size_t>(bytes));
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, ansi.data(), bytes, nullptr, nullptr) != bytes)
        return std::vector<char>();
    return ansi;
}

std::wstring InstoptsFromRegistry()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"Software\\Korvalin", KEY_READ) != ERROR_SUCCESS)
        return std::wstring();
    std::vector<wchar_t> path(520, L'\0');
    if (ReadRegistryString(key.Get(), L"Instopts", path.data(), static_cast<DWORD>(path.size())) != ERROR_SUCCESS)
        return std::wstring();
    return FileExists(path.data()) ? std::wstring(path.data()) : std::wstring();
}

std::unique_ptr<CRecordStore> CreateStore()
{
    std::unique_ptr<CRecordStore> store(new (std::nothrow) CRecordStore());
    if (store && store->Init(g_abInstoptsKey, sizeof(g_abInstoptsKey)) != RS_SUCCESS)
        store.reset();
    return store;
}

} // namespace

int LoadRecordFile(CRecordStore& store, const wchar_t* path, bool verify)
{
    if (!path)
        return RS_BAD_ARGUMENT;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return RS_FILE_NOT_FOUND;
    const CFileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen())
        return RS_OPEN_FAILED;
    CFileSource source(file.Get());
    return store.Load(source, verify);
}

int SaveRecordFile(const CRecordStore& store, const wchar_t* path)
{
    // An existing file is cut to nothing; a missing one is created, and must not appear in
    // between (another writer's file is never silently replaced).
    HANDLE handle = CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        handle = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const CFileHandle file(handle);
    if (!file.IsOpen())
        return RS_OPEN_FAILED;
    CFileSink sink(file.Get());
    return store.Save(sink);
}

CInstoptsDat::CInstoptsDat(DWORD, const wchar_t* path, BOOL givenPath) : m_bGivenPath(givenPath)
{
    if (!m_bGivenPath)
        m_strPath = InstoptsFromRegistry();
    if (m_strPath.empty() && path) {
        m_strPath = path;
        if (!m_bGivenPath && !FileExists(path))
            m_strPath.clear();
    }
    if (m_strPath.empty())
        return;

    m_pStore = CreateStore();
    if (!m_pStore || LoadRecordFile(*m_pStore, m_strPath.c_str(), true) == RS_SUCCESS)
        return;
    // A failed load can leave the records read before the damage; with a given path the store
    // starts empty instead, and the first save replaces the file.
    m_pStore = m_bGivenPath ? CreateStore() : nullptr;
}

CInstoptsDat::~CInstoptsDat() = default;

void CInstoptsDat::EnableWriting()
{
    m_bReadOnly = FALSE;
}

BOOL CInstoptsDat::SetDword(const wchar_t* name, DWORD value)
{
    const std::vector<char> ansiName = ToAnsi(name);
    return !ansiName.empty() && SetDword(ansiName.data(), value);
}

BOOL CInstoptsDat::SetDword(const char* name, DWORD value)
{
    if (m_bReadOnly || !m_pStore)
        return FALSE;
    return m_pStore->SetDword(name, value) == RS_SUCCESS;
}

BOOL CInstoptsDat::SetString(const wchar_t* name, const wchar_t* value)
{
    const std::vector<char> ansiName = ToAnsi(name);
    return !ansiName.empty() && SetString(ansiName.data(), value);
}

BOOL CInstoptsDat::SetString(const char* name, const wchar_t* value)
{
    if (m_bReadOnly || !m_pStore || !value)
        return FALSE;
    const std::vector<char> ansiValue = ToAnsi(value);
    return !ansiValue.empty() && m_pStore->SetString(name, ansiValue.data()) == RS_SUCCESS;
}

BOOL CInstoptsDat::GetDword(const wchar_t* name, DWORD* value, DWORD defaultValue)
{
    const std::vector<char> ansiName = ToAnsi(name);
    return !ansiName.empty() && GetDword(ansiName.data(), value, defaultValue);
}

BOOL CInstoptsDat::GetDword(const char* name, DWORD* value, DWORD defaultValue)
{
    if (!m_pStore || !value)
        return FALSE;
    uint32_t found = 0;
    const int status = m_pStore->GetDword(name, &found, defaultValue);
    *value = found;
    return status == RS_SUCCESS;
}

BOOL CInstoptsDat::GetString(const wchar_t* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue)
{
    const std::vector<char> ansiName = ToAnsi(name);
    return !ansiName.empty() && GetString(ansiName.data(), buffer, bufferChars, defaultValue);
}

BOOL CInstoptsDat::GetString(const char* name, wchar_t* buffer, DWORD bufferChars, const wchar_t* defaultValue)
{
    if (!m_pStore || !buffer)
        return FALSE;
    std::vector<char> ansiDefault;
    if (defaultValue) {
        ansiDefault = ToAnsi(defaultValue);
        if (ansiDefault.empty())
            return FALSE;
    }
    char value[RECORD_MAX_CONTENT];
    const int status = m_pStore->GetString(name, value, sizeof(value), defaultValue ? ansiDefault.data() : nullptr);
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, value, -1, buffer, static_cast<int>(bufferChars)) == 0)
        return FALSE;
    return status == RS_SUCCESS;
}

BOOL CInstoptsDat::Save()
{
    if (m_bReadOnly || m_strPath.empty() || !m_pStore)
        return FALSE;
    return SaveRecordFile(*m_pStore, m_strPath.c_str()) == RS_SUCCESS;
}

} // namespace InstallToolBox
