#include "tests/e2e/msiexec.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace testsupport {
namespace {

// Long enough for the slowest installation under a loaded machine; a hang must still end.
const unsigned long kMsiexecTimeoutMs = 180000;

// On 64-bit Windows the installer itself is the 64-bit msiexec, which runs the 32-bit module in a
// 32-bit custom-action process, as on customers' machines; from this 32-bit test program only
// "sysnative" reaches it.
std::wstring InstallerProgram()
{
    if (!HasTwoViews())
        return L"msiexec.exe";
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\sysnative\\msiexec.exe";
}

InstallerRun RunMsiexecOnce(const std::wstring& action, const std::wstring& package, const std::wstring& properties)
{
    static int runNumber = 0;
    InstallerRun run;
    run.logPath = TempFolder() + L"\\submca-" + package + L"-" + std::to_wstring(++runNumber) + L".log";
    DeleteFileIfAny(run.logPath);
    const std::wstring commandLine = InstallerProgram() + L" " + action + L" \"" + SUBMCA_PACKAGE_DIR + L"\\" +
                                     package + L".msi\" /qn /l*v \"" + run.logPath + L"\" " + properties;
    // A custom action that faults is ended by Wine's installer as if it had succeeded; only its
    // error channel says so, on the standard error that the installer's processes share with
    // this one. The custom actions reach the installer over RPC, whose errors explain a run that
    // ended before an action answered.
    SetEnvironmentVariableW(L"WINEDEBUG", L"-all,err+msi,err+seh,err+rpc");
    // SUBMCA_WINE_ERRORS is a path of the host system, reached through drive Z:.
    const char* errorsPath = std::getenv("SUBMCA_WINE_ERRORS");
    const std::wstring errors = errorsPath ? L"Z:" + Widen(errorsPath) : std::wstring();
    const size_t errorsBefore = errors.empty() ? 0 : ReadTextFile(errors).size();
    const ProcessResult result = RunProcess(commandLine, kMsiexecTimeoutMs, false);
    run.exitCode = result.exitCode;
    run.timedOut = result.timedOut;
    run.log = ReadTextFile(run.logPath);
    if (!errors.empty())
        run.wineOutput = ReadTextFile(errors).substr(errorsBefore);
    return run;
}

} // namespace

std::vector<std::string> InstallerRun::KrvlLines() const
{
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(log)) {
        const size_t start = line.find("KRVL");
        if (start != std::string::npos)
            lines.push_back(line.substr(start));
    }
    return lines;
}

// Now and then Wine's installer ends a run with ERROR_INTERNAL_ERROR before any custom action of
// ours has answered (seen about once in twenty fresh prefixes). The module never returns that
// code, so the run is repeated once; the first run's log is kept and its end printed.
InstallerRun RunMsiexec(const std::wstring& action, const std::wstring& package, const std::wstring& properties)
{
    InstallerRun run = RunMsiexecOnce(action, package, properties);
    if (run.exitCode == ERROR_INTERNAL_ERROR) {
        std::fprintf(stderr, "msiexec answered 1359; repeating the run once. The first run's %s",
                     Describe(run).c_str());
        run = RunMsiexecOnce(action, package, properties);
    }
    return run;
}

InstallationRuns::~InstallationRuns()
{
    if (m_installed) {
        EXPECT_TRUE(Succeeded(RunMsiexec(L"/x", m_package)));
    }
}

InstallerRun InstallationRuns::Run()
{
    const InstallerRun run = RunMsiexec(L"/i", m_package, m_installed ? kRepair : L"");
    EXPECT_TRUE(Succeeded(run));
    EXPECT_FALSE(ShowsCrash(run)) << Describe(run);
    m_installed = m_installed || run.exitCode == 0;
    return run;
}

std::string Describe(const InstallerRun& run)
{
    // The installer ends its log with every property; what happened is in the lines before.
    const std::string log = run.log.substr(0, run.log.find("\nProperty("));
    return "log " + Narrow(run.logPath) + (run.timedOut ? " (msiexec did not end and was stopped)" : "") +
           ", its end but the properties:\n" + log.substr(log.size() > 4000 ? log.size() - 4000 : 0) +
           "\nWine's error output:\n" + (run.wineOutput.empty() ? std::string("(none)\n") : run.wineOutput);
}

testing::AssertionResult Succeeded(const InstallerRun& run)
{
    if (run.exitCode == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "msiexec answered " << run.exitCode << "; " << Describe(run);
}

bool ShowsCrash(const InstallerRun& run)
{
    for (const std::string* text : {&run.log, &run.wineOutput})
        if (text->find("Unhandled exception") != std::string::npos || text->find("page fault") != std::string::npos ||
            text->find("EXCEPTION_") != std::string::npos)
            return true;
    return false;
}

std::pair<unsigned long, std::string> InspectLog(const InstallerRun& run)
{
    const ProcessResult result = RunProcess(L"\"" SUBMCA_INSPECT_EXE L"\" log \"" + run.logPath + L"\"", 60000);
    const std::vector<std::string> lines = SplitLines(result.output);
    return {result.exitCode, lines.empty() ? std::string() : lines.back()};
}

std::vector<std::wstring> DebugLogFiles()
{
    std::vector<std::wstring> files;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder()))
        if (entry.path().filename().wstring().rfind(L"KRVMSI", 0) == 0 && entry.path().extension() == L".log")
            files.push_back(entry.path().wstring());
    return files;
}

void DeleteDebugLogs()
{
    for (const std::wstring& path : DebugLogFiles())
        DeleteFileIfAny(path);
}

} // namespace testsupport
