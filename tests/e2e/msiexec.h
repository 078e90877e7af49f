#pragma once
#include "tests/common/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

// Runs the test packages through the prefix's real msiexec and reads what it left.
namespace testsupport {

struct InstallerRun {
    unsigned long exitCode = 0; // msiexec's own result (1603 for a failed installation)
    bool timedOut = false;
    std::wstring logPath;
    std::string log; // the verbose log as UTF-8
    // What Wine's error channels printed while the installer ran (with SUBMCA_WINE_ERRORS set).
    std::string wineOutput;

    // The module's own lines ("KRVL: ..." and "KRVL (Error): ..."), in order, without what
    // the installer put around them.
    std::vector<std::string> KrvlLines() const;
};

// msiexec ACTION PACKAGE /qn /l*v LOG PROPERTIES, with ACTION /i (install) or /x (remove) and
// PACKAGE built from tests/e2e/packages/PACKAGE.wxs. Each run writes a fresh log.
InstallerRun RunMsiexec(const std::wstring& action, const std::wstring& package,
                        const std::wstring& properties = std::wstring());

// Reinstalls every feature of the installed package, as a repair from the control panel does.
const wchar_t kRepair[] = L"REINSTALL=ALL REINSTALLMODE=omus";

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Runs a package whose module actions run on installation once per Run(): first as an
// installation, then as repairs of the installed product, which run the same actions at half the
// cost of installing and removing each time. The product is removed when the object goes.
class InstallationRuns {
public:
    explicit InstallationRuns(std::wstring package) : m_package(std::move(package)) {}
    ~InstallationRuns();
    InstallationRuns(const InstallationRuns&) = delete;
    InstallationRuns& operator=(const InstallationRuns&) = delete;

    // Expects the run to succeed without a crash; returns it.
    InstallerRun Run();

private:
    const std::wstring m_package;
    bool m_installed = false;
};

// Asks the probe DLL's DamageRecordFile action to damage a record file in the temporary folder
// ("missing", "truncated", "digest", "cut"; see damageprobe.cpp; any other: none) while the object
// lives.
class RecordDamage {
public:
    RecordDamage(const wchar_t* file, const wchar_t* kind)
    {
        SetString(kDamageKey, L"File", file);
        SetString(kDamageKey, L"Kind", kind);
    }
    ~RecordDamage() { DeleteKeyTree(kDamageKey); }
    RecordDamage(const RecordDamage&) = delete;
    RecordDamage& operator=(const RecordDamage&) = delete;

private:
    static constexpr const wchar_t* kDamageKey = L"Software\\SubmcaTest\\Damage";
};

// The install debug logs (KRVMSI<pid>.log) in the temporary folder.
std::vector<std::wstring> DebugLogFiles();
void DeleteDebugLogs();

// For a failure message: the log's path, its last lines and what Wine's error channels printed,
// so that a run that failed on a machine whose prefix is gone still tells what happened.
std::string Describe(const InstallerRun& run);

// Whether the run ended with exit code 0; the failure message describes the run.
testing::AssertionResult Succeeded(const InstallerRun& run);

// Whether the log or Wine's output shows a crash or an unhandled exception in the installer or
// in a custom action.
bool ShowsCrash(const InstallerRun& run);

// What a support engineer gets from `submca-inspect log` on the run's log: its exit status and
// its last line, the verdict.
std::pair<unsigned long, std::string> InspectLog(const InstallerRun& run);

} // namespace testsupport
