// The service control against the service host stand-in: which module it finds, what it asks the
// host, what it traces, and that it leaves nothing of the host loaded.
#include "service/servicecontrol.h"
#include "support/trace.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
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

const std::string kInit = "long __thiscall clfs::update::CServiceControl::Initialize(bool) : ";
const std::string kStop = "long __thiscall clfs::update::CServiceControl::StopService(void) : ";
const std::string kStart = "long __thiscall clfs::update::CServiceControl::StartServiceW(void) : ";
const std::string kDtor = "__thiscall clfs::update::CServiceControl::~CServiceControl(void) : ";
const std::string kNotAttempting = "Warning : " + kDtor + "NOT attempting to auto-restart the submission service";
const std::string kNotRunning = "Warning : " + kStop + "Service was not running, can't stop";

const char kScanner[] = "C:\\Program Files\\Korvalin\\Scanner\\scan.dll";
const char kEngine[] = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";

// The service control's trace lines and those of the result mapping, one "<type> : <message>"
// each, in order.
class CServiceTrace {
public:
    CServiceTrace() { g_DebugOutput.SetAppendNewLine(1); }
    ~CServiceTrace() { g_DebugOutput.SetAppendNewLine(0); }

    Lines Take()
    {
        Lines lines;
        for (const std::string& line : testsupport::SplitLines(m_capture.Take()))
            if (line.find("clfs::") != std::string::npos)
                lines.push_back(line);
        return lines;
    }

private:
    supporttest::CTraceCapture m_capture;
};

class ServiceControlTest : public testing::Test {
protected:
    // The journal of the service host without its loading and factory lines.
    Lines HostCalls() const
    {
        Lines calls;
        for (const std::string& line : m_runtime.ServiceJournal())
            if (line.rfind("IService", 0) == 0 || line.rfind("IModule", 0) == 0)
                calls.push_back(line);
        return calls;
    }

    // Every object of the host released and the host freed.
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
    CServiceTrace m_trace;
};

TEST_F(ServiceControlTest, UnloadsTheEngineFromTheFirstConfigurationThatHasItLoaded)
{
    m_runtime.SetServices(std::string("[Antivirus]\n") + kScanner + "|Scanner\nC:\\Tools\\helper.dll\n[Submission]\n" +
                          kEngine + "|ORBSubmissionEngine\n[Backup]\n" + kEngine + "|ORBSubmissionEngine\n");
    {
        CServiceControl control;
        EXPECT_EQ(0, control.Initialize(false));
        EXPECT_EQ(0, control.StopService());
    }
    const Lines expected = {
        "Information : " + kInit + "3 running services",
        "Information : " + kInit + "Module path = [" + kScanner + "]",
        "Warning : " + kInit + "scan != vexcore.dll",
        "Information : " + kInit + "Module path = [C:\\Tools\\helper.dll]",
        "Warning : " + kInit + "helper != vexcore.dll",
        "Information : " + kInit + "Module path = [" + kEngine + "]",
        "Information : " + kInit + "Found vexcore.dll",
        kNotAttempting,
    };
    EXPECT_EQ(expected, m_trace.Take());
    EXPECT_EQ(std::string("[Antivirus]\n") + kScanner + "|Scanner\nC:\\Tools\\helper.dll\n[Submission]\n[Backup]\n" +
                  kEngine + "|ORBSubmissionEngine\n",
              m_runtime.Services());
    // Each object is released as soon as the search is done with it, the host's last after the
    // unload; only then is the host freed.
    const std::string scanner = kScanner;
    const std::string engine = kEngine;
    EXPECT_EQ((Lines{
                  "load",
                  "GetFactory({3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}) -> 0x00010000",
                  "IKrvFactory.CreateInstance({3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}) -> 0x00010000",
                  "IKrvFactory destroyed",
                  "IServiceManager.GetRunningServices() -> 0x00010000",
                  "IServiceConfigCollection.GetCount() -> 3",
                  "IServiceConfigCollection.GetItem(0) -> true, [Antivirus]",
                  "IServiceConfig[Antivirus].GetLoadedModules() -> 0x00010000",
                  "IModuleCollection[Antivirus].GetCount() -> 2",
                  "IModuleCollection[Antivirus].GetItem(0) -> true",
                  "IServiceModule[Antivirus/0].GetPath() -> 0x00010000, \"" + scanner + "\"",
                  "IServiceModule[Antivirus/0].GetName() -> 0x00010000, \"Scanner\"",
                  "IServiceModule[Antivirus/0] destroyed",
                  "IModuleCollection[Antivirus].GetItem(1) -> true",
                  "IServiceModule[Antivirus/1].GetPath() -> 0x00010000, \"C:\\Tools\\helper.dll\"",
                  "IServiceModule[Antivirus/1].GetName() -> 0x00010001, null",
                  "IServiceModule[Antivirus/1] destroyed",
                  "IModuleCollection[Antivirus] destroyed",
                  "IServiceConfig[Antivirus] destroyed",
                  "IServiceConfigCollection.GetItem(1) -> true, [Submission]",
                  "IServiceConfig[Submission].GetLoadedModules() -> 0x00010000",
                  "IModuleCollection[Submission].GetCount() -> 1",
                  "IModuleCollection[Submission].GetItem(0) -> true",
                  "IServiceModule[Submission/0].GetPath() -> 0x00010000, \"" + engine + "\"",
                  "IServiceModule[Submission/0].GetName() -> 0x00010000, \"ORBSubmissionEngine\"",
                  "IServiceModule[Submission/0] destroyed",
                  "IModuleCollection[Submission] destroyed",
                  "IServiceConfigCollection destroyed",
                  "IServiceConfig[Submission].UnloadModule(\"" + engine + "\") -> 0x00010000",
                  "IServiceConfig[Submission] destroyed",
                  "IServiceManager destroyed",
                  servicetest::kUnloadedClean,
              }),
              m_runtime.ServiceJournal());
    ExpectHostFreed();
}

// The destructor loads the module again with the path and name the host reported, or under
// "ORBSubmissionEngine" when it reported none; the file name matches without regard to case.
TEST_F(ServiceControlTest, RestartLoadsTheModuleAsTheHostReportedIt)
{
    struct Case {
        std::string module;
        std::string loaded;
    };
    const std::vector<Case> cases = {
        {std::string(kEngine) + "|Engine A", std::string(kEngine) + "\", \"Engine A"},
        {kEngine, std::string(kEngine) + "\", \"ORBSubmissionEngine"},
        {"C:\\Program Files\\X\\VEXCORE.DLL|Upper", "C:\\Program Files\\X\\VEXCORE.DLL\", \"Upper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module);
        const std::string services = "[Submission]\n" + c.module + "\n";
        m_runtime.SetServices(services);
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StopService());
            EXPECT_EQ("[Submission]\n", m_runtime.Services());
        }
        const Lines lines = m_trace.Take();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ((Lines{"Information : " + kDtor + "Attempting to auto-restart the submission service",
                         "Information : " + kDtor + "Done."}),
                  Lines(lines.end() - 2, lines.end()));
        const Lines calls = HostCalls();
        EXPECT_EQ((Lines{"IServiceConfig[Submission].LoadModule(\"" + c.loaded + "\") -> 0x00010000",
                         "IServiceConfig[Submission] destroyed", "IServiceManager destroyed"}),
                  Lines(calls.end() - std::min<size_t>(calls.size(), 3), calls.end()));
        const std::string reloaded =
            c.module.find('|') == std::string::npos ? c.module + "|ORBSubmissionEngine" : c.module;
        EXPECT_EQ("[Submission]\n" + reloaded + "\n", m_runtime.Services());
        ExpectHostFreed();
    }
}

TEST_F(ServiceControlTest, StopsOnceAndStartsOnlyWhatItStopped)
{
    m_runtime.SetServices(std::string("[Submission]\n") + kEngine + "|ORBSubmissionEngine\n");
    CServiceControl control;
    EXPECT_EQ(0, control.Initialize(false));
    m_trace.Take();
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(0, control.StopService());
    EXPECT_EQ(0, control.StopService());
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ((Lines{"Warning : " + kStart + "Service running, but has not been stopped yet",
                     "Warning : " + kStop + "Svc already stopped",
                     "Warning : " + kStart + "Service running, but has not been stopped yet"}),
              m_trace.Take());
    const Lines calls = HostCalls();
    EXPECT_EQ(1, std::count_if(calls.begin(), calls.end(), [](const std::string& line) {
                  return line.find(".UnloadModule(") != std::string::npos;
              }));
    EXPECT_EQ(1, std::count_if(calls.begin(), calls.end(),
                               [](const std::string& line) { return line.find(".LoadModule(") != std::string::npos; }));
}

// An engine that is not loaded anywhere, or a host that cannot be reached: Initialize succeeds,
// nothing is unloaded and the restart of the update flow does nothing.
TEST_F(ServiceControlTest, EngineNotFoundCountsAsNotRunning)
{
    struct Case {
        const char* what;
        std::string services;
        std::function<void()> plant;
        Lines searchLines;
    };
    const std::wstring host = m_runtime.ServiceHostPath();
    const std::vector<Case> cases = {
        {"another module",
         "[Submission]\nC:\\Engine\\vexcore2.dll|Other\n",
         [] {},
         {"Information : " + kInit + "1 running services",
          "Information : " + kInit + "Module path = [C:\\Engine\\vexcore2.dll]",
          "Warning : " + kInit + "vexcore2 != vexcore.dll"}},
        {"nothing running", "", [] {}, {"Information : " + kInit + "0 running services"}},
        {"host refused",
         "",
         [] { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll"); },
         {"Error : " + kInit + "Failed to create svc manager: 0x80010303"}},
        {"no factory",
         "",
         [] { CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"GetFactory"); },
         {"Error : " + kInit + "Failed to create svc manager: 0x8001FFFF"}},
        {"no host",
         "",
         [host] { DeleteFileW(host.c_str()); },
         {"Error : " + kInit + "Failed to create svc manager: 0x80010300"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_runtime.SetServices(c.services);
        c.plant();
        {
            CServiceControl control;
            EXPECT_EQ(0, control.Initialize(true));
            EXPECT_EQ(0, control.StopService());
        }
        Lines expected = c.searchLines;
        expected.push_back(kNotRunning);
        expected.push_back("Information : " + kDtor + "Attempting to auto-restart the submission service");
        expected.push_back("Warning : " + kStart + "Service not previously running, ignoring startservice command");
        expected.push_back("Information : " + kDtor + "Done.");
        EXPECT_EQ(expected, m_trace.Take());
        EXPECT_EQ(c.services, m_runtime.Services());
        EXPECT_EQ(nullptr, GetModuleHandleW(host.c_str()));
        CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"none");
        CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"none");
    }
}

// Failures of single host calls: the search goes on past a configuration or module it cannot
// read; a failed call that the operation needs is its result, unchanged.
TEST_F(ServiceControlTest, HostFailuresAreTracedAndReturnedUnchanged)
{
    struct Case {
        const char* what;
        std::string services;
        const wchar_t* failCall;
        const wchar_t* failMatch;
        long initialize;
        long stop;
        Lines lines;
    };
    const std::string engine = std::string(kEngine) + "|ORBSubmissionEngine\n";
    const std::string deep = "C:\\" + std::string(260, 'd') + "\\vexcore.dll";
    const std::vector<Case> cases = {
        {"GetRunningServices",
         "[Submission]\n" + engine,
         L"IServiceManager.GetRunningServices",
         L"",
         static_cast<long>(0x80000100),
         0,
         {"Error : " + kInit + "error: 0x80000100", kNotRunning}},
        {"configuration 0",
         "[A]\n" + engine + "[B]\n" + engine,
         L"IServiceConfigCollection.GetItem",
         L"(0)",
         0,
         0,
         {"Information : " + kInit + "2 running services", "Error : " + kInit + "Failed to get config at index 0",
          "Information : " + kInit + "Module path = [" + kEngine + "]",
          "Information : " + kInit + "Found vexcore.dll"}},
        {"loaded modules",
         "[A]\n" + engine + "[B]\n" + engine,
         L"IServiceConfig.GetLoadedModules",
         L"[A]",
         0,
         0,
         {"Information : " + kInit + "2 running services",
          "Error : " + kInit + "Failed to get loaded modules: 0x8001FFFF",
          "Information : " + kInit + "Module path = [" + kEngine + "]",
          "Information : " + kInit + "Found vexcore.dll"}},
        {"module 0",
         "[A]\nC:\\x.dll\n" + engine,
         L"IModuleCollection.GetItem",
         L"(0)",
         0,
         0,
         {"Information : " + kInit + "1 running services",
          "Information : " + kInit + "Failed to get module 0 from config 0",
          "Information : " + kInit + "Module path = [" + kEngine + "]",
          "Information : " + kInit + "Found vexcore.dll"}},
        {"module path",
         "[A]\n" + engine,
         L"IServiceModule.GetPath",
         L"",
         0,
         0,
         {"Information : " + kInit + "1 running services", "Error : " + kInit + "Failed to get module path: 0x8001FFFF",
          kNotRunning}},
        {"empty path",
         "[A]\n|Nameless\n",
         L"",
         L"",
         0,
         0,
         {"Information : " + kInit + "1 running services", "Error : " + kInit + "Module path is empty", kNotRunning}},
        {"unsplittable path",
         "[A]\n" + deep + "\n",
         L"",
         L"",
         0,
         0,
         {"Information : " + kInit + "1 running services", "Information : " + kInit + "Module path = [" + deep + "]",
          "Error : " + kInit + "Failed to split " + deep, kNotRunning}},
        {"unload",
         "[A]\n" + engine,
         L"IServiceConfig.UnloadModule",
         L"",
         0,
         static_cast<long>(0x8001FFFF),
         {"Information : " + kInit + "1 running services", "Information : " + kInit + "Module path = [" + kEngine + "]",
          "Information : " + kInit + "Found vexcore.dll", "Error : " + kStop + "error: 0x8001FFFF"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_runtime.SetServices(c.services);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", c.failCall);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailMatch", c.failMatch);
        CSharedRuntime::SetSwitch(L"srSvc", L"FailResult",
                                  c.initialize ? static_cast<DWORD>(c.initialize) : 0x8001FFFFu);
        {
            CServiceControl control;
            EXPECT_EQ(c.initialize, control.Initialize(false));
            EXPECT_EQ(c.stop, control.StopService());
            Lines lines = m_trace.Take();
            EXPECT_EQ(c.lines, lines);
            if (c.stop) {
                CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"none");
                EXPECT_EQ(0, control.StopService()) << "still not stopped after the failure";
                EXPECT_EQ("[A]\n", m_runtime.Services());
            }
        }
        m_trace.Take();
        ExpectHostFreed();
    }
}

TEST_F(ServiceControlTest, FailedRestartKeepsTheModuleStopped)
{
    m_runtime.SetServices(std::string("[Submission]\n") + kEngine + "|ORBSubmissionEngine\n");
    CServiceControl control;
    EXPECT_EQ(0, control.Initialize(false));
    EXPECT_EQ(0, control.StopService());
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"IServiceConfig.LoadModule");
    CSharedRuntime::SetSwitch(L"srSvc", L"FailResult", 0x80010204);
    m_trace.Take();
    EXPECT_EQ(static_cast<long>(0x80010204), control.StartService());
    EXPECT_EQ((Lines{"Error : " + kStart + "error: 0x80010204"}), m_trace.Take());
    EXPECT_EQ("[Submission]\n", m_runtime.Services());
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"none");
    EXPECT_EQ(0, control.StartService());
    EXPECT_EQ(std::string("[Submission]\n") + kEngine + "|ORBSubmissionEngine\n", m_runtime.Services());
}

} // namespace
