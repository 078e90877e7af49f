#include "tests/service/sharedruntime.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>

namespace servicetest {

namespace {

std::wstring Scratch(const wchar_t* name)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return testsupport::MakeScratchFolder(
        L"sharedruntime\\" + testsupport::Widen(std::string(test->test_suite_name()) + "." + test->name()) + name);
}

void CopyStandin(const wchar_t* built, const std::wstring& target)
{
    const std::wstring source = std::wstring(SUBMCA_STANDINS_DIR) + L"\\" + built;
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << testsupport::Narrow(source);
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<unsigned char> bytes = testsupport::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

CSharedRuntime::CSharedRuntime() : m_sDirectory(Scratch(L"\\Korvalin Shared")), m_sEngineDirectory(Scratch(L"\\Engine"))
{
    ClearSwitches();
    CopyStandin(L"srsvc\\srSvc.dll", ServiceHostPath());
    CopyStandin(L"srvrtrst\\srVrTrst.dll", m_sDirectory + L"\\srVrTrst.dll");
    CopyStandin(L"vexcore\\vexcore.dll", EnginePath());
    testsupport::SetString(testsupport::kInstalledAppsKey, L"Shared Runtime", m_sDirectory);
    testsupport::SetString(testsupport::kInstalledAppsKey, L"ORBSubmissionEngine", m_sEngineDirectory);
}

CSharedRuntime::~CSharedRuntime()
{
    ClearSwitches();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, testsupport::kInstalledAppsKey, L"Shared Runtime");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, testsupport::kInstalledAppsKey, L"ORBSubmissionEngine");
}

void CSharedRuntime::SetServices(const std::string& services) const
{
    testsupport::WriteFileBytes(m_sDirectory + L"\\srsvc-services.txt",
                                std::vector<unsigned char>(services.begin(), services.end()));
}

std::string CSharedRuntime::Services() const
{
    return ReadText(m_sDirectory + L"\\srsvc-services.txt");
}

std::vector<std::string> CSharedRuntime::ServiceJournal() const
{
    return testsupport::SplitLines(ReadText(m_sDirectory + L"\\srsvc-journal.txt"));
}

std::vector<std::string> CSharedRuntime::TrustJournal() const
{
    return testsupport::SplitLines(ReadText(m_sDirectory + L"\\srvrtrst-journal.txt"));
}

void CSharedRuntime::ClearSwitches()
{
    for (const wchar_t* standin : {L"srSvc", L"srVrTrst", L"vexcore"})
        testsupport::DeleteKeyTree((std::wstring(L"Software\\KorvalinStandins\\") + standin).c_str());
}

void CSharedRuntime::SetSwitch(const wchar_t* standin, const wchar_t* name, const std::wstring& value)
{
    testsupport::SetString((std::wstring(L"Software\\KorvalinStandins\\") + standin).c_str(), name, value);
}

void CSharedRuntime::SetSwitch(const wchar_t* standin, const wchar_t* name, DWORD value)
{
    testsupport::SetDword((std::wstring(L"Software\\KorvalinStandins\\") + standin).c_str(), name, value);
}

} // namespace servicetest
