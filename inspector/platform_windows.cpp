#include "platform.h"

#include <windows.h>

#include <wincrypt.h>

namespace inspector {

namespace {

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

std::string ReasonFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return "no such file";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "in use by another program";
    default:
        return "system error " + std::to_string(error);
    }
}

// Closes on every path and keeps the thread's last error as the failing call left it.
class CHandle {
public:
    explicit CHandle(HANDLE handle) noexcept : m_hHandle(handle) {}
    ~CHandle() { Close(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    bool IsValid() const noexcept { return m_hHandle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const noexcept { return m_hHandle; }
    void Reset(HANDLE handle) noexcept
    {
        Close();
        m_hHandle = handle;
    }
    // Closes now; the last error is kept.
    void Close() noexcept
    {
        if (IsValid()) {
            const DWORD error = GetLastError();
            CloseHandle(m_hHandle);
            SetLastError(error);
            m_hHandle = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE m_hHandle;
};

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > 0x100000 ? 0x100000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// Writes a new file beside path and then puts it in path's place, so a failed write leaves an
// existing file as it was. ReplaceFileW keeps the replaced file's attributes and access control.
bool ReplaceRegularFile(const std::wstring& path, bool exists, const std::vector<uint8_t>& bytes, std::string& reason)
{
    std::wstring temporary;
    CHandle file(INVALID_HANDLE_VALUE);
    for (int attempt = 0; attempt < 100 && !file.IsValid(); ++attempt) {
        temporary = path + L".inspect-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        file.Reset(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid() && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!file.IsValid()) {
        reason = "cannot be created (" + ReasonFor(GetLastError()) + ")";
        return false;
    }
    if (!WriteAll(file.Get(), bytes.data(), bytes.size()) || !FlushFileBuffers(file.Get())) {
        reason = "cannot be written (" + ReasonFor(GetLastError()) + ")";
        file.Close();
        DeleteFileW(temporary.c_str());
        return false;
    }
    file.Close();
    const BOOL replaced = exists ? ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)
                                 : MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        reason = "cannot be replaced (" + ReasonFor(GetLastError()) + ")";
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

bool GetIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& information)
{
    // No access rights are needed to read the identity; backup semantics allows folders.
    const CHandle file(CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.IsValid() && GetFileInformationByHandle(file.Get(), &information);
}

// Opens a file on a disk for reading. Anything else is refused before a byte is read: a pipe or
// the console would keep the tool waiting, and a device never ends. A pipe's server is allowed to
// identify the reader, never to act as it.
bool OpenForReading(const std::wstring& path, DWORD flags, CHandle& file, std::string& reason)
{
    // Without backup semantics a folder cannot be opened at all; this gives the reason.
    if (IsFolder(path)) {
        reason = "is a folder";
        return false;
    }
    // The installer may still be writing a log.
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           flags | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!file.IsValid()) {
        reason = ReasonFor(GetLastError());
        return false;
    }
    switch (GetFileType(file.Get())) {
    case FILE_TYPE_DISK:
        break;
    case FILE_TYPE_CHAR:
        reason = "is a device, not a regular file";
        return false;
    case FILE_TYPE_PIPE:
        reason = "is a FIFO or a pipe, not a regular file";
        return false;
    default:
        reason = "is not a regular file";
        return false;
    }
    return true;
}

} // namespace

bool ReadWholeFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes, std::string& reason,
                   bool* tooLarge)
{
    CHandle file(INVALID_HANDLE_VALUE);
    if (!OpenForReading(Widen(path), FILE_ATTRIBUTE_NORMAL, file, reason))
        return false;
    std::vector<uint8_t> content;
    uint8_t buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr)) {
            reason = "cannot be read (" + ReasonFor(GetLastError()) + ")";
            return false;
        }
        if (got == 0)
            break;
        if (content.size() + got > maxSize) {
            reason = "larger than " + std::to_string(maxSize) + " bytes, more than this tool reads";
            if (tooLarge != nullptr)
                *tooLarge = true;
            return false;
        }
        content.insert(content.end(), buffer, buffer + got);
    }
    bytes.swap(content);
    return true;
}

bool ReadFileInPieces(const std::string& path, const std::function<bool(const uint8_t*, size_t)>& consume,
                      std::string& reason)
{
    CHandle file(INVALID_HANDLE_VALUE);
    if (!OpenForReading(Widen(path), FILE_FLAG_SEQUENTIAL_SCAN, file, reason))
        return false;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) {
            reason = "cannot be read (" + ReasonFor(GetLastError()) + ")";
            return false;
        }
        if (got == 0 || !consume(buffer.data(), got))
            return true;
    }
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason)
{
    const std::wstring widePath = Widen(path);
    if (IsFolder(widePath)) {
        reason = "is a folder";
        return false;
    }
    CHandle existing(CreateFileW(widePath.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!existing.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ReplaceRegularFile(widePath, false, bytes, reason);
        reason = "cannot be opened for writing (" + ReasonFor(error) + ")";
        return false;
    }
    // A device (NUL, CON) or a pipe takes the bytes as they are; there is nothing to replace.
    if (GetFileType(existing.Get()) != FILE_TYPE_DISK) {
        if (WriteAll(existing.Get(), bytes.data(), bytes.size()))
            return true;
        reason = "cannot be written (" + ReasonFor(GetLastError()) + ")";
        return false;
    }
    // A symbolic link stays and its target gets the new content.
    std::wstring finalPath(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(existing.Get(), &finalPath[0], DWORD(finalPath.size()), 0);
    if (length >= finalPath.size()) {
        finalPath.resize(length);
        length = GetFinalPathNameByHandleW(existing.Get(), &finalPath[0], DWORD(finalPath.size()), 0);
    }
    if (length == 0 || length >= finalPath.size()) {
        reason = "cannot be replaced (" + ReasonFor(GetLastError()) + ")";
        return false;
    }
    finalPath.resize(length);
    existing.Close();
    return ReplaceRegularFile(finalPath, true, bytes, reason);
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return GetIdentity(first, a) && GetIdentity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool GetRandomBytes(uint8_t* buffer, size_t size, std::string& reason)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        reason = "CryptAcquireContextW failed (" + ReasonFor(GetLastError()) + ")";
        return false;
    }
    const BOOL generated = CryptGenRandom(provider, DWORD(size), buffer);
    const DWORD error = GetLastError();
    CryptReleaseContext(provider, 0);
    if (!generated) {
        reason = "CryptGenRandom failed (" + ReasonFor(error) + ")";
        return false;
    }
    return true;
}

} // namespace inspector
