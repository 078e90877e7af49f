#include "framework/pendingrename.h"

#include "framework/regkey.h"
#include "framework/systeminfo.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace InstallToolBox {
namespace {

const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

class CFindHandle {
public:
    explicit CFindHandle(HANDLE handle) : m_hFind(handle) {}
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    ~CFindHandle()
    {
        if (m_hFind != INVALID_HANDLE_VALUE)
            FindClose(m_hFind);
    }
    HANDLE Get() const { return m_hFind; }

private:
    HANDLE m_hFind;
};

// Copies one terminated string from source[i..] to target[j..], never reading past length.
void CopyString(const std::vector<wchar_t>& source, size_t length, size_t& i, std::vector<wchar_t>& target, size_t& j)
{
    while (i < length && source[i] != L'\0')
        target[j++] = source[i++];
    if (i < length)
        target[j++] = source[i++];
}

} // namespace

int DeleteFileNowOrAtRestart(const wchar_t* path)
{
    int status = kNothingToDelete;
    const wchar_t* lastSlash = wcsrchr(path, L'\\');
    const std::wstring folder(path, lastSlash ? lastSlash + 1 - path : 0);

    WIN32_FIND_DATAW entry;
    const CFindHandle search(FindFirstFileW(path, &entry));
    if (search.Get() == INVALID_HANDLE_VALUE)
        return kNothingToDelete;
    do {
        if (entry.cFileName[0] == L'.')
            continue;
        if (DeleteFileW((folder + entry.cFileName).c_str())) {
            status = kDeleted;
            continue;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
            status = kDeleteAtRestart;
            ScheduleDeleteAtRestart(path);
        }
    } while (FindNextFileW(search.Get(), &entry));
    return status;
}

int ScheduleDeleteAtRestart(const wchar_t* path)
{
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path, shortPath, MAX_PATH);
    // Without a short form the long one still names the file for the system.
    const wchar_t* target = (length > 0 && length < MAX_PATH) ? shortPath : path;

    const CSystemInfo systemInfo;
    if (!systemInfo.IsNT())
        return 0;
    MoveFileExW(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    FixPendingRenameKeyNT();
    return 1;
}

void FixPendingRenameKeyNT()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0x2001F) != ERROR_SUCCESS)
        return;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), kPendingRenames, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return;
    const size_t length = bytes / sizeof(wchar_t);
    std::vector<wchar_t> list(length + 1, L'\0');
    DWORD type = 0;
    if (RegQueryValueExW(key.Get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(list.data()), &bytes) !=
        ERROR_SUCCESS)
        return;

    std::vector<wchar_t> repaired(length + 1, L'\0');
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        while (i < length && list[i] == L'\0')
            ++i;
        if (i >= length)
            break;
        CopyString(list, length, i, repaired, j);
        if (i < length && list[i] == L'\0')
            repaired[j++] = list[i++];
        else
            CopyString(list, length, i, repaired, j);
    }

    if (std::memcmp(list.data(), repaired.data(), length * sizeof(wchar_t)) == 0)
        return;
    RegSetValueExW(key.Get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(repaired.data()),
                   static_cast<DWORD>((j + 1) * sizeof(wchar_t)));
    OutputDebugStringW(L"FixPendingRenameKeyNT was successful");
}

} // namespace InstallToolBox
