// UpdateQSN in the real msiexec: the control file in the engine's data folder, the service host,
// trust verifier and engine stand-ins placed where the registry says the shared runtime lives.
// A good control file replaces the engine's configurations and is enciphered; control files that
// are damaged, huge, locked or linked, registry values that are missing or of the wrong kind, and
// collaborators that fail never fail the installation: a failure is reported on one installer-log
// line, the engine's configurations survive a rejected file and the file's content is never lost.
#include "update/scdcontainer.h"

#include "tests/common/files.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;
namespace scd = clfs::update::scd;

namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;
// The engine stand-in's store: "[engine]" or "[config N]" and the value lines below it.
using Sections = std::map<std::string, Lines>;

const std::string kEngineModule = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kServices = "[Submission]\n" + kEngineModule + "|ORBSubmissionEngine\n";
// Two configurations and one engine-wide value to keep.
const std::string kEarlierEngineState = "[engine]\n384=dword:7\n[config 1]\n256=string:old.example\n"
                                        "[config 2]\n256=string:older.example\n";
const char kFailedUpdate[] = "KRVL (Error): Failed to update QSN config: ";
const char kFailedDefaults[] = "KRVL (Error): Failed to set engine config defaults: ";
// Any failure code: "0x8" and seven more hex digits.
const std::string kAnyFailure = std::string(kFailedUpdate) + "0x8*";

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

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
    const std::string kind = submission ? "Submission" : "Detection";
    return SplitLines("256=string:" + server + "\n257=dword:" + std::to_string(port) + "\n258=string:https\n" +
                      "259=string:" + path + "\n260=dword:10485760\n261=dword:" + std::to_string(dailyLimit) +
                      "\n262=dword:0\n263=dword:" + std::to_string(retrySeconds) +
                      "\n264=dword:" + std::to_string(magic) + "\n265=dword:" + std::to_string(probability) +
                      "\n266=guid:" + id + "\n267=string:Vexlink.dll\n268=string:" + name +
                      "\n269=dword:" + std::to_string(retryDays) + "\n271=dword:0\n272=string:" + kind +
                      "\n273=string:Korvalin Antivirus\n274=string:" + productVersion + "\n275=string:Scanner\n" +
                      "276=string:" + componentVersion + "\n278=bool:" + (submission ? "true" : "false") +
                      "\n279=string:2026.12.06.1");
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

std::string Control(const std::string& componentVersion, const std::string& server,
                    const std::string& type = "Submission")
{
    return "<control type=\"" + type + "\" component=\"Scanner\" componentversion=\"" + componentVersion +
           "\"><server port=\"443\">" + server +
           "</server><probability>100</probability><dailyLimit>50</dailyLimit>"
           "<retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours></control>";
}

Bytes Document(const std::string& controls, const std::string& extra = std::string())
{
    return ToBytes("<?xml version=\"1.0\"?>\r\n<scd><controlSettings scdSequence=\"2026.12.06.1\"/>"
                   "<product scdVersion=\"1.0\" product=\"Korvalin Antivirus\" productversion=\"11.0\">" +
                   controls + "</product>" + extra + "</scd>\r\n");
}

const Bytes kGoodFile = Document(Control("3.2", "qsn.korvalin.example"));

// The enciphered form of the good file (its text and zero byte) under a fixed data key, changed.
Bytes Enciphered(const std::function<void(Bytes&)>& change)
{
    const uint8_t dataKey[scd::SCD_KEY_SIZE] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                                0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
    std::vector<uint8_t> content(kGoodFile.begin(), kGoodFile.end());
    content.push_back(0);
    std::vector<uint8_t> file;
    EXPECT_TRUE(scd::BuildFile(content.data(), content.size(), dataKey, file));
    Bytes bytes(file.begin(), file.end());
    change(bytes);
    return bytes;
}

Lines Failed(const char* code)
{
    return {std::string(kFailedUpdate) + code};
}

void StoreLength(Bytes& file, size_t length)
{
    for (int i = 0; i < 4; ++i)
        file[scd::SCD_LENGTH_OFFSET + i] = static_cast<unsigned char>(length >> (8 * i));
}

// The installer lines as expected; an expected line ending in "0x8*" takes any failure code.
void ExpectLines(const Lines& expected, const Lines& lines)
{
    ASSERT_EQ(expected.size(), lines.size()) << (lines.empty() ? "" : lines[0]);
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t any = expected[i].back() == '*' ? expected[i].size() - 1 : std::string::npos;
        EXPECT_EQ(expected[i].substr(0, any), lines[i].substr(0, any));
        EXPECT_TRUE(
            any == std::string::npos ||
            (lines[i].size() == any + 7 && lines[i].find_first_not_of("0123456789ABCDEF", any) == std::string::npos))
            << lines[i];
    }
}

// The engine-wide values whole and the first value of each configuration.
Sections Summary(Sections state)
{
    for (auto& section : state)
        if (section.first != "[engine]" && !section.second.empty())
            section.second.resize(1);
    return state;
}

const Lines kDefaults = {"262=dword:30", "384=dword:7", "385=dword:0"};
const Lines kOld = {"256=string:old.example"};
const Lines kOlder = {"256=string:older.example"};
const Lines kNew = {"256=string:qsn.korvalin.example"};
// No engine, no defaults: as the engine was before.
const Sections kEarlier = {{"[engine]", {"384=dword:7"}}, {"[config 1]", kOld}, {"[config 2]", kOlder}};
const Sections kRejected = {{"[engine]", kDefaults}, {"[config 1]", kOld}, {"[config 2]", kOlder}};
const Sections kUpdated = {{"[engine]", kDefaults}, {"[config 3]", kNew}};
const Sections kNewWithoutDefaults = {{"[engine]", {"384=dword:7"}}, {"[config 3]", kNew}};
const Sections kSecondLeft = {{"[engine]", kDefaults}, {"[config 2]", kOlder}};
const Sections kNoConfig = {{"[engine]", kDefaults}};

enum class EngineAfter {
    Restarted,    // unloaded from its configuration and loaded again
    NeverStopped, // the service host was never loaded
    Running,      // the host refused to stop it
    Unloaded,     // stopped and not started again
};

class UpdateQSNTest : public testing::Test {
public:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        m_runtime = std::make_unique<CSharedRuntime>();
        m_dataFolder = MakeScratchFolder(L"Submission Engine Data\\UpdateQSN");
        m_engineFolder = GetString(kInstalledAppsKey, L"ORBSubmissionEngine").value_or(L"");
        Reset();
    }

    void TearDown() override
    {
        m_runtime.reset();
        DeleteKeyTree(kKorvalinKey);
    }

    // A fresh start for the next case: the earlier engine state, the engine running, no journal,
    // no failure switch, the folder values as installed, the good control file.
    void Reset()
    {
        CSharedRuntime::ClearSwitches();
        SetEngineState(kEarlierEngineState);
        m_runtime->SetServices(kServices);
        DeleteFileIfAny(m_runtime->Directory() + L"\\srsvc-journal.txt");
        SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", m_dataFolder);
        SetString(kInstalledAppsKey, L"ORBSubmissionEngine", m_engineFolder);
        MoveFileW(Verifier(L".aside").c_str(), Verifier(L".dll").c_str());
        RemoveDirectoryW(ControlFile().c_str());
        // A control file linked to another file goes: the next one is a file of its own.
        DeleteFileIfAny(ControlFile());
        WriteFileBytes(ControlFile(), kGoodFile);
    }

    std::wstring ControlFile() const { return m_dataFolder + L"\\SCD.xml"; }
    std::wstring EngineStore() const { return m_runtime->EngineDirectory() + L"\\vexcore-configs.txt"; }
    std::wstring Verifier(const wchar_t* extension) const { return m_runtime->Directory() + L"\\srVrTrst" + extension; }
    void SetEngineState(const std::string& state) const { WriteFileBytes(EngineStore(), ToBytes(state)); }

    Sections EngineState() const
    {
        Sections sections;
        std::string current;
        for (const std::string& line : SplitLines(ReadTextFile(EngineStore()))) {
            if (!line.empty() && line.front() == '[')
                sections[current = line];
            else if (!line.empty())
                sections[current].push_back(line);
        }
        return sections;
    }

    // The control file is enciphered and decodes back to exactly original.
    void ExpectEncipheredOriginal(const Bytes& original) const
    {
        const Bytes file = ReadFileBytes(ControlFile());
        ASSERT_GE(file.size(), scd::SCD_HEADER_SIZE);
        EXPECT_TRUE(scd::HasMagic(file.data())) << "the control file is enciphered";
        std::vector<uint8_t> content;
        ASSERT_EQ(scd::SCD_READ_DECIPHERED, scd::ReadContent(file.data(), file.size(), content));
        Bytes expected = original;
        expected.push_back(0);
        EXPECT_EQ(expected, Bytes(content.begin(), content.end()));
    }

    // The engine module was unloaded from its configuration and loaded there again.
    void ExpectEngineStoppedAndRestarted(const std::string& services) const
    {
        Lines moduleCalls;
        for (const std::string& line : m_runtime->ServiceJournal())
            if (line.find("UnloadModule") != std::string::npos || line.find("LoadModule") != std::string::npos)
                moduleCalls.push_back(line);
        EXPECT_EQ((Lines{"IServiceConfig[Submission].UnloadModule(\"" + kEngineModule + "\") -> 0x00010000",
                         "IServiceConfig[Submission].LoadModule(\"" + kEngineModule +
                             "\", \"ORBSubmissionEngine\") -> 0x00010000"}),
                  moduleCalls);
        EXPECT_EQ(services, m_runtime->Services());
    }

    // The update runs in the installation's script and never fails it.
    InstallationRuns m_runs{L"updateqsn"};
    std::unique_ptr<CSharedRuntime> m_runtime;
    std::wstring m_dataFolder;
    std::wstring m_engineFolder;
    HANDLE m_held = INVALID_HANDLE_VALUE;
};

TEST_F(UpdateQSNTest, PlainControlFileReplacesTheEngineConfigurationsAndIsEnciphered)
{
    // Another service configuration before the engine's; trailing backslashes on the folder value.
    const std::string services = "[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n" + kServices;
    m_runtime->SetServices(services);
    SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", m_dataFolder + L"\\\\");
    WriteFileBytes(ControlFile(), ToBytes(kControlFile));
    const InstallerRun run = m_runs.Run();
    EXPECT_TRUE(run.KrvlLines().empty()) << "a successful update writes no installer-log line";
    EXPECT_EQ(std::make_pair(0ul, std::string("verdict: nothing wrong found")), InspectLog(run));
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    ExpectEncipheredOriginal(ToBytes(kControlFile));
    ExpectEngineStoppedAndRestarted(services);

    // The next installation finds the enciphered file, gives the engine the same state and leaves
    // the file exactly as it was.
    const Bytes enciphered = ReadFileBytes(ControlFile());
    SetEngineState(kEarlierEngineState);
    EXPECT_TRUE(m_runs.Run().KrvlLines().empty());
    EXPECT_EQ(UpdatedEngineState(), EngineState());
    EXPECT_EQ(enciphered, ReadFileBytes(ControlFile()));
}

TEST_F(UpdateQSNTest, EveryFaultKeepsWhatItShould)
{
    using Plant = std::function<void()>;
    struct Case {
        std::string what;
        Plant plant; // after the good control file was written
        Lines lines;
        Sections state;  // the summary of the engine's store afterwards
        bool enciphered; // E: the plain content enciphered, every byte kept; K: as it was, or still absent
        EngineAfter engine;
    };
    const auto file = [this](Bytes content) { return [this, content] { WriteFileBytes(ControlFile(), content); }; };
    const auto sealed = [&](std::function<void(Bytes&)> change) { return file(Enciphered(change)); };
    const auto value = [](const wchar_t* name, std::wstring text) {
        return [name, text] { SetString(kInstalledAppsKey, name, text); };
    };
    const auto drop = [](const wchar_t* name) {
        return [name] { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, name); };
    };
    const auto refuse = [](const wchar_t* file) {
        return [file] { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", file); };
    };
    const auto fail = [](const wchar_t* standin, const wchar_t* call, const wchar_t* match = L"", DWORD result = 0) {
        return [=] {
            CSharedRuntime::SetSwitch(standin, L"FailCall", call);
            CSharedRuntime::SetSwitch(standin, L"FailMatch", match);
            if (result != 0)
                CSharedRuntime::SetSwitch(standin, L"FailResult", result);
        };
    };
    const auto engine = [&](const wchar_t* call, const wchar_t* match = L"", DWORD result = 0) {
        return fail(L"vexcore", call, match, result);
    };
    const Plant none = [] {};
    const Plant readOnly = [this] { SetFileAttributesW(ControlFile().c_str(), FILE_ATTRIBUTE_READONLY); };
    const Plant held = [this] {
        m_held = CreateFileW(ControlFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    const Plant noFile = [this] { DeleteFileIfAny(ControlFile()); };
    // A file that SYSTEM must not rewrite, read-only and good enough to be taken, hard-linked as
    // the control file by someone who may write the data folder.
    const Plant linked = [this] {
        const std::wstring victim = m_dataFolder + L"-victim.xml";
        DeleteFileIfAny(victim);
        WriteFileBytes(victim, kGoodFile);
        SetFileAttributesW(victim.c_str(), FILE_ATTRIBUTE_READONLY);
        DeleteFileIfAny(ControlFile());
        CreateHardLinkW(ControlFile().c_str(), victim.c_str(), nullptr);
    };
    const Plant folder = [this] {
        DeleteFileIfAny(ControlFile());
        CreateDirectoryW(ControlFile().c_str(), nullptr);
    };
    const Plant longData = value(L"ORBSubmissionEngineData", m_dataFolder + L"\\" + std::wstring(5000, L'd'));
    const Plant noVerifier = [this] { MoveFileW(Verifier(L".dll").c_str(), Verifier(L".aside").c_str()); };
    // Three keys in turn: only the first control of each key, in document order, is kept.
    std::string controls;
    for (int i = 0; i < 3000; ++i)
        controls += Control("3." + std::to_string(i % 3), "s" + std::to_string(i) + ".example");
    const Sections firstOfEachKey = {{"[engine]", kDefaults},
                                     {"[config 3]", {"256=string:s0.example"}},
                                     {"[config 4]", {"256=string:s1.example"}},
                                     {"[config 5]", {"256=string:s2.example"}}};
    // A 64 KiB host name reaches the engine whole; a megabyte of unknown content is skipped.
    const std::string host(65536, 'h');
    const Bytes huge = Document(Control("3.2", host), "<unknown>" + std::string(1 << 20, 'u') + "</unknown>");
    const Sections hugeHost = {{"[engine]", kDefaults}, {"[config 3]", {"256=string:" + host}}};
    Bytes magicAndMore(scd::g_abMagic, scd::g_abMagic + scd::SCD_MAGIC_SIZE);
    magicAndMore.insert(magicAndMore.end(), 23, 'x');
    std::string notANumber = Control("3.2", "qsn.korvalin.example");
    notANumber.replace(notANumber.find(">100<"), 5, ">many<");
    Bytes binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<unsigned char>(i * 7));
    const Sections overwritten = {{"[engine]", {"262=dword:30", "384=dword:14", "385=dword:0"}}, {"[config 3]", kNew}};
    const Lines ok;
    const Lines any = {kAnyFailure};
    const Lines failed = Failed("0x80004005");
    const Lines noData = {"KRVL (Error): Failed to read InstalledApps Key ORBSubmissionEngineData"};
    const Lines defaults = {std::string(kFailedDefaults) + "0x80004005"};
    const Lines noDefaults = {std::string(kFailedDefaults) + "0x80004003"};
    const bool E = true;
    const bool K = false;
    const auto R = EngineAfter::Restarted;
    const auto N = EngineAfter::NeverStopped;
    const std::vector<Case> cases = {
        // Files the update takes: its records replace the configurations.
        {"a plain file", none, ok, kUpdated, E, R},
        {"a read-only file", readOnly, ok, kUpdated, E, R},
        {"a control of an unknown type", file(Document(Control("3.2", "q", "submission"))), ok, kNoConfig, E, R},
        {"thousands of controls", file(Document(controls)), ok, firstOfEachKey, E, R},
        {"oversized elements", file(huge), ok, hugeHost, E, R},
        // Only the low 32 bits of the stored length count; bytes after its blocks are never read.
        {"a high length word", sealed([](Bytes& f) { f[scd::SCD_LENGTH_OFFSET + 4] = 0x7F; }), ok, kUpdated, K, R},
        {"trailing bytes", sealed([](Bytes& f) { f.insert(f.end(), 13, 0xA5); }), ok, kUpdated, K, R},
        // Plain files refused whole: enciphered all the same, the configurations kept.
        {"shorter than a header, no product", file(ToBytes("<scd/>")), Failed("0x80070490"), kRejected, E, R},
        // Shorter than a whole header: the magic is plain text to the parser.
        {"the magic and a few bytes", file(magicAndMore), failed, kRejected, E, R},
        {"a probability not a number", file(Document(notANumber)), Failed("0x80020005"), kRejected, E, R},
        // The text ends at its first zero byte; every byte of the file is kept.
        {"binary data with zero bytes", file(binary), failed, kRejected, E, R},
        // Files refused and left byte for byte.
        {"an empty file", file(Bytes()), Failed("0x800700E8"), kRejected, K, R},
        {"a header without body", sealed([](Bytes& f) { f.resize(scd::SCD_HEADER_SIZE); }), Failed("0x800700E8"),
         kRejected, K, R},
        {"a length beyond the body", sealed([](Bytes& f) { StoreLength(f, f.size() - scd::SCD_HEADER_SIZE + 9); }), any,
         kRejected, K, R},
        {"a length of zero", sealed([](Bytes& f) { StoreLength(f, 0); }), any, kRejected, K, R},
        {"a body cut short", sealed([](Bytes& f) { f.resize(f.size() - 3); }), any, kRejected, K, R},
        {"a damaged last block", sealed([](Bytes& f) { f[f.size() - 1] ^= 0xFF; }), any, kRejected, K, R},
        {"held open without write sharing", held, Failed("0x80070020"), kRejected, K, R},
        // Not a file of its own: refused before anything about it changes, read-only included.
        {"a hard link to a read-only file", linked, Failed("0x80070005"), kRejected, K, R},
        // The file and its folder are looked for before the engine is stopped.
        {"no control file", noFile, Failed("0x80070002"), kEarlier, K, N},
        {"a folder named SCD.xml", folder, Failed("0x80070002"), kEarlier, K, N},
        {"no data folder value", drop(L"ORBSubmissionEngineData"), noData, kEarlier, K, N},
        {"an empty data folder", value(L"ORBSubmissionEngineData", L""), noData, kEarlier, K, N},
        {"a number as data folder", [] { SetDword(kInstalledAppsKey, L"ORBSubmissionEngineData", 7); }, noData,
         kEarlier, K, N},
        // Checked for emptiness before its trailing backslashes go: the bare file name is left.
        {"a data folder of backslashes", value(L"ORBSubmissionEngineData", L"\\\\"), Failed("0x80070002"), kEarlier, K,
         N},
        // Appending the file name to a folder longer than a path leaves no path at all.
        {"an over-long data folder", longData, Failed("0x80070057"), kEarlier, K, N},
        // No engine: the update stops before the file is opened and the engine is restarted.
        {"no engine folder value", drop(L"ORBSubmissionEngine"), any, kEarlier, K, R},
        // With its terminator, longer than the 261 characters the engine path is formed in.
        {"an engine folder over a path", value(L"ORBSubmissionEngine", L"C:\\" + std::wstring(300, L'e')), any,
         kEarlier, K, R},
        {"an untrusted engine", refuse(L"vexcore.dll"), any, kEarlier, K, R},
        {"the engine's factory failing", engine(L"GetFactory"), any, kEarlier, K, R},
        {"the engine's instance failing", engine(L"IKrvFactory.CreateInstance"), any, kEarlier, K, R},
        // Without a working trust verifier neither the host nor the engine is loaded.
        {"no trust verifier", noVerifier, any, kEarlier, K, N},
        {"the verifier not starting", fail(L"srVrTrst", L"ICachedVerifyTrust.Initialize"), any, kEarlier, K, N},
        {"the verifier not verifying", fail(L"srVrTrst", L"IVerifyTrustBase.VerifyFile"), any, kEarlier, K, N},
        // An untrusted host counts as an engine not running: the update goes on while it runs.
        {"an untrusted service host", refuse(L"srSvc.dll"), ok, kUpdated, E, N},
        {"no running services", fail(L"srSvc", L"IServiceManager.GetRunningServices", L"", 0x80000100),
         Failed("0x80000100"), kEarlier, K, EngineAfter::Running},
        {"the engine not stopping", fail(L"srSvc", L"IServiceConfig.UnloadModule", L"", 0x80000100),
         Failed("0x80000100"), kEarlier, K, EngineAfter::Running},
        // The restart is the update object's own business.
        {"the engine not restarting", fail(L"srSvc", L"IServiceConfig.LoadModule"), ok, kUpdated, E,
         EngineAfter::Unloaded},
        // The engine refusing calls: the file is rejected before anything is removed, removed
        // configurations stay removed, a record whose configuration cannot be made is dropped.
        {"LoadConfigs", engine(L"IConfigManager.LoadConfigs"), failed, kRejected, E, R},
        {"GetConfigCount", engine(L"IConfigManager.GetConfigCount"), failed, kRejected, E, R},
        {"GetConfigAt", engine(L"IConfigManager.GetConfigAt", L"(1)"), failed, kSecondLeft, E, R},
        {"RemoveConfig", engine(L"IConfigManager.RemoveConfig", L"(config 2)"), failed, kSecondLeft, E, R},
        {"Save of a configuration", engine(L"IConfig.Save", L"[config"), failed, kNoConfig, E, R},
        {"NewConfig", engine(L"IConfigManager.NewConfig"), ok, kNoConfig, E, R},
        {"GetData of a configuration", engine(L"IConfig.GetData", L"[config"), ok, kNoConfig, E, R},
        {"SetStringValue", engine(L"IKeyValueCollection.SetStringValue", L"(256,"), ok, kNoConfig, E, R},
        {"SetDwordValue", engine(L"IKeyValueCollection.SetDwordValue", L"[config"), ok, kNoConfig, E, R},
        // A new configuration holds nothing to read back: its magic number comes out the same.
        {"GetDwordValue", engine(L"IKeyValueCollection.GetDwordValue", L"[config"), ok, kUpdated, E, R},
        // The engine-wide values: only the defaults line; failed writes and saves are only traced.
        {"GetEngineConfig", engine(L"IConfigManager.GetEngineConfig"), defaults, kNewWithoutDefaults, E, R},
        {"GetData of the engine", engine(L"IConfig.GetData", L"[engine]"), defaults, kNewWithoutDefaults, E, R},
        {"SetDwordValue of the engine", engine(L"IKeyValueCollection.SetDwordValue", L"[engine]"), ok,
         kNewWithoutDefaults, E, R},
        {"Save of the engine", engine(L"IConfig.Save", L"[engine]"), ok, kNewWithoutDefaults, E, R},
        // An engine that cannot say what it holds gets every default, over the value it had.
        {"HasValue", engine(L"IKeyValueCollection.HasValue", L"[engine]"), ok, overwritten, E, R},
        // An engine that answers success but hands out nothing is taken as having failed.
        {"GetConfigAt, nothing", engine(L"IConfigManager.GetConfigAt", L"(1)", S_FALSE), Failed("0x80004003"),
         kSecondLeft, E, R},
        {"NewConfig, nothing", engine(L"IConfigManager.NewConfig", L"", S_FALSE), ok, kNoConfig, E, R},
        {"GetData of a configuration, nothing", engine(L"IConfig.GetData", L"[config", S_FALSE), ok, kNoConfig, E, R},
        {"GetEngineConfig, nothing", engine(L"IConfigManager.GetEngineConfig", L"", S_FALSE), noDefaults,
         kNewWithoutDefaults, E, R},
        {"GetData of the engine, nothing", engine(L"IConfig.GetData", L"[engine]", S_FALSE), noDefaults,
         kNewWithoutDefaults, E, R},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.plant();
        const DWORD attributesBefore = GetFileAttributesW(ControlFile().c_str());
        const bool existed = attributesBefore != INVALID_FILE_ATTRIBUTES;
        const bool readOnlyBefore = existed && (attributesBefore & FILE_ATTRIBUTE_READONLY);
        const Bytes before = ReadFileBytes(ControlFile());
        const auto dataFolder = GetRaw(kInstalledAppsKey, L"ORBSubmissionEngineData");
        const InstallerRun run = m_runs.Run();
        ExpectLines(c.lines, run.KrvlLines());
        // A support engineer reading the log comes to the same conclusion.
        const auto verdict = InspectLog(run);
        EXPECT_EQ(c.lines.empty() ? 0u : 1u, verdict.first) << verdict.second;
        EXPECT_EQ(0u, verdict.second.find(c.lines.empty() ? "verdict: nothing wrong found"
                                                          : "verdict: the module reported problems (1): "))
            << verdict.second;
        if (m_held != INVALID_HANDLE_VALUE)
            CloseHandle(m_held);
        m_held = INVALID_HANDLE_VALUE;
        CSharedRuntime::ClearSwitches();
        EXPECT_EQ(c.state, Summary(EngineState()));
        const DWORD attributes = GetFileAttributesW(ControlFile().c_str());
        EXPECT_EQ(existed, attributes != INVALID_FILE_ATTRIBUTES);
        // A file the update took stays without its read-only attribute; one it left keeps it.
        EXPECT_EQ(readOnlyBefore && !c.enciphered,
                  attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0);
        if (c.enciphered)
            ExpectEncipheredOriginal(before);
        else
            EXPECT_EQ(before, ReadFileBytes(ControlFile()));
        const auto dataFolderAfter = GetRaw(kInstalledAppsKey, L"ORBSubmissionEngineData");
        EXPECT_TRUE(dataFolder.has_value() == dataFolderAfter.has_value() &&
                    (!dataFolder || dataFolder->data == dataFolderAfter->data))
            << "the value is not rewritten";
        EXPECT_EQ(c.engine == EngineAfter::Unloaded ? "[Submission]\n" : kServices, m_runtime->Services());
        if (c.engine == EngineAfter::Restarted)
            ExpectEngineStoppedAndRestarted(kServices);
        EXPECT_TRUE(c.engine != EngineAfter::NeverStopped || m_runtime->ServiceJournal().empty())
            << "the service host was loaded";
    }
}

} // namespace
