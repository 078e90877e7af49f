// UnloadSubmissionService in the real msiexec, against the service host and trust verifier
// stand-ins placed where the registry says the shared runtime lives.
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

const std::string kEngine = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kScanner = "[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n";
const std::string kBackup = "[Backup]\n" + kEngine + "|Backup\n";

TEST(UnloadSubmissionServiceTest, UnloadsTheEngineFromItsConfigurationAndLeavesItStopped)
{
    DeleteKeyTree(kKorvalinKey);
    servicetest::CSharedRuntime runtime;
    runtime.SetServices(kScanner + "[Submission]\n" + kEngine + "|ORBSubmissionEngine\n" + kBackup);
    {
        InstallationRuns runs(L"unloadservice");
        SetString(kKorvalinKey, L"MsiLogging", L"2");
        EXPECT_EQ((Lines{"KRVL: Shutting down the submission service...",
                         "KRVL: Service control initialization succeeded.  Stopping the service",
                         "KRVL: Exiting Submission service shutdown.  Result: 0x00000000"}),
                  runs.Run());
    }
    EXPECT_EQ(kScanner + "[Submission]\n" + kBackup, runtime.Services()) << "the search ends with the find";
    Lines calls;
    for (const std::string& line : runtime.ServiceJournal())
        if (line.find("Module(") != std::string::npos)
            calls.push_back(line);
    EXPECT_EQ(Lines{"IServiceConfig[Submission].UnloadModule(\"" + kEngine + "\") -> 0x00010000"}, calls)
        << "no restart";
    const Lines trust = runtime.TrustJournal();
    EXPECT_NE(trust.end(), std::find(trust.begin(), trust.end(),
                                     "IVerifyTrustBase.VerifyFile(\"" + Narrow(runtime.ServiceHostPath()) +
                                         "\", false) -> eVerifyTrusted"));
    for (const Lines& journal : {runtime.ServiceJournal(), trust})
        EXPECT_EQ(servicetest::kUnloadedClean, journal.back());
    DeleteKeyTree(kKorvalinKey);
}

} // namespace
