#include "support/debugoptions.h"
#include "support/debugoutput.h"

#include "tests/common/registry.h"
#include "tests/support/allocation.h"
#include "tests/support/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

using namespace testsupport;
using srKrv::CDebugOptions;
using supporttest::CTraceCapture;

namespace {

const wchar_t kBaseKey[] = L"Software\\Korvalin\\SupportTests\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\SupportTests\\Debug\\DebugOutput";
const wchar_t kModulesKey[] = L"Software\\Korvalin\\SupportTests\\Debug\\DebugOutput\\Modules";
const std::string kModulesMissing = "Information : int __thiscall srLib::CRegistry::Open(struct HKEY__ *,const wchar_t "
                                    "*,unsigned long,int) throw() : RegOpenKeyEx() != ERROR_SUCCESS, Modules, "
                                    "0x00000002\n";

std::vector<DWORD> Numbers(const CDebugOptions& options)
{
    return {options.m_dwDebugType,         options.m_dwOutputToDebugger, options.m_dwOutputToFile,
            options.m_dwAppendProcessIdToFile, options.m_dwPrependThreadId, options.m_dwPrependProcessId,
            options.m_dwPrependDateTime,   options.m_dwPrependModuleName, options.m_dwAppendNewLine,
            options.m_dwPrependType,       options.m_dwExclusiveModules};
}

const wchar_t* const kNumberNames[] = {L"DebugType",        L"OutputToDebugger",  L"OutputToFile",
                                       L"AppendProcessIdToFile", L"PrependThreadId", L"PrependProcessId",
                                       L"PrependDateTime",  L"PrependModuleName", L"AppendNewLine",
                                       L"PrependType",      L"ExclusiveModules"};
const std::vector<DWORD> kDefaults = {0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0};

class DebugOptionsTest : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(kBaseKey); }
    void TearDown() override { DeleteKeyTree(kBaseKey); }
};

TEST_F(DebugOptionsTest, MissingKeyLoadsTheDefaults)
{
    CDebugOptions options;
    options.m_dwDebugType = 3;
    options.m_mapModules[L"stale"] = 1;
    EXPECT_EQ(1, options.Load(kBaseKey));
    EXPECT_EQ(kDefaults, Numbers(options));
    EXPECT_TRUE(options.m_strDirectory.empty());
    EXPECT_TRUE(options.m_mapModules.empty());
}

TEST_F(DebugOptionsTest, ReadsEveryValueAndTheModuleSwitches)
{
    std::vector<DWORD> stored;
    for (size_t i = 0; i < kDefaults.size(); ++i) {
        stored.push_back(kDefaults[i] == 0 ? 7 + static_cast<DWORD>(i) : 0);
        SetDword(kOutputKey, kNumberNames[i], stored.back());
    }
    SetString(kOutputKey, L"Directory", L"%TEMP%\\traces", REG_EXPAND_SZ);
    SetDword(kModulesKey, L"vexcore", 0);
    SetDword(kModulesKey, L"submca", 5);

    CDebugOptions options;
    EXPECT_EQ(1, options.Load(kBaseKey));
    EXPECT_EQ(stored, Numbers(options));
    EXPECT_EQ(L"%TEMP%\\traces", options.m_strDirectory);
    const std::map<std::wstring, DWORD> modules = {{L"submca", 5}, {L"vexcore", 0}};
    EXPECT_EQ(modules, options.m_mapModules);
}

TEST_F(DebugOptionsTest, ValuesOfAnotherTypeLeaveTheDefaults)
{
    const DWORD one = 1;
    SetString(kOutputKey, L"DebugType", L"3");
    SetRaw(kOutputKey, L"OutputToFile", REG_BINARY, &one, sizeof(one));
    SetRaw(kOutputKey, L"PrependType", REG_QWORD, "\0\0\0\0\0\0\0\0", 8);
    SetDword(kOutputKey, L"Directory", 1);
    CTraceCapture capture;
    CDebugOptions options;
    EXPECT_EQ(1, options.Load(kBaseKey));
    EXPECT_EQ(kDefaults, Numbers(options));
    EXPECT_TRUE(options.m_strDirectory.empty());
    const std::string notDword = "Error : int __thiscall srLib::CRegistry::GetNumber(const wchar_t *,unsigned long &) "
                                 "throw() : dwType != REG_DWORD\n";
    const std::string notString = "Error : int __thiscall srLib::CRegistry::GetString(const wchar_t *,class "
                                  "ATL::CStringT<wchar_t,class ATL::StrTraitATL<wchar_t,class "
                                  "ATL::ChTraitsCRT<wchar_t> > > &) throw() : dwType != REG_SZ\n";
    EXPECT_EQ(notDword + notString + notDword + notDword + kModulesMissing, capture.Take());
}

TEST_F(DebugOptionsTest, UnreadableModuleSwitchesFailTheLoad)
{
    struct Case {
        const char* what;
        std::wstring name;
        bool number;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {"a switch that is not a number", L"vexcore", false,
         "Error : int __thiscall srLib::CRegistry::GetNumber(const wchar_t *,unsigned long &) throw() : dwType != "
         "REG_DWORD\nError : CDebugOptions::Load() : mapReg.GetNumber() == FALSE\n"},
        {"a name of 260 characters", std::wstring(260, L'm'), true,
         "Error : CDebugOptions::Load() : mapReg.EnumValue() != ERROR_SUCCESS\n"},
    };
    CTraceCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(kBaseKey);
        SetDword(kModulesKey, L"a-first", 1);
        if (c.number)
            SetDword(kModulesKey, c.name.c_str(), 1);
        else
            SetString(kModulesKey, c.name.c_str(), L"1");
        CDebugOptions options;
        EXPECT_EQ(0, options.Load(kBaseKey));
        EXPECT_EQ(c.trace, capture.Take());
    }
}

TEST_F(DebugOptionsTest, RunningOutOfMemoryFailsTheLoad)
{
    SetDword(kOutputKey, L"DebugType", 1);
    CTraceCapture capture;
    CDebugOptions options;
    supporttest::FailAllocationAfter(0);
    EXPECT_EQ(0, options.Load(kBaseKey));
    supporttest::DisarmAllocationFailure();
    EXPECT_EQ("Error : int __thiscall srKrv::CDebugOptions::Load(const wchar_t *) throw() : CCCATCH : std::bad_alloc, "
                  + std::string(std::bad_alloc().what()) + "\n",
              capture.Take());
}

TEST(DebugOptionsApply, SetsEverySettingThenLetsTheModuleSwitchesDecide)
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
        {"exclusive, module not listed", 2, 1, {{L"vexcore", 1}}, 0},
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
        srLib::CDebugOutput target(L"submca");
        EXPECT_EQ(1, options.Apply(&target));
        EXPECT_EQ(c.level, target.GetLevel());
    }

    CDebugOptions options;
    options.m_dwOutputToDebugger = 0;
    options.m_dwOutputToFile = 1;
    options.m_dwAppendProcessIdToFile = 0;
    options.m_dwPrependThreadId = 0;
    options.m_dwPrependProcessId = 0;
    options.m_dwPrependDateTime = 0;
    options.m_dwPrependModuleName = 0;
    options.m_dwAppendNewLine = 0;
    options.m_dwPrependType = 0;
    options.m_strDirectory = L"C:\\traces";
    srLib::CDebugOutput target(L"submca");
    target.SetDirectory(L"C:\\before");
    EXPECT_EQ(1, options.Apply(&target));
    const std::vector<int> settings = {target.GetOutputToDebugger(),   target.GetOutputToFile(),
                                       target.GetAppendProcessIdToFile(), target.GetPrependThreadId(),
                                       target.GetPrependProcessId(),   target.GetPrependDateTime(),
                                       target.GetPrependModuleName(),  target.GetAppendNewLine(),
                                       target.GetPrependType()};
    EXPECT_EQ(std::vector<int>({0, 1, 0, 0, 0, 0, 0, 0, 0}), settings);
    EXPECT_EQ(std::wstring(L"C:\\traces"), target.GetDirectory());

    options.m_strDirectory.clear();
    EXPECT_EQ(1, options.Apply(&target));
    EXPECT_EQ(std::wstring(L"C:\\traces"), target.GetDirectory()) << "an empty directory changes nothing";
    EXPECT_EQ(0, options.Apply(nullptr));
}

} // namespace
