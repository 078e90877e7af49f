#include "framework/logmessage.h"
#include "service/installedapps.h"
#include "support/coinitialize.h"
#include "support/comerrorhandler.h"
#include "update/update.h"

#include <shlwapi.h>

#include <string>
#include <vector>

using InstallToolBox::LOG_LEVEL_ERROR;
using InstallToolBox::LogMessage;

namespace {

const wchar_t kSignature[] = L"unsigned int __stdcall UpdateQSN(unsigned long)";
const wchar_t kEngineDataValue[] = L"ORBSubmissionEngineData";

// Runs the update itself. The update object is destroyed on the way out: the control file is
// enciphered and closed first, then the engine is started again, then COM is left.
void RunUpdate(MSIHANDLE hInstall)
{
    const srLib::CCoInitialize apartment(srLib::CCoInitialize::eApartmentThreaded);
    std::wstring folder;
    if (!srKrv::CInstalledApps::GetInstAppsDirectory(kEngineDataValue, folder)) {
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to read InstalledApps Key %s", kEngineDataValue);
        return;
    }
    std::vector<wchar_t> path(folder.begin(), folder.end());
    path.resize(folder.size() < MAX_PATH ? MAX_PATH : folder.size() + 1, L'\0');
    PathAppendW(path.data(), L"SCD.xml");

    clfs::update::CUpdate update;
    const long initialized = update.Initialize(path.data());
    if (initialized < 0) {
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to update QSN config: 0x%08X", initialized);
        return;
    }
    const long processed = update.ProcessFile();
    const long defaults = update.SetDefaults(30, 14, 0, false);
    if (defaults < 0)
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to set engine config defaults: 0x%08X", defaults);
    if (processed < 0)
        LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failed to update QSN config: 0x%08X", processed);
}

} // namespace

// Replaces the submission engine's configurations with one per control record of "SCD.xml",
// writes the engine-wide defaults, enciphers the control file and restarts the engine. Never
// fails the installation: problems go to the installer log and the trace.
extern "C" UINT __stdcall UpdateQSN(MSIHANDLE hInstall)
{
    srLib::CExceptionInfo info;
    const srLib::CCatchSite unexpected = {kSignature, L"UpdateQSN(53)"};
    const srLib::CCatchSite comError = {kSignature, L"UpdateQSN(54)"};
    srLib::RunUnderHandlers(
        [&]() -> UINT {
            RunUpdate(hInstall);
            return ERROR_SUCCESS;
        },
        srLib::OnBadAlloc(unexpected, info, ERROR_SUCCESS), srLib::OnAtlException(unexpected, info, ERROR_SUCCESS),
        srLib::OnComError(comError, info, ERROR_SUCCESS));
    return ERROR_SUCCESS;
}
