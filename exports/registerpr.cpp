#include "framework/customaction.h"
#include "updater/regprcmdlines.h"

#include <objbase.h>

namespace {

// The install condition names the updater executable's component being installed locally.
// The text the product line carried ("... = 3$vex_refresh... = 2") is two comparisons with no
// operator between them, which the installer's evaluator rejects. Either way the outcome only
// decides the scheduling call: its condition key "COND1:SubmissionEnginePatchRelay" is too long
// for the sequence's data file, so the deferred call registers the products regardless.
const wchar_t kInstallCondition[] = L"$vex_refresh.exe.6C1E93A7_B54F_4E28_9D3A_F07B2C61D48E = 3";

} // namespace

// Registers the component's products with the updater on installation and removes them on
// removal, repair and a rolled-back installation. The only action of the module that can fail
// an installation: when the deferred registration cannot reach the updater.
extern "C" UINT __stdcall RegisterPR(MSIHANDLE hInstall)
{
    // COM for the duration of the driver call, entered and left without a trace line: this action
    // reports to the installer log and the updater's debug log, never to the trace. An apartment
    // that cannot be entered registers nothing and does not fail the installation.
    if (FAILED(CoInitialize(nullptr)))
        return ERROR_SUCCESS;
    // Building the action allocates its property store; nothing may unwind into the installer.
    // The apartment is left while the action object still exists: the updater's objects are
    // released at the end of each registration, so the object holds no COM reference by then.
    try {
        CRegPRCmdLines action(hInstall, L"SubmissionEnginePatchRelay", kInstallCondition, nullptr);
        InstallToolBox::CCustomAction* actions[] = {&action};
        const UINT result = InstallToolBox::RunCustomActions(hInstall, actions, 1, L"SUB_PR_Action");
        CoUninitialize();
        return result;
    } catch (...) {
        CoUninitialize();
        return ERROR_INSTALL_FAILURE;
    }
}
