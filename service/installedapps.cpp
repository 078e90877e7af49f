#include "service/installedapps.h"

#include "support/catchconvention.h"
#include "support/registry.h"
#include "support/trace.h"

#include <shlobj.h>

#include <cstring>

namespace srKrv {

namespace {

const wchar_t kInstalledAppsKey[] = L"Software\\Korvalin\\InstalledApps";
const wchar_t kSharedRuntimeValue[] = L"Shared Runtime";
const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kCommonFilesValue[] = L"CommonFilesDir";
const wchar_t kKrvSharedFolder[] = L"\\Korvalin Shared";

CInstalledApps::SpecialFolderQuery g_pfnSpecialFolderQuery = SHGetSpecialFolderPathW;

REGSAM ViewAccess(int view)
{
    switch (view) {
    case CInstalledApps::e64BitView:
        return KEY_READ | KEY_WOW64_64KEY;
    case CInstalledApps::e32BitView:
        return KEY_READ | KEY_WOW64_32KEY;
    default:
        return KEY_READ;
    }
}

void RemoveTrailingBackslashes(std::wstring& folder)
{
    const size_t end = folder.find_last_not_of(L'\\');
    folder.erase(end == std::wstring::npos ? 0 : end + 1);
}

// The common program-files folder from the platform, or, failing that, from the registry.
bool GetCommonFilesDirectory(std::wstring& folder)
{
    wchar_t path[MAX_PATH] = {};
    if (g_pfnSpecialFolderQuery(nullptr, path, CSIDL_PROGRAM_FILES_COMMON, FALSE)) {
        folder = path;
        return true;
    }
    TraceError(L"CInstalledApps::GetKrvSharedDirectory() : SHGetSpecialFolderPathW() == FALSE\n");
    srLib::CRegistry reg;
    if (!reg.Open(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ, FALSE)) {
        TraceError(L"CInstalledApps::GetKrvSharedDirectory() : reg.Open() == FALSE\n");
        return false;
    }
    if (!reg.GetString(kCommonFilesValue, folder) || folder.empty()) {
        TraceError(L"CInstalledApps::GetKrvSharedDirectory() : reg.GetString() == FALSE\n");
        return false;
    }
    return true;
}

} // namespace

bool CInstalledApps::GetInstAppsDirectory(const wchar_t* name, std::wstring& folder, int view) noexcept
{
    return srLib::FalseOnOutOfMemory([&] {
        srLib::CRegistry reg;
        if (!reg.Open(HKEY_LOCAL_MACHINE, kInstalledAppsKey, ViewAccess(view), FALSE)) {
            TraceError(L"CInstalledApps::GetInstAppsDirectory() : reg.Open() == FALSE\n");
            return false;
        }
        std::wstring value;
        if (!reg.GetString(name, value) || value.empty()) {
            TraceError(L"CInstalledApps::GetInstAppsDirectory() : reg.GetString() == FALSE\n");
            return false;
        }
        RemoveTrailingBackslashes(value);
        TraceInfo(L"CInstalledApps::GetInstAppsDirectory() : \"%s\", \"%s\"\n", name, value.c_str());
        folder.swap(value);
        return true;
    });
}

bool CInstalledApps::GetKrvSharedDirectory(std::wstring& folder) noexcept
{
    return srLib::FalseOnOutOfMemory([&] {
        std::wstring common;
        if (!GetCommonFilesDirectory(common))
            return false;
        RemoveTrailingBackslashes(common);
        common += kKrvSharedFolder;
        TraceInfo(L"CInstalledApps::GetKrvSharedDirectory() : \"%s\"\n", common.c_str());
        folder.swap(common);
        return true;
    });
}

bool CInstalledApps::GetSRDirectory(std::wstring& folder) noexcept
{
    if (GetInstAppsDirectory(kSharedRuntimeValue, folder))
        return true;
    TraceError(L"CInstalledApps::GetSRDirectory() : GetInstAppsDirectory() == false\n");
    if (GetKrvSharedDirectory(folder))
        return true;
    TraceError(L"CInstalledApps::GetSRDirectory() : GetKrvSharedDirectory() == false\n");
    return false;
}

CInstalledApps::SpecialFolderQuery CInstalledApps::SetSpecialFolderQuery(SpecialFolderQuery query) noexcept
{
    const SpecialFolderQuery previous = g_pfnSpecialFolderQuery;
    g_pfnSpecialFolderQuery = query;
    return previous;
}

bool CSRPathProvider::GetPath(wchar_t* buffer, size_t* size) noexcept
{
    if (!size)
        return false;
    std::wstring folder;
    if (!CInstalledApps::GetSRDirectory(folder)) {
        *size = 0;
        return false;
    }
    const size_t needed = (folder.size() + 1) * sizeof(wchar_t);
    const bool fits = buffer && *size >= needed;
    if (fits)
        std::memcpy(buffer, folder.c_str(), needed);
    *size = needed;
    return fits;
}

} // namespace srKrv
