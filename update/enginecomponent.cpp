#include "update/enginecomponent.h"

#include "service/installedapps.h"
#include "support/modulelifetime.h"

#include <shlwapi.h>

#include <cwchar>
#include <string>

namespace clfs::update {
namespace {

const size_t kPathCapacity = 261;

} // namespace

long CreateConfigManager(utils::CKrvRef<clfs::svc::IConfigManager>& manager) noexcept
{
    manager.Release();
    std::wstring folder;
    if (!srKrv::CInstalledApps::GetInstAppsDirectory(L"ORBSubmissionEngine", folder) ||
        folder.size() + 1 > kPathCapacity)
        return static_cast<long>(KRV_E_FILENOTFOUND);

    wchar_t path[kPathCapacity] = {};
    wcscpy(path, folder.c_str());
    // A folder that leaves no room for the module's name names no engine this module can load.
    if (!PathAddBackslashW(path) || wcslen(path) + wcslen(clfs::svc::VEXCORE_MODULE) + 1 > kPathCapacity)
        return static_cast<long>(KRV_E_FILENOTFOUND);
    wcscat(path, clfs::svc::VEXCORE_MODULE);

    sr::IModuleLifetimeMgr* lifetimeManager = srKrv::GetModuleLifetimeMgr();
    if (!lifetimeManager)
        return static_cast<long>(KRV_E_INVALIDARG);
    return static_cast<long>(lifetimeManager->CreateObject(
        path, clfs::svc::IID_ConfigManager, clfs::svc::IID_ConfigManager,
        sr::KRV_MODULE_TRUST_CHECK | sr::KRV_MODULE_TRUST_OPTION, reinterpret_cast<void**>(manager.Receive())));
}

} // namespace clfs::update
