// UpdateQSN in the real msiexec with control files that are empty, damaged, huge or locked, and
// with registry values that are missing or of the wrong kind: the installation always succeeds,
// the failure is reported on one installer-log line, the engine's configurations survive a
// rejected file and the file's content is never lost.
#include "update/scdcontainer.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/updateqsnfixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;

namespace {

const std::string kServices = "[Submission]\n" + kEngineModule + "|ORBSubmissionEngine\n";
// What the engine holds after a rejected file: the earlier configurations, and the engine-wide
// defaults, which are written whatever became of the file.
const Sections kAfterRejectedFile = {
    {"[engine]", {"262=dword:30", "384=dword:7", "385=dword:0"}},
    {"[config 1]", {"256=string:old.example"}},
    {"[config 2]", {"256=string:older.example"}},
};
const char kFailedUpdate[] = "KRVL (Error): Failed to update QSN config: ";

std::string Control(const std::string& componentVersion, const std::string& server)
{
    return "<control type=\"Submission\" component=\"Scanner\" componentversion=\"" + componentVersion +
           "\"><server port=\"443\">" + server +
           "</server><probability>100</probability><dailyLimit>50</dailyLimit>"
           "<retryLimitDays>7</retryLimitDays><retryFrequencyMinHours>2</retryFrequencyMinHours></control>";
}

std::string Document(const std::string& controls, const std::string& extra = std::string())
{
    return "<?xml version=\"1.0\"?>\r\n<scd><controlSettings scdSequence=\"2026.12.06.1\"/>"
           "<product scdVersion=\"1.0\" product=\"Korvalin Antivirus\" productversion=\"11.0\">" +
           controls + "</product>" + extra + "</scd>\r\n";
}

const std::string kGoodFile = Document(Control("3.2", "qsn.korvalin.example"));
// The first value of the configuration the good control file gives.
const Lines kNewConfigStart = {"256=string:qsn.korvalin.example"};

// The enciphered form of text (the plain file and its zero byte) under a fixed data key.
Bytes Enciphered(const std::string& text)
{
    const uint8_t dataKey[clfs::update::scd::SCD_KEY_SIZE] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                                              0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
    std::vector<uint8_t> content(text.begin(), text.end());
    content.push_back(0);
    std::vector<uint8_t> file;
    EXPECT_TRUE(clfs::update::scd::BuildFile(content.data(), content.size(), dataKey, file));
    return Bytes(file.begin(), file.end());
}

void StoreLength(Bytes& file, uint32_t length)
{
    for (int i = 0; i < 4; ++i)
        file[clfs::update::scd::SCD_LENGTH_OFFSET + i] = static_cast<unsigned char>(length >> (8 * i));
}

// The one line of a failed update, whatever its code: "0x" and eight hex digits of a failure.
bool IsFailedUpdateLine(const std::string& line)
{
    const std::string prefix = std::string(kFailedUpdate) + "0x8";
    if (line.size() != prefix.size() + 7 || line.compare(0, prefix.size(), prefix) != 0)
        return false;
    return line.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos;
}

class UpdateQSNFaultTest : public UpdateQSNFixture {
protected:
    UpdateQSNFaultTest() : UpdateQSNFixture(kServices, L"Faults", L"") {}

    void SetUp() override
    {
        UpdateQSNFixture::SetUp();
        Reset();
    }

    // A fresh start for the next case: the earlier engine state, the engine running, no journal,
    // no failure switch.
    void Reset() const
    {
        CSharedRuntime::ClearSwitches();
        SetEngineState(kEarlierEngineState);
        m_runtime->SetServices(kServices);
        DeleteFileIfAny(m_runtime->Directory() + L"\\srsvc-journal.txt");
        SetFileAttributesW(ControlFile().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileIfAny(ControlFile());
    }

    // A plain file the update refuses, and the code its one failure line ends with.
    struct RefusedFile {
        const char* what;
        Bytes content;
        const char* code;
    };

    // Each file is refused whole: the one failure line, the earlier configurations kept, the
    // file enciphered with every byte it had, the engine stopped and restarted.
    void ExpectRefused(const std::vector<RefusedFile>& files)
    {
        for (const RefusedFile& file : files) {
            SCOPED_TRACE(file.what);
            Reset();
            WriteFileBytes(ControlFile(), file.content);
            EXPECT_EQ(Lines{std::string(kFailedUpdate) + file.code}, InstallAndRemove());
            EXPECT_EQ(kAfterRejectedFile, EngineState());
            ExpectEncipheredOriginal(file.content);
            ExpectEngineStoppedAndRestarted();
        }
    }
};

TEST_F(UpdateQSNFaultTest, PlainFilesTheParserRejectsAreEncipheredAndKeepTheConfigurations)
{
    const Bytes magic(clfs::update::scd::g_abMagic, clfs::update::scd::g_abMagic + clfs::update::scd::SCD_MAGIC_SIZE);
    const std::vector<RefusedFile> cases = {
        // Shorter than a header, so plain; a document without any product element.
        {"shorter than the container header", ToBytes("<scd/>"), "0x80070490"},
        // Sixteen bytes cannot hold a whole header: the magic alone is plain text to the parser.
        {"the magic alone", magic, "0x80004005"},
        {"the magic and a few bytes", [&] { Bytes b = magic; b.insert(b.end(), 23, 'x'); return b; }(), "0x80004005"},
    };
    ExpectRefused(cases);
}

TEST_F(UpdateQSNFaultTest, DocumentsTheUpdateRefusesAreEncipheredWhole)
{
    const std::string product = "<product scdVersion=\"1.0\" product=\"Korvalin Antivirus\" productversion=\"11.0\">";
    const std::string noPort = "<control type=\"Submission\" component=\"Scanner\" componentversion=\"3.2\">"
                               "<server>qsn.korvalin.example</server><probability>100</probability>"
                               "<dailyLimit>50</dailyLimit><retryLimitDays>7</retryLimitDays>"
                               "<retryFrequencyMinHours>2</retryFrequencyMinHours></control>";
    std::string notANumber = Control("3.2", "qsn.korvalin.example");
    notANumber.replace(notANumber.find(">100<"), 5, ">many<");
    std::string versionMismatch = kGoodFile;
    versionMismatch.replace(versionMismatch.find("scdVersion=\"1.0\""), 16, "scdVersion=\"1.1\"");
    // The text ends at its first zero byte; every byte of the file is kept all the same.
    Bytes utf16 = {0xFF, 0xFE};
    for (char ch : kGoodFile) {
        utf16.push_back(static_cast<unsigned char>(ch));
        utf16.push_back(0);
    }
    Bytes binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<unsigned char>(i * 7));
    const std::vector<RefusedFile> cases = {
        {"only a product of another version", ToBytes(versionMismatch), "0x80070490"},
        {"no controlSettings", ToBytes("<scd>" + product + Control("3.2", "q.example") + "</product></scd>"),
         "0x80070490"},
        {"a server without port", ToBytes(Document(noPort)), "0x80070490"},
        {"a probability that is not a number", ToBytes(Document(notANumber)), "0x80020005"},
        {"UTF-16 text", utf16, "0x80004005"},
        {"binary data with zero bytes", binary, "0x80004005"},
    };
    ExpectRefused(cases);
}

TEST_F(UpdateQSNFaultTest, ControlOfAnUnknownTypeReplacesTheConfigurationsWithNone)
{
    std::string unknown = Control("3.2", "qsn.korvalin.example");
    unknown.replace(unknown.find("\"Submission\""), 12, "\"submission\"");
    const std::string text = Document(unknown);
    WriteFileBytes(ControlFile(), ToBytes(text));
    EXPECT_TRUE(InstallAndRemove().empty()) << "a record without configuration is only traced";
    EXPECT_EQ((Sections{{"[engine]", {"262=dword:30", "384=dword:7", "385=dword:0"}}}), EngineState());
    ExpectEncipheredOriginal(ToBytes(text));
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNFaultTest, EmptyFileIsRejectedAndLeftEmpty)
{
    Reset();
    WriteFileBytes(ControlFile(), Bytes());
    EXPECT_EQ(Lines{std::string(kFailedUpdate) + "0x800700E8"}, InstallAndRemove());
    EXPECT_EQ(kAfterRejectedFile, EngineState());
    EXPECT_TRUE(FileExists(ControlFile()));
    EXPECT_TRUE(ReadFileBytes(ControlFile()).empty()) << "nothing to encipher, nothing written";
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNFaultTest, DamagedContainersAreRejectedAndStayByteForByte)
{
    using clfs::update::scd::SCD_HEADER_SIZE;
    using clfs::update::scd::SCD_KEY_OFFSET;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* code; // null: any failure code, the reader's choice for a damaged body
    };
    const std::vector<Case> cases = {
        {"a header without body", [](Bytes& f) { f.resize(SCD_HEADER_SIZE); }, "0x800700E8"},
        {"a stored length larger than the body",
         [](Bytes& f) { StoreLength(f, static_cast<uint32_t>(f.size() - SCD_HEADER_SIZE + 9)); }, nullptr},
        {"a stored length of zero", [](Bytes& f) { StoreLength(f, 0); }, nullptr},
        {"a body cut short of its last block", [](Bytes& f) { f.resize(f.size() - 3); }, nullptr},
        {"a body of less than one block", [](Bytes& f) { f.resize(SCD_HEADER_SIZE + 5); }, nullptr},
        {"wrong key material", [](Bytes& f) { f[SCD_KEY_OFFSET] ^= 0x5A; }, nullptr},
        {"a damaged last block", [](Bytes& f) { f[f.size() - 1] ^= 0xFF; }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Bytes file = Enciphered(kGoodFile);
        c.damage(file);
        WriteFileBytes(ControlFile(), file);
        const Lines lines = InstallAndRemove();
        if (c.code) {
            EXPECT_EQ(Lines{std::string(kFailedUpdate) + c.code}, lines);
        } else {
            ASSERT_EQ(1u, lines.size());
            EXPECT_TRUE(IsFailedUpdateLine(lines[0])) << lines[0];
        }
        EXPECT_EQ(kAfterRejectedFile, EngineState());
        EXPECT_EQ(file, ReadFileBytes(ControlFile())) << "an enciphered file is never rewritten";
        ExpectEngineStoppedAndRestarted();
    }
}

TEST_F(UpdateQSNFaultTest, ThousandsOfControlsGiveOneConfigurationPerKey)
{
    // Three keys in turn: only the first control of each key, in document order, is kept.
    std::string controls;
    for (int i = 0; i < 3000; ++i)
        controls += Control("3." + std::to_string(i % 3), "s" + std::to_string(i) + ".example");
    const std::string text = Document(controls);
    WriteFileBytes(ControlFile(), ToBytes(text));
    EXPECT_TRUE(InstallAndRemove().empty());
    const Sections state = EngineState();
    ASSERT_EQ(4u, state.size());
    int number = 3;
    for (const char* server : {"s0.example", "s1.example", "s2.example"}) {
        const auto section = state.find("[config " + std::to_string(number++) + "]");
        ASSERT_NE(state.end(), section);
        ASSERT_FALSE(section->second.empty());
        EXPECT_EQ(std::string("256=string:") + server, section->second.front());
    }
    ExpectEncipheredOriginal(ToBytes(text));
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNFaultTest, OversizedElementsAreTakenWhole)
{
    // A 64 KiB host name reaches the engine whole; a megabyte of unknown content is skipped.
    const std::string host(65536, 'h');
    const std::string text =
        Document(Control("3.2", host), "<unknown>" + std::string(1 << 20, 'u') + "</unknown>");
    WriteFileBytes(ControlFile(), ToBytes(text));
    EXPECT_TRUE(InstallAndRemove().empty());
    const Sections state = EngineState();
    const auto config = state.find("[config 3]");
    ASSERT_NE(state.end(), config);
    ASSERT_FALSE(config->second.empty());
    EXPECT_EQ("256=string:" + host, config->second.front());
    EXPECT_EQ(0u, state.count("[config 1]") + state.count("[config 2]"));
    ExpectEncipheredOriginal(ToBytes(text));
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNFaultTest, DeeplyNestedElementsWithinAndBeyondTheParsersDepth)
{
    struct Case {
        int depth;
        bool parsed;
    };
    // The parser refuses a document nested deeper than its limit, like any malformed one.
    for (const Case c : {Case{100, true}, Case{5000, false}}) {
        SCOPED_TRACE(c.depth);
        Reset();
        std::string deep;
        for (int i = 0; i < c.depth; ++i)
            deep += "<n>";
        for (int i = 0; i < c.depth; ++i)
            deep += "</n>";
        const std::string text = Document(Control("3.2", "qsn.korvalin.example"), deep);
        WriteFileBytes(ControlFile(), ToBytes(text));
        if (c.parsed) {
            EXPECT_TRUE(InstallAndRemove().empty());
            const Sections state = EngineState();
            ASSERT_EQ(2u, state.size());
            ASSERT_EQ(1u, state.count("[config 3]"));
            EXPECT_EQ(kNewConfigStart.front(), state.at("[config 3]").front());
        } else {
            EXPECT_EQ(Lines{std::string(kFailedUpdate) + "0x80004005"}, InstallAndRemove());
            EXPECT_EQ(kAfterRejectedFile, EngineState());
        }
        ExpectEncipheredOriginal(ToBytes(text));
        ExpectEngineStoppedAndRestarted();
    }
}

TEST_F(UpdateQSNFaultTest, ReadOnlyFileIsProcessedAndLosesTheAttribute)
{
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    ASSERT_TRUE(SetFileAttributesW(ControlFile().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(InstallAndRemove().empty());
    const DWORD attributes = GetFileAttributesW(ControlFile().c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY);
    const Sections state = EngineState();
    EXPECT_EQ(0u, state.count("[config 1]") + state.count("[config 2]"));
    ASSERT_EQ(1u, state.count("[config 3]"));
    EXPECT_EQ("256=string:qsn.korvalin.example", state.at("[config 3]").front());
    ExpectEncipheredOriginal(ToBytes(kGoodFile));
    ExpectEngineStoppedAndRestarted();
}

TEST_F(UpdateQSNFaultTest, FileHeldOpenWithoutWriteSharingIsLeftAsItIs)
{
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    const HANDLE held = CreateFileW(ControlFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const Lines lines = InstallAndRemove();
    CloseHandle(held);
    EXPECT_EQ(Lines{std::string(kFailedUpdate) + "0x80070020"}, lines) << "a sharing violation";
    EXPECT_EQ(kAfterRejectedFile, EngineState());
    EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile()));
    ExpectEngineStoppedAndRestarted();
}

// A value the action reads, set to something other than a usable folder.
struct BadValue {
    const char* what;
    std::function<void(const wchar_t* name)> set;
};

const std::vector<BadValue> kBadFolderValues = {
    {"missing", [](const wchar_t* name) { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, name); }},
    {"empty", [](const wchar_t* name) { SetString(kInstalledAppsKey, name, L""); }},
    {"a number", [](const wchar_t* name) { SetDword(kInstalledAppsKey, name, 0x4B52564C); }},
    {"binary", [](const wchar_t* name) { SetRaw(kInstalledAppsKey, name, REG_BINARY, "C:\\x", 4); }},
};

TEST_F(UpdateQSNFaultTest, UnusableDataFolderValueTouchesNothing)
{
    for (const BadValue& value : kBadFolderValues) {
        SCOPED_TRACE(value.what);
        Reset();
        WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
        value.set(L"ORBSubmissionEngineData");
        const std::optional<RegValue> before = GetRaw(kInstalledAppsKey, L"ORBSubmissionEngineData");
        EXPECT_EQ(Lines{"KRVL (Error): Failed to read InstalledApps Key ORBSubmissionEngineData"}, InstallAndRemove());
        EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
        EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile())) << "the file is not touched";
        EXPECT_TRUE(m_runtime->ServiceJournal().empty()) << "the service is not touched";
        const std::optional<RegValue> after = GetRaw(kInstalledAppsKey, L"ORBSubmissionEngineData");
        ASSERT_EQ(before.has_value(), after.has_value());
        if (before) {
            EXPECT_EQ(before->type, after->type);
            EXPECT_EQ(before->data, after->data);
        }
        SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", m_dataFolder);
    }
}

TEST_F(UpdateQSNFaultTest, DataFolderOfOnlyBackslashesNamesARelativeControlFile)
{
    // The value is checked for emptiness before its trailing backslashes go: what is left is the
    // bare file name, looked for in the custom action's current folder, where there is none.
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", L"\\\\");
    EXPECT_EQ(Lines{std::string(kFailedUpdate) + "0x80070002"}, InstallAndRemove());
    EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
    EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile()));
    EXPECT_TRUE(m_runtime->ServiceJournal().empty()) << "the service is not touched";
}

TEST_F(UpdateQSNFaultTest, OverlongDataFolderValueIsRejectedBeforeTheEngineIsTouched)
{
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    SetString(kInstalledAppsKey, L"ORBSubmissionEngineData", m_dataFolder + L"\\" + std::wstring(5000, L'd'));
    // Appending the file name to a folder longer than a path fails and leaves no path at all.
    EXPECT_EQ(Lines{std::string(kFailedUpdate) + "0x80070057"}, InstallAndRemove());
    EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
    EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile()));
    EXPECT_TRUE(m_runtime->ServiceJournal().empty()) << "the service is not touched";
}

TEST_F(UpdateQSNFaultTest, UnusableEngineFolderValueStopsTheUpdateBeforeTheFileIsOpened)
{
    std::vector<BadValue> values = kBadFolderValues;
    // With its terminator, longer than the 261 characters the engine path is formed in.
    values.push_back({"longer than a path", [](const wchar_t* name) {
                          SetString(kInstalledAppsKey, name, L"C:\\" + std::wstring(300, L'e'));
                      }});
    for (const BadValue& value : values) {
        SCOPED_TRACE(value.what);
        Reset();
        WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
        const std::optional<std::wstring> engineFolder = GetString(kInstalledAppsKey, L"ORBSubmissionEngine");
        ASSERT_TRUE(engineFolder.has_value());
        value.set(L"ORBSubmissionEngine");
        const Lines lines = InstallAndRemove();
        SetString(kInstalledAppsKey, L"ORBSubmissionEngine", *engineFolder);
        ASSERT_EQ(1u, lines.size());
        EXPECT_TRUE(IsFailedUpdateLine(lines[0])) << lines[0];
        EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState()) << "no engine, no defaults";
        EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile())) << "the file was never opened";
        ExpectEngineStoppedAndRestarted();
    }
}


TEST_F(UpdateQSNFaultTest, EngineCallFailuresKeepWhatTheyShould)
{
    struct Case {
        const char* call;
        const char* match;
        DWORD result; // what the failing call returns; 0: the stand-in's default
        Lines lines;
        // The configurations' first values afterwards, and the engine-wide section.
        std::map<std::string, Lines> configs;
        Lines engine;
    };
    const Lines defaults = {"262=dword:30", "384=dword:7", "385=dword:0"};
    const Lines untouchedEngine = {"384=dword:7"};
    const std::string failed = std::string(kFailedUpdate) + "0x80004005";
    const std::map<std::string, Lines> earlier = {{"[config 1]", {"256=string:old.example"}},
                                                  {"[config 2]", {"256=string:older.example"}}};
    const std::map<std::string, Lines> secondLeft = {{"[config 2]", {"256=string:older.example"}}};
    const std::vector<Case> cases = {
        // The file is rejected by the engine before anything is removed.
        {"IConfigManager.LoadConfigs", "", 0, {failed}, earlier, defaults},
        {"IConfigManager.GetConfigCount", "", 0, {failed}, earlier, defaults},
        // Removed configurations stay removed; the rest stays.
        {"IConfigManager.GetConfigAt", "(1)", 0, {failed}, secondLeft, defaults},
        {"IConfigManager.RemoveConfig", "(config 2)", 0, {failed}, secondLeft, defaults},
        // A record whose configuration cannot be made is dropped; the update goes on.
        {"IConfigManager.NewConfig", "", 0, {}, {}, defaults},
        {"IConfig.GetData", "[config", 0, {}, {}, defaults},
        {"IKeyValueCollection.SetStringValue", "(256,", 0, {}, {}, defaults},
        {"IKeyValueCollection.SetDwordValue", "[config", 0, {}, {}, defaults},
        // The engine-wide values: only the defaults line, the new configuration stays.
        {"IConfigManager.GetEngineConfig", "", 0, {"KRVL (Error): Failed to set engine config defaults: 0x80004005"},
         {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        {"IConfig.GetData", "[engine]", 0, {"KRVL (Error): Failed to set engine config defaults: 0x80004005"},
         {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        // Failed writes and a failed save of the engine-wide values are only traced.
        {"IKeyValueCollection.SetDwordValue", "[engine]", 0, {}, {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        {"IConfig.Save", "[engine]", 0, {}, {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        {"IConfig.Save", "[engine]", 5, {}, {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        // An engine that cannot say what it holds gets every default, over the value it had.
        {"IKeyValueCollection.HasValue", "[engine]", 0, {}, {{"[config 3]", kNewConfigStart}},
         {"262=dword:30", "384=dword:14", "385=dword:0"}},
        // An engine that answers success but hands out nothing is taken as having failed.
        {"IConfigManager.GetConfigAt", "(1)", S_FALSE, {std::string(kFailedUpdate) + "0x80004003"}, secondLeft,
         defaults},
        {"IConfigManager.NewConfig", "", S_FALSE, {}, {}, defaults},
        {"IConfig.GetData", "[config", S_FALSE, {}, {}, defaults},
        {"IConfigManager.GetEngineConfig", "", S_FALSE,
         {"KRVL (Error): Failed to set engine config defaults: 0x80004003"}, {{"[config 3]", kNewConfigStart}},
         untouchedEngine},
        {"IConfig.GetData", "[engine]", S_FALSE, {"KRVL (Error): Failed to set engine config defaults: 0x80004003"},
         {{"[config 3]", kNewConfigStart}}, untouchedEngine},
        // A new configuration holds nothing to read back: its magic number comes out the same.
        {"IKeyValueCollection.GetDwordValue", "[config", 0, {}, {{"[config 3]", kNewConfigStart}}, defaults},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + c.match);
        Reset();
        WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
        CSharedRuntime::SetSwitch(L"vexcore", L"FailCall", std::wstring(c.call, c.call + strlen(c.call)));
        CSharedRuntime::SetSwitch(L"vexcore", L"FailMatch", std::wstring(c.match, c.match + strlen(c.match)));
        if (c.result != 0)
            CSharedRuntime::SetSwitch(L"vexcore", L"FailResult", c.result);
        EXPECT_EQ(c.lines, InstallAndRemove());
        CSharedRuntime::SetSwitch(L"vexcore", L"FailCall", L"");
        Sections state = EngineState();
        EXPECT_EQ(c.engine, state["[engine]"]);
        state.erase("[engine]");
        std::map<std::string, Lines> firstValues;
        for (const auto& section : state)
            firstValues[section.first] = Lines(section.second.begin(), section.second.begin() + 1);
        EXPECT_EQ(c.configs, firstValues);
        ExpectEncipheredOriginal(ToBytes(kGoodFile));
        ExpectEngineStoppedAndRestarted();
    }
}

TEST_F(UpdateQSNFaultTest, ServiceHostAndEngineFailuresBeforeTheFileIsOpened)
{
    struct Case {
        const wchar_t* standin;
        const wchar_t* call;
        const char* code; // null: the code of the thread's last error, whatever it is
        const char* services;
    };
    const std::vector<Case> cases = {
        {L"srSvc", L"IServiceManager.GetRunningServices", "0x80000100", nullptr},
        {L"srSvc", L"IServiceConfig.UnloadModule", "0x80000100", nullptr},
        {L"vexcore", L"GetFactory", nullptr, nullptr},
        {L"vexcore", L"IKrvFactory.CreateInstance", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.call));
        Reset();
        WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
        CSharedRuntime::SetSwitch(c.standin, L"FailCall", c.call);
        CSharedRuntime::SetSwitch(c.standin, L"FailResult", 0x80000100);
        const Lines lines = InstallAndRemove();
        CSharedRuntime::SetSwitch(c.standin, L"FailCall", L"");
        if (c.code) {
            EXPECT_EQ(Lines{std::string(kFailedUpdate) + c.code}, lines);
        } else {
            ASSERT_EQ(1u, lines.size());
            EXPECT_TRUE(IsFailedUpdateLine(lines[0])) << lines[0];
        }
        EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState()) << "no engine, no defaults";
        EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile())) << "the file was never opened";
        EXPECT_EQ(kServices, m_runtime->Services()) << "the engine runs as before";
    }
}

TEST_F(UpdateQSNFaultTest, TrustVerifierAbsentFailingOrRefusingTheServiceHost)
{
    // Without a working verifier neither the service host nor the engine is loaded: the update
    // stops at the engine, having touched nothing.
    const std::wstring verifier = m_runtime->Directory() + L"\\srVrTrst.dll";
    const std::wstring aside = m_runtime->Directory() + L"\\srVrTrst.aside";
    for (const wchar_t* failing : {L"", L"GetFactory", L"IKrvFactory.CreateInstance", L"ICachedVerifyTrust.Initialize",
                                   L"IVerifyTrustBase.Initialize", L"IVerifyTrustBase.VerifyFile"}) {
        SCOPED_TRACE(*failing ? Narrow(failing) : "srVrTrst.dll absent");
        Reset();
        WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
        if (*failing) {
            CSharedRuntime::SetSwitch(L"srVrTrst", L"FailCall", failing);
        } else {
            ASSERT_TRUE(MoveFileW(verifier.c_str(), aside.c_str()));
        }
        const Lines lines = InstallAndRemove();
        if (!*failing) {
            ASSERT_TRUE(MoveFileW(aside.c_str(), verifier.c_str()));
        }
        ASSERT_EQ(1u, lines.size());
        EXPECT_TRUE(IsFailedUpdateLine(lines[0])) << lines[0];
        EXPECT_EQ(ParseSections(kEarlierEngineState), EngineState());
        EXPECT_EQ(ToBytes(kGoodFile), ReadFileBytes(ControlFile())) << "the file was never opened";
        EXPECT_EQ(Lines{}, m_runtime->ServiceJournal());
        EXPECT_EQ(kServices, m_runtime->Services());
    }

    // An untrusted service host counts as an engine that is not running: the update goes on
    // while the engine runs, and nothing in the installer log says it was not stopped.
    Reset();
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll");
    EXPECT_EQ(Lines{}, InstallAndRemove());
    const Sections state = EngineState();
    ASSERT_EQ(1u, state.count("[config 3]"));
    EXPECT_EQ(kNewConfigStart.front(), state.at("[config 3]").front());
    EXPECT_EQ(0u, state.count("[config 1]") + state.count("[config 2]"));
    ExpectEncipheredOriginal(ToBytes(kGoodFile));
    EXPECT_EQ(Lines{}, m_runtime->ServiceJournal()) << "the host was never loaded";
    EXPECT_EQ(kServices, m_runtime->Services());
}

TEST_F(UpdateQSNFaultTest, EngineThatCannotBeRestartedLeavesTheUpdateDone)
{
    WriteFileBytes(ControlFile(), ToBytes(kGoodFile));
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", L"IServiceConfig.LoadModule");
    EXPECT_TRUE(InstallAndRemove().empty()) << "the restart is the update object's own business";
    const Sections state = EngineState();
    ASSERT_EQ(1u, state.count("[config 3]"));
    EXPECT_EQ(kNewConfigStart.front(), state.at("[config 3]").front());
    EXPECT_EQ(0u, state.count("[config 1]") + state.count("[config 2]"));
    ExpectEncipheredOriginal(ToBytes(kGoodFile));
    EXPECT_EQ("[Submission]\n", m_runtime->Services()) << "the engine stays unloaded";
}

TEST_F(UpdateQSNFaultTest, ContainersReadByTheirStoredLengthAreUsedAndKept)
{
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
    };
    const std::vector<Case> cases = {
        // Only the low 32 bits of the stored length count.
        {"a high length word", [](Bytes& f) { f[clfs::update::scd::SCD_LENGTH_OFFSET + 4] = 0x7F; }},
        // Bytes beyond the stored length's blocks are never handed out.
        {"trailing bytes after the body", [](Bytes& f) { f.insert(f.end(), 13, 0xA5); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Bytes file = Enciphered(kGoodFile);
        c.change(file);
        WriteFileBytes(ControlFile(), file);
        EXPECT_TRUE(InstallAndRemove().empty());
        const Sections state = EngineState();
        ASSERT_EQ(1u, state.count("[config 3]"));
        EXPECT_EQ(kNewConfigStart.front(), state.at("[config 3]").front());
        EXPECT_EQ(file, ReadFileBytes(ControlFile())) << "an enciphered file is never rewritten";
        ExpectEngineStoppedAndRestarted();
    }
}

} // namespace
