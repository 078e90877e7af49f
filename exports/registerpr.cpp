#include "framework/customaction.h"
#include "support/coinitialize.h"
#include "updater/regprcmdlines.h"

#include <comdef.h>

#include <optional>

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
    // COM for the duration of the call, left after the action object is gone. An apartment that
    // cannot be entered registers nothing and does not fail the installation.
    std::optional<srLib::CCoInitialize> apartment;
    try {
        apartment.emplace(srLib::CCoInitialize::eApartmentThreaded);
    } catch (const _com_error&) {
        return ERROR_SUCCESS;
    }
    // Building the action allocates its property store; nothing may unwind into the installer.
    try {
        CRegPRCmdLines action(hInstall, L"SubmissionEnginePatchRelay", kInstallCondition, nullptr);
        InstallToolBox::CCustomAction* actions[] = {&action};
        return InstallToolBox::RunCustomActions(hInstall, actions, 1, L"SUB_PR_Action");
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}
