// UnloadSubmissionService in the real msiexec, against the service host and trust verifier
// stand-ins placed where the registry says the shared runtime lives.
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kPackage[] = L"unloadservice";
const std::string kEngine = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kServices = "[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n[Submission]\n" +
                              kEngine + "|ORBSubmissionEngine\n[Backup]\n" + kEngine + "|Backup\n";

const char kOpening[] = "KRVL: Shutting down the submission service...";
const char kStopping[] = "KRVL: Service control initialization succeeded.  Stopping the service";

std::string Exiting(const char* result)
{
    return std::string("KRVL: Exiting Submission service shutdown.  Result: ") + result;
}

class UnloadSubmissionServiceTest : public testing::Test {
protected:
    void SetUp() override { Reset(); }

    void TearDown() override
    {
        m_runtime.reset();
        DeleteKeyTree(kKorvalinKey);
    }

    // A fresh shared runtime with the three configurations, for each case of a table.
    void Reset()
    {
        TearDown();
        m_runtime = std::make_unique<CSharedRuntime>();
        m_runtime->SetServices(kServices);
    }

    // Installs and removes the package with "MsiLogging" 2, which lets the verbose lines
    // through, or (0) without the value, at the installer's default threshold; returns the
    // installation's module lines.
    Lines InstallAndRemove(DWORD msiLogging)
    {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKorvalinKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        RegDeleteValueW(key, L"MsiLogging");
        RegCloseKey(key);
        if (msiLogging)
            SetString(kKorvalinKey, L"MsiLogging", std::to_wstring(msiLogging));
        return testsupport::InstallAndRemove(kPackage);
    }

    // Whatever the module loaded, it released every object and freed the library again.
    void ExpectNothingLeftLoaded() const
    {
        for (const Lines& journal : {m_runtime->ServiceJournal(), m_runtime->TrustJournal()}) {
            if (journal.empty())
                continue;
            EXPECT_EQ(servicetest::kUnloadedClean, journal.back());
        }
    }

    Lines HostCalls(const char* operation) const
    {
        Lines calls;
        for (const std::string& line : m_runtime->ServiceJournal())
            if (line.find(operation) != std::string::npos)
                calls.push_back(line);
        return calls;
    }

    std::unique_ptr<CSharedRuntime> m_runtime;
};

TEST_F(UnloadSubmissionServiceTest, UnloadsTheEngineFromItsConfigurationAndLeavesItStopped)
{
    EXPECT_EQ((Lines{kOpening, kStopping, Exiting("0x00000000")}), InstallAndRemove(2));
    EXPECT_EQ("[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n[Submission]\n[Backup]\n" +
                  kEngine + "|Backup\n",
              m_runtime->Services());
    EXPECT_EQ((Lines{"IServiceConfig[Submission].UnloadModule(\"" + kEngine + "\") -> 0x00010000"}),
              HostCalls(".UnloadModule("));
    EXPECT_TRUE(HostCalls(".LoadModule(").empty()) << "no restart";
    EXPECT_TRUE(HostCalls("[Backup]").empty()) << "the search ends with the find";
    const Lines trust = m_runtime->TrustJournal();
    EXPECT_NE(trust.end(), std::find(trust.begin(), trust.end(),
                                     "IVerifyTrustBase.VerifyFile(\"" + Narrow(m_runtime->ServiceHostPath()) +
                                         "\", false) -> eVerifyTrusted"));
    ExpectNothingLeftLoaded();

    // At the installer's default threshold the verbose lines are not logged.
    m_runtime->SetServices(kServices);
    EXPECT_TRUE(InstallAndRemove(0).empty());
    EXPECT_EQ(2u, HostCalls(".UnloadModule(").size());
}

// A host that cannot be reached or an engine that is not loaded: the engine counts as not
// running, the action says that it succeeded, and nothing changes.
TEST_F(UnloadSubmissionServiceTest, EngineThatCannotBeReachedIsLeftAlone)
{
    struct Case {
        const char* what;
        std::function<void(CSharedRuntime&)> plant;
        bool hostLoaded;
    };
    const std::vector<Case> cases = {
        {"no shared runtime value",
         [](CSharedRuntime&) {
             HKEY key = nullptr;
             RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, 0, KEY_SET_VALUE, &key);
             RegDeleteValueW(key, L"Shared Runtime");
             RegCloseKey(key);
         },
         false},
        {"no service host", [](CSharedRuntime& runtime) { DeleteFileW(runtime.ServiceHostPath().c_str()); }, false},
        {"untrusted service host",
         [](CSharedRuntime&) { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll"); }, false},
        {"engine not loaded", [](CSharedRuntime& runtime) { runtime.SetServices("[Antivirus]\nC:\\scan.dll\n"); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.plant(*m_runtime);
        const std::string before = m_runtime->Services();
        EXPECT_EQ((Lines{kOpening, kStopping, Exiting("0x00000000")}), InstallAndRemove(2));
        EXPECT_EQ(before, m_runtime->Services());
        EXPECT_TRUE(HostCalls(".UnloadModule(").empty());
        EXPECT_EQ(c.hostLoaded, !m_runtime->ServiceJournal().empty());
        ExpectNothingLeftLoaded();
    }
}

// A failing host call is logged with the host's own code; only the error lines pass the
// installer's default threshold. The installation succeeds all the same.
TEST_F(UnloadSubmissionServiceTest, HostFailuresAreLoggedWithTheirCode)
{
    struct Case {
        const wchar_t* failCall;
        DWORD msiLogging;
        Lines lines;
    };
    const std::string notRunning =
        "KRVL (Error): Failed to initialize svc Control.  Submission Service not running. hr = 0x80000100";
    const std::string notStopped = "KRVL (Error): Failed to stop the submission service: 0x80000100";
    const std::vector<Case> cases = {
        {L"IServiceManager.GetRunningServices", 2, {kOpening, notRunning, Exiting("0x80000100")}},
        {L"IServiceManager.GetRunningServices", 0, {notRunning}},
        {L"IServiceConfig.UnloadModule", 2, {kOpening, kStopping, notStopped, Exiting("0x80000100")}},
        {L"IServiceConfig.UnloadModule", 0, {notStopped}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.failCall) + " at MsiLogging " + std::to_string(c.msiLogging));
        Reset();
        CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", c.failCall);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailResult", 0x80000100);
        EXPECT_EQ(c.lines, InstallAndRemove(c.msiLogging));
        EXPECT_EQ(kServices, m_runtime->Services());
        ExpectNothingLeftLoaded();
    }
}

} // namespace
