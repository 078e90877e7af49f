#include "tests/standins/harness.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace standintest {

namespace {

std::wstring ScratchName()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return L"standins\\" + testsupport::Widen(std::string(test->test_suite_name()) + "." + test->name());
}

} // namespace

CStandinCopy::CStandinCopy(const wchar_t* builtDll, const wchar_t* fileName, const wchar_t* switchKey)
    : m_sFolder(testsupport::MakeScratchFolder(ScratchName())), m_sPath(m_sFolder + L"\\" + fileName),
      m_sSwitchKey(std::wstring(L"Software\\KorvalinStandins\\") + switchKey)
{
    testsupport::DeleteKeyTree(m_sSwitchKey.c_str());
    EXPECT_TRUE(CopyFileW(builtDll, m_sPath.c_str(), FALSE)) << testsupport::Narrow(builtDll);
}

CStandinCopy::~CStandinCopy()
{
    Free();
    testsupport::DeleteKeyTree(m_sSwitchKey.c_str());
}

bool CStandinCopy::Load()
{
    m_hModule = LoadLibraryW(m_sPath.c_str());
    EXPECT_NE(nullptr, m_hModule) << testsupport::Narrow(m_sPath) << ": " << GetLastError();
    if (!m_hModule)
        return false;
    m_pfnGetFactory = reinterpret_cast<PFN_KRV_GETFACTORY>(
        reinterpret_cast<void*>(GetProcAddress(m_hModule, KRV_GETFACTORY_EXPORT)));
    m_pfnGetObjectCount = reinterpret_cast<PFN_KRV_GETOBJECTCOUNT>(
        reinterpret_cast<void*>(GetProcAddress(m_hModule, KRV_GETOBJECTCOUNT_EXPORT)));
    EXPECT_NE(nullptr, m_pfnGetFactory);
    EXPECT_NE(nullptr, m_pfnGetObjectCount);
    return m_pfnGetFactory && m_pfnGetObjectCount;
}

void CStandinCopy::Free()
{
    if (m_hModule)
        FreeLibrary(m_hModule);
    m_hModule = nullptr;
}

void* CStandinCopy::Create(const KRVGUID& id)
{
    IKrvFactory* factory = nullptr;
    EXPECT_EQ(KRV_S_OK, m_pfnGetFactory(id, &factory));
    if (!factory)
        return nullptr;
    void* object = nullptr;
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(factory, 3, &id, &object));
    Release(factory);
    return object;
}

std::string CStandinCopy::ReadText(const std::wstring& name) const
{
    const std::vector<unsigned char> bytes = testsupport::ReadFileBytes(File(name));
    return std::string(bytes.begin(), bytes.end());
}

void CStandinCopy::WriteText(const std::wstring& name, const std::string& utf8) const
{
    testsupport::WriteFileBytes(File(name), std::vector<unsigned char>(utf8.begin(), utf8.end()));
}

std::vector<std::string> CStandinCopy::JournalLines(const std::wstring& name) const
{
    return testsupport::SplitLines(ReadText(name));
}

void CStandinCopy::SetSwitch(const wchar_t* name, const std::wstring& value) const
{
    testsupport::SetString(m_sSwitchKey.c_str(), name, value);
}

void CStandinCopy::SetSwitch(const wchar_t* name, DWORD value) const
{
    testsupport::SetDword(m_sSwitchKey.c_str(), name, value);
}

bool JournalHolds(const std::vector<std::string>& journal, const std::vector<std::string>& expected)
{
    auto at = journal.begin();
    for (const std::string& line : expected) {
        at = std::find(at, journal.end(), line);
        if (at == journal.end()) {
            ADD_FAILURE() << "journal lacks, in its place: " << line;
            return false;
        }
        ++at;
    }
    return true;
}

} // namespace standintest
