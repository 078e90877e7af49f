#include "support/debugoutput.h"
#include "support/trace.h"

#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/support/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;
using supporttest::ReadSharedUtf16;

namespace {

const wchar_t kDebugKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput";
const wchar_t kModulesKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput\\Modules";

std::string Hex4(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%04lX", value);
    return text;
}

void TraceTo(srLib::CDebugOutput& output, int level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    output.Trace(level, format, args);
    va_end(args);
}

// A trace object of its own, writing into folder with only the prefixes the case turns on.
void ConfigureBare(srLib::CDebugOutput& output, const std::wstring& folder)
{
    output.SetOutputToDebugger(0);
    output.SetPrependDateTime(0);
    output.SetPrependModuleName(0);
    output.SetPrependProcessId(0);
    output.SetPrependThreadId(0);
    output.SetPrependType(0);
    output.SetAppendNewLine(0);
    output.SetAppendProcessIdToFile(0);
    output.SetDirectory(folder.c_str());
    output.SetOutputToFile(1);
    output.SetLevel(1);
}

TEST(DebugOutput, ThresholdDecidesWhichLevelsAreWritten)
{
    struct Case {
        int threshold;
        std::vector<bool> enabled; // levels 1, 2, 3
    };
    const std::vector<Case> cases = {
        {0, {false, false, false}}, {1, {true, true, true}},    {2, {false, true, true}},
        {3, {false, false, true}},  {5, {false, false, false}}, {-1, {true, true, true}},
    };
    srLib::CDebugOutput output(L"submca");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        output.SetLevel(c.threshold);
        for (int level = 1; level <= 3; ++level)
            EXPECT_EQ(c.enabled[level - 1], output.IsEnabled(level)) << "level " << level;
    }
}

TEST(DebugOutput, EveryPrefixInOrderAndExactlyOneLineEnd)
{
    const std::wstring folder = MakeScratchFolder(L"trace-every-prefix");
    srLib::CDebugOutput output(L"submca");
    ConfigureBare(output, folder);
    output.SetPrependDateTime(1);
    output.SetPrependModuleName(1);
    output.SetPrependProcessId(1);
    output.SetPrependThreadId(1);
    output.SetPrependType(1);
    output.SetAppendNewLine(1);
    TraceTo(output, 1, L"information %s %d\n", L"wide", 42);
    TraceTo(output, 2, L"warning\r\n");
    TraceTo(output, 3, L"error");
    TraceTo(output, 3, L"%s", L"100% verbatim\r\n\n\r");
    TraceTo(output, 4, L"no type word for level 4\n");

    const std::vector<unsigned char> bytes = ReadFileBytes(folder + L"\\submca.log");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::string text = ReadTextFile(folder + L"\\submca.log");
    const std::regex line(R"((\d{4})-\d\d-\d\d-\d\d-\d\d-\d\d-\d{3} : submca : 0x([0-9A-F]{4,}) : )"
                          R"(0x([0-9A-F]{4,}) : ((Information|Warning|Error) : )?([^\r\n]*)\r\n)");
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Information", "information wide 42"}, {"Warning", "warning"}, {"Error", "error"},
        {"Error", "100% verbatim"},             {"", "no type word for level 4"},
    };
    auto position = text.cbegin();
    for (const auto& [type, message] : expected) {
        SCOPED_TRACE(message);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(position, text.cend(), match, line, std::regex_constants::match_continuous))
            << std::string(position, text.cend());
        EXPECT_EQ(std::to_string(now.wYear), match[1].str());
        EXPECT_EQ(Hex4(GetCurrentProcessId()), match[2].str());
        EXPECT_EQ(Hex4(GetCurrentThreadId()), match[3].str());
        EXPECT_EQ(type, match[5].str());
        EXPECT_EQ(message, match[6].str());
        position = match[0].second;
    }
    EXPECT_EQ(text.cend(), position);
}

TEST(DebugOutput, EachPrefixAlone)
{
    struct Case {
        const char* what;
        void (srLib::CDebugOutput::*set)(int);
        std::string text;
    };
    const std::string pid = "0x" + Hex4(GetCurrentProcessId()) + " : ";
    const std::string tid = "0x" + Hex4(GetCurrentThreadId()) + " : ";
    const std::vector<Case> cases = {
        {"module name", &srLib::CDebugOutput::SetPrependModuleName, "submca : message\nsubmca : verbatim"},
        {"process id", &srLib::CDebugOutput::SetPrependProcessId, pid + "message\n" + pid + "verbatim"},
        {"thread id", &srLib::CDebugOutput::SetPrependThreadId, tid + "message\n" + tid + "verbatim"},
        {"type", &srLib::CDebugOutput::SetPrependType, "Warning : message\nWarning : verbatim"},
        {"new line", &srLib::CDebugOutput::SetAppendNewLine, "message\r\nverbatim\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring folder = MakeScratchFolder(L"trace-prefix-alone");
        srLib::CDebugOutput output(L"submca");
        ConfigureBare(output, folder);
        (output.*c.set)(1);
        TraceTo(output, 2, L"message\n");
        TraceTo(output, 2, L"%s", L"verbatim");
        EXPECT_EQ(c.text, ReadSharedUtf16(folder + L"\\submca.log", 2));
    }
}

// Changing any part of the name moves an open log file to its new name at once.
TEST(DebugOutput, RenamingSettersMoveTheOpenFile)
{
    const std::wstring first = MakeScratchFolder(L"trace-rename-first");
    const std::wstring second = MakeScratchFolder(L"trace-rename-second");
    const std::wstring pidSuffix = L"-0x" + Widen(Hex4(GetCurrentProcessId()));
    srLib::CDebugOutput output(L"alpha");
    ConfigureBare(output, first);
    const auto isHeld = [](const std::wstring& path) {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError() == ERROR_SHARING_VIOLATION;
        CloseHandle(file);
        return false;
    };

    TraceTo(output, 3, L"one\n");
    EXPECT_TRUE(isHeld(first + L"\\alpha.log"));
    output.SetModuleName(L"alpha");
    output.SetAppendProcessIdToFile(0);
    EXPECT_TRUE(isHeld(first + L"\\alpha.log")) << "the same name keeps the file";
    output.SetModuleName(L"beta");
    EXPECT_FALSE(isHeld(first + L"\\alpha.log"));
    TraceTo(output, 3, L"two\n");
    output.SetDirectory(second.c_str());
    TraceTo(output, 3, L"three\n");
    output.SetAppendProcessIdToFile(1);
    TraceTo(output, 3, L"four\n");

    EXPECT_EQ("one\n", ReadSharedUtf16(first + L"\\alpha.log", 2));
    EXPECT_EQ("two\n", ReadSharedUtf16(first + L"\\beta.log", 2));
    EXPECT_EQ("three\n", ReadSharedUtf16(second + L"\\beta.log", 2));
    EXPECT_EQ("four\n", ReadSharedUtf16(second + L"\\beta" + pidSuffix + L".log", 2));
    EXPECT_TRUE(isHeld(second + L"\\beta" + pidSuffix + L".log"));
}

// The trace options are read once per process: these cases run in children of their own.
SUBMCA_CHILD(trace_three_levels)
{
    std::printf("%s %s\n", Hex4(GetCurrentProcessId()).c_str(), Hex4(GetCurrentThreadId()).c_str());
    TraceInfo(L"information %s\n", L"text");
    TraceWarning(L"warning\r\n");
    TraceError(L"error");
    return g_DebugOutput.IsEnabled(3) ? 3 : 0;
}

struct ChildIds {
    std::string pid;
    std::string tid;
};

ChildIds RunTracingChild()
{
    const ChildResult child = RunChild("trace_three_levels");
    ChildIds ids;
    const size_t blank = child.output.find(' ');
    if (blank != std::string::npos) {
        ids.pid = child.output.substr(0, blank);
        ids.tid = child.output.substr(blank + 1, child.output.find_first_of("\r\n") - blank - 1);
    }
    return ids;
}

class TraceOptionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kDebugKey);
        // This process reads its own options now, while there are none, so that it never writes
        // into the files its children write.
        g_DebugOutput.Initialize();
        m_folder = MakeScratchFolder(L"trace-options");
    }
    void TearDown() override { DeleteKeyTree(kDebugKey); }

    // Every prefix off, so the file holds the messages as written.
    void BareOptions(DWORD debugType)
    {
        SetDword(kOutputKey, L"DebugType", debugType);
        SetDword(kOutputKey, L"OutputToFile", 1);
        SetString(kOutputKey, L"Directory", m_folder);
        for (const wchar_t* name : {L"OutputToDebugger", L"AppendProcessIdToFile", L"PrependThreadId",
                                    L"PrependProcessId", L"PrependDateTime", L"PrependModuleName", L"AppendNewLine",
                                    L"PrependType"})
            SetDword(kOutputKey, name, 0);
    }

    std::wstring BareFile() const { return m_folder + L"\\submca.log"; }

    std::wstring m_folder;
};

TEST_F(TraceOptionsTest, DefaultsWriteEveryPrefixToAFileNamedAfterTheProcess)
{
    SetDword(kOutputKey, L"DebugType", 1);
    SetDword(kOutputKey, L"OutputToFile", 1);
    SetString(kOutputKey, L"Directory", m_folder + L"\\\\", REG_EXPAND_SZ);
    const ChildIds ids = RunTracingChild();
    ASSERT_FALSE(ids.pid.empty());

    const std::wstring file = m_folder + L"\\submca-0x" + Widen(ids.pid) + L".log";
    const std::vector<unsigned char> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 2u) << Narrow(file);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::string text = ReadTextFile(file);
    EXPECT_EQ(3, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(3, std::count(text.begin(), text.end(), '\r')) << "one CR LF per line";
    const std::vector<std::string> lines = SplitLines(text);
    const std::vector<std::string> expected = {"Information : information text", "Warning : warning", "Error : error"};
    ASSERT_EQ(expected.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::regex line(R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d-\d{3} : submca : 0x)" + ids.pid + " : 0x" + ids.tid
                              + " : " + expected[i]);
        EXPECT_TRUE(std::regex_match(lines[i], line)) << lines[i];
    }
}

TEST_F(TraceOptionsTest, LevelFromTheRegistry)
{
    struct Case {
        const char* what;
        std::vector<BYTE> debugType; // REG_DWORD bytes; anything else is stored as REG_SZ "1"
        std::string text;
    };
    const std::vector<Case> cases = {
        {"warnings and errors", {2, 0, 0, 0}, "warning\r\nerror"},
        {"above the highest level", {5, 0, 0, 0}, ""},
        {"not a number", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kDebugKey);
        BareOptions(0);
        if (c.debugType.empty())
            SetString(kOutputKey, L"DebugType", L"1");
        else
            SetRaw(kOutputKey, L"DebugType", REG_DWORD, c.debugType.data(), 4);
        DeleteFileIfAny(BareFile());
        RunTracingChild();
        EXPECT_EQ(!c.text.empty(), FileExists(BareFile()));
        EXPECT_EQ(c.text, ReadSharedUtf16(BareFile(), 2));
    }
}

TEST_F(TraceOptionsTest, NothingAtAllWithoutOptions)
{
    const ChildResult child = RunChild("trace_three_levels");
    EXPECT_EQ(0u, child.exitCode) << "errors disabled";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring pattern(self);
    pattern = pattern.substr(0, pattern.rfind(L'\\')) + L"\\submca*.log";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << Narrow(found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST_F(TraceOptionsTest, WithoutDirectoryTheFileLiesBesideTheHostExecutable)
{
    SetDword(kOutputKey, L"DebugType", 2);
    SetDword(kOutputKey, L"OutputToFile", 1);
    const ChildIds ids = RunTracingChild();
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring file(self);
    file = file.substr(0, file.rfind(L'\\')) + L"\\submca-0x" + Widen(ids.pid) + L".log";
    const std::vector<std::string> lines = SplitLines(ReadTextFile(file));
    DeleteFileIfAny(file);
    ASSERT_EQ(2u, lines.size()) << Narrow(file);
    EXPECT_NE(std::string::npos, lines[0].find(" : Warning : warning"));
    EXPECT_NE(std::string::npos, lines[1].find(" : Error : error"));
}

TEST_F(TraceOptionsTest, LaterProcessesAppendWithoutASecondMark)
{
    BareOptions(1);
    RunTracingChild();
    RunTracingChild();
    const std::vector<unsigned char> bytes = ReadFileBytes(BareFile());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::string run = "information text\nwarning\r\nerror";
    EXPECT_EQ(run + run, ReadSharedUtf16(BareFile(), 2));
}

// A file that another process holds for writing is left alone; the lines then reach only the
// debugger. A file that existed before gets no byte-order mark.
TEST_F(TraceOptionsTest, FileHeldByAnotherProcessIsLeftAlone)
{
    BareOptions(1);
    const HANDLE held = CreateFileW(BareFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const ChildResult blocked = RunChild("trace_three_levels");
    CloseHandle(held);
    EXPECT_EQ(3u, blocked.exitCode);
    EXPECT_TRUE(ReadFileBytes(BareFile()).empty());

    RunTracingChild();
    EXPECT_EQ("information text\nwarning\r\nerror", ReadSharedUtf16(BareFile(), 0));
}

TEST_F(TraceOptionsTest, ModuleSwitchesSelectTheModule)
{
    struct Case {
        const char* what;
        DWORD exclusive;
        std::vector<std::pair<std::wstring, DWORD>> modules;
        bool traced;
    };
    const std::vector<Case> cases = {
        {"listed alone, other case", 1, {{L"SUBMCA", 1}}, true},
        {"exclusive list without the module", 1, {{L"vexcore", 1}}, false},
        {"switched off while others trace", 0, {{L"submca", 0}, {L"vexcore", 1}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kDebugKey);
        BareOptions(3);
        SetDword(kOutputKey, L"ExclusiveModules", c.exclusive);
        for (const auto& [name, value] : c.modules)
            SetDword(kModulesKey, name.c_str(), value);
        DeleteFileIfAny(BareFile());
        RunTracingChild();
        EXPECT_EQ(c.traced ? "error" : "", ReadSharedUtf16(BareFile(), 2));
    }
}

// An unreadable module switch fails the whole load: tracing stays off for every module.
TEST_F(TraceOptionsTest, UnreadableModuleSwitchTurnsTracingOff)
{
    BareOptions(1);
    SetString(kModulesKey, L"vexcore", L"1");
    const ChildResult child = RunChild("trace_three_levels");
    EXPECT_EQ(0u, child.exitCode);
    EXPECT_FALSE(FileExists(BareFile()));
}

} // namespace
