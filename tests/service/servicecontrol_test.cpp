// The service control against the service host stand-in: what it asks the host, in which order it
// lets go of the host's objects, and that it leaves nothing of the host loaded.
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

// Each object is released as soon as the search is done with it, the host's last after the
// unload; only then is the host freed. The search ends at the first configuration with the engine.
TEST(ServiceControl, ReleasesEveryHostObjectBeforeTheHostIsFreed)
{
    CSharedRuntime runtime;
    const std::string others = "[Antivirus]\nC:\\Scanner\\scan.dll|Scanner\nC:\\Tools\\helper.dll\n";
    runtime.SetServices(others + "[Submission]\n" + kEngine + "|E\n[Backup]\n" + kEngine + "|E\n");
    {
        CServiceControl control;
        EXPECT_EQ(0, control.Initialize(false));
        EXPECT_EQ(0, control.StopService());
    }
    EXPECT_EQ(others + "[Submission]\n[Backup]\n" + kEngine + "|E\n", runtime.Services());
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
    const Lines journal = runtime.ServiceJournal();
    auto at = journal.begin();
    for (const std::string& line : order) {
        at = std::find(at, journal.end(), line);
        ASSERT_NE(journal.end(), at) << "missing or out of order: " << line;
        ++at;
    }
}

// Stopped once however often asked, started only after a stop, and restarted by the destructor
// with the path and name the host reported ("ORBSubmissionEngine" when it reported none); the
// file name matches without regard to case.
TEST(ServiceControl, RestartLoadsTheModuleAsTheHostReportedIt)
{
    const struct {
        std::string module;
        std::string reloaded;
    } cases[] = {
        {kEngine + "|Engine A", kEngine + "|Engine A"},
        {kEngine, kEngine + "|ORBSubmissionEngine"},
        {"C:\\X\\VEXCORE.DLL|Upper", "C:\\X\\VEXCORE.DLL|Upper"},
    };
    CSharedRuntime runtime;
    for (const auto& c : cases) {
        DeleteFileW((runtime.Directory() + L"\\srsvc-journal.txt").c_str());
        runtime.SetServices("[Submission]\n" + c.module + "\n");
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StartService());
            EXPECT_EQ(0, control.StopService());
            EXPECT_EQ(0, control.StopService());
            EXPECT_EQ("[Submission]\n", runtime.Services());
        }
        EXPECT_EQ("[Submission]\n" + c.reloaded + "\n", runtime.Services());
        EXPECT_EQ(servicetest::kUnloadedClean, runtime.ServiceJournal().back());
    }
}

// A host that cannot be created, untrusted or not verified, counts as not running; only the trace
// line support engineers look for tells why. Neither the host nor the verifier stays loaded.
TEST(ServiceControl, HostThatCannotBeCreatedIsTraced)
{
    CSharedRuntime runtime;
    const std::wstring host = runtime.ServiceHostPath();
    const std::wstring verifier = runtime.Directory() + L"\\srVrTrst.dll";
    const struct {
        std::function<void()> plant;
        const char* line;
    } cases[] = {
        {[] { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll"); }, "0x80010303"},
        {[] { CSharedRuntime::SetSwitch(L"srVrTrst", L"FailCall", L"ICachedVerifyTrust.Initialize"); }, "0x8001FFFF"},
        {[&] { MoveFileW(host.c_str(), (host + L".aside").c_str()); }, "0x80010300"},
        {[&] { MoveFileW((host + L".aside").c_str(), host.c_str()) && DeleteFileW(verifier.c_str()); }, "0x80010300"},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        runtime.SetServices("[Submission]\n" + kEngine + "\n");
        c.plant();
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StopService());
        }
        EXPECT_NE(std::string::npos, capture.Take().find(std::string("Failed to create svc manager: ") + c.line));
        EXPECT_EQ("[Submission]\n" + kEngine + "\n", runtime.Services());
        EXPECT_EQ(nullptr, GetModuleHandleW(host.c_str()));
        EXPECT_EQ(nullptr, GetModuleHandleW(verifier.c_str()));
        CSharedRuntime::ClearSwitches();
    }
}

} // namespace
