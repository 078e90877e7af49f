#include "framework/logmessage.h"
#include "framework/regkey.h"

#include <msiquery.h>

using InstallToolBox::LOG_LEVEL_ERROR;
using InstallToolBox::LogMessage;

namespace {

const wchar_t kInstalledAppsKey[] = L"Software\\Korvalin\\InstalledApps";
const wchar_t kEngineDataValue[] = L"ORBSubmissionEngineData";
const REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;

// GetShortPathNameW returns the size it needs, not 0, when the short form does not fit: that
// must not pass for success. It is reported with the conversion line like every other failure to
// get the short form, with the code that says why, so one search of the log finds all of them.
const DWORD kShortPathTooLong = ERROR_FILENAME_EXCED_RANGE;

void RewriteInShortForm(MSIHANDLE hInstall, HKEY key)
{
    wchar_t longPath[MAX_PATH] = {};
    wchar_t shortPath[MAX_PATH] = {};

    const LONG readResult = InstallToolBox::ReadRegistryString(key, kEngineDataValue, longPath, MAX_PATH);
    if (readResult != ERROR_SUCCESS) {
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Could not find reg key, Error val = %d", static_cast<int>(readResult));
        return;
    }

    const DWORD length = GetShortPathNameW(longPath, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        const DWORD error = length == 0 ? GetLastError() : kShortPathTooLong;
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to convert to short path name, Error Val = %d",
                   static_cast<int>(error));
        return;
    }

    const DWORD bytes = (length + 1) * sizeof(wchar_t);
    if (RegSetValueExW(key, kEngineDataValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(shortPath), bytes) !=
        ERROR_SUCCESS)
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to write short path name");
}

} // namespace

// Rewrites the engine data folder recorded under InstalledApps in its 8.3 form. The value must
// already hold the long path; the action never creates it and never fails the installation.
extern "C" UINT __stdcall WriteInstalledAppsKey(MSIHANDLE hInstall)
{
    InstallToolBox::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kInstalledAppsKey, kReadWriteAccess) != ERROR_SUCCESS) {
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to get long path name");
        return ERROR_SUCCESS;
    }
    RewriteInShortForm(hInstall, key.Get());
    return ERROR_SUCCESS;
}
