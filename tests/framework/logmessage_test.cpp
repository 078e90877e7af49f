#include "framework/debuglog.h"
#include "framework/logmessage.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

std::vector<std::string> g_installerLines;

std::wstring LogFile()
{
    return TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

int __stdcall KeepInstallerLine(void*, UINT type, const wchar_t* message)
{
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message && std::wstring(message).rfind(L"KRVL", 0) == 0)
        g_installerLines.push_back(Narrow(message));
    return 1;
}

// The thresholds are rows of the installer suites; here the text itself: formatted once, and cut
// to the installer's and the debug log's buffers.
TEST(LogMessage, TextIsFormattedOnceAndCutToItsBuffers)
{
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    const std::wstring logFile = LogFile();
    DeleteFileIfAny(logFile);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIW(KeepInstallerLine, INSTALLLOGMODE_INFO, nullptr);
    MSIHANDLE package = 0;
    ASSERT_EQ(0u, MsiOpenPackageW((std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi").c_str(), &package));
    LogMessage(package, LOG_LEVEL_ERROR, L"folder %s", L"C:\\100% sure\\%d");
    LogMessage(0, LOG_LEVEL_ERROR, L"Could not find reg key, Error val = %d", 5);
    LogMessage(package, LOG_LEVEL_INFO, L"%s", std::wstring(3000, L'y').c_str());
    MsiCloseHandle(package);
    MsiSetExternalUIW(nullptr, 0, nullptr);

    const std::string folder = "KRVL (Error): folder C:\\100% sure\\%d";
    EXPECT_EQ(std::vector<std::string>({folder, "KRVL: " + std::string(2047 - 6, 'y')}), g_installerLines)
        << "no installer line for the handle-less message";
    std::vector<std::string> logged;
    for (const std::string& line : SplitLines(ReadTextFile(logFile)))
        if (line.rfind("Log started at ", 0) != 0)
            logged.push_back(line);
    EXPECT_EQ(std::vector<std::string>({folder, "KRVL (Error): Could not find reg key, Error val = 5",
                                        "KRVL: " + std::string(1023 - 6, 'y')}),
              logged);
    DeleteFileIfAny(logFile);
    DeleteKeyTree(kKorvalinKey);
}

// The file's existence, encoding, start line and mirrored lines are checked in real installations,
// the cut of long lines with the installer's messages; here: the line ends and the fall-backs to the
// debugger.
TEST(DebugLog, LinesEndOnceAndAHeldFileFallsBackToTheDebugger)
{
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    SetDword(kKorvalinKey, L"MsiDebugLog", 4);
    DeleteFileIfAny(LogFile());
    {
        CDebugLog log;
        EXPECT_EQ(5u, log.Switches()) << "both values or-ed";
        log.Write(L"ends with a line feed\n");
        CDebugLog nested;
        EXPECT_EQ(4u, nested.Switches()) << "the file is held by the first object";
        nested.Write(L"nested");
    }
    const std::vector<unsigned char> bytes = ReadFileBytes(LogFile());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ('L', bytes[0]) << "no byte-order mark";
    const std::vector<std::string> lines = SplitLines(ReadTextFile(LogFile()));
    EXPECT_EQ(std::vector<std::string>({"ends with a line feed"}),
              std::vector<std::string>(lines.begin() + 1, lines.end()));

    wchar_t saved[MAX_PATH] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"C:\\no\\such\\folder");
    EXPECT_EQ(4u, CDebugLog().Switches()) << "an unwritable temporary folder";
    SetEnvironmentVariableW(L"TMP", savedLength ? saved : nullptr);
    DeleteFileIfAny(LogFile());
    DeleteKeyTree(kKorvalinKey);
}

} // namespace
