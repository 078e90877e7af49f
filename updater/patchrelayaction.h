#pragma once
#include "framework/customactionwithproperties.h"
#include "updater/patchrelay.h"

namespace InstallToolBox {

// Maps the installer's phases to the updater: a first installation registers the products in
// its deferred call (the only step that can fail the installation); whenever the product is
// already installed (removal, repair, change) they are removed in the scheduling call, which
// never fails; a rollback undoes what its direction did.
class CPatchRelayAction : public CCustomActionWithProperties {
public:
    CPatchRelayAction(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                      const wchar_t* uninstallCondition);

    BOOL DoInstallScheduling() override;
    BOOL DoInstallDeferred() override;
    BOOL DoInstallRollback() override;
    BOOL DoInstallCommit() override;
    BOOL DoUninstallScheduling() override;
    BOOL DoUninstallDeferred() override;
    BOOL DoUninstallRollback() override;
    BOOL DoUninstallCommit() override;

    // False stops a scheduling call's work (with the result 0).
    virtual BOOL CheckPreconditions();
    // Fills the product list; false ends the phase with result as its outcome.
    virtual BOOL AddProducts(UINT& result) = 0;

protected:
    CPatchRelay m_patchRelay;

private:
    BOOL RegisterAll();
    BOOL UnregisterAll();
};

} // namespace InstallToolBox
