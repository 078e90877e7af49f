#pragma once
#include <windows.h>
#include <msi.h>

#include "framework/persistdata.h"

namespace InstallToolBox {

// One unit of work of an export, with an operation for every installer phase and direction.
// The driver calls the operation that fits the call it is in; each returns non-zero on success.
class CCustomAction {
public:
    // Null conditions always hold. The strings are copied.
    CCustomAction(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                  const wchar_t* uninstallCondition);
    virtual ~CCustomAction();
    CCustomAction(const CCustomAction&) = delete;
    CCustomAction& operator=(const CCustomAction&) = delete;

    virtual BOOL InstallScheduling() = 0;
    virtual BOOL InstallDeferred() = 0;
    virtual BOOL InstallRollback() = 0;
    virtual BOOL InstallCommit() = 0;
    virtual BOOL UninstallScheduling() = 0;
    virtual BOOL UninstallDeferred() = 0;
    virtual BOOL UninstallRollback() = 0;
    virtual BOOL UninstallCommit() = 0;
    // Whether a failed scheduling or deferred operation fails the whole custom action.
    virtual BOOL FailureIsFatal();

    MSIHANDLE m_hInstall;
    // The sequence's data store while the driver runs; not owned.
    CPersistData* m_pPersistData = nullptr;
    wchar_t* m_szInstallCondition = nullptr;
    wchar_t* m_szUninstallCondition = nullptr;
    wchar_t* m_szName = nullptr;
    // Ticks added to the installer's progress total when the action is scheduled.
    DWORD m_nProgressTicks = 0;
};

// The driver's own last action of every sequence: its store holds the sequence's decisions,
// and its rollback and commit operations delete the data file once the others have run.
class CPersistActionData : public CCustomAction, public CPersistData {
public:
    CPersistActionData(MSIHANDLE hInstall, const wchar_t* sequenceName, const wchar_t* dataFileName);

    BOOL InstallScheduling() override;
    BOOL InstallDeferred() override;
    BOOL InstallRollback() override;
    BOOL InstallCommit() override;
    BOOL UninstallScheduling() override;
    BOOL UninstallDeferred() override;
    BOOL UninstallRollback() override;
    BOOL UninstallCommit() override;
    BOOL FailureIsFatal() override;
};

// Runs the actions through the phase the installer is in. The scheduling call decides the
// direction ("Install") and each action's condition ("COND<direction>:<name>") and keeps them
// in "<sequence name>.dat" in the temporary folder for the later calls. Returns ERROR_SUCCESS,
// or ERROR_INSTALL_FAILURE when an action failed fatally. The caller owns the actions.
UINT RunCustomActions(MSIHANDLE hInstall, CCustomAction** actions, DWORD count, const wchar_t* sequenceName);

} // namespace InstallToolBox
