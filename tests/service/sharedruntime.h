#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace servicetest {

// The maker's shared runtime made of the stand-ins, where the module looks for it: fresh copies
// of srSvc.dll and srVrTrst.dll in a scratch folder named by the InstalledApps value
// "Shared Runtime", and of vexcore.dll in a folder named by "ORBSubmissionEngine". The stand-ins'
// failure switches are cleared on construction and destruction; the destructor also removes the
// two values. The folders are named after the running test, so each test starts with empty
// journals.
class CSharedRuntime {
public:
    CSharedRuntime();
    ~CSharedRuntime();
    CSharedRuntime(const CSharedRuntime&) = delete;
    CSharedRuntime& operator=(const CSharedRuntime&) = delete;

    const std::wstring& Directory() const { return m_sDirectory; }
    const std::wstring& EngineDirectory() const { return m_sEngineDirectory; }
    std::wstring EnginePath() const { return m_sEngineDirectory + L"\\vexcore.dll"; }
    std::wstring ServiceHostPath() const { return m_sDirectory + L"\\srSvc.dll"; }

    // The service host's running configurations (srsvc-services.txt, UTF-8).
    void SetServices(const std::string& services) const;
    std::string Services() const;

    // The journals of srSvc.dll and srVrTrst.dll, one entry per line.
    std::vector<std::string> ServiceJournal() const;
    std::vector<std::string> TrustJournal() const;

    // A failure switch under HKLM\Software\KorvalinStandins\<standin> ("srSvc", "srVrTrst",
    // "vexcore").
    static void SetSwitch(const wchar_t* standin, const wchar_t* name, const std::wstring& value);
    static void SetSwitch(const wchar_t* standin, const wchar_t* name, DWORD value);
    static void ClearSwitches(); // every stand-in answers again

private:
    std::wstring m_sDirectory;
    std::wstring m_sEngineDirectory;
};

// The standard journal ending of a stand-in that the module freed with nothing left alive.
inline const char kUnloadedClean[] = "unload (live objects 0)";

} // namespace servicetest
