#pragma once
#include <gtest/gtest.h>

#include <string>
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

// The path of a package built from tests/e2e/packages/NAME.wxs.
std::wstring PackagePath(const std::wstring& name);

// msiexec ACTION PACKAGE /qn /l*v LOG PROPERTIES, with ACTION /i (install) or /x (remove).
// Each run writes a fresh log named after the package and the action.
InstallerRun RunMsiexec(const std::wstring& action, const std::wstring& package,
                        const std::wstring& properties = std::wstring());

inline InstallerRun Install(const std::wstring& name, const std::wstring& properties = std::wstring())
{
    return RunMsiexec(L"/i", name, properties);
}

inline InstallerRun Uninstall(const std::wstring& name, const std::wstring& properties = std::wstring())
{
    return RunMsiexec(L"/x", name, properties);
}

// Reinstalls every feature of the installed package, as a repair from the control panel does.
inline InstallerRun Repair(const std::wstring& name)
{
    return RunMsiexec(L"/i", name, L"REINSTALL=ALL REINSTALLMODE=omus");
}

// Installs and removes a package whose module actions run on installation only, expecting both
// to succeed without a crash and the removal to log nothing of the module's; returns the
// installation's module lines.
std::vector<std::string> InstallAndRemove(const std::wstring& name);

// The install debug logs (KRVMSI<pid>.log) in the temporary folder; their lines, file after file.
std::vector<std::wstring> DebugLogFiles();
std::vector<std::string> DebugLogLines();
void DeleteDebugLogs();

// For a failure message: the log's path, its last lines and what Wine's error channels printed,
// so that a run that failed on a machine whose prefix is gone still tells what happened.
std::string Describe(const InstallerRun& run);

// Whether the run ended with exit code 0; the failure message describes the run.
testing::AssertionResult Succeeded(const InstallerRun& run);

// Whether the log or Wine's output shows a crash or an unhandled exception in the installer or
// in a custom action.
bool ShowsCrash(const InstallerRun& run);

} // namespace testsupport
