#include "framework/debuglog.h"

#include "tests/common/files.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using InstallToolBox::CDebugLog;
using namespace testsupport;

namespace {

// The file's existence, encoding, start line and mirrored lines are checked in real installations;
// here: the line ends, the cut of long lines and the fall-backs to the debugger.
TEST(DebugLog, LinesEndOnceAreCutAndAHeldFileFallsBackToTheDebugger)
{
    const std::wstring file = TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    SetDword(kKorvalinKey, L"MsiDebugLog", 4);
    DeleteFileIfAny(file);
    {
        CDebugLog log;
        EXPECT_EQ(5u, log.Switches()) << "both values or-ed";
        log.Write(L"ends with a line feed\n");
        log.Write(L"%s", L"100% verbatim %d %s");
        log.Write(L"%s", std::wstring(3000, L'x').c_str());
        CDebugLog nested;
        EXPECT_EQ(4u, nested.Switches()) << "the file is held by the first object";
        nested.Write(L"nested");
    }
    const std::vector<unsigned char> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ('L', bytes[0]) << "no byte-order mark";
    const std::vector<std::string> lines = SplitLines(ReadTextFile(file));
    EXPECT_EQ(std::vector<std::string>({"ends with a line feed", "100% verbatim %d %s", std::string(1023, 'x')}),
              std::vector<std::string>(lines.begin() + 1, lines.end()));

    wchar_t saved[MAX_PATH] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"C:\\no\\such\\folder");
    EXPECT_EQ(4u, CDebugLog().Switches()) << "an unwritable temporary folder";
    SetEnvironmentVariableW(L"TMP", savedLength ? saved : nullptr);
    DeleteFileIfAny(file);
    DeleteKeyTree(kKorvalinKey);
}

} // namespace
