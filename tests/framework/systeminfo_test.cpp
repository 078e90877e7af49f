#include "framework/systeminfo.h"

#include "framework/debuglog.h"
#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

std::wstring OwnLogFile()
{
    return TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

TEST(SystemInfo, PlatformFlagsNameFamilyAndKnownVersions)
{
    struct Case {
        DWORD platformId, major, minor, flags;
    };
    const Case cases[] = {
        {2, 3, 51, 0x2001}, {2, 4, 0, 0x2002}, {2, 5, 0, 0x2004},  {2, 5, 1, 0x2008},  {2, 5, 2, 0x2010},
        {2, 6, 0, 0x2020},  {2, 6, 1, 0x2000}, {2, 10, 0, 0x2000}, {1, 4, 0, 0x1001},  {1, 4, 10, 0x1002},
        {1, 4, 90, 0x1004}, {1, 4, 3, 0x1000}, {0, 3, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.flags, PlatformFlags(c.platformId, c.major, c.minor))
            << c.platformId << " " << c.major << "." << c.minor;
}

TEST(SystemInfo, ProductSuiteListIsReadWithinItsStoredLength)
{
    struct Case {
        std::wstring stored; // exactly the characters of the value, terminators included or not
        bool named;
    };
    const std::wstring name = L"Terminal Server";
    const Case cases[] = {
        {L"Enterprise" + std::wstring(1, L'\0') + name + std::wstring(2, L'\0'), true},
        {L"Enterprise" + std::wstring(1, L'\0') + name, true}, // no terminators at all
        {name.substr(0, 8), false},                            // cut inside the name
        {name + L" Lite" + std::wstring(2, L'\0'), false},
        {std::wstring(1, L'\0') + name + std::wstring(2, L'\0'), false}, // the list ends at the empty string
        {L"", false},
    };
    for (const Case& c : cases) {
        // An exact-size heap copy, so that reading past the value would leave the allocation.
        const std::vector<wchar_t> value(c.stored.begin(), c.stored.end());
        EXPECT_EQ(c.named, MultiStringNames(value.data(), value.size(), name.c_str())) << Narrow(c.stored);
    }
}

std::vector<std::string> ReportLines(const CSystemInfo::Facts& facts)
{
    DeleteFileIfAny(OwnLogFile());
    {
        CDebugLog log;
        WriteSystemReport(log, facts);
    }
    std::vector<std::string> lines = SplitLines(ReadTextFile(OwnLogFile()));
    DeleteFileIfAny(OwnLogFile());
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
        EXPECT_EQ(0u, lines[0].find("Log started at "));
        lines.erase(lines.begin());
    }
    return lines;
}

TEST(SystemInfo, ReportNamesTheFactsInOrder)
{
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);

    CSystemInfo::Facts xp;
    xp.dwPlatformFlags = 0x2008;
    xp.dwMajorVersion = 5;
    xp.dwMinorVersion = 1;
    xp.wServicePackMajor = 2;
    xp.bTerminalServices = true;
    xp.bActiveSession = true;
    xp.bAdministrator = true;
    EXPECT_EQ((std::vector<std::string>{"OS Info: NT 5.1 (2008)", "Service Pack: 2.0", "Terminal Services are installed",
                                        "In Active Session", "Current User is Administrator"}),
              ReportLines(xp));

    CSystemInfo::Facts server = xp;
    server.dwPlatformFlags = 0x2010;
    server.dwMinorVersion = 2;
    server.wServicePackMajor = 0;
    server.wServicePackMinor = 1;
    server.bServer = true;
    server.bActiveSession = false;
    server.bAdministrator = false;
    EXPECT_EQ((std::vector<std::string>{"OS Info: NT 5.2 (2010)", "NT Server", "Service Pack: 0.1",
                                        "Terminal Services are installed"}),
              ReportLines(server));

    // Off Terminal Services the session line is not written, whatever the session value says;
    // off NT the administrator line is not written either.
    CSystemInfo::Facts win98;
    win98.dwPlatformFlags = 0x1002;
    win98.dwMajorVersion = 4;
    win98.dwMinorVersion = 10;
    win98.bActiveSession = true;
    win98.bAdministrator = true;
    EXPECT_EQ(std::vector<std::string>{"OS Info: 9x 4.10 (1002)"}, ReportLines(win98));

    DeleteKeyTree(kKorvalinKey);
}

// The real gathering, once per process: the first construction reports, the second does not.
SUBMCA_CHILD(ConstructSystemInfoTwice)
{
    const CSystemInfo first;
    const CSystemInfo second;
    std::printf("nt: %d\npid: %lu\n", first.IsNT() ? 1 : 0, GetCurrentProcessId());
    return 0;
}

TEST(SystemInfo, RealSystemIsReportedOncePerProcess)
{
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    const ChildResult child = RunChild("ConstructSystemInfoTwice");
    DeleteKeyTree(kKorvalinKey);
    ASSERT_EQ(0u, child.exitCode);
    const std::vector<std::string> output = SplitLines(child.output);
    ASSERT_EQ(2u, output.size()) << child.output;
    EXPECT_EQ("nt: 1", output[0]);
    const std::wstring logFile = TempFolder() + L"\\KRVMSI" + Widen(output[1].substr(5)) + L".log";
    const std::vector<std::string> lines = SplitLines(ReadTextFile(logFile));
    DeleteFileIfAny(logFile);

    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(&version));
#pragma GCC diagnostic pop
    char osInfo[64];
    std::snprintf(osInfo, sizeof(osInfo), "OS Info: NT %lu.%lu (%lx)", version.dwMajorVersion, version.dwMinorVersion,
                  PlatformFlags(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(0u, lines[0].find("Log started at "));
    EXPECT_EQ(osInfo, lines[1]);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(std::string::npos, lines[i].find("Log started at ")) << "a second report";
}

} // namespace
