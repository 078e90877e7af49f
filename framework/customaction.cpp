#include "framework/customaction.h"

#include "framework/logmessage.h"
#include "support/format.h"

#include <msiquery.h>

#include <cwchar>
#include <memory>
#include <new>

namespace InstallToolBox {
namespace {

enum class Phase { Scheduling, Deferred, Rollback, Commit };

// Sequence names are cut so that the name, ".dat" and the terminator fit a path component
// buffer of 260 characters.
const size_t kMaxSequenceName = 255;

wchar_t* CopyString(const wchar_t* text)
{
    if (!text)
        return nullptr;
    const size_t length = wcslen(text) + 1;
    wchar_t* copy = new (std::nothrow) wchar_t[length];
    if (copy)
        wmemcpy(copy, text, length);
    return copy;
}

Phase DetectPhase(MSIHANDLE hInstall)
{
    const BOOL rollback = MsiGetMode(hInstall, MSIRUNMODE_ROLLBACK);
    const BOOL commit = MsiGetMode(hInstall, MSIRUNMODE_COMMIT);
    const BOOL scheduled = MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED);
    if (rollback)
        return Phase::Rollback;
    if (commit)
        return Phase::Commit;
    return scheduled ? Phase::Deferred : Phase::Scheduling;
}

bool ConditionHolds(MSIHANDLE hInstall, const wchar_t* condition)
{
    return !condition || MsiEvaluateConditionW(hInstall, condition) == MSICONDITION_TRUE;
}

void AddProgressTicks(const CCustomAction& action)
{
    if (action.m_nProgressTicks == 0)
        return;
    const MSIHANDLE record = MsiCreateRecord(3);
    if (!record)
        return;
    MsiRecordSetInteger(record, 1, 3); // add to the expected total
    MsiRecordSetInteger(record, 2, static_cast<int>(action.m_nProgressTicks));
    MsiRecordSetInteger(record, 3, 0);
    MsiProcessMessage(action.m_hInstall, INSTALLMESSAGE_PROGRESS, record);
    MsiCloseHandle(record);
}

// Calls one action in a later phase, around its Begin and End lines. Returns the operation's
// result; rollback and commit results never count as failures.
BOOL RunLaterPhase(MSIHANDLE hInstall, Phase phase, bool installing, CCustomAction& action)
{
    const wchar_t* name = action.m_szName;
    switch (phase) {
    case Phase::Rollback:
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Rollback (Begin): %s", name);
        installing ? action.InstallRollback() : action.UninstallRollback();
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Rollback (End): %s", name);
        return TRUE;
    case Phase::Commit:
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Commit (Begin): %s", name);
        installing ? action.InstallCommit() : action.UninstallCommit();
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Commit (End): %s", name);
        return TRUE;
    default: {
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Deferred (Begin): %s", name);
        const BOOL result = installing ? action.InstallDeferred() : action.UninstallDeferred();
        LogMessage(hInstall, LOG_LEVEL_INFO, L"Deferred (End): %s", name);
        return result;
    }
    }
}

} // namespace

CCustomAction::CCustomAction(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                             const wchar_t* uninstallCondition)
    : m_hInstall(hInstall), m_szInstallCondition(CopyString(installCondition)),
      m_szUninstallCondition(CopyString(uninstallCondition)), m_szName(CopyString(name))
{
}

CCustomAction::~CCustomAction()
{
    delete[] m_szInstallCondition;
    delete[] m_szUninstallCondition;
    delete[] m_szName;
}

BOOL CCustomAction::FailureIsFatal()
{
    return TRUE;
}

CPersistActionData::CPersistActionData(MSIHANDLE hInstall, const wchar_t* sequenceName, const wchar_t* dataFileName)
    : CCustomAction(hInstall, sequenceName, nullptr, nullptr), CPersistData(dataFileName)
{
}

BOOL CPersistActionData::InstallScheduling()
{
    return TRUE;
}

BOOL CPersistActionData::InstallDeferred()
{
    return TRUE;
}

BOOL CPersistActionData::InstallRollback()
{
    Discard();
    return TRUE;
}

BOOL CPersistActionData::InstallCommit()
{
    Discard();
    return TRUE;
}

BOOL CPersistActionData::UninstallScheduling()
{
    return InstallScheduling();
}

BOOL CPersistActionData::UninstallDeferred()
{
    return InstallDeferred();
}

BOOL CPersistActionData::UninstallRollback()
{
    return InstallRollback();
}

BOOL CPersistActionData::UninstallCommit()
{
    return InstallCommit();
}

BOOL CPersistActionData::FailureIsFatal()
{
    return FALSE;
}

namespace {

UINT RunSequence(MSIHANDLE hInstall, CCustomAction** actions, DWORD count, const wchar_t* sequenceName)
{
    const Phase phase = DetectPhase(hInstall);

    wchar_t sequence[kMaxSequenceName + 1] = {};
    wcsncpy(sequence, sequenceName, kMaxSequenceName);
    wchar_t dataFile[MAX_PATH];
    srLib::FormatW(dataFile, L"%s.dat", sequence);
    CPersistActionData sequenceData(hInstall, sequenceName, dataFile);

    std::unique_ptr<CCustomAction*[]> all(new (std::nothrow) CCustomAction*[count + 1]);
    if (!all)
        return ERROR_INSTALL_FAILURE;
    for (DWORD i = 0; i < count; ++i)
        all[i] = actions[i];
    all[count] = &sequenceData;

    CPersistData& store = sequenceData;
    bool installing = false;
    if (phase == Phase::Scheduling) {
        installing = MsiEvaluateConditionW(hInstall, L"NOT Installed") == MSICONDITION_TRUE;
        store.SetDword(L"Install", installing ? 1 : 0);
    } else {
        DWORD install = 0;
        store.GetDword(L"Install", &install);
        installing = install != 0;
    }

    for (DWORD i = 0; i <= count; ++i) {
        CCustomAction& action = *all[i];
        action.m_pPersistData = &store;
        wchar_t conditionKey[MAX_PATH];
        srLib::FormatW(conditionKey, L"COND%d:%s", installing ? 1 : 0, action.m_szName);

        BOOL result = TRUE;
        if (phase == Phase::Scheduling) {
            const wchar_t* condition = installing ? action.m_szInstallCondition : action.m_szUninstallCondition;
            const bool holds = ConditionHolds(action.m_hInstall, condition);
            store.SetDword(conditionKey, holds ? 1 : 0);
            if (!holds) {
                LogMessage(hInstall, LOG_LEVEL_INFO, L"%s: (condition is false)", action.m_szName);
                continue;
            }
            LogMessage(hInstall, LOG_LEVEL_INFO, L"Scheduling (Begin): %s", action.m_szName);
            result = installing ? action.InstallScheduling() : action.UninstallScheduling();
            AddProgressTicks(action);
            LogMessage(hInstall, LOG_LEVEL_INFO, L"Scheduling (End): %s", action.m_szName);
        } else {
            DWORD outcome = 0;
            if (store.GetDword(conditionKey, &outcome) && outcome == 0) {
                LogMessage(hInstall, LOG_LEVEL_INFO, L"%s: (condition is false)", action.m_szName);
                continue;
            }
            result = RunLaterPhase(hInstall, phase, installing, action);
        }

        if (!result && action.FailureIsFatal()) {
            LogMessage(hInstall, LOG_LEVEL_ERROR, L"Failure in %s, returning ERROR_INSTALL_FAILURE.", action.m_szName);
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

UINT RunCustomActions(MSIHANDLE hInstall, CCustomAction** actions, DWORD count, const wchar_t* sequenceName)
{
    // The framework raises nothing to the installer: memory running out anywhere in the sequence,
    // its stores or its actions fails the call as the driver's own allocation failure does.
    try {
        return RunSequence(hInstall, actions, count, sequenceName);
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

} // namespace InstallToolBox
