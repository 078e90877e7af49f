// The service control against the service host stand-in: which module it finds, what it asks the
// host, and that it leaves nothing of the host loaded.
#include "service/servicecontrol.h"
#include "tests/common/tracecapture.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using clfs::update::CServiceControl;
using servicetest::CSharedRuntime;
using Lines = std::vector<std::string>;

namespace {

const std::string kEngine = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kRunning = "[Submission]\n" + kEngine + "|ORBSubmissionEngine\n";

class ServiceControlTest : public testing::Test {
protected:
    // How many calls of the host's journal contain the text.
    long HostCalls(const std::string& text) const
    {
        const Lines journal = m_runtime.ServiceJournal();
        return std::count_if(journal.begin(), journal.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    // Every object of the host and the verifier released and the host freed.
    void ExpectHostFreed() const
    {
        const Lines journal = m_runtime.ServiceJournal();
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(servicetest::kUnloadedClean, journal.back());
        EXPECT_EQ(nullptr, GetModuleHandleW(m_runtime.ServiceHostPath().c_str()));
        const Lines trust = m_runtime.TrustJournal();
        ASSERT_FALSE(trust.empty());
        EXPECT_EQ(servicetest::kUnloadedClean, trust.back());
    }

    CSharedRuntime m_runtime;
};

TEST_F(ServiceControlTest, UnloadsTheEngineFromTheFirstConfigurationThatHasItLoaded)
{
    const std::string others = "[Antivirus]\nC:\\Scanner\\scan.dll|Scanner\nC:\\Tools\\helper.dll\n";
    m_runtime.SetServices(others + kRunning + "[Backup]\n" + kEngine + "|ORBSubmissionEngine\n");
    {
        CServiceControl control;
        EXPECT_EQ(0, control.Initialize(false));
        EXPECT_EQ(0, control.StopService());
    }
    EXPECT_EQ(others + "[Submission]\n[Backup]\n" + kEngine + "|ORBSubmissionEngine\n", m_runtime.Services());
    // Each object is released as soon as the search is done with it, the host's last after the
    // unload; only then is the host freed.
    const Lines order = {
        "IServiceModule[Antivirus/0] destroyed",
        "IModuleCollection[Antivirus].GetItem(1) -> true",
        "IServiceConfig[Antivirus] destroyed",
        "IServiceConfigCollection.GetItem(1) -> true, [Submission]",
        "IServiceModule[Submission/0] destroyed",
        "IServiceConfigCollection destroyed",
        "IServiceConfig[Submission].UnloadModule(\"" + kEngine + "\") -> 0x00010000",
        "IServiceConfig[Submission] destroyed",
        "IServiceManager destroyed",
        servicetest::kUnloadedClean,
    };
    const Lines journal = m_runtime.ServiceJournal();
    auto at = journal.begin();
    for (const std::string& line : order) {
        at = std::find(at, journal.end(), line);
        ASSERT_NE(journal.end(), at) << "missing or out of order: " << line;
        ++at;
    }
    EXPECT_EQ(0, HostCalls("GetItem(2)")) << "the search ends at the first find";
    EXPECT_EQ(0, HostCalls(".LoadModule(")) << "no restart without being asked";
    ExpectHostFreed();
}

// The destructor loads the module again with the path and name the host reported, or under
// "ORBSubmissionEngine" when it reported none; the file name matches without regard to case.
TEST_F(ServiceControlTest, RestartLoadsTheModuleAsTheHostReportedIt)
{
    const struct {
        std::string module;
        std::string reloaded;
    } cases[] = {
        {kEngine + "|Engine A", kEngine + "|Engine A"},
        {kEngine, kEngine + "|ORBSubmissionEngine"},
        {"C:\\Program Files\\X\\VEXCORE.DLL|Upper", "C:\\Program Files\\X\\VEXCORE.DLL|Upper"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        m_runtime.SetServices("[Submission]\n" + c.module + "\n");
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StopService());
            EXPECT_EQ("[Submission]\n", m_runtime.Services());
        }
        EXPECT_EQ("[Submission]\n" + c.reloaded + "\n", m_runtime.Services());
        ExpectHostFreed();
    }
}

TEST_F(ServiceControlTest, StopsOnceAndStartsOnlyWhatItStopped)
{
    m_runtime.SetServices(kRunning);
    CServiceControl control;
    EXPECT_EQ(0, control.Initialize(false));
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(0, control.StopService());
    EXPECT_EQ(0, control.StopService());
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(1, HostCalls(".UnloadModule("));
    EXPECT_EQ(1, HostCalls(".LoadModule("));
    EXPECT_EQ(kRunning, m_runtime.Services());
}

// An engine that is not loaded anywhere, or a host that cannot be reached: Initialize succeeds,
// nothing is unloaded and the restart does nothing. A host that cannot be created shows only in
// the trace line support engineers look for.
TEST_F(ServiceControlTest, EngineNotFoundCountsAsNotRunning)
{
    const std::wstring host = m_runtime.ServiceHostPath();
    const struct {
        const char* what;
        std::string services;
        std::function<void()> plant;
        std::string line;
    } cases[] = {
        {"another module", "[Submission]\nC:\\Engine\\vexcore2.dll|Other\n", [] {}, ""},
        {"nothing running", "", [] {}, ""},
        {"host refused", "", [] { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll"); },
         "Failed to create svc manager: 0x80010303"},
        {"no factory", "", [] { CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"GetFactory"); },
         "Failed to create svc manager: 0x8001FFFF"},
        {"no host", "", [host] { DeleteFileW(host.c_str()); }, "Failed to create svc manager: 0x80010300"},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_runtime.SetServices(c.services);
        c.plant();
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StopService());
        }
        EXPECT_NE(std::string::npos, capture.Take().find(c.line));
        EXPECT_EQ(c.services, m_runtime.Services());
        EXPECT_EQ(0, HostCalls("LoadModule("));
        EXPECT_EQ(nullptr, GetModuleHandleW(host.c_str()));
        CSharedRuntime::ClearSwitches();
    }
}

// Failures of single host calls: the search goes on past a configuration or module it cannot
// read; a failed call that the operation needs is its result, unchanged.
TEST_F(ServiceControlTest, HostFailuresAreReturnedUnchanged)
{
    const std::string engine = kEngine + "|ORBSubmissionEngine\n";
    const std::string deep = "C:\\" + std::string(260, 'd') + "\\vexcore.dll\n";
    const struct {
        const char* what;
        std::string services;
        const wchar_t* failCall;
        const wchar_t* failMatch;
        unsigned long initialize;
        unsigned long stop;
        std::string stopped; // the services after the stop
    } cases[] = {
        {"running services", kRunning, L"IServiceManager.GetRunningServices", L"", 0x80000100, 0, kRunning},
        {"configuration 0", "[A]\n" + engine + "[B]\n" + engine, L"IServiceConfigCollection.GetItem", L"(0)", 0, 0,
         "[A]\n" + engine + "[B]\n"},
        {"loaded modules", "[A]\n" + engine + "[B]\n" + engine, L"IServiceConfig.GetLoadedModules", L"[A]", 0, 0,
         "[A]\n" + engine + "[B]\n"},
        {"module 0", "[A]\nC:\\x.dll\n" + engine, L"IModuleCollection.GetItem", L"(0)", 0, 0, "[A]\nC:\\x.dll\n"},
        {"module path", "[A]\n" + engine, L"IServiceModule.GetPath", L"", 0, 0, "[A]\n" + engine},
        {"empty path", "[A]\n|Nameless\n", L"", L"", 0, 0, "[A]\n|Nameless\n"},
        {"unsplittable path", "[A]\n" + deep, L"", L"", 0, 0, "[A]\n" + deep},
        {"unload", "[A]\n" + engine, L"IServiceConfig.UnloadModule", L"", 0, 0x8001FFFF, "[A]\n" + engine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_runtime.SetServices(c.services);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", c.failCall);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailMatch", c.failMatch);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailResult", c.initialize ? c.initialize : 0x8001FFFFu);
        {
            CServiceControl control;
            EXPECT_EQ(static_cast<long>(c.initialize), control.Initialize(false));
            EXPECT_EQ(static_cast<long>(c.stop), control.StopService());
            EXPECT_EQ(c.stopped, m_runtime.Services());
            if (c.stop) {
                CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"none");
                EXPECT_EQ(0, control.StopService()) << "still not stopped after the failure";
                EXPECT_EQ("[A]\n", m_runtime.Services());
            }
        }
        ExpectHostFreed();
    }
}

TEST_F(ServiceControlTest, FailedRestartKeepsTheModuleStopped)
{
    m_runtime.SetServices(kRunning);
    CServiceControl control;
    EXPECT_EQ(0, control.Initialize(false));
    EXPECT_EQ(0, control.StopService());
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"IServiceConfig.LoadModule");
    CSharedRuntime::SetSwitch(L"srSvc", L"FailResult", 0x80010204);
    EXPECT_EQ(static_cast<long>(0x80010204), control.StartService());
    EXPECT_EQ("[Submission]\n", m_runtime.Services());
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"none");
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(kRunning, m_runtime.Services());
}

} // namespace
