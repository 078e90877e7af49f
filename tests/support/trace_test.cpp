#include "support/debugoutput.h"
#include "support/trace.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const wchar_t kDebugKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput";
const wchar_t kModulesKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput\\Modules";

// This executable: it runs the tracing child, and its folder takes the trace without a Directory.
std::wstring SelfPath()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

TEST(DebugOutput, TracingLeavesTheThreadsLastErrorAsItWas)
{
    supporttest::CTraceCapture capture;
    for (const DWORD error : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(0)}) {
        SetLastError(error);
        TraceError(L"the file that reports error %lu is opened by this line\n", error);
        EXPECT_EQ(error, GetLastError());
        TraceInfo(L"and the next one appends\n");
        EXPECT_EQ(error, GetLastError());
    }
    EXPECT_NE(std::string::npos, capture.Take().find("is opened by this line"));
}

// A trace whose directory stayed empty (the host program's path could not be read) writes no log
// file: the bare name would otherwise land below the drive's root.
TEST(DebugOutput, NoDirectoryMeansNoLogFile)
{
    srLib::CDebugOutput output(L"submca-nodirectory");
    output.SetLevel(srLib::CDebugOutput::eInformation);
    output.SetOutputToFile(1);
    wchar_t atRoot[MAX_PATH];
    ASSERT_NE(0u, GetFullPathNameW(L"\\submca-nodirectory.log", MAX_PATH, atRoot, nullptr));
    DeleteFileIfAny(atRoot);
    output.OutputString(L"a line\r\n");
    EXPECT_FALSE(FileExists(atRoot)) << Narrow(atRoot);
    DeleteFileIfAny(atRoot);
}

// The module's trace reads its options once per process: the cases below run this one alone in a
// process of its own.
TEST(TraceChild, DISABLED_TracesThreeLevels)
{
    std::printf("ids %04lX %04lX\n", GetCurrentProcessId(), GetCurrentThreadId());
    TraceInfo(L"information %s\n", L"text");
    TraceWarning(L"warning\r\n");
    TraceError(L"error");
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
        const std::string output =
            RunProcess(L"\"" + SelfPath() + L"\" --gtest_also_run_disabled_tests --gtest_filter=TraceChild.*", 60000)
                .output;
        const size_t pid = output.find("ids ") + 4;
        const size_t tid = output.find(' ', pid) + 1;
        return {output.substr(pid, tid - pid - 1), output.substr(tid, 4)};
    }

    // Every prefix off: the file holds the messages as written.
    void BareOptions(DWORD debugType)
    {
        SetDword(kOutputKey, L"DebugType", debugType);
        SetDword(kOutputKey, L"OutputToFile", 1);
        SetString(kOutputKey, L"Directory", m_folder);
        for (const wchar_t* name :
             {L"OutputToDebugger", L"AppendProcessIdToFile", L"PrependThreadId", L"PrependProcessId",
              L"PrependDateTime", L"PrependModuleName", L"AppendNewLine", L"PrependType"})
            SetDword(kOutputKey, name, 0);
    }

    std::wstring BareFile() const { return m_folder + L"\\submca.log"; }

    std::wstring m_folder;
};

// The line format support engineers read: every prefix in order, one line end per line.
// Without a Directory the file lies beside the host executable.
TEST_F(TraceOptionsTest, DefaultsWriteEveryPrefixToAFileNamedAfterTheProcess)
{
    SetDword(kOutputKey, L"DebugType", 1);
    SetDword(kOutputKey, L"OutputToFile", 1);
    const auto [pid, tid] = RunTracingChild();
    const std::wstring file = SelfPath().substr(0, SelfPath().rfind(L'\\')) + L"\\submca-0x" + Widen(pid) + L".log";
    const std::vector<unsigned char> bytes = ReadFileBytes(file);
    const std::string text = ReadTextFile(file);
    DeleteFileIfAny(file);
    ASSERT_GE(bytes.size(), 2u) << Narrow(file);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    const std::string prefix = R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d-\d{3} : submca : 0x)" + pid + " : 0x" + tid + " : ";
    const std::regex expected(prefix + "Information : information text\r\n" + prefix + "Warning : warning\r\n" +
                              prefix + "Error : error\r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(TraceOptionsTest, WhatTheOptionsLetThrough)
{
    struct Case {
        const char* what;
        REGSAM view;
        int level; // -1: no options at all
        bool levelAsText;
        DWORD exclusive;
        const wchar_t* module;
        int moduleSwitch; // -1: the text "1"
        std::string text;
    };
    const REGSAM k64 = KEY_WOW64_64KEY;
    const std::vector<Case> cases = {
        {"no options", k64, -1, false, 0, nullptr, 0, ""},
        {"options in the 32-bit view only", KEY_WOW64_32KEY, 1, false, 0, nullptr, 0, ""},
        {"warnings and errors", k64, 2, false, 0, nullptr, 0, "warning\r\nerror"},
        {"above the highest level", k64, 5, false, 0, nullptr, 0, ""},
        {"a level that is not a number", k64, 1, true, 0, nullptr, 0, ""},
        {"exclusive, not listed", k64, 3, false, 1, L"vexcore", 1, ""},
        {"exclusive, listed in another case", k64, 3, false, 1, L"SUBMCA", 1, "error"},
        {"a listed number keeps the level", k64, 2, false, 0, L"SubMca", 7, "warning\r\nerror"},
        {"switched off alone", k64, 1, false, 0, L"submca", 0, ""},
        {"an unreadable switch of another module", k64, 1, false, 0, L"vexcore", -1, ""},
    };
    for (const Case& c : cases) {
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            const RegistryView clean(view);
            DeleteKeyTree(kDebugKey);
        }
        DeleteFileIfAny(BareFile());
        if (c.level >= 0) {
            const RegistryView view(c.view);
            BareOptions(c.level);
            SetDword(kOutputKey, L"ExclusiveModules", c.exclusive);
            if (c.levelAsText)
                SetString(kOutputKey, L"DebugType", std::to_wstring(c.level));
            if (c.module && c.moduleSwitch < 0)
                SetString(kModulesKey, c.module, L"1");
            else if (c.module)
                SetDword(kModulesKey, c.module, c.moduleSwitch);
        }
        RunTracingChild();
        EXPECT_EQ(c.text, ReadTextFile(BareFile())) << c.what;
    }
}

// Later processes append; a file that existed before gets no byte-order mark, and one that
// another process holds for writing is left alone.
TEST_F(TraceOptionsTest, FilesAreAppendedToAndNeverShared)
{
    BareOptions(1);
    const std::string run = "information text\nwarning\r\nerror";
    RunTracingChild();
    RunTracingChild();
    EXPECT_EQ(run + run, ReadTextFile(BareFile())) << "one mark, two runs";

    const HANDLE held = CreateFileW(BareFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    RunTracingChild();
    CloseHandle(held);
    EXPECT_TRUE(ReadFileBytes(BareFile()).empty());
    RunTracingChild();
    EXPECT_EQ(run, ReadTextFile(BareFile()));
    EXPECT_EQ('i', ReadFileBytes(BareFile()).at(0)) << "no mark in a file that was there";
}

} // namespace
