// UpdateQSN in the real msiexec: the control file in the engine's data folder, the service host,
// trust verifier and engine stand-ins placed where the registry says the shared runtime lives.
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/updateqsnfixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;

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
    const std::string id = submission ? "{9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}" : "{6E18D0F3-8A27-4B95-B3C6-5F04E71A92D8}";
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

std::string Text(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class UpdateQSNTest : public UpdateQSNFixture {
protected:
    UpdateQSNTest() : UpdateQSNFixture(kServices, L"UpdateQSN", L"\\\\") {}
};

TEST_F(UpdateQSNTest, PlainControlFileReplacesTheEngineConfigurationsAndIsEnciphered)
{
    WriteFileBytes(ControlFile(), std::vector<unsigned char>(kControlFile.begin(), kControlFile.end()));
    EXPECT_TRUE(InstallAndRemove().empty()) << "a successful update writes no installer-log line";
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    ExpectEncipheredOriginal(ToBytes(kControlFile));
    ExpectEngineStoppedAndRestarted();

    // The next installation finds the enciphered file, gives the engine the same state and leaves
    // the file exactly as it was.
    const std::vector<unsigned char> enciphered = ReadFileBytes(ControlFile());
    SetEngineState(kEarlierEngineState);
    EXPECT_TRUE(InstallAndRemove().empty());
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    EXPECT_EQ(enciphered, ReadFileBytes(ControlFile()));
}

TEST_F(UpdateQSNTest, RejectedControlFilesLeaveTheConfigurationsAndKeepTheContent)
{
    struct Case {
        const char* what;
        std::string content;
        const char* code;
    };
    const std::string noProduct = "<scd><controlSettings scdSequence=\"1\"/></scd>";
    const std::string malformed = "<scd><controlSettings scdSequence=\"1\"><product</scd>";
    const std::vector<Case> cases = {
        {"no product element", noProduct, "0x80070490"},
        {"malformed XML", malformed, "0x80004005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetEngineState(kEarlierEngineState);
        WriteFileBytes(ControlFile(), std::vector<unsigned char>(c.content.begin(), c.content.end()));
        EXPECT_EQ(Lines{std::string("KRVL (Error): Failed to update QSN config: ") + c.code}, InstallAndRemove());
        Sections state = EngineState();
        EXPECT_EQ((Lines{"262=dword:30", "384=dword:7", "385=dword:0"}), state["[engine]"])
            << "the defaults are written all the same";
        state.erase("[engine]");
        EXPECT_EQ((Sections{{"[config 1]", {"256=string:old.example"}}, {"[config 2]", {"256=string:older.example"}}}),
                  state)
            << "no configuration is removed for a rejected file";
        ExpectEncipheredOriginal(ToBytes(c.content));
        ExpectEngineStoppedAndRestarted();
        m_runtime->SetServices(kServices);
        DeleteFileIfAny(m_runtime->Directory() + L"\\srsvc-journal.txt");
    }
}

TEST_F(UpdateQSNTest, MissingPiecesAreReportedAndTouchNothing)
{
    SCOPED_TRACE("no control file");
    EXPECT_EQ(Lines{"KRVL (Error): Failed to update QSN config: 0x80070002"}, InstallAndRemove());
    EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
    EXPECT_TRUE(m_runtime->ServiceJournal().empty()) << "the file is checked before the engine is stopped";

    SCOPED_TRACE("a folder named SCD.xml");
    ASSERT_TRUE(CreateDirectoryW(ControlFile().c_str(), nullptr));
    EXPECT_EQ(Lines{"KRVL (Error): Failed to update QSN config: 0x80070002"}, InstallAndRemove());
    RemoveDirectoryW(ControlFile().c_str());

    SCOPED_TRACE("no data folder value");
    WriteFileBytes(ControlFile(), std::vector<unsigned char>(kControlFile.begin(), kControlFile.end()));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, L"ORBSubmissionEngineData");
    EXPECT_EQ(Lines{"KRVL (Error): Failed to read InstalledApps Key ORBSubmissionEngineData"}, InstallAndRemove());
    EXPECT_EQ(kControlFile, Text(ReadFileBytes(ControlFile()))) << "the file is not touched";
    EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
}

TEST_F(UpdateQSNTest, EngineFailuresAreReportedAndTheEngineIsRestarted)
{
    WriteFileBytes(ControlFile(), std::vector<unsigned char>(kControlFile.begin(), kControlFile.end()));
    CSharedRuntime::SetSwitch(L"vexcore", L"FailCall", L"IConfig.Save");
    CSharedRuntime::SetSwitch(L"vexcore", L"FailMatch", L"[config");
    EXPECT_EQ(Lines{"KRVL (Error): Failed to update QSN config: 0x80004005"}, InstallAndRemove());
    ExpectEncipheredOriginal(ToBytes(kControlFile));
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNTest, EngineThatCannotBeLoadedStopsTheUpdateButNotTheInstallation)
{
    WriteFileBytes(ControlFile(), std::vector<unsigned char>(kControlFile.begin(), kControlFile.end()));
    CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"vexcore.dll");
    const Lines lines = InstallAndRemove();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("KRVL (Error): Failed to update QSN config: 0x")) << lines[0];
    EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState()) << "an untrusted engine is never loaded";
    EXPECT_EQ(kControlFile, Text(ReadFileBytes(ControlFile()))) << "the file was never opened";
    ExpectEngineStoppedAndRestarted();
}

} // namespace
