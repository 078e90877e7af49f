#pragma once
#include "support/handle.h"

#include <windows.h>

namespace srLib {

// Owns one open file handle. Operations return a truth value and never throw; the Windows code
// of the last failed call is kept (not reset by later successes) and every failure is traced.
// Positions and lengths are 64-bit, given whole or as a low and a high half. One thread at a
// time.
class CFile {
public:
    // The attribute query MakeSureDirectoryExists uses; GetFileAttributesW unless a test needs
    // an answer the file system cannot give on demand.
    using FileAttributesQuery = DWORD(WINAPI*)(LPCWSTR);

    CFile() noexcept = default;
    // Takes ownership of handle.
    explicit CFile(HANDLE handle) noexcept : m_handle(handle) {}
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile() = default;

    // The arguments of CreateFileW. A null or empty name is refused, leaving the held handle
    // and the last error as they were; otherwise the held handle is closed first.
    BOOL Open(const wchar_t* fileName, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
              DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) noexcept;
    BOOL Close() noexcept;
    // Closes the held handle and takes the new one (holding the same handle again changes
    // nothing).
    BOOL Attach(HANDLE handle) noexcept;
    // Takes the other's handle; the other is left without one.
    BOOL Attach(CFile& other) noexcept;
    CFile& operator=(HANDLE handle) noexcept;

    HANDLE GetHandle() const noexcept { return m_handle.Get(); }
    BOOL IsOpen() const noexcept { return m_handle.IsOpen(); }

    // True only when exactly count bytes moved; a short read at the end of the file fails.
    BOOL Read(void* buffer, DWORD count) noexcept;
    BOOL Write(const void* buffer, DWORD count) noexcept;
    BOOL ReadAt(DWORD positionLow, DWORD positionHigh, void* buffer, DWORD count) noexcept;
    BOOL WriteAt(DWORD positionLow, DWORD positionHigh, const void* buffer, DWORD count) noexcept;

    // moveMethod is FILE_BEGIN, FILE_CURRENT or FILE_END; the distance is signed.
    BOOL Seek(LONG distanceLow, LONG distanceHigh, DWORD moveMethod) noexcept;
    BOOL Seek(ULONGLONG position) noexcept;
    BOOL SeekToBegin() noexcept { return Seek(0, 0, FILE_BEGIN); }
    BOOL SeekToEnd() noexcept { return Seek(0, 0, FILE_END); }
    // The out-values are 0 after a failure; the forms without one answer 0 on failure.
    BOOL GetPosition(ULONGLONG& position) noexcept;
    ULONGLONG GetPosition() noexcept;
    BOOL GetLength(ULONGLONG& length) noexcept;
    ULONGLONG GetLength() noexcept;
    // The file pointer stands at the new end afterwards.
    BOOL SetLength(DWORD lengthLow, DWORD lengthHigh = 0) noexcept;
    BOOL Flush() noexcept;
    // Whether the handle allows reading or writing; nothing is traced or kept.
    BOOL CanRead() noexcept;
    BOOL CanWrite() noexcept;

    DWORD GetLastError() const noexcept { return m_dwLastError; }

    // Without truncate the file is deleted at once. With it the file is opened (created if
    // missing) without sharing, cut to length 0 and deleted by the system when its last handle
    // closes, which a reader still holding it delays.
    static BOOL Delete(const wchar_t* fileName, BOOL truncate) noexcept;
    // Creates every missing directory of path, from the root down; true when all exist after.
    static BOOL MakeSureDirectoryExists(const wchar_t* path,
                                        FileAttributesQuery getAttributes = GetFileAttributesW) noexcept;

private:
    BOOL Fail(const wchar_t* format) noexcept;

    CHandle m_handle;
    DWORD m_dwLastError = ERROR_SUCCESS;
};

} // namespace srLib
