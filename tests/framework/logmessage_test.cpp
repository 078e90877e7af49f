#include "framework/logmessage.h"

#include "buildpaths.h"
#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

int __stdcall PrintInstallerMessage(void*, UINT type, const wchar_t* message)
{
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message)
        std::printf("installer: %s\n", Narrow(message).c_str());
    return 1;
}

// Logs one line per level through a real installer session whose messages are printed, then
// reports the process id so the parent can find this process's debug log file.
SUBMCA_CHILD(LogEveryLevel)
{
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(PrintInstallerMessage, INSTALLLOGMODE_INFO, nullptr);
    MSIHANDLE package = 0;
    const std::wstring path = std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi";
    if (MsiOpenPackageW(path.c_str(), &package) != ERROR_SUCCESS)
        return 2;
    for (int level = 0; level <= 5; ++level)
        LogMessage(package, level, L"level %d", level);
    LogMessage(package, LOG_LEVEL_ERROR, L"folder %s", L"C:\\100% sure\\%d");
    LogMessage(0, LOG_LEVEL_ERROR, L"Could not find reg key, Error val = %d", 5);
    const std::wstring longArgument(3000, L'y');
    LogMessage(package, LOG_LEVEL_INFO, L"%s", longArgument.c_str());
    MsiCloseHandle(package);
    std::printf("pid: %lu\n", GetCurrentProcessId());
    return 0;
}

struct LoggedLines {
    std::vector<std::string> installer;
    std::vector<std::string> debugLog; // without the start lines
};

LoggedLines RunLogEveryLevel()
{
    const ChildResult child = RunChild("LogEveryLevel");
    EXPECT_EQ(0u, child.exitCode) << child.output;
    LoggedLines lines;
    unsigned long pid = 0;
    for (const std::string& line : SplitLines(child.output)) {
        if (line.rfind("installer: KRVL", 0) == 0)
            lines.installer.push_back(line.substr(11));
        else if (line.rfind("pid: ", 0) == 0)
            pid = std::stoul(line.substr(5));
    }
    const std::wstring logFile = TempFolder() + L"\\KRVMSI" + std::to_wstring(pid) + L".log";
    std::vector<std::string> all = SplitLines(ReadTextFile(logFile));
    DeleteFileIfAny(logFile);
    for (size_t i = 0; i < all.size(); ++i) {
        if (i % 2 == 0)
            EXPECT_EQ(0u, all[i].find("Log started at ")) << "one start line before every message";
        else
            lines.debugLog.push_back(all[i]);
    }
    return lines;
}

std::vector<std::string> LevelLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> levels;
    for (const std::string& line : lines)
        if (line.find(": level ") != std::string::npos)
            levels.push_back(line);
    return levels;
}

class LogMessageTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        SetDword(kKorvalinKey, L"DebugLog", 1);
    }
    void TearDown() override { DeleteKeyTree(kKorvalinKey); }
};

// The value's types and the unknown level 3 are rows of the fault suite's MsiLogging table.
TEST_F(LogMessageTest, ThresholdFromMsiLoggingDecidesWhichLevelsAreWritten)
{
    const std::vector<std::string> upToOne = {"KRVL: level 0", "KRVL (Error): level 1"};
    const std::vector<std::string> upToTwo = {"KRVL: level 0", "KRVL (Error): level 1", "KRVL: level 2"};
    const std::vector<std::string> upToFour = {"KRVL: level 0", "KRVL (Error): level 1", "KRVL: level 2",
                                               "KRVL: level 3", "KRVL: level 4"};
    struct Case {
        const char* what;
        DWORD type;
        std::wstring text; // stored with its terminator
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"absent", REG_NONE, L"", upToOne},
        {"2", REG_SZ, L"2", upToTwo},
        {"4", REG_SZ, L"4", upToFour},
        {"02", REG_SZ, L"02", upToTwo},
        {"0", REG_SZ, L"0", upToOne},
        {"22", REG_SZ, L"22", upToOne},
        {"004 does not fit", REG_SZ, L"004", upToOne},
        {"a letter", REG_SZ, L"x", upToOne},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKorvalinKey, L"MsiLogging");
        if (c.type != REG_NONE)
            SetString(kKorvalinKey, L"MsiLogging", c.text, c.type);
        const LoggedLines lines = RunLogEveryLevel();
        EXPECT_EQ(c.expected, LevelLines(lines.installer));
        EXPECT_EQ(c.expected, LevelLines(lines.debugLog));
    }
}

TEST_F(LogMessageTest, TextIsFormattedOnceAndCutToItsBuffers)
{
    const LoggedLines lines = RunLogEveryLevel();
    // Past the level lines: the percent signs of an argument, the handle-less error and the long line.
    ASSERT_EQ(3u, lines.debugLog.size() - LevelLines(lines.debugLog).size());
    EXPECT_EQ("KRVL (Error): folder C:\\100% sure\\%d", lines.debugLog[2]);
    EXPECT_EQ("KRVL (Error): Could not find reg key, Error val = 5", lines.debugLog[3]);
    // The installer-log text is cut at 2047 characters, the debug log line at 1023.
    EXPECT_EQ("KRVL: " + std::string(1023 - 6, 'y'), lines.debugLog[4]);

    ASSERT_EQ(4u, lines.installer.size());
    EXPECT_EQ("KRVL (Error): folder C:\\100% sure\\%d", lines.installer[2]);
    EXPECT_EQ("KRVL: " + std::string(2047 - 6, 'y'), lines.installer[3]) << "no line for the handle-less message";
}

} // namespace
