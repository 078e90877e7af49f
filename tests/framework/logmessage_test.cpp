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
    const std::wstring logFile = TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
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

} // namespace
