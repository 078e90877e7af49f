#include "tests/common/tracecapture.h"

#include "support/trace.h"
#include "tests/common/files.h"
#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace supporttest {

std::string ReadSharedUtf16(const std::wstring& path, size_t fromByte)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::vector<char> bytes(GetFileSize(file, nullptr));
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    if (fromByte >= got)
        return std::string();
    return testsupport::Narrow(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + fromByte), (got - fromByte) / sizeof(wchar_t)));
}

CTraceCapture::CTraceCapture()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::wstring folder = testsupport::MakeScratchFolder(
        L"trace-" + testsupport::Widen(test->test_suite_name()) + L"-" + testsupport::Widen(test->name()));
    m_path = folder + L"\\submca.log";
    // Past the byte-order mark of the new file.
    m_consumed = sizeof(wchar_t);
    g_DebugOutput.SetOutputToDebugger(0);
    g_DebugOutput.SetPrependDateTime(0);
    g_DebugOutput.SetPrependModuleName(0);
    g_DebugOutput.SetPrependProcessId(0);
    g_DebugOutput.SetPrependThreadId(0);
    g_DebugOutput.SetPrependType(1);
    g_DebugOutput.SetAppendNewLine(0);
    g_DebugOutput.SetAppendProcessIdToFile(0);
    g_DebugOutput.SetModuleName(L"submca");
    g_DebugOutput.SetDirectory(folder.c_str());
    g_DebugOutput.SetOutputToFile(1);
    g_DebugOutput.SetLevel(1);
}

CTraceCapture::~CTraceCapture()
{
    g_DebugOutput.SetLevel(0);
    g_DebugOutput.SetOutputToFile(0);
}

std::string CTraceCapture::Take()
{
    const std::string text = ReadSharedUtf16(m_path, m_consumed);
    m_consumed += testsupport::Widen(text).size() * sizeof(wchar_t);
    return text;
}

} // namespace supporttest
