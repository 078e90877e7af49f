// UnloadSubmissionService in the real msiexec with the logging switches and the shared-runtime
// folder value of every odd kind: the installation succeeds, the log shows exactly the lines the
// threshold lets through, and no registry value is rewritten.
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kPackage[] = L"unloadservice";
const std::string kEngine = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kServices = "[Submission]\n" + kEngine + "|ORBSubmissionEngine\n";
const std::string kUnloaded = "[Submission]\n";

const Lines kVerbose = {"KRVL: Shutting down the submission service...",
                        "KRVL: Service control initialization succeeded.  Stopping the service",
                        "KRVL: Exiting Submission service shutdown.  Result: 0x00000000"};

void SetRawString(const wchar_t* subKey, const wchar_t* name, DWORD type, const std::wstring& text)
{
    SetRaw(subKey, name, type, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

class UnloadServiceFaultTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override
    {
        m_runtime.reset();
        DeleteKeyTree(kKorvalinKey);
        const RegistryView other(KEY_WOW64_64KEY);
        DeleteKeyTree(kKorvalinKey);
    }

    void Reset()
    {
        TearDown();
        m_runtime = std::make_unique<CSharedRuntime>();
        m_runtime->SetServices(kServices);
    }

    // Installs and removes the package; checks that the value the case planted is as it was.
    Lines InstallAndRemove(const wchar_t* subKey, const wchar_t* name)
    {
        const std::optional<RegValue> before = GetRaw(subKey, name);
        const Lines lines = testsupport::InstallAndRemove(kPackage);
        const std::optional<RegValue> after = GetRaw(subKey, name);
        EXPECT_EQ(before.has_value(), after.has_value());
        if (before && after) {
            EXPECT_EQ(before->type, after->type) << "the value is not rewritten";
            EXPECT_EQ(before->data, after->data) << "the value is not rewritten";
        }
        return lines;
    }

    std::unique_ptr<CSharedRuntime> m_runtime;
};

TEST_F(UnloadServiceFaultTest, MsiLoggingOfEveryKindSetsTheThreshold)
{
    struct Case {
        const char* what;
        std::function<void()> set;
        bool verbose;
    };
    const std::vector<Case> cases = {
        {"a number, not a string", [] { SetDword(kKorvalinKey, L"MsiLogging", 2); }, false},
        {"an expandable string", [] { SetString(kKorvalinKey, L"MsiLogging", L"2", REG_EXPAND_SZ); }, true},
        {"binary text", [] { SetRawString(kKorvalinKey, L"MsiLogging", REG_BINARY, std::wstring(L"2", 2)); }, false},
        {"empty", [] { SetString(kKorvalinKey, L"MsiLogging", L""); }, false},
        {"leading digits", [] { SetString(kKorvalinKey, L"MsiLogging", L"2x"); }, true},
        {"longer than two characters", [] { SetString(kKorvalinKey, L"MsiLogging", L"200"); }, false},
        {"over-long", [] { SetString(kKorvalinKey, L"MsiLogging", std::wstring(5000, L'2')); }, false},
        {"a level above verbose", [] { SetString(kKorvalinKey, L"MsiLogging", L"4"); }, true},
        {"an unknown level", [] { SetString(kKorvalinKey, L"MsiLogging", L"3"); }, false},
        {"no digits", [] { SetString(kKorvalinKey, L"MsiLogging", L"x2"); }, false},
        {"in the 64-bit view only",
         [] {
             const RegistryView view(KEY_WOW64_64KEY);
             SetString(kKorvalinKey, L"MsiLogging", L"2");
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.set();
        EXPECT_EQ(c.verbose ? kVerbose : Lines{}, InstallAndRemove(kKorvalinKey, L"MsiLogging"));
        EXPECT_EQ(kUnloaded, m_runtime->Services()) << "the engine is unloaded all the same";
    }
}

TEST_F(UnloadServiceFaultTest, DebugLogSwitchesOfWrongTypesChangeNoInstallerLine)
{
    struct Case {
        const wchar_t* name;
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<Case> cases = {
        {L"DebugLog", "a string", REG_SZ, {'1', 0, 0, 0}},
        {L"DebugLog", "eight bytes", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}},
        {L"DebugLog", "a 64-bit number", REG_QWORD, {4, 0, 0, 0, 0, 0, 0, 0}},
        {L"DebugLog", "empty binary", REG_BINARY, {}},
        {L"MsiDebugLog", "a list of strings", REG_MULTI_SZ, {'x', 0, 0, 0, 0, 0}},
        {L"MsiDebugLog", "one byte", REG_BINARY, {4}},
        {L"MsiDebugLog", "over-long", REG_BINARY, std::vector<BYTE>(70000, 0xFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " " + c.what);
        Reset();
        SetString(kKorvalinKey, L"MsiLogging", L"2");
        SetRaw(kKorvalinKey, c.name, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(kVerbose, InstallAndRemove(kKorvalinKey, c.name));
        EXPECT_EQ(kUnloaded, m_runtime->Services());
    }
}

TEST_F(UnloadServiceFaultTest, UnusableSharedRuntimeValueLeavesTheEngineAlone)
{
    struct Case {
        const char* what;
        std::function<void()> set;
    };
    // Each falls back to the common files folder, where no service host is installed.
    const std::vector<Case> cases = {
        {"empty", [] { SetString(kInstalledAppsKey, L"Shared Runtime", L""); }},
        {"a number", [] { SetDword(kInstalledAppsKey, L"Shared Runtime", 1); }},
        {"binary", [] { SetRawString(kInstalledAppsKey, L"Shared Runtime", REG_BINARY, L"C:\\"); }},
        {"over-long", [] { SetString(kInstalledAppsKey, L"Shared Runtime", L"C:\\" + std::wstring(5000, L's')); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        SetString(kKorvalinKey, L"MsiLogging", L"2");
        c.set();
        EXPECT_EQ(kVerbose, InstallAndRemove(kInstalledAppsKey, L"Shared Runtime"));
        EXPECT_EQ(kServices, m_runtime->Services());
        EXPECT_TRUE(m_runtime->ServiceJournal().empty()) << "the service host is never loaded";
    }
}

TEST_F(UnloadServiceFaultTest, SharedRuntimeValueWithTrailingBackslashesStillFindsTheHost)
{
    SetString(kKorvalinKey, L"MsiLogging", L"2");
    SetString(kInstalledAppsKey, L"Shared Runtime", m_runtime->Directory() + L"\\\\\\");
    EXPECT_EQ(kVerbose, InstallAndRemove(kInstalledAppsKey, L"Shared Runtime"));
    EXPECT_EQ(kUnloaded, m_runtime->Services());
}

// A host call that fails while the engine is looked for only hides the engine: the action says it
// succeeded and nothing is unloaded. The module's name alone is not needed to unload it.
TEST_F(UnloadServiceFaultTest, HostFailuresWhileLookingForTheEngine)
{
    struct Case {
        const wchar_t* call;
        bool unloaded;
    };
    const std::vector<Case> cases = {
        {L"GetFactory", false},
        {L"IKrvFactory.CreateInstance", false},
        {L"IServiceConfigCollection.GetItem", false},
        {L"IServiceConfig.GetLoadedModules", false},
        {L"IModuleCollection.GetItem", false},
        {L"IServiceModule.GetPath", false},
        {L"IServiceModule.GetName", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.call));
        Reset();
        SetString(kKorvalinKey, L"MsiLogging", L"2");
        CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", c.call);
        EXPECT_EQ(kVerbose, InstallAndRemove(kKorvalinKey, L"MsiLogging"));
        EXPECT_EQ(c.unloaded ? kUnloaded : kServices, m_runtime->Services());
        // The call was made and failed.
        const std::wstring call(c.call);
        const std::string operation = Narrow(call.substr(call.find(L'.') + 1)) + "(";
        size_t failed = 0;
        for (const std::string& line : m_runtime->ServiceJournal())
            if (line.find(operation) != std::string::npos &&
                (line.find("-> 0x8001FFFF") != std::string::npos || line.find("-> false") != std::string::npos))
                ++failed;
        EXPECT_LE(1u, failed);
    }
}

} // namespace
