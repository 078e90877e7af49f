// UpdateQSN in the real msiexec: the control file in the engine's data folder, the service host,
// trust verifier and engine stand-ins placed where the registry says the shared runtime lives.
#include "tests/common/files.h"
#include "tests/e2e/updateqsnfixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string kServices = "[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n[Submission]\n" +
                              kEngineModule + "|ORBSubmissionEngine\n";

const std::string kControlFile =
    "<?xml version=\"1.0\"?>\r\n"
    "<scd>\r\n"
    "  <controlSettings scdSequence=\"2026.12.06.1\"/>\r\n"
    "  <product scdVersion=\"1.0\" product=\"Korvalin Antivirus\" productversion=\"11.0\">\r\n"
    "    <control type=\"Submission\" component=\"Scanner\" componentversion=\"3.2\">\r\n"
    "      <server port=\"443\" proto=\"https\">qsn.korvalin.example</server>\r\n"
    "      <probability>100</probability><dailyLimit>50</dailyLimit>\r\n"
    "      <retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours>\r\n"
    "    </control>\r\n"
    "    <control type=\"Detection\" component=\"Scanner\" componentversion=\"3.2\">\r\n"
    "      <server port=\"8443\">ping.korvalin.example</server>\r\n"
    "      <probability>1</probability><dailyLimit>500</dailyLimit>\r\n"
    "      <retryLimitDays>1</retryLimitDays><retryFrequencyMinHours>1</retryFrequencyMinHours>\r\n"
    "    </control>\r\n"
    "  </product>\r\n"
    "  <product scdVersion=\"1.0\" product=\"Korvalin Antivirus\" productversion=\"10.5\">\r\n"
    "    <control type=\"Submission\" component=\"Scanner\" componentversion=\"3.1\">\r\n"
    "      <server port=\"443\">qsn.korvalin.example</server>\r\n"
    "      <probability>20</probability><dailyLimit>10</dailyLimit>\r\n"
    "      <retryLimitDays>3</retryLimitDays><retryFrequencyMinHours>12</retryFrequencyMinHours>\r\n"
    "    </control>\r\n"
    "  </product>\r\n"
    "</scd>\r\n";

// The values one control record gives its configuration, in key order, as the engine stand-in
// stores them: the record's own values and those of its submission type.
Lines ConfigLines(bool submission, const std::string& server, int port, int dailyLimit, int retrySeconds, int magic,
                  int probability, int retryDays, const std::string& productVersion,
                  const std::string& componentVersion)
{
    const std::string path = submission ? "/MUSE/postSuspectSample" : "/postDetectionEvent";
    const std::string id =
        submission ? "{9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}" : "{6E18D0F3-8A27-4B95-B3C6-5F04E71A92D8}";
    const std::string name = submission ? "QSN Sample Submission" : "QSN Detection Ping";
    return {"256=string:" + server,
            "257=dword:" + std::to_string(port),
            "258=string:https",
            "259=string:" + path,
            "260=dword:10485760",
            "261=dword:" + std::to_string(dailyLimit),
            "262=dword:0",
            "263=dword:" + std::to_string(retrySeconds),
            "264=dword:" + std::to_string(magic),
            "265=dword:" + std::to_string(probability),
            "266=guid:" + id,
            "267=string:Vexlink.dll",
            "268=string:" + name,
            "269=dword:" + std::to_string(retryDays),
            "271=dword:0",
            std::string("272=string:") + (submission ? "Submission" : "Detection"),
            "273=string:Korvalin Antivirus",
            "274=string:" + productVersion,
            "275=string:Scanner",
            "276=string:" + componentVersion,
            std::string("278=bool:") + (submission ? "true" : "false"),
            "279=string:2026.12.06.1"};
}

// The engine state after the control file above: the earlier configurations gone, one new one
// per record in key order (all Detection records before all Submission records, then by product
// version), the magic drawn from the C run-time generator's sequence 41, 18467, ... for the
// records whose probability allows one (41 mod 19 = 3, 18467 mod 99 = 53), and the engine-wide
// defaults written only where absent.
Sections UpdatedEngineState()
{
    return {
        {"[engine]", {"262=dword:30", "384=dword:7", "385=dword:0"}},
        {"[config 3]", ConfigLines(false, "ping.korvalin.example", 8443, 500, 3600, 0, 1, 1, "11.0", "3.2")},
        {"[config 4]", ConfigLines(true, "qsn.korvalin.example", 443, 10, 43200, 3, 20, 3, "10.5", "3.1")},
        {"[config 5]", ConfigLines(true, "qsn.korvalin.example", 443, 50, 7200, 53, 100, 7, "11.0", "3.2")},
    };
}

class UpdateQSNTest : public UpdateQSNFixture {
protected:
    UpdateQSNTest() : UpdateQSNFixture(kServices, L"UpdateQSN", L"\\\\") {}
};

TEST_F(UpdateQSNTest, PlainControlFileReplacesTheEngineConfigurationsAndIsEnciphered)
{
    WriteFileBytes(ControlFile(), std::vector<unsigned char>(kControlFile.begin(), kControlFile.end()));
    EXPECT_TRUE(RunUpdate().empty()) << "a successful update writes no installer-log line";
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    ExpectEncipheredOriginal(ToBytes(kControlFile));
    ExpectEngineStoppedAndRestarted();

    // The next installation finds the enciphered file, gives the engine the same state and leaves
    // the file exactly as it was.
    const std::vector<unsigned char> enciphered = ReadFileBytes(ControlFile());
    SetEngineState(kEarlierEngineState);
    EXPECT_TRUE(RunUpdate().empty());
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    EXPECT_EQ(enciphered, ReadFileBytes(ControlFile()));
}

} // namespace
