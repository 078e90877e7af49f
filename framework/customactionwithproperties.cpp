#include "framework/customactionwithproperties.h"

#include <new>

namespace InstallToolBox {

CCustomActionWithProperties::CCustomActionWithProperties(MSIHANDLE hInstall, const wchar_t* name,
                                                         const wchar_t* installCondition,
                                                         const wchar_t* uninstallCondition)
    : CCustomAction(hInstall, name, installCondition, uninstallCondition),
      m_pProperties(new (std::nothrow) CPropertyData(hInstall))
{
}

CCustomActionWithProperties::~CCustomActionWithProperties()
{
    delete m_pProperties;
}

// One more scheduled user of the property file, and the marker in the file and in the session.
void CCustomActionWithProperties::PrepareProperties()
{
    if (!m_pProperties)
        return;
    m_pProperties->AddRef();
    m_pProperties->SetProperty(L"CAWPROP", L"1", TRUE);
    m_pProperties->SetProperty(L"CAWPROP", L"1", FALSE);
}

// The installer runs either the rollback or the commit step of a scheduled action, so each
// scheduled action gives up its use of the file exactly once.
void CCustomActionWithProperties::ReleaseProperties()
{
    if (m_pProperties)
        m_pProperties->Discard();
}

BOOL CCustomActionWithProperties::InstallScheduling()
{
    PrepareProperties();
    return DoInstallScheduling();
}

BOOL CCustomActionWithProperties::InstallDeferred()
{
    return DoInstallDeferred();
}

BOOL CCustomActionWithProperties::InstallRollback()
{
    ReleaseProperties();
    return DoInstallRollback();
}

BOOL CCustomActionWithProperties::InstallCommit()
{
    ReleaseProperties();
    return DoInstallCommit();
}

BOOL CCustomActionWithProperties::UninstallScheduling()
{
    PrepareProperties();
    return DoUninstallScheduling();
}

BOOL CCustomActionWithProperties::UninstallDeferred()
{
    return DoUninstallDeferred();
}

BOOL CCustomActionWithProperties::UninstallRollback()
{
    ReleaseProperties();
    return DoUninstallRollback();
}

BOOL CCustomActionWithProperties::UninstallCommit()
{
    ReleaseProperties();
    return DoUninstallCommit();
}

} // namespace InstallToolBox
