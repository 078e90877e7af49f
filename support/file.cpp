#include "support/file.h"

#include "support/catchconvention.h"
#include "support/trace.h"

#include <shlwapi.h>

#include <cwchar>
#include <vector>

namespace srLib {
namespace {

const CCatchSite kMakeSureSite = {L"int __cdecl srLib::CFile::MakeSureDirectoryExists(const wchar_t *) throw()",
                                  L"srLib::CFile::MakeSureDirectoryExists(478)"};
const wchar_t kAttributesFailed[] = L"CFile::GetFileAttributes( path '%s' ) == INVALID_FILE_ATTRIBUTES, 0x%08X\n";

ULONGLONG Combine(DWORD low, LONG high) noexcept
{
    return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

// The first separator whose prefix is tested: for a UNC path the one that ends the server and
// share, so the share itself comes first.
wchar_t* FirstSeparator(wchar_t* path) noexcept
{
    if (!PathIsUNCW(path))
        return wcschr(path, L'\\');
    wchar_t* afterRoot = PathSkipRootW(path);
    return afterRoot ? afterRoot - 1 : nullptr;
}

enum class Step { eNext, eStop, eFail };

// One prefix of the path: exists as a directory, or is created.
Step EnsureDirectory(const wchar_t* prefix, CFile::FileAttributesQuery getAttributes) noexcept
{
    const DWORD attributes = getAttributes(prefix);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return Step::eNext;
        TraceError(L"CFile::MakeSureDirectoryExists() : Path '%s' does not have FILE_ATTRIBUTE_DIRECTORY attribute "
                   L"(0x%08X).\n",
                   prefix, attributes);
        return Step::eFail;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        if (CreateDirectoryW(prefix, nullptr))
            return Step::eNext;
        TraceError(L"CFile::MakeSureDirectoryExists() : CreateDirectory( path '%s' ) == FALSE, 0x%08X\n", prefix,
                   GetLastError());
        return Step::eFail;
    }
    // A level the caller may not read can still hold levels it may create.
    if (error == ERROR_ACCESS_DENIED) {
        TraceWarning(kAttributesFailed, prefix, error);
        return Step::eNext;
    }
    TraceError(kAttributesFailed, prefix, error);
    return Step::eStop;
}

BOOL CreateMissingDirectories(const wchar_t* path, CFile::FileAttributesQuery getAttributes)
{
    const wchar_t* source = path ? path : L"";
    const size_t length = wcslen(source);
    std::vector<wchar_t> buffer(length + 2, L'\0');
    wmemcpy(buffer.data(), source, length);
    // PathAddBackslashW leaves a path of MAX_PATH characters or more as it is, so the last level
    // of such a path is neither tested nor created: a path that long is beyond the file functions
    // of Windows without long-path support, and a created level could not be used there.
    PathAddBackslashW(buffer.data());
    bool failed = false;
    for (wchar_t* separator = FirstSeparator(buffer.data()); separator && !failed;) {
        *separator = L'\0';
        const Step step = EnsureDirectory(buffer.data(), getAttributes);
        if (step == Step::eFail)
            return FALSE;
        failed = step == Step::eStop;
        *separator = L'\\';
        separator = wcschr(CharNextW(separator), L'\\');
    }
    return failed ? FALSE : TRUE;
}

} // namespace

CFile::CFile(CFile&& other) noexcept : m_handle(other.m_handle.Detach()) {}

CFile& CFile::operator=(CFile&& other) noexcept
{
    Attach(other);
    return *this;
}

BOOL CFile::Fail(const wchar_t* format) noexcept
{
    m_dwLastError = ::GetLastError();
    TraceError(format, m_dwLastError);
    return FALSE;
}

BOOL CFile::Open(const wchar_t* fileName, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                 DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) noexcept
{
    if (!fileName || !*fileName) {
        TraceError(L"CFile::Open() : szFileName == NULL\n");
        return FALSE;
    }
    m_handle.Close();
    const HANDLE handle =
        CreateFileW(fileName, access, shareMode, security, creationDisposition, flagsAndAttributes, templateFile);
    if (CHandle::IsOpenHandle(handle)) {
        m_handle.Attach(handle);
        return TRUE;
    }
    m_dwLastError = ::GetLastError();
    TraceError(L"CFile::Open() : CreateFile() == INVALID_HANDLE_VALUE, %s, 0x%08X\n", fileName, m_dwLastError);
    return FALSE;
}

BOOL CFile::Close() noexcept
{
    m_handle.Close();
    return TRUE;
}

BOOL CFile::Attach(HANDLE handle) noexcept
{
    m_handle.Attach(handle);
    return TRUE;
}

BOOL CFile::Attach(CFile& other) noexcept
{
    m_handle.Attach(other.m_handle);
    return TRUE;
}

CFile& CFile::operator=(HANDLE handle) noexcept
{
    Attach(handle);
    return *this;
}

BOOL CFile::Read(void* buffer, DWORD count) noexcept
{
    DWORD done = 0;
    if (ReadFile(m_handle.Get(), buffer, count, &done, nullptr) && done == count)
        return TRUE;
    return Fail(L"CFile::Read() : ReadFile() == FALSE, 0x%08X\n");
}

BOOL CFile::Write(const void* buffer, DWORD count) noexcept
{
    DWORD done = 0;
    if (WriteFile(m_handle.Get(), buffer, count, &done, nullptr) && done == count)
        return TRUE;
    return Fail(L"CFile::Write() : WriteFile() == FALSE, 0x%08X\n");
}

BOOL CFile::ReadAt(DWORD positionLow, DWORD positionHigh, void* buffer, DWORD count) noexcept
{
    return Seek(static_cast<LONG>(positionLow), static_cast<LONG>(positionHigh), FILE_BEGIN) && Read(buffer, count);
}

BOOL CFile::WriteAt(DWORD positionLow, DWORD positionHigh, const void* buffer, DWORD count) noexcept
{
    return Seek(static_cast<LONG>(positionLow), static_cast<LONG>(positionHigh), FILE_BEGIN) && Write(buffer, count);
}

BOOL CFile::Seek(LONG distanceLow, LONG distanceHigh, DWORD moveMethod) noexcept
{
    LONG high = distanceHigh;
    if (SetFilePointer(m_handle.Get(), distanceLow, &high, moveMethod) != INVALID_SET_FILE_POINTER)
        return TRUE;
    // The low half of a real position can be 0xFFFFFFFF; only the error code tells.
    m_dwLastError = ::GetLastError();
    if (m_dwLastError == NO_ERROR)
        return TRUE;
    TraceError(L"CFile::Seek() : SetFilePointer() == INVALID_SET_FILE_POINTER, 0x%08X\n", m_dwLastError);
    return FALSE;
}

BOOL CFile::Seek(ULONGLONG position) noexcept
{
    return Seek(static_cast<LONG>(position & 0xFFFFFFFF), static_cast<LONG>(position >> 32), FILE_BEGIN);
}

BOOL CFile::GetPosition(ULONGLONG& position) noexcept
{
    position = 0;
    LONG high = 0;
    const DWORD low = SetFilePointer(m_handle.Get(), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER) {
        m_dwLastError = ::GetLastError();
        if (m_dwLastError != NO_ERROR) {
            TraceError(L"CFile::GetPosition() : SetFilePointer() == INVALID_SET_FILE_POINTER, 0x%08X\n", m_dwLastError);
            return FALSE;
        }
    }
    position = Combine(low, high);
    return TRUE;
}

ULONGLONG CFile::GetPosition() noexcept
{
    ULONGLONG position = 0;
    GetPosition(position);
    return position;
}

BOOL CFile::GetLength(ULONGLONG& length) noexcept
{
    length = 0;
    DWORD high = 0;
    const DWORD low = GetFileSize(m_handle.Get(), &high);
    if (low == INVALID_FILE_SIZE) {
        const DWORD error = ::GetLastError();
        if (error != NO_ERROR) {
            m_dwLastError = error;
            TraceError(L"CFile::GetLength() : GetFileSize() == INVALID_FILE_SIZE, 0x%08X\n", m_dwLastError);
            return FALSE;
        }
    }
    length = Combine(low, static_cast<LONG>(high));
    return TRUE;
}

ULONGLONG CFile::GetLength() noexcept
{
    ULONGLONG length = 0;
    GetLength(length);
    return length;
}

BOOL CFile::SetLength(DWORD lengthLow, DWORD lengthHigh) noexcept
{
    if (Seek(static_cast<LONG>(lengthLow), static_cast<LONG>(lengthHigh), FILE_BEGIN) && SetEndOfFile(m_handle.Get()))
        return TRUE;
    return Fail(L"CFile::SetLength() : SetEndOfFile() == FALSE, 0x%08X\n");
}

BOOL CFile::Flush() noexcept
{
    return FlushFileBuffers(m_handle.Get());
}

BOOL CFile::CanRead() noexcept
{
    BYTE unused = 0;
    DWORD done = 0;
    return ReadFile(m_handle.Get(), &unused, 0, &done, nullptr);
}

BOOL CFile::CanWrite() noexcept
{
    const BYTE unused = 0;
    DWORD done = 0;
    return WriteFile(m_handle.Get(), &unused, 0, &done, nullptr);
}

BOOL CFile::Delete(const wchar_t* fileName, BOOL truncate) noexcept
{
    if (!truncate) {
        if (DeleteFileW(fileName))
            return TRUE;
        TraceError(L"CFile::Delete() : ::DeleteFile() == FALSE, 0x%08X\n", ::GetLastError());
        return FALSE;
    }
    CFile deleteFile;
    if (!deleteFile.Open(fileName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                         nullptr)) {
        TraceError(L"CFile::Delete() : deleteFile.Open() == FALSE, 0x%08X\n", deleteFile.GetLastError());
        return FALSE;
    }
    if (!deleteFile.SetLength(0))
        TraceError(L"CFile::Delete() : deleteFile.SetLength(0) == FALSE, 0x%08X\n", deleteFile.GetLastError());
    deleteFile.Close();
    return TRUE;
}

BOOL CFile::MakeSureDirectoryExists(const wchar_t* path, FileAttributesQuery getAttributes) noexcept
{
    CExceptionInfo info;
    const BOOL result = RunWithCatchConvention(kMakeSureSite, info, FALSE,
                                               [&] { return CreateMissingDirectories(path, getAttributes); });
    if (info.IsCaught())
        TraceError(L"CFile::MakeSureDirectoryExists() : memory exception handled\n");
    return result;
}

} // namespace srLib
