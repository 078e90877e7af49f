// How the update's time grows with the number of controls in the control file, against what
// MSXML alone needs to load and walk the same file.
//
// For each size, each figure the median of several runs:
//   bare      MSXML alone: loadXML of the text and a walk that reads every attribute and child
//             the update reads, each once;
//   UpdateQSN through submca.dll's export (installer handle 0), the service host and trust
//             verifier stand-ins in place and, for the engine, a component that stores nothing
//             (noopvexcore.cpp): the whole update without an engine's cost;
//   phases    the same steps called on CUpdate in this process, against the same engine, each
//             timed: where the module's time goes;
//   stand-in  UpdateQSN through the export with the engine stand-in. The stand-in journals every
//             call to a file, rereads its whole store on every NewConfig and rewrites it on every
//             Save, so its time grows with the square of the number of controls; it runs up to
//             --standin-max controls (1,000 by default: at 10,000 one run takes about an hour).
//
// Usage: update_bench [--standin-max N] [controls...]   (default sizes 100 1000 10000)
// Runs inside a Wine prefix of its own: it writes HKLM\Software\Korvalin\InstalledApps.
#include "buildpaths.h"
#include "bench/update/controlfile.h"
#include "bench/update/msxmlwalk.h"
#include "bench/update/noopengine.h"
#include "update/update.h"

#include <windows.h>

#include <msi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using updatebench::CEngineCounts;
using updatebench::Now;

const wchar_t kInstalledAppsKey[] = L"Software\\Korvalin\\InstalledApps";
const int kRuns = 5;
const int kStandinRuns = 3;
// A stand-in run longer than this is not repeated.
const double kStandinRepeatLimit = 60.0;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "update_bench: %s\n", what.c_str());
    std::exit(1);
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool done = file != INVALID_HANDLE_VALUE &&
                      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                      written == bytes.size();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!done)
        Fail("cannot write " + Narrow(path));
}

std::string ReadBytes(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void MakeFolder(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail("cannot create " + Narrow(path));
}

void CopyBuilt(const std::wstring& source, const std::wstring& target)
{
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE))
        Fail("cannot copy " + Narrow(source));
}

void SetInstalledApp(const wchar_t* name, const std::wstring& folder)
{
    const LSTATUS status = RegSetKeyValueW(HKEY_LOCAL_MACHINE, kInstalledAppsKey, name, REG_SZ, folder.c_str(),
                                           static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        Fail("cannot write the InstalledApps value " + Narrow(name));
}

void Require(long hr, const char* step)
{
    if (hr < 0) {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
        Fail(std::string(step) + " failed with " + text);
    }
}

using GetEngineCountsFunction = CEngineCounts*(__stdcall*)();

// The stand-ins copied where the registry says the shared runtime lives, two engine folders (the
// no-op engine's and the engine stand-in's; the InstalledApps value names the one in use) and
// the engine's data folder that holds SCD.xml.
class CPlace {
public:
    CPlace()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring base = std::wstring(temp) + L"submca-bench";
        m_sShared = base + L"\\Korvalin Shared";
        m_sNoopEngine = base + L"\\Noop Engine";
        m_sStandinEngine = base + L"\\Engine";
        m_sData = base + L"\\Data";
        for (const std::wstring& folder : {base, m_sShared, m_sNoopEngine, m_sStandinEngine, m_sData})
            MakeFolder(folder);
        const std::wstring standins = SUBMCA_STANDINS_DIR;
        CopyBuilt(standins + L"\\srsvc\\srSvc.dll", m_sShared + L"\\srSvc.dll");
        CopyBuilt(standins + L"\\srvrtrst\\srVrTrst.dll", m_sShared + L"\\srVrTrst.dll");
        CopyBuilt(standins + L"\\vexcore\\vexcore.dll", m_sStandinEngine + L"\\vexcore.dll");
        CopyBuilt(SUBMCA_NOOP_ENGINE_PATH, m_sNoopEngine + L"\\vexcore.dll");
        SetInstalledApp(L"Shared Runtime", m_sShared);
        SetInstalledApp(L"ORBSubmissionEngineData", m_sData);

        // Held loaded for the whole run, so its counts outlive the module's loading and freeing.
        const HMODULE noop = LoadLibraryW((m_sNoopEngine + L"\\vexcore.dll").c_str());
        const auto getCounts = noop ? reinterpret_cast<GetEngineCountsFunction>(
                                          reinterpret_cast<void*>(GetProcAddress(noop, "GetEngineCounts")))
                                    : nullptr;
        if (!getCounts)
            Fail("cannot load the no-op engine");
        m_pNoopCounts = getCounts();
    }

    std::wstring ControlFile() const { return m_sData + L"\\SCD.xml"; }
    CEngineCounts& NoopCounts() const { return *m_pNoopCounts; }

    // A plain control file, the engine in use loaded in the service host, an empty stand-in store,
    // no journals and fresh no-op counts (listing `controls` stored configurations): the state
    // every run starts from.
    void Prepare(const std::string& controlFile, bool standinEngine, unsigned long controls) const
    {
        const std::wstring& engine = standinEngine ? m_sStandinEngine : m_sNoopEngine;
        SetInstalledApp(L"ORBSubmissionEngine", engine);
        WriteBytes(ControlFile(), controlFile);
        WriteBytes(m_sShared + L"\\srsvc-services.txt",
                   "[Submission]\n" + Narrow(engine) + "\\vexcore.dll|ORBSubmissionEngine\n");
        for (const std::wstring& file :
             {m_sStandinEngine + L"\\vexcore-configs.txt", m_sStandinEngine + L"\\vexcore-journal.txt",
              m_sShared + L"\\srsvc-journal.txt", m_sShared + L"\\srvrtrst-journal.txt"})
            DeleteFileW(file.c_str());
        *m_pNoopCounts = CEngineCounts();
        m_pNoopCounts->existing = standinEngine ? 0 : controls;
    }

    // Every control became a saved configuration, the defaults were saved, nothing of the engine
    // is left alive, and the control file was enciphered.
    void CheckNoopRun(unsigned long controls) const
    {
        const CEngineCounts& counts = *m_pNoopCounts;
        if (counts.configsMade != controls || counts.configsSaved != controls || counts.configsRemoved != controls)
            Fail("the no-op engine did not get one configuration per control: made " +
                 std::to_string(counts.configsMade) + ", saved " + std::to_string(counts.configsSaved));
        if (counts.engineSaves != 1)
            Fail("the engine-wide defaults were not saved once");
        if (counts.liveObjects != 0)
            Fail("the update left engine objects alive");
        CheckEnciphered();
    }

    void CheckStandinRun(unsigned long controls) const
    {
        const std::string store = ReadBytes(m_sStandinEngine + L"\\vexcore-configs.txt");
        unsigned long stored = 0;
        for (size_t at = store.find("[config "); at != std::string::npos; at = store.find("[config ", at + 1))
            ++stored;
        if (stored != controls)
            Fail("the engine stand-in stored " + std::to_string(stored) + " configurations");
        CheckEnciphered();
    }

private:
    void CheckEnciphered() const
    {
        if (ReadBytes(ControlFile()).compare(0, 5, "<?xml") == 0)
            Fail("the control file was not enciphered");
    }

    std::wstring m_sShared;
    std::wstring m_sNoopEngine;
    std::wstring m_sStandinEngine;
    std::wstring m_sData;
    CEngineCounts* m_pNoopCounts = nullptr;
};

// CUpdate with its manager in reach, so that ProcessFile's removal loop can be timed apart.
class CBenchUpdate : public clfs::update::CUpdate {
public:
    clfs::svc::IConfigManager* Manager() const { return m_pConfigManager.Get(); }
};

enum Phase { eInitialize, eLoadXml, eRemove, eConstruct, eSave, eDefaults, eDestroy, ePhases };
const char* const kPhaseNames[ePhases] = {"Initialize", "LoadXml",  "remove", "construct",
                                          "save",       "defaults", "destroy"};

struct CPhases {
    double phases[ePhases] = {};
};

// UpdateQSN's steps in its order, with ProcessFile's spelled out (LoadXml, the removal loop, then
// Save, whose construction half CreateConfig does first), each phase timed.
CPhases RunPhases(const CPlace& place)
{
    CPhases run;
    double mark = Now();
    auto lap = [&](Phase phase) {
        const double now = Now();
        run.phases[phase] = now - mark;
        mark = now;
    };
    {
        CBenchUpdate update;
        Require(update.Initialize(place.ControlFile().c_str()), "Initialize");
        lap(eInitialize);
        Require(update.LoadXml(), "LoadXml");
        lap(eLoadXml);
        clfs::svc::IConfigManager* manager = update.Manager();
        Require(manager->LoadConfigs(), "LoadConfigs");
        DWORD existing = 0;
        Require(manager->GetConfigCount(&existing), "GetConfigCount");
        for (DWORD index = 0; index < existing; ++index) {
            clfs::utils::CKrvRef<clfs::svc::IConfig> config;
            Require(manager->GetConfigAt(index, config.Receive()), "GetConfigAt");
            Require(manager->RemoveConfig(config.Get()), "RemoveConfig");
        }
        lap(eRemove);
        Require(update.CreateConfig(), "CreateConfig");
        lap(eConstruct);
        Require(update.Save(), "Save");
        lap(eSave);
        Require(update.SetDefaults(30, 14, 0, false), "SetDefaults");
        lap(eDefaults);
    }
    lap(eDestroy);
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

_bstr_t Widen(const std::string& text)
{
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide, chars);
    return _bstr_t(wide, false);
}

struct CResult {
    unsigned long controls = 0;
    double bareLoad = 0;
    double bareWalk = 0;
    double bare = 0;
    double update = 0;
    double phases[ePhases] = {};
    double phasesWhole = 0;
    // 0 runs: not measured at this size.
    double standin = 0;
    int standinRuns = 0;
};

using UpdateQSNFunction = UINT(__stdcall*)(MSIHANDLE);

CResult Measure(unsigned long controls, const CPlace& place, UpdateQSNFunction updateQSN, unsigned long standinMax)
{
    CResult result;
    result.controls = controls;
    const std::string file = updatebench::MakeControlFile(controls);
    const _bstr_t text = Widen(file);

    // The three measurements take turns, so that a change in the machine's load between runs
    // touches all of them alike and their ratios stay meaningful.
    std::vector<double> loads, walks, bares, updates, phases[ePhases], wholes;
    for (int i = 0; i < kRuns; ++i) {
        const updatebench::CBareTimes times = updatebench::LoadAndWalk(text);
        if (times.controls != controls)
            Fail("the walk did not see every control");
        loads.push_back(times.load);
        walks.push_back(times.walk);
        bares.push_back(times.load + times.walk);

        place.Prepare(file, false, controls);
        const double start = Now();
        updateQSN(0);
        updates.push_back(Now() - start);
        place.CheckNoopRun(controls);

        place.Prepare(file, false, controls);
        const CPhases run = RunPhases(place);
        place.CheckNoopRun(controls);
        double whole = 0;
        for (int phase = 0; phase < ePhases; ++phase) {
            phases[phase].push_back(run.phases[phase]);
            whole += run.phases[phase];
        }
        wholes.push_back(whole);
    }
    result.bareLoad = Median(loads);
    result.bareWalk = Median(walks);
    result.bare = Median(bares);
    result.update = Median(updates);
    for (int phase = 0; phase < ePhases; ++phase)
        result.phases[phase] = Median(phases[phase]);
    result.phasesWhole = Median(wholes);

    std::vector<double> standins;
    while (controls <= standinMax && static_cast<int>(standins.size()) < kStandinRuns &&
           (standins.empty() || standins.back() <= kStandinRepeatLimit)) {
        place.Prepare(file, true, controls);
        const double start = Now();
        updateQSN(0);
        standins.push_back(Now() - start);
        place.CheckStandinRun(controls);
        std::fprintf(stderr, "  %lu controls, engine stand-in: run %zu took %.1f s\n", controls, standins.size(),
                     standins.back());
    }
    if (!standins.empty())
        result.standin = Median(standins);
    result.standinRuns = static_cast<int>(standins.size());
    return result;
}

double Milliseconds(double seconds)
{
    return seconds * 1000.0;
}

double PerControl(double seconds, unsigned long controls)
{
    return seconds / controls;
}

double MicrosecondsPerControl(double seconds, unsigned long controls)
{
    return PerControl(seconds, controls) * 1e6;
}

void PrintRatio(const char* what, double ratio, double target, const char* unit)
{
    std::printf("    %-34s %7.2f%-2s %s\n", what, ratio, unit, ratio <= target ? "met" : "NOT met");
}

// The targets compare the largest size with the one before it (10,000 and 1,000 by default).
void PrintTargets(const CResult& small, const CResult& large)
{
    std::printf("\nTargets (%lu vs %lu controls):\n", large.controls, small.controls);
    std::printf("  time per control, %lu vs %lu controls (target <= 1.3):\n", large.controls, small.controls);
    PrintRatio("UpdateQSN, no-op engine",
               PerControl(large.update, large.controls) / PerControl(small.update, small.controls), 1.3, "");
    PrintRatio("CUpdate phases, no-op engine",
               PerControl(large.phasesWhole, large.controls) / PerControl(small.phasesWhole, small.controls), 1.3, "");
    if (small.standinRuns && large.standinRuns)
        PrintRatio("UpdateQSN, engine stand-in",
                   PerControl(large.standin, large.controls) / PerControl(small.standin, small.controls), 1.3, "");
    std::printf("  whole update vs bare parse at %lu controls (target <= 3x):\n", large.controls);
    PrintRatio("UpdateQSN, no-op engine", large.update / large.bare, 3.0, "x");
    PrintRatio("CUpdate phases, no-op engine", large.phasesWhole / large.bare, 3.0, "x");
    if (large.standinRuns)
        PrintRatio("UpdateQSN, engine stand-in", large.standin / large.bare, 3.0, "x");
}

void Print(const std::vector<CResult>& results, unsigned long standinMax)
{
    std::printf("\nMSXML alone: loadXML, then a walk reading every value the update reads; median of %d, ms\n", kRuns);
    std::printf("%10s %12s %12s %12s %12s\n", "controls", "loadXML", "walk", "bare", "us/control");
    for (const CResult& r : results)
        std::printf("%10lu %12.1f %12.1f %12.1f %12.1f\n", r.controls, Milliseconds(r.bareLoad),
                    Milliseconds(r.bareWalk), Milliseconds(r.bare), MicrosecondsPerControl(r.bare, r.controls));

    std::printf("\nUpdateQSN through submca.dll's export, no-op engine; median of %d, ms\n", kRuns);
    std::printf("%10s %12s %12s %12s\n", "controls", "whole", "us/control", "x bare");
    for (const CResult& r : results)
        std::printf("%10lu %12.1f %12.1f %12.2f\n", r.controls, Milliseconds(r.update),
                    MicrosecondsPerControl(r.update, r.controls), r.update / r.bare);

    std::printf("\nWhere the time goes: CUpdate's steps in this process, no-op engine; median of %d, ms\n", kRuns);
    std::printf("%10s", "controls");
    for (const char* name : kPhaseNames)
        std::printf(" %10s", name);
    std::printf(" %10s %10s\n", "whole", "us/control");
    for (const CResult& r : results) {
        std::printf("%10lu", r.controls);
        for (double phase : r.phases)
            std::printf(" %10.1f", Milliseconds(phase));
        std::printf(" %10.1f %10.1f\n", Milliseconds(r.phasesWhole), MicrosecondsPerControl(r.phasesWhole, r.controls));
    }

    std::printf("\nUpdateQSN through the export, engine stand-in (up to %lu controls); median of up to %d, ms\n",
                standinMax, kStandinRuns);
    std::printf("%10s %6s %12s %12s %12s %16s\n", "controls", "runs", "whole", "us/control", "x bare",
                "engine stand-in");
    const CResult* largestStandin = nullptr;
    for (const CResult& r : results) {
        if (!r.standinRuns) {
            std::printf("%10lu %6s\n", r.controls, "-");
            continue;
        }
        largestStandin = &r;
        std::printf("%10lu %6d %12.1f %12.1f %12.2f %15.0f%%\n", r.controls, r.standinRuns, Milliseconds(r.standin),
                    MicrosecondsPerControl(r.standin, r.controls), r.standin / r.bare,
                    (r.standin - r.update) / r.standin * 100.0);
    }
    if (largestStandin && (largestStandin->standin - largestStandin->update) / largestStandin->standin > 0.5)
        std::printf("The engine stand-in dominates: at %lu controls it takes %.0f%% of the update (the difference "
                    "to the\nno-op engine). On every call it reads its failure switches from the registry and appends "
                    "a\njournal line to a file, and on every NewConfig and Save it rereads (and rewrites) its whole "
                    "store,\nso its time grows with the square of the number of controls. The module's own time is "
                    "the\nno-op engine's.\n",
                    largestStandin->controls,
                    (largestStandin->standin - largestStandin->update) / largestStandin->standin * 100.0);

    if (results.size() >= 2)
        PrintTargets(results[results.size() - 2], results.back());
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long standinMax = 1000;
    std::vector<unsigned long> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--standin-max") == 0 && i + 1 < argc)
            standinMax = std::strtoul(argv[++i], nullptr, 10);
        else if (const unsigned long size = std::strtoul(argv[i], nullptr, 10))
            sizes.push_back(size);
        else
            Fail(std::string("not a number of controls: ") + argv[i]);
    }
    if (sizes.empty())
        sizes = {100, 1000, 10000};
    std::sort(sizes.begin(), sizes.end());

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        Fail("cannot enter a COM apartment");
    const CPlace place;
    const HMODULE module = LoadLibraryW(SUBMCA_MODULE_PATH);
    const auto updateQSN =
        module ? reinterpret_cast<UpdateQSNFunction>(reinterpret_cast<void*>(GetProcAddress(module, "UpdateQSN")))
               : nullptr;
    if (!updateQSN)
        Fail("cannot load UpdateQSN from " + Narrow(SUBMCA_MODULE_PATH));

    std::vector<CResult> results;
    for (unsigned long size : sizes)
        results.push_back(Measure(size, place, updateQSN, standinMax));
    Print(results, standinMax);
    return 0;
}
