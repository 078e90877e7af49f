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
    // The support engineer's trace lines for the draw and for a probability that was not raised.
    const std::string traced = capture.Take();
    for (const char* line : {"reset prob to 41", "reset prob to 53", "Not resetting magic: prob=50, newprob=100, magic=0"})
        EXPECT_NE(std::string::npos, traced.find(line)) << line;
}

// Detection/Ping becomes #1, Submission/Engine #2; submission/Lower has no type row and is
// dropped. A record the engine refuses is dropped; a failed save stops the rest.
TEST(ConfigRec, FailingRecordsAreDroppedAndAFailedSaveStopsTheRest)
{
    const struct {
        std::function<void(CEngineState&)> arrange;
        long hr;
        bool pingSaved;
    } cases[] = {
        {[](CEngineState&) {}, 0, true},
        {[](CEngineState& s) { s.newConfigResults[1] = static_cast<long>(0x8000FFFF); }, 0, false},
        {[](CEngineState& s) { s.getDataResults[1] = E_OUTOFMEMORY; }, 0, false},
        {[](CEngineState& s) { s.failingKeys[1].insert(266); }, 0, false},
        {[](CEngineState& s) { s.saveResults[1] = 5; }, E_FAIL, true},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(i);
        CEngineState state;
        cases[i].arrange(state);
        EXPECT_EQ(cases[i].hr, SaveRecords(state, {Record(L"Detection", L"Ping", 1), Record(L"submission", L"Lower", 1),
                                                   Record(L"Submission", L"Engine", 1)}));
        EXPECT_EQ(0, state.liveObjects);
        EXPECT_EQ(2, state.configsMade);
        EXPECT_EQ(cases[i].pingSaved, Contains(state.journal, "#1 Save 1000"));
        EXPECT_EQ(cases[i].hr == 0, Contains(state.journal, "#2 Save 1000"));
    }
    CEngineState state;
    state.failingKeys[1].insert(266);
    SaveRecords(state, {Record(L"Detection", L"Ping", 1)});
    const Lines written = Writes("Detection", "Ping", "", "", kDetectionId, "", "");
    EXPECT_EQ(Lines(written.begin(), written.begin() + 15), state.LinesOf(1)) << "what was written stays written";
}

// A failed save or setter shows only in the trace.
TEST(SetDefaults, WritesOnlyAbsentValuesUnlessOverwriting)
{
    const Lines all = {"GetData", "HasValue 262", "Set 262 30", "HasValue 384", "Set 384 14", "HasValue 385",
                       "Set 385 0", "Save 1000"};
    const struct {
        std::function<void(CEngineState&)> arrange;
        bool overwrite;
        long hr;
        Lines journal;
        std::string line;
    } cases[] = {
        {[](CEngineState&) {}, false, 0, all, ""},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {384, 1}, {385, 1}}; }, false, 0,
         {"GetData", "HasValue 262", "HasValue 384", "HasValue 385"}, ""},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {385, 1}}; }, false, 0,
         {"GetData", "HasValue 262", "HasValue 384", "Set 384 14", "HasValue 385", "Save 1000"}, ""},
        {[](CEngineState& s) { s.presets[0] = {{262, 1}, {384, 1}, {385, 1}}; }, true, 0,
         {"GetData", "Set 262 30", "Set 384 14", "Set 385 0", "Save 1000"}, ""},
        {[](CEngineState& s) { s.saveResults[0] = 5; }, false, 0, all, "Failed to save config: 5"},
        {[](CEngineState& s) { s.failingKeys[0] = {262}; }, false, 0, all, "Failed to set delay"},
        {[](CEngineState& s) { s.engineConfigResult = E_FAIL; }, false, E_FAIL, {}, ""},
        {[](CEngineState& s) { s.getDataResults[0] = E_OUTOFMEMORY; }, false, E_OUTOFMEMORY, {"GetData"}, ""},
        {[](CEngineState& s) { s.getDataResults[0] = S_FALSE; }, false, S_FALSE, all, ""},
    };
    supporttest::CTraceCapture capture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CEngineState state;
        c.arrange(state);
        {
            CTestUpdate update;
            update.UseManager(state.NewManager());
            EXPECT_EQ(c.hr, update.SetDefaults(30, 14, 0, c.overwrite));
        }
        EXPECT_EQ(c.journal, state.LinesOf(0));
        EXPECT_EQ(0, state.liveObjects);
        EXPECT_NE(std::string::npos, capture.Take().find(c.line));
    }
    CTestUpdate withoutManager;
    EXPECT_EQ(E_POINTER, withoutManager.SetDefaults(30, 14, 0, false));
}

TEST(ClfsBoundary, EachExceptionKindBecomesTheResult)
{
    const struct {
        std::function<long()> body;
        long hr;
    } cases[] = {
        {[]() -> long { return S_FALSE; }, S_FALSE},
        {[]() -> long { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {[]() -> long { throw ATL::CAtlException(E_ACCESSDENIED); }, E_ACCESSDENIED},
        {[]() -> long { throw _com_error(E_POINTER); }, E_POINTER},
        {[]() -> long { throw srx_exception(0x80010303); }, static_cast<long>(0x8007000B)},
        {[]() -> long { throw srx_exception(0x00010002); }, E_FAIL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hr, clfs::utils::RunClfsBoundary(clfs::utils::CTraceSite(L"long __thiscall clfs::test(void) throw()"),
                                                     c.body));
}

} // namespace
