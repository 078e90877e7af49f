// A custom-action DLL for the driver's end-to-end tests: probe actions that journal every call
// to %TEMP%\submca-probe-journal.txt, so a test can see which operations ran in which call.
#include "framework/customaction.h"
#include "framework/customactionwithproperties.h"

#include <windows.h>
#include <msiquery.h>

#include <cstdio>
#include <memory>
#include <string>

using namespace InstallToolBox;

namespace {

std::wstring TempFile(const wchar_t* name)
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

void Journal(const std::wstring& line)
{
    const std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(TempFile(L"submca-probe-journal.txt").c_str(), L"a"),
                                                     fclose);
    if (file)
        fprintf(file.get(), "%ls\n", line.c_str());
}

class CProbe : public CCustomAction {
public:
    CProbe(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition)
        : CCustomAction(hInstall, name, installCondition, nullptr)
    {
    }
    BOOL InstallScheduling() override { return Note(L"InstallScheduling"); }
    BOOL InstallDeferred() override
    {
        // The sequence's decisions as the deferred call finds them, for the test to decode.
        CopyFileW(TempFile(L"ProbeSeq.dat").c_str(), TempFile(L"ProbeSeq-deferred.dat").c_str(), FALSE);
        return Note(L"InstallDeferred");
    }
    BOOL InstallRollback() override { return Note(L"InstallRollback"); }
    BOOL InstallCommit() override { return Note(L"InstallCommit"); }
    BOOL UninstallScheduling() override { return Note(L"UninstallScheduling"); }
    BOOL UninstallDeferred() override { return Note(L"UninstallDeferred"); }
    BOOL UninstallRollback() override { return Note(L"UninstallRollback"); }
    BOOL UninstallCommit() override { return Note(L"UninstallCommit"); }

private:
    BOOL Note(const wchar_t* operation)
    {
        Journal(std::wstring(m_szName) + L" " + operation);
        return TRUE;
    }
};

const wchar_t kLongProperty[] = L"PROBE_PROPERTY_WITH_A_VERY_LONG_NAME";

// Carries PROBEVALUE, a long-named property and PROBEFAIL from the scheduling call to the
// later ones; its deferred operation fails when PROBEFAIL was 1.
class CPropertyProbe : public CCustomActionWithProperties {
public:
    explicit CPropertyProbe(MSIHANDLE hInstall) : CCustomActionWithProperties(hInstall, L"PropProbe", nullptr, nullptr)
    {
    }
    BOOL DoInstallScheduling() override { return Schedule(L"InstallScheduling"); }
    BOOL DoInstallDeferred() override { return Report(L"InstallDeferred"); }
    BOOL DoInstallRollback() override { return Report(L"InstallRollback"); }
    BOOL DoInstallCommit() override { return Report(L"InstallCommit"); }
    BOOL DoUninstallScheduling() override { return Schedule(L"UninstallScheduling"); }
    BOOL DoUninstallDeferred() override { return Report(L"UninstallDeferred"); }
    BOOL DoUninstallRollback() override { return Report(L"UninstallRollback"); }
    BOOL DoUninstallCommit() override { return Report(L"UninstallCommit"); }

private:
    std::wstring Read(const wchar_t* name)
    {
        wchar_t value[256] = {};
        return m_pProperties->GetProperty(name, value, 256, FALSE) ? std::wstring(value) : std::wstring(L"<none>");
    }
    BOOL Schedule(const wchar_t* operation)
    {
        for (const wchar_t* name : {L"PROBEVALUE", kLongProperty, L"PROBEFAIL"})
            m_pProperties->SetProperty(name, Read(name).c_str(), TRUE);
        Journal(std::wstring(L"PropProbe ") + operation + L" CAWPROP=" + Read(L"CAWPROP"));
        return TRUE;
    }
    BOOL Report(const wchar_t* operation)
    {
        Journal(std::wstring(L"PropProbe ") + operation + L" PROBEVALUE=" + Read(L"PROBEVALUE") + L" LONG=" +
                Read(kLongProperty));
        return Read(L"PROBEFAIL") != L"1";
    }
};

} // namespace

extern "C" UINT __stdcall RunProbeSequence(MSIHANDLE hInstall)
{
    CProbe probe(hInstall, L"Probe", L"PROBECOND = 1");
    CProbe longNamed(hInstall, L"ProbeActionWithAVeryLongName", L"PROBECOND = 1");
    CPropertyProbe properties(hInstall);
    CCustomAction* actions[] = {&probe, &longNamed, &properties};
    return RunCustomActions(hInstall, actions, 3, L"ProbeSeq");
}

// Dies the way a faulty custom action does, for the tests that must see such a death.
extern "C" UINT __stdcall CrashInstall(MSIHANDLE)
{
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall FailInstall(MSIHANDLE)
{
    return ERROR_INSTALL_FAILURE;
}
