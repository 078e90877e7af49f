#pragma once
#include "framework/customaction.h"

namespace InstallToolBox {

// An action whose later calls need installer properties: its scheduling call copies them into
// the shared property file through m_pProperties, and its deferred, rollback and commit calls
// read them back with the same GetProperty call. A derived action implements the Do operations;
// this class keeps the property file's use count and its "CAWPROP" marker.
class CCustomActionWithProperties : public CCustomAction {
public:
    CCustomActionWithProperties(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                                const wchar_t* uninstallCondition);
    ~CCustomActionWithProperties() override;

    BOOL InstallScheduling() override;
    BOOL InstallDeferred() override;
    BOOL InstallRollback() override;
    BOOL InstallCommit() override;
    BOOL UninstallScheduling() override;
    BOOL UninstallDeferred() override;
    BOOL UninstallRollback() override;
    BOOL UninstallCommit() override;

    virtual BOOL DoInstallScheduling() = 0;
    virtual BOOL DoInstallDeferred() = 0;
    virtual BOOL DoInstallRollback() = 0;
    virtual BOOL DoInstallCommit() = 0;
    virtual BOOL DoUninstallScheduling() = 0;
    virtual BOOL DoUninstallDeferred() = 0;
    virtual BOOL DoUninstallRollback() = 0;
    virtual BOOL DoUninstallCommit() = 0;

    // Owned; null only when it could not be allocated, in which case the property steps are
    // skipped and the derived operations find no properties.
    CPropertyData* m_pProperties;

private:
    void PrepareProperties();
    void ReleaseProperties();
};

} // namespace InstallToolBox
