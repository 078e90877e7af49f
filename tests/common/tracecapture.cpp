#include "tests/common/tracecapture.h"

#include "support/trace.h"
#include "tests/common/files.h"
#include "tests/common/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace supporttest {
namespace {

// Reads a file that another handle may hold open for writing.
std::string ReadSharedUtf16(const std::wstring& path, size_t fromByte)
{
    const std::vector<unsigned char> bytes = testsupport::ReadFileBytes(path);
    if (fromByte >= bytes.size())
        return std::string();
    return testsupport::Narrow(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + fromByte),
                                            (bytes.size() - fromByte) / sizeof(wchar_t)));
}

} // namespace

CTraceCapture::CTraceCapture()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::wstring folder = testsupport::MakeScratchFolder(L"trace-" + testsupport::Widen(test->test_suite_name()) +
                                                               L"-" + testsupport::Widen(test->name()));
    m_path = folder + L"\\submca.log";
    // Past the byte-order mark of the new file.
    m_consumed = sizeof(wchar_t);
    for (auto set : {&srLib::CDebugOutput::SetOutputToDebugger, &srLib::CDebugOutput::SetPrependDateTime,
                     &srLib::CDebugOutput::SetPrependModuleName, &srLib::CDebugOutput::SetPrependProcessId,
                     &srLib::CDebugOutput::SetPrependThreadId, &srLib::CDebugOutput::SetAppendNewLine,
                     &srLib::CDebugOutput::SetAppendProcessIdToFile})
        (g_DebugOutput.*set)(0);
    g_DebugOutput.SetPrependType(1);
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
