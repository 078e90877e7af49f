#include "framework/debuglog.h"

#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

using InstallToolBox::CDebugLog;
using namespace testsupport;

namespace {

std::wstring OwnLogFile()
{
    return TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
}

const std::regex kStartLine(R"(Log started at \d\d:\d\d:\d\d on \d\d/\d\d/\d\d\.)");

class DebugLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        CreateKey(kKorvalinKey);
        DeleteFileIfAny(OwnLogFile());
    }
    void TearDown() override
    {
        DeleteKeyTree(kKorvalinKey);
        DeleteFileIfAny(OwnLogFile());
    }
};

TEST_F(DebugLogTest, FileIsUtf16WithoutMarkAndEveryLineEndsOnce)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    {
        CDebugLog log;
        EXPECT_EQ(1u, log.Switches());
        log.Write(L"plain %s %d", L"text", 42);
        log.Write(L"ends with a line feed\n");
        log.Write(L"%s", L"100% verbatim %d %s");
        log.Write(L"");
        log.Write(L"%s", std::wstring(3000, L'x').c_str());
    }
    const std::vector<unsigned char> bytes = ReadFileBytes(OwnLogFile());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_FALSE(bytes[0] == 0xFF && bytes[1] == 0xFE) << "no byte-order mark";
    EXPECT_EQ('L', bytes[0]);
    EXPECT_EQ(0, bytes[1]);

    const std::string text = ReadTextFile(OwnLogFile());
    const size_t firstEnd = text.find("\r\n");
    ASSERT_NE(std::string::npos, firstEnd);
    EXPECT_TRUE(std::regex_match(text.substr(0, firstEnd), kStartLine)) << text;
    // A line is cut at 1023 characters.
    EXPECT_EQ("plain text 42\r\nends with a line feed\n100% verbatim %d %s\r\n\r\n" + std::string(1023, 'x') + "\r\n",
              text.substr(firstEnd + 2));
}

TEST_F(DebugLogTest, SwitchesComeFromEitherValueAndDecideTheOutputs)
{
    struct Case {
        const char* what;
        std::vector<std::pair<const wchar_t*, std::vector<BYTE>>> values;
        DWORD switches;
        bool file;
    };
    const std::vector<Case> cases = {
        {"no values", {}, 0, false},
        {"MsiDebugLog 1", {{L"MsiDebugLog", {1, 0, 0, 0}}}, 1, true},
        {"debugger only", {{L"MsiDebugLog", {4, 0, 0, 0}}}, 4, false},
        {"an unknown bit alone", {{L"DebugLog", {2, 0, 0, 0}}}, 2, false},
        {"both values or-ed", {{L"DebugLog", {4, 0, 0, 0}}, {L"MsiDebugLog", {1, 0, 0, 0}}}, 5, true},
        {"two bytes of binary", {{L"DebugLog", {1, 0}}}, 1, true},
        {"eight bytes do not fit", {{L"DebugLog", {1, 0, 0, 0, 0, 0, 0, 0}}}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kKorvalinKey);
        CreateKey(kKorvalinKey);
        for (const auto& value : c.values)
            SetRaw(kKorvalinKey, value.first, value.second.size() == 4 ? REG_DWORD : REG_BINARY, value.second.data(),
                   static_cast<DWORD>(value.second.size()));
        {
            CDebugLog log;
            EXPECT_EQ(c.switches, log.Switches());
            log.Write(L"line");
        }
        EXPECT_EQ(c.file, FileExists(OwnLogFile()));
        DeleteFileIfAny(OwnLogFile());
    }
}

TEST_F(DebugLogTest, ObjectsAppendInTurnButASecondOpenObjectFallsBackToTheDebugger)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    {
        CDebugLog first;
        first.Write(L"first");
    }
    {
        CDebugLog second;
        second.Write(L"second");
        CDebugLog nested;
        EXPECT_EQ(4u, nested.Switches()) << "the file is held by the first object";
        nested.Write(L"nested");
    }
    const std::vector<std::string> lines = SplitLines(ReadTextFile(OwnLogFile()));
    ASSERT_EQ(4u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], kStartLine));
    EXPECT_EQ("first", lines[1]);
    EXPECT_TRUE(std::regex_match(lines[2], kStartLine));
    EXPECT_EQ("second", lines[3]);
}

SUBMCA_CHILD(WriteTwoDebugLogLines)
{
    CDebugLog log;
    log.Write(L"to the %s", L"debugger");
    log.Write(L"already ended\n");
    return 0;
}

TEST_F(DebugLogTest, DebuggerOutputCarriesTheSameLines)
{
    SetDword(kKorvalinKey, L"MsiDebugLog", 4);
    const std::vector<std::string> lines = RunChildForDebugOutput("WriteTwoDebugLogLines");
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Log started at \d\d:\d\d:\d\d on \d\d/\d\d/\d\d\.\r\n)")));
    EXPECT_EQ("to the debugger\r\n", lines[1]);
    EXPECT_EQ("already ended\n", lines[2]);

    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((TempFolder() + L"\\KRVMSI*.log").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "no file without bit 1";
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST_F(DebugLogTest, UnwritableTemporaryFolderFallsBackToTheDebugger)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    wchar_t saved[MAX_PATH] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"C:\\no\\such\\folder");
    {
        CDebugLog log;
        EXPECT_EQ(4u, log.Switches());
    }
    SetEnvironmentVariableW(L"TMP", savedLength ? saved : nullptr);
}

} // namespace
