#include "framework/debuglog.h"

#include "framework/regkey.h"
#include "support/format.h"

#include <cwchar>

namespace InstallToolBox {
namespace {

const wchar_t kKorvalinKey[] = L"Software\\Korvalin";
const REGSAM kReadAccess = 0x20019;

// Up to four bytes of data, whatever the value's type; anything unreadable counts as 0.
DWORD ReadSwitch(HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS)
        return 0;
    return value;
}

DWORD ReadSwitches()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kKorvalinKey, kReadAccess) != ERROR_SUCCESS)
        return 0;
    const DWORD debugLog = ReadSwitch(key.Get(), L"DebugLog");
    const DWORD msiDebugLog = ReadSwitch(key.Get(), L"MsiDebugLog");
    return debugLog | msiDebugLog;
}

bool IsWindows9x()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
#pragma GCC diagnostic pop
}

class CLockGuard {
public:
    explicit CLockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;
    ~CLockGuard() { LeaveCriticalSection(&m_lock); }

private:
    CRITICAL_SECTION& m_lock;
};

} // namespace

bool GetTempFolder(wchar_t (&folder)[MAX_PATH])
{
    folder[0] = L'\0';
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (IsWindows9x()) {
        // Those systems hand back the current folder when TEMP is unset; the Windows folder is
        // the safer place for a log file there.
        wchar_t current[MAX_PATH] = {};
        const DWORD currentLength = GetCurrentDirectoryW(MAX_PATH, current);
        if (currentLength > 0 && currentLength < MAX_PATH && wcscmp(current, folder) == 0)
            GetWindowsDirectoryW(folder, MAX_PATH);
    }
    const size_t folderLength = wcslen(folder);
    if (folderLength >= 4 && folder[folderLength - 1] == L'\\')
        folder[folderLength - 1] = L'\0';
    return true;
}

CDebugLog::CDebugLog()
{
    InitializeCriticalSection(&m_lock);
    m_dwSwitches = ReadSwitches();
    if (m_dwSwitches == 0)
        return;

    if (m_dwSwitches & kToFile) {
        wchar_t folder[MAX_PATH];
        wchar_t path[2 * MAX_PATH];
        if (GetTempFolder(folder) &&
            srLib::FormatW(path, L"%s\\KRVMSI%d.log", folder, static_cast<int>(GetCurrentProcessId()))) {
            m_hFile =
                CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (m_hFile == INVALID_HANDLE_VALUE)
            m_dwSwitches = kToDebugger;
        else
            SetFilePointer(m_hFile, 0, nullptr, FILE_END);
    }

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t time[16];
    wchar_t date[16];
    srLib::FormatW(time, L"%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
    srLib::FormatW(date, L"%02d/%02d/%02d", now.wMonth, now.wDay, now.wYear % 100);
    Write(L"Log started at %s on %s.", time, date);
}

CDebugLog::~CDebugLog()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    DeleteCriticalSection(&m_lock);
}

void CDebugLog::Write(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(format, args);
    va_end(args);
}

void CDebugLog::WriteV(const wchar_t* format, va_list args)
{
    if (m_dwSwitches == 0)
        return;
    CLockGuard guard(m_lock);

    wchar_t line[2048];
    srLib::FormatWV(line, 1024, format, args);
    size_t length = wcslen(line);
    if (length == 0 || line[length - 1] != L'\n') {
        line[length++] = L'\r';
        line[length++] = L'\n';
        line[length] = L'\0';
    }

    if (m_dwSwitches & kToFile) {
        DWORD written = 0;
        WriteFile(m_hFile, line, static_cast<DWORD>(length * sizeof(wchar_t)), &written, nullptr);
    }
    if (m_dwSwitches & kToDebugger)
        OutputDebugStringW(line);
}

} // namespace InstallToolBox
