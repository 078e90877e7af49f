#include "support/debugoptions.h"
#include "support/debugoutput.h"

#include "tests/common/registry.h"
#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

using namespace testsupport;
using srKrv::CDebugOptions;

namespace {

const wchar_t kBaseKey[] = L"Software\\Korvalin\\SupportTests\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\SupportTests\\Debug\\DebugOutput";
const wchar_t kModulesKey[] = L"Software\\Korvalin\\SupportTests\\Debug\\DebugOutput\\Modules";
const wchar_t* const kNames[] = {L"DebugType",       L"OutputToDebugger",  L"OutputToFile",  L"AppendProcessIdToFile",
                                 L"PrependThreadId", L"PrependProcessId",  L"PrependDateTime", L"PrependModuleName",
                                 L"AppendNewLine",   L"PrependType",       L"ExclusiveModules"};
const std::vector<DWORD> kDefaults = {0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0};

std::vector<DWORD> Numbers(const CDebugOptions& o)
{
    return {o.m_dwDebugType,       o.m_dwOutputToDebugger, o.m_dwOutputToFile,      o.m_dwAppendProcessIdToFile,
            o.m_dwPrependThreadId, o.m_dwPrependProcessId, o.m_dwPrependDateTime,   o.m_dwPrependModuleName,
            o.m_dwAppendNewLine,   o.m_dwPrependType,      o.m_dwExclusiveModules};
}

// The options are read from the 64-bit view on 64-bit Windows.
class DebugOptionsTest : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(kBaseKey); }
    void TearDown() override { DeleteKeyTree(kBaseKey); }

    RegistryView m_view{KEY_WOW64_64KEY};
};

TEST_F(DebugOptionsTest, ReadsEveryValueOfItsTypeAndKeepsTheDefaultOtherwise)
{
    CDebugOptions options;
    options.m_mapModules[L"stale"] = 1;
    EXPECT_EQ(1, options.Load(kBaseKey)) << "no key: the defaults";
    EXPECT_EQ(kDefaults, Numbers(options));
    EXPECT_TRUE(options.m_mapModules.empty());

    std::vector<DWORD> stored;
    for (size_t i = 0; i < kDefaults.size(); ++i) {
        stored.push_back(kDefaults[i] == 0 ? 7 + static_cast<DWORD>(i) : 0);
        SetDword(kOutputKey, kNames[i], stored.back());
    }
    SetString(kOutputKey, L"Directory", L"%TEMP%\\traces", REG_EXPAND_SZ);
    SetDword(kModulesKey, L"vexcore", 0);
    SetDword(kModulesKey, L"submca", 5);
    EXPECT_EQ(1, options.Load(kBaseKey));
    EXPECT_EQ(stored, Numbers(options));
    EXPECT_EQ(L"%TEMP%\\traces", options.m_strDirectory);
    EXPECT_EQ((std::map<std::wstring, DWORD>{{L"submca", 5}, {L"vexcore", 0}}), options.m_mapModules);

    DeleteKeyTree(kBaseKey);
    SetString(kOutputKey, L"DebugType", L"3");
    SetRaw(kOutputKey, L"PrependType", REG_QWORD, "\0\0\0\0\0\0\0\0", 8);
    SetDword(kOutputKey, L"Directory", 1);
    EXPECT_EQ(1, options.Load(kBaseKey));
    EXPECT_EQ(kDefaults, Numbers(options));
    EXPECT_TRUE(options.m_strDirectory.empty());
}

TEST_F(DebugOptionsTest, UnreadableModuleSwitchesOrNoMemoryFailTheLoad)
{
    CDebugOptions options;
    SetString(kModulesKey, L"vexcore", L"1");
    EXPECT_EQ(0, options.Load(kBaseKey)) << "a switch that is not a number";
    DeleteKeyTree(kBaseKey);
    SetDword(kModulesKey, std::wstring(260, L'm').c_str(), 1);
    EXPECT_EQ(0, options.Load(kBaseKey)) << "a name longer than 259 characters";
    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(0, options.Load(kBaseKey));
    supporttest::DisarmAllocationFailure();
}

TEST(DebugOptionsApply, ModuleSwitchesDecideTheLevel)
{
    struct Case {
        const char* what;
        DWORD debugType;
        DWORD exclusive;
        std::map<std::wstring, DWORD> modules;
        int level;
    };
    const std::vector<Case> cases = {
        {"no switches", 2, 0, {}, 2},
        {"exclusive without a list", 2, 1, {}, 2},
        {"exclusive, not listed", 2, 1, {{L"vexcore", 1}}, 0},
        {"exclusive, listed in another case", 2, 1, {{L"SUBMCA", 1}}, 2},
        {"a listed number gives the debug type", 3, 0, {{L"SubMca", 7}}, 3},
        {"switched off alone", 2, 0, {{L"submca", 0}, {L"vexcore", 1}}, 0},
        {"another module switched off", 2, 0, {{L"vexcore", 0}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDebugOptions options;
        options.m_dwDebugType = c.debugType;
        options.m_dwExclusiveModules = c.exclusive;
        options.m_mapModules = c.modules;
        options.m_strDirectory = L"C:\\traces";
        srLib::CDebugOutput target(L"submca");
        EXPECT_EQ(1, options.Apply(&target));
        EXPECT_EQ(c.level, target.GetLevel());
        EXPECT_STREQ(L"C:\\traces", target.GetDirectory());
    }
    EXPECT_EQ(0, CDebugOptions().Apply(nullptr));
}

} // namespace
