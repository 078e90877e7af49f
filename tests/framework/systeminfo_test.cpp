#include "framework/systeminfo.h"

#include "framework/debuglog.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace InstallToolBox;
using namespace testsupport;

namespace {

TEST(SystemInfo, PlatformFlagsNameFamilyAndKnownVersions)
{
    const DWORD cases[][4] = {
        {2, 3, 51, 0x2001}, {2, 4, 0, 0x2002}, {2, 5, 0, 0x2004},  {2, 5, 1, 0x2008}, {2, 5, 2, 0x2010},
        {2, 6, 0, 0x2020},  {2, 6, 1, 0x2000}, {2, 10, 0, 0x2000}, {1, 4, 0, 0x1001}, {1, 4, 10, 0x1002},
        {1, 4, 90, 0x1004}, {1, 4, 3, 0x1000}, {0, 3, 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c[3], PlatformFlags(c[0], c[1], c[2])) << c[0] << " " << c[1] << "." << c[2];
}

TEST(SystemInfo, ProductSuiteListIsReadWithinItsStoredLength)
{
    const std::wstring name = L"Terminal Server";
    const std::wstring zero(1, L'\0');
    const std::pair<std::wstring, bool> cases[] = {
        {L"Enterprise" + zero + name + zero + zero, true},
        {L"Enterprise" + zero + name, true}, // no terminators at all
        {name.substr(0, 8), false},
        {name + L" Lite" + zero + zero, false},
        {zero + name + zero + zero, false}, // the list ends at the empty string
    };
    for (const auto& [stored, named] : cases) {
        // An exact-size heap copy, so that reading past the value would leave the allocation.
        const std::vector<wchar_t> value(stored.begin(), stored.end());
        EXPECT_EQ(named, MultiStringNames(value.data(), value.size(), name.c_str())) << Narrow(stored);
    }
}

TEST(SystemInfo, ReportNamesTheFactsInOrder)
{
    const std::wstring file = TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    // Platform flags, version, service pack, then server, Terminal Services, active session, administrator.
    const CSystemInfo::Facts xp = {0x2008, 5, 1, 2, 0, false, true, true, true};
    const CSystemInfo::Facts server = {0x2010, 5, 2, 0, 1, true, true, false, false};
    // Off Terminal Services the session line is not written, off NT the administrator line neither.
    const CSystemInfo::Facts win98 = {0x1002, 4, 10, 0, 0, false, false, true, true};
    DeleteFileIfAny(file);
    {
        CDebugLog log;
        for (const CSystemInfo::Facts& facts : {xp, server, win98})
            WriteSystemReport(log, facts);
    }
    const std::vector<std::string> lines = SplitLines(ReadTextFile(file));
    DeleteFileIfAny(file);
    DeleteKeyTree(kKorvalinKey);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ((std::vector<std::string>{
                  "OS Info: NT 5.1 (2008)", "Service Pack: 2.0", "Terminal Services are installed", "In Active Session",
                  "Current User is Administrator", "OS Info: NT 5.2 (2010)", "NT Server", "Service Pack: 0.1",
                  "Terminal Services are installed", "OS Info: 9x 4.10 (1002)"}),
              std::vector<std::string>(lines.begin() + 1, lines.end()));
}

// Gathers the facts in a process of its own (they are gathered once per process).
TEST(SystemInfoChild, DISABLED_GathersTheFacts)
{
    std::printf("terminal services: %d\n", CSystemInfo().Get().bTerminalServices ? 1 : 0);
}

// A wtsapi32.dll in the host program's folder is not the system's: the session query loads the
// system folder's own, so the planted one never runs.
TEST(SystemInfo, SessionQueryIgnoresALibraryBesideTheHostProgram)
{
    const std::wstring folder = MakeScratchFolder(L"planted host");
    wchar_t self[MAX_PATH];
    ASSERT_LT(GetModuleFileNameW(nullptr, self, MAX_PATH), static_cast<DWORD>(MAX_PATH));
    const std::wstring host = folder + L"\\host.exe";
    const std::wstring mark = folder + L"\\wtsapi32-loaded.txt";
    ASSERT_TRUE(CopyFileW(self, host.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(SUBMCA_PLANTED_WTSAPI32, (folder + L"\\wtsapi32.dll").c_str(), FALSE));
    DeleteFileIfAny(mark);
    // Wine would take its own wtsapi32 even for a file of that name in the program's folder; for
    // this one program it prefers the file, as Windows loads whatever file it finds (Windows has
    // no such key).
    const wchar_t overrides[] = L"Software\\Wine\\AppDefaults\\host.exe\\DllOverrides";
    const wchar_t preferFile[] = L"native,builtin";
    RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"wtsapi32", REG_SZ, preferFile, sizeof(preferFile));
    const ProcessResult run = RunProcess(
        L"\"" + host + L"\" --gtest_also_run_disabled_tests --gtest_filter=SystemInfoChild.DISABLED_GathersTheFacts",
        60000);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\host.exe");
    ASSERT_NE(std::string::npos, run.output.find("terminal services: 1"))
        << "the session is queried only where Terminal Services are installed\n"
        << run.output;
    EXPECT_FALSE(FileExists(mark)) << "the planted wtsapi32.dll was loaded";
    RemoveTree(folder);
}

} // namespace
