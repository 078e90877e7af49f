#include "update/update.h"

#include "tests/common/tracecapture.h"
#include "tests/update/harness.h"
#include "service/clfsboundary.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using clfs::update::CUpdate;
using namespace updatetest;

namespace {

const std::string kConstruct =
    "long __thiscall clfs::update::CUpdate::ConfigRec::Construct(class clfs::svc::IConfigManager *) : ";
const std::string kMagic =
    "long __thiscall clfs::update::CUpdate::ConfigRec::SetMagicNumber(class sr::IKeyValueCollection *) : ";
const std::string kCreate = "long __thiscall clfs::update::CUpdate::CreateConfig(void) throw(class _com_error) : ";
const std::string kSave = "long __thiscall clfs::update::CUpdate::Save(void) throw(class _com_error) : ";
const std::string kDefaults = "long __thiscall clfs::update::CUpdate::SetDefaults(unsigned long,unsigned long,unsigned "
                              "long,bool) throw() : ";
const std::string kDetectionId = "{6E18D0F3-8A27-4B95-B3C6-5F04E71A92D8}";

CUpdate::ConfigRec Record(const wchar_t* type, const std::wstring& component, unsigned long probability)
{
    CUpdate::ConfigRec record;
    record.m_bstrType = type;
    record.m_bstrProduct = L"AV";
    record.m_bstrProductVersion = L"9.1";
    record.m_bstrComponent = component.c_str();
    record.m_bstrComponentVersion = L"2.0";
    record.m_bstrServer = L"qsn.example.com";
    record.m_bstrSequence = L"42";
    record.m_bstrProto = L"https";
    record.m_dwProbability = probability;
    record.m_dwDailyLimit = 50;
    record.m_dwRetryLimitDays = 7;
    record.m_dwRetryFrequency = 7200;
    record.m_dwPort = 443;
    return record;
}

// What the engine receives for such a record: the keys in the engine's order with the record's
// and the type row's values, the magic's reads and write, the probability and the save.
Lines Writes(const std::string& type, const std::string& component, const std::string& name, const std::string& path,
             const std::string& typeId, const std::string& flag, const std::string& probability)
{
    return {"GetData", "Set 275 " + component, "Set 276 2.0", "Set 273 AV", "Set 274 9.1", "Set 271 0", "Set 262 0",
            "Set 256 qsn.example.com", "Set 267 Vexlink.dll", "Set 264 0", "Set 272 " + type, "Set 269 7",
            "Set 260 10485760", "Set 261 50", "Set 266 " + typeId, "Set 257 443", "Set 258 https", "Set 263 7200",
            "Set 268 " + name, "Set 259 " + path, "Set 278 " + flag, "Set 279 42", "GetDword 265", "GetDword 264",
            "Set 264 0", "Set 265 " + probability, "Save 1000"};
}

long SaveRecords(CEngineState& state, const std::vector<CUpdate::ConfigRec>& records)
{
    CTestUpdate update;
    update.UseManager(state.NewManager());
    update.Records().insert(records.begin(), records.end());
    try {
        return update.Save();
    } catch (const _com_error& caught) {
        return caught.Error();
    }
}

TEST(ConfigRec, SaveWritesEveryKeyInKeyOrderAndReleasesEverything)
{
    CEngineState state;
    EXPECT_EQ(0, SaveRecords(state, {Record(L"Submission", L"Engine", 1), Record(L"Detection", L"Ping", 0)}));
    EXPECT_EQ(Writes("Detection", "Ping", "QSN Detection Ping", "/postDetectionEvent", kDetectionId, "false", "0"),
              state.LinesOf(1));
    EXPECT_EQ(Writes("Submission", "Engine", "QSN Sample Submission", "/MUSE/postSuspectSample",
                     "{9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}", "true", "1"),
              state.LinesOf(2));
    // Both are constructed before either is saved.
    const auto at = [&](const char* line) { return std::find(state.journal.begin(), state.journal.end(), line); };
    EXPECT_LT(at("NewConfig #2"), at("#1 Save 1000"));
    EXPECT_EQ(0, state.liveObjects);
}

// The C run-time generator of a thread that never used it draws 41, 18467, 6334, 26500, 19169;
// the magic is the draw modulo probability - 1.
TEST(ConfigRec, MagicNumbersFollowTheThreadsGenerator)
{
    CEngineState state;
    state.presets[5][265] = 50;
    state.presets[6][265] = 150;
    supporttest::CTraceCapture capture;
    std::thread([&state] {
        const unsigned long probabilities[] = {100, 100, 2, 1, 100, 100, 0, 100};
        std::vector<CUpdate::ConfigRec> records;
        for (int i = 0; i < 8; ++i)
            records.push_back(Record(L"Detection", L"c" + std::to_wstring(i + 1), probabilities[i]));
        EXPECT_EQ(0, SaveRecords(state, records));
    }).join();
    const char* magics[] = {"41", "53", "0", "0", "0", "67", "0", "62"};
    for (int config = 1; config <= 8; ++config) {
        const Lines lines = state.LinesOf(config);
        const auto magic = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& line) {
            return line.rfind("Set 264 ", 0) == 0;
        });
        ASSERT_NE(lines.rend(), magic);
        EXPECT_EQ(std::string("Set 264 ") + magics[config - 1], *magic) << config;
    }
    const Lines lines = ClfsLines(capture.Take());
    for (const std::string& line :
         {Info(kMagic, "reset prob to 41"), Info(kMagic, "reset prob to 53"), Info(kMagic, "reset prob to 0"),
          Info(kMagic, "prob < 2, setting magic to 0 (prob=1)"), Info(kMagic, "prob < 2, setting magic to 0 (prob=0)"),
          Warning(kMagic, "Not resetting magic: prob=50, newprob=100, magic=0"),
          Info(kConstruct, "Created config [Detection] AV 9.1, c1 2.0")})
        EXPECT_TRUE(Contains(lines, line)) << line;
}

// Detection/Ping becomes #1, Submission/Engine #2; submission/Lower has no type row.
TEST(ConfigRec, FailingRecordsAreDroppedAndAFailedSaveStopsTheRest)
{
    const std::string ping = "[Detection] AV 9.1, Ping 2.0";
    const struct {
        std::function<void(CEngineState&)> arrange;
        long hr;
        Lines lines;
    } cases[] = {
        {[](CEngineState&) {}, 0, {Error(kConstruct, "Failed to get default config [submission] AV 9.1, Lower 2.0")}},
        {[](CEngineState& s) { s.newConfigResults[1] = static_cast<long>(0x8000FFFF); }, 0,
         {Error(kConstruct, "error: 0x8000FFFF"), Error(kCreate, "Failed to construct config " + ping + " : 0x8000FFFF")}},
        {[](CEngineState& s) { s.getDataResults[1] = E_OUTOFMEMORY; }, 0,
         {Error(kCreate, "Failed to construct config " + ping + " : 0x8007000E")}},
        {[](CEngineState& s) { s.failingKeys[1].insert(266); }, 0,
         {Error(kConstruct, "error: 0x80004005"), Error(kCreate, "Failed to construct config " + ping + " : 0x80004005")}},
        {[](CEngineState& s) { s.saveResults[1] = 5; }, E_FAIL, {Error(kSave, "Failed to save config")}},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        CEngineState state;
        c.arrange(state);
        EXPECT_EQ(c.hr, SaveRecords(state, {Record(L"Detection", L"Ping", 1), Record(L"submission", L"Lower", 1),
                                            Record(L"Submission", L"Engine", 1)}));
        EXPECT_EQ(0, state.liveObjects);
        EXPECT_EQ(2, state.configsMade);
        const Lines lines = ClfsLines(capture.Take());
        for (const std::string& line : c.lines)
            EXPECT_TRUE(Contains(lines, line)) << line;
        const bool pingConstructed = state.LinesOf(1).size() == 27;
        EXPECT_EQ(pingConstructed, Contains(state.journal, "#1 Save 1000")) << c.lines[0];
        EXPECT_EQ(c.hr == 0, Contains(state.journal, "#2 Save 1000")) << c.lines[0];
    }
    CEngineState state;
    state.failingKeys[1].insert(266);
    SaveRecords(state, {Record(L"Detection", L"Ping", 1)});
    const Lines written = Writes("Detection", "Ping", "", "", kDetectionId, "", "");
    EXPECT_EQ(Lines(written.begin(), written.begin() + 15), state.LinesOf(1)) << "what was written stays written";
}

TEST(SetDefaults, WritesOnlyAbsentValuesUnlessOverwriting)
{
    const std::string set = "Setting engine ";
    const Lines all = {"GetData", "HasValue 262", "Set 262 30", "HasValue 384", "Set 384 14", "HasValue 385",
                       "Set 385 0", "Save 1000"};
    const struct {
        std::function<void(CEngineState&)> arrange;
        bool overwrite;
        long hr;
        Lines journal;
        Lines lines;
    } cases[] = {
        {[](CEngineState&) {}, false, 0, all,
         {Info(kDefaults, set + "startup delay to 30"), Info(kDefaults, set + "max submission age to 14"),
          Info(kDefaults, set + "max data store size to 0"), Info(kDefaults, "Updating engine config..."),
          Info(kDefaults, "Success")}},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {384, 1}, {385, 1}}; }, false, 0,
         {"GetData", "HasValue 262", "HasValue 384", "HasValue 385"}, {}},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {385, 1}}; }, false, 0,
         {"GetData", "HasValue 262", "HasValue 384", "Set 384 14", "HasValue 385", "Save 1000"},
         {Info(kDefaults, set + "max submission age to 14"), Info(kDefaults, "Updating engine config...")}},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {384, 1}, {385, 1}}; }, true, 0,
         {"GetData", "Set 262 30", "Set 384 14", "Set 385 0", "Save 1000"}, {}},
        {[](CEngineState& s) { s.saveResults[0] = 5; }, false, 0, all, {Error(kDefaults, "Failed to save config: 5")}},
        {[](CEngineState& s) { s.failingKeys[0] = {262}; }, false, 0, all, {Error(kDefaults, "Failed to set delay")}},
        {[](CEngineState& s) { s.engineConfigResult = E_FAIL; }, false, E_FAIL, {},
         {Error(kDefaults, "Failed to get engine config: 0x80004005")}},
        {[](CEngineState& s) { s.getDataResults[0] = E_OUTOFMEMORY; }, false, E_OUTOFMEMORY, {"GetData"},
         {Error(kDefaults, "Failed to get config data: 0x8007000E")}},
        {[](CEngineState& s) { s.getDataResults[0] = S_FALSE; }, false, S_FALSE, all, {}},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        CEngineState state;
        c.arrange(state);
        {
            CTestUpdate update;
            update.UseManager(state.NewManager());
            EXPECT_EQ(c.hr, update.SetDefaults(30, 14, 0, c.overwrite));
        }
        EXPECT_EQ(c.journal, state.LinesOf(0));
        EXPECT_EQ(0, state.liveObjects);
        const Lines lines = ClfsLines(capture.Take());
        for (const std::string& line : c.lines)
            EXPECT_TRUE(Contains(lines, line)) << line;
        EXPECT_EQ(Contains(c.journal, "Save 1000"), Contains(lines, Info(kDefaults, "Updating engine config...")));
    }
    CTestUpdate withoutManager;
    EXPECT_EQ(E_POINTER, withoutManager.SetDefaults(30, 14, 0, false));
    EXPECT_EQ(Lines{Error(kDefaults, "m_pConfigManager == NULL")}, ClfsLines(capture.Take()));
}

TEST(ClfsBoundary, EachExceptionKindBecomesTheResult)
{
    const std::string site = "long __thiscall clfs::test(void) throw() : ";
    const std::string mapping = "long __cdecl clfs::utils::KrvresultToHresult(unsigned long) : ";
    const struct {
        std::function<long()> body;
        long hr;
        Lines lines;
    } cases[] = {
        {[]() -> long { return S_FALSE; }, S_FALSE, {}},
        {[]() -> long { throw std::bad_alloc(); }, E_OUTOFMEMORY, {Error(site, "caught std::bad_alloc")}},
        {[]() -> long { throw ATL::CAtlException(E_ACCESSDENIED); }, E_ACCESSDENIED, {Error(site, "atl ex: 0x80070005")}},
        {[]() -> long { throw _com_error(E_POINTER); }, E_POINTER, {Error(site, "error: 0x80004003")}},
        {[]() -> long { throw srx_exception(0x80010303); }, static_cast<long>(0x8007000B),
         {Error(mapping, "sr = 0x80010303"), Error(site, "srx: 0x80010303 (hr 0x8007000B)")}},
        {[]() -> long { throw srx_exception(0x00010002); }, E_FAIL, {Error(site, "srx: 0x00010002 (hr 0x80004005)")}},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        EXPECT_EQ(c.hr, clfs::utils::RunClfsBoundary(clfs::utils::CTraceSite(L"long __thiscall clfs::test(void) throw()"),
                                                     c.body));
        EXPECT_EQ(c.lines, ClfsLines(capture.Take()));
    }
    const std::pair<unsigned long, unsigned long> mapped[] = {
        {0x00010000, 0}, {0x00010001, 1}, {0x80010203, 0x80070057}, {0x80010300, 0x80070003},
        {0x80000100, 0x80070490}, {0x80000201, 0x80028CA0}, {0x80000205, 0x8000FFFF}, {0x8001FFFF, 0x80004005},
    };
    for (const auto& [sr, hr] : mapped)
        EXPECT_EQ(static_cast<long>(hr), clfs::utils::KrvresultToHresult(sr)) << std::hex << sr;
}

} // namespace
