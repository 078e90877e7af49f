#include "support/debugoutput.h"
#include "support/trace.h"

#include "tests/common/child.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;
using srLib::CDebugOutput;
using supporttest::ReadSharedUtf16;

namespace {

const wchar_t kDebugKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput";
const wchar_t kModulesKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput\\Modules";
const wchar_t* const kFlagNames[] = {L"OutputToDebugger", L"AppendProcessIdToFile", L"PrependThreadId",
                                     L"PrependProcessId", L"PrependDateTime",       L"PrependModuleName",
                                     L"AppendNewLine",    L"PrependType"};

std::string Hex4(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%04lX", value);
    return text;
}

void TraceTo(CDebugOutput& output, int level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    output.Trace(level, format, args);
    va_end(args);
}

// Writes into folder\<module>.log with every prefix off, at every level.
void ConfigureBare(CDebugOutput& output, const std::wstring& folder)
{
    for (auto set : {&CDebugOutput::SetOutputToDebugger, &CDebugOutput::SetPrependDateTime,
                     &CDebugOutput::SetPrependModuleName, &CDebugOutput::SetPrependProcessId,
                     &CDebugOutput::SetPrependThreadId, &CDebugOutput::SetPrependType, &CDebugOutput::SetAppendNewLine,
                     &CDebugOutput::SetAppendProcessIdToFile})
        (output.*set)(0);
    output.SetDirectory(folder.c_str());
    output.SetOutputToFile(1);
    output.SetLevel(1);
}

TEST(DebugOutput, ThresholdDecidesWhichLevelsAreWritten)
{
    const std::vector<std::pair<int, std::vector<bool>>> cases = {
        {0, {false, false, false}}, {1, {true, true, true}},    {2, {false, true, true}},
        {3, {false, false, true}},  {5, {false, false, false}}, {-1, {true, true, true}},
    };
    CDebugOutput output(L"submca");
    for (const auto& [threshold, enabled] : cases) {
        output.SetLevel(threshold);
        for (int level = 1; level <= 3; ++level)
            EXPECT_EQ(enabled[level - 1], output.IsEnabled(level)) << threshold << " " << level;
    }
}

TEST(DebugOutput, EveryPrefixInOrderAndExactlyOneLineEnd)
{
    const std::wstring folder = MakeScratchFolder(L"trace-every-prefix");
    CDebugOutput output(L"submca");
    ConfigureBare(output, folder);
    for (auto set : {&CDebugOutput::SetPrependDateTime, &CDebugOutput::SetPrependModuleName,
                     &CDebugOutput::SetPrependProcessId, &CDebugOutput::SetPrependThreadId,
                     &CDebugOutput::SetPrependType, &CDebugOutput::SetAppendNewLine})
        (output.*set)(1);
    TraceTo(output, 1, L"information %s %d\n", L"wide", 42);
    TraceTo(output, 2, L"warning\r\n");
    TraceTo(output, 3, L"%s", L"100% verbatim\r\n\n\r");
    TraceTo(output, 4, L"no type word for level 4");

    const std::vector<unsigned char> bytes = ReadFileBytes(folder + L"\\submca.log");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(std::vector<unsigned char>({0xFF, 0xFE}), std::vector<unsigned char>(bytes.begin(), bytes.begin() + 2));
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string prefix = std::to_string(now.wYear) + R"(-\d\d-\d\d-\d\d-\d\d-\d\d-\d{3} : submca : 0x)"
                               + Hex4(GetCurrentProcessId()) + " : 0x" + Hex4(GetCurrentThreadId()) + " : ";
    const std::regex expected(prefix + "Information : information wide 42\r\n" + prefix + "Warning : warning\r\n"
                              + prefix + "Error : 100% verbatim\r\n" + prefix + "no type word for level 4\r\n");
    const std::string text = ReadTextFile(folder + L"\\submca.log");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(DebugOutput, TracingLeavesTheThreadsLastErrorAsItWas)
{
    supporttest::CTraceCapture capture;
    for (const DWORD error : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(ERROR_SHARING_VIOLATION), DWORD(0)}) {
        SetLastError(error);
        TraceError(L"the file that reports error %lu is opened by this line\n", error);
        EXPECT_EQ(error, GetLastError());
        SetLastError(error);
        TraceInfo(L"and the next one appends\n");
        EXPECT_EQ(error, GetLastError());
    }
    EXPECT_NE(std::string::npos, capture.Take().find("is opened by this line"));
}

// Changing a part of the name moves an open log file to its new name at once.
TEST(DebugOutput, RenamingSettersMoveTheOpenFile)
{
    const std::wstring first = MakeScratchFolder(L"trace-rename-first");
    const std::wstring second = MakeScratchFolder(L"trace-rename-second");
    const std::wstring withPid = second + L"\\beta-0x" + Widen(Hex4(GetCurrentProcessId())) + L".log";
    const auto isHeld = [](const std::wstring& path) {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    };
    CDebugOutput output(L"alpha");
    ConfigureBare(output, first);
    TraceTo(output, 3, L"one\n");
    output.SetModuleName(L"alpha");
    output.SetAppendProcessIdToFile(0);
    EXPECT_TRUE(isHeld(first + L"\\alpha.log")) << "unchanged names keep the file";
    output.SetModuleName(L"beta");
    EXPECT_FALSE(isHeld(first + L"\\alpha.log"));
    TraceTo(output, 3, L"two\n");
    output.SetDirectory(second.c_str());
    TraceTo(output, 3, L"three\n");
    output.SetAppendProcessIdToFile(1);
    TraceTo(output, 3, L"four\n");
    EXPECT_TRUE(isHeld(withPid));
    EXPECT_EQ("one\n", ReadSharedUtf16(first + L"\\alpha.log", 2));
    EXPECT_EQ("two\n", ReadSharedUtf16(first + L"\\beta.log", 2));
    EXPECT_EQ("three\n", ReadSharedUtf16(second + L"\\beta.log", 2));
    EXPECT_EQ("four\n", ReadSharedUtf16(withPid, 2));
}

// The module's trace reads its options once per process: these cases run in children.
SUBMCA_CHILD(trace_three_levels)
{
    std::printf("%s %s\n", Hex4(GetCurrentProcessId()).c_str(), Hex4(GetCurrentThreadId()).c_str());
    TraceInfo(L"information %s\n", L"text");
    TraceWarning(L"warning\r\n");
    TraceError(L"error");
    return g_DebugOutput.IsEnabled(3) ? 3 : 0;
}

class TraceOptionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kDebugKey);
        // This process reads its options now, while there are none, so it never writes into the
        // files of its children.
        g_DebugOutput.Initialize();
        m_folder = MakeScratchFolder(L"trace-options");
    }
    void TearDown() override { DeleteKeyTree(kDebugKey); }

    // The options are read from the 64-bit view on 64-bit Windows.
    RegistryView m_view{KEY_WOW64_64KEY};

    // Runs the child; its process and thread id, as the lines show them.
    std::pair<std::string, std::string> RunTracingChild()
    {
        const std::string output = RunChild("trace_three_levels").output;
        const size_t blank = output.find(' ');
        return {output.substr(0, blank), output.substr(blank + 1, 4)};
    }

    // Every prefix off: the file holds the messages as written.
    void BareOptions(DWORD debugType)
    {
        SetDword(kOutputKey, L"DebugType", debugType);
        SetDword(kOutputKey, L"OutputToFile", 1);
        SetString(kOutputKey, L"Directory", m_folder);
        for (const wchar_t* name : kFlagNames)
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
    const auto [pid, tid] = RunTracingChild();
    const std::wstring file = m_folder + L"\\submca-0x" + Widen(pid) + L".log";
    const std::vector<unsigned char> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 2u) << Narrow(file);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::string prefix = R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d-\d{3} : submca : 0x)" + pid + " : 0x" + tid + " : ";
    const std::regex expected(prefix + "Information : information text\r\n" + prefix + "Warning : warning\r\n"
                              + prefix + "Error : error\r\n");
    const std::string text = ReadTextFile(file);
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(TraceOptionsTest, WhatTheOptionsLetThrough)
{
    struct Case {
        const char* what;
        std::function<void()> store;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"no options", [] {}, ""},
        {"options in the 32-bit view only",
         [&] {
             const RegistryView view(KEY_WOW64_32KEY);
             BareOptions(1);
         },
         ""},
        {"warnings and errors", [&] { BareOptions(2); }, "warning\r\nerror"},
        {"above the highest level", [&] { BareOptions(5); }, ""},
        {"a level that is not a number", [&] { BareOptions(0); SetString(kOutputKey, L"DebugType", L"1"); }, ""},
        {"exclusive, listed in another case",
         [&] { BareOptions(3); SetDword(kOutputKey, L"ExclusiveModules", 1); SetDword(kModulesKey, L"SUBMCA", 1); },
         "error"},
        {"an unreadable switch of another module", [&] { BareOptions(1); SetString(kModulesKey, L"vexcore", L"1"); },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            const RegistryView clean(view);
            DeleteKeyTree(kDebugKey);
        }
        DeleteFileIfAny(BareFile());
        c.store();
        RunTracingChild();
        EXPECT_EQ(!c.text.empty(), FileExists(BareFile()));
        EXPECT_EQ(c.text, ReadSharedUtf16(BareFile(), 2));
    }
}

TEST_F(TraceOptionsTest, WithoutDirectoryTheFileLiesBesideTheHostExecutable)
{
    SetDword(kOutputKey, L"DebugType", 2);
    SetDword(kOutputKey, L"OutputToFile", 1);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = std::wstring(self).substr(0, std::wstring(self).rfind(L'\\'));
    const std::wstring file = folder + L"\\submca-0x" + Widen(RunTracingChild().first) + L".log";
    const std::vector<std::string> lines = SplitLines(ReadTextFile(file));
    DeleteFileIfAny(file);
    ASSERT_EQ(2u, lines.size()) << Narrow(file);
    EXPECT_NE(std::string::npos, lines[0].find(" : Warning : warning"));
    EXPECT_NE(std::string::npos, lines[1].find(" : Error : error"));
}

// Later processes append; a file that existed before gets no byte-order mark, and one that
// another process holds for writing is left alone (the lines reach only the debugger).
TEST_F(TraceOptionsTest, FilesAreAppendedToAndNeverShared)
{
    BareOptions(1);
    const std::string run = "information text\nwarning\r\nerror";
    RunTracingChild();
    RunTracingChild();
    EXPECT_EQ("\xEF\xBB\xBF" + run + run, ReadSharedUtf16(BareFile(), 0)) << "one mark, two runs";

    const HANDLE held = CreateFileW(BareFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetDword(kOutputKey, L"OutputToDebugger", 1);
    const std::vector<std::string> debugger = RunChildForDebugOutput("trace_three_levels");
    CloseHandle(held);
    EXPECT_TRUE(ReadFileBytes(BareFile()).empty());
    EXPECT_EQ(std::vector<std::string>({"information text\n", "warning\r\n", "error"}), debugger);
    SetDword(kOutputKey, L"OutputToDebugger", 0);
    RunTracingChild();
    EXPECT_EQ(run, ReadSharedUtf16(BareFile(), 0));
}

} // namespace
