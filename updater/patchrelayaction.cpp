#include "updater/patchrelayaction.h"

namespace InstallToolBox {

CPatchRelayAction::CPatchRelayAction(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                                     const wchar_t* uninstallCondition)
    : CCustomActionWithProperties(hInstall, name, installCondition, uninstallCondition)
{
}

BOOL CPatchRelayAction::CheckPreconditions()
{
    return TRUE;
}

BOOL CPatchRelayAction::RegisterAll()
{
    UINT result = 0;
    if (!AddProducts(result))
        return static_cast<BOOL>(result);
    return m_patchRelay.Register() == S_OK;
}

BOOL CPatchRelayAction::UnregisterAll()
{
    UINT result = 0;
    if (!AddProducts(result))
        return static_cast<BOOL>(result);
    return m_patchRelay.Unregister() == S_OK;
}

BOOL CPatchRelayAction::DoInstallScheduling()
{
    return CheckPreconditions();
}

BOOL CPatchRelayAction::DoInstallDeferred()
{
    return RegisterAll();
}

BOOL CPatchRelayAction::DoInstallRollback()
{
    return UnregisterAll();
}

BOOL CPatchRelayAction::DoInstallCommit()
{
    return TRUE;
}

// An updater that cannot be reached must not stop a removal or repair.
BOOL CPatchRelayAction::DoUninstallScheduling()
{
    if (!CheckPreconditions())
        return FALSE;
    UnregisterAll();
    return TRUE;
}

BOOL CPatchRelayAction::DoUninstallDeferred()
{
    return TRUE;
}

BOOL CPatchRelayAction::DoUninstallRollback()
{
    return RegisterAll();
}

BOOL CPatchRelayAction::DoUninstallCommit()
{
    return TRUE;
}

} // namespace InstallToolBox
