// UnloadSubmissionService in the real msiexec, against the service host and trust verifier
// stand-ins placed where the registry says the shared runtime lives, with the logging switches,
// the shared-runtime folder value and the service host at fault: the installation succeeds, the
// log shows exactly the lines the threshold lets through, the engine is unloaded only when it was
// found and never started again, and no value is rewritten.
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace testsupport;
using servicetest::CSharedRuntime;
using Lines = std::vector<std::string>;

namespace {

const std::string kEngine = "C:\\Program Files\\Korvalin\\Engine\\vexcore.dll";
const std::string kServices = "[Submission]\n" + kEngine + "|ORBSubmissionEngine\n";
const std::string kScanner = "[Antivirus]\nC:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n";
const std::string kBackup = "[Backup]\n" + kEngine + "|Backup\n";
const std::string kUnloaded = "[Submission]\n";
const char kOpening[] = "KRVL: Shutting down the submission service...";
const char kStopping[] = "KRVL: Service control initialization succeeded.  Stopping the service";
const Lines kVerbose = {kOpening, kStopping, "KRVL: Exiting Submission service shutdown.  Result: 0x00000000"};

void SetMsiLogging(const std::wstring& value)
{
    SetString(kKorvalinKey, L"MsiLogging", value);
}

void DeleteValue(const wchar_t* subKey, const wchar_t* name)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, subKey, name);
}

void FailHostCall(const wchar_t* call)
{
    CSharedRuntime::SetSwitch(L"srSvc", L"FailCall", call);
    CSharedRuntime::SetSwitch(L"srSvc", L"FailResult", 0x80000100);
}

// Every value the action reads, as type and bytes, to see that none is rewritten.
Lines ValuesRead()
{
    Lines values;
    for (const wchar_t* name : {L"MsiLogging", L"DebugLog", L"MsiDebugLog", L"Shared Runtime"}) {
        const auto value = GetRaw(name[0] == L'S' ? kInstalledAppsKey : kKorvalinKey, name);
        values.push_back(value ? std::to_string(value->type) + ":" + std::string(value->data.begin(), value->data.end())
                               : "missing");
    }
    return values;
}

TEST(UnloadServiceFaultTest, SwitchesValuesAndHostFailures)
{
    struct Case {
        std::string what;
        std::function<void(CSharedRuntime&)> plant; // after MsiLogging "2" and the engine loaded
        Lines lines;
        std::string services;  // afterwards
        bool debugLog = false; // whether the debug log file is written
    };
    const auto msiLogging = [](const std::string& what, bool verbose, std::function<void()> set) {
        return Case{what, [set](CSharedRuntime&) { set(); }, verbose ? kVerbose : Lines{}, kUnloaded};
    };
    const auto binarySwitch = [](const char* what, const wchar_t* name, DWORD type, std::vector<BYTE> data,
                                 bool debugLog) {
        return Case{
            what,
            [=](CSharedRuntime&) { SetRaw(kKorvalinKey, name, type, data.data(), static_cast<DWORD>(data.size())); },
            kVerbose, kUnloaded, debugLog};
    };
    const auto sharedRuntime = [](const char* what, std::function<void()> set) {
        return Case{what, [set](CSharedRuntime&) { set(); }, kVerbose, kServices};
    };
    const auto lookupFailure = [](const wchar_t* call, bool unloaded) {
        return Case{"failing " + Narrow(call), [call](CSharedRuntime&) { FailHostCall(call); }, kVerbose,
                    unloaded ? kUnloaded : kServices};
    };
    std::vector<Case> cases = {
        // The search ends with the find: the same module in a later configuration stays.
        {"the engine among other configurations",
         [](CSharedRuntime& runtime) { runtime.SetServices(kScanner + kServices + kBackup); }, kVerbose,
         kScanner + kUnloaded + kBackup},
        msiLogging("MsiLogging absent", false, [] { DeleteValue(kKorvalinKey, L"MsiLogging"); }),
        msiLogging("MsiLogging a number", false, [] { SetDword(kKorvalinKey, L"MsiLogging", 2); }),
        msiLogging("MsiLogging expandable", true, [] { SetString(kKorvalinKey, L"MsiLogging", L"2", REG_EXPAND_SZ); }),
        msiLogging("MsiLogging binary text", false,
                   [] { SetRaw(kKorvalinKey, L"MsiLogging", REG_BINARY, L"2", sizeof(L"2")); }),
        msiLogging("MsiLogging in the 64-bit view only", false,
                   [] {
                       DeleteValue(kKorvalinKey, L"MsiLogging");
                       const RegistryView view(KEY_WOW64_64KEY);
                       SetMsiLogging(L"2");
                   }),
        // Up to four bytes of any type are taken as a number: "1" has bit 0, the debug log file.
        // Longer values are not read at all.
        binarySwitch("DebugLog a string", L"DebugLog", REG_SZ, {'1', 0, 0, 0}, true),
        binarySwitch("MsiDebugLog one byte", L"MsiDebugLog", REG_BINARY, {1}, true),
        binarySwitch("DebugLog eight bytes", L"DebugLog", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}, false),
        binarySwitch("DebugLog a 64-bit number", L"DebugLog", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false),
        binarySwitch("MsiDebugLog over-long", L"MsiDebugLog", REG_BINARY, std::vector<BYTE>(70000, 0xFF), false),
        // Each falls back to the common files folder, where no service host is installed.
        sharedRuntime("Shared Runtime absent", [] { DeleteValue(kInstalledAppsKey, L"Shared Runtime"); }),
        sharedRuntime("Shared Runtime empty", [] { SetString(kInstalledAppsKey, L"Shared Runtime", L""); }),
        sharedRuntime("Shared Runtime a number", [] { SetDword(kInstalledAppsKey, L"Shared Runtime", 1); }),
        sharedRuntime("Shared Runtime over-long",
                      [] { SetString(kInstalledAppsKey, L"Shared Runtime", L"C:\\" + std::wstring(5000, L's')); }),
        {"Shared Runtime with trailing backslashes",
         [](CSharedRuntime& runtime) {
             SetString(kInstalledAppsKey, L"Shared Runtime", runtime.Directory() + L"\\\\\\");
         },
         kVerbose, kUnloaded},
        // A host that cannot be reached or an engine that is not loaded counts as not running.
        {"no service host", [](CSharedRuntime& runtime) { DeleteFileW(runtime.ServiceHostPath().c_str()); }, kVerbose,
         kServices},
        {"untrusted service host",
         [](CSharedRuntime&) { CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"srSvc.dll"); }, kVerbose,
         kServices},
        {"engine not loaded", [](CSharedRuntime& runtime) { runtime.SetServices("[Antivirus]\nC:\\scan.dll\n"); },
         kVerbose, "[Antivirus]\nC:\\scan.dll\n"},
        // A host call failing while the engine is looked for only hides it; its name is not needed.
        lookupFailure(L"GetFactory", false),
        lookupFailure(L"IKrvFactory.CreateInstance", false),
        lookupFailure(L"IServiceConfigCollection.GetItem", false),
        lookupFailure(L"IServiceConfig.GetLoadedModules", false),
        lookupFailure(L"IModuleCollection.GetItem", false),
        lookupFailure(L"IServiceModule.GetPath", false),
        lookupFailure(L"IServiceModule.GetName", true),
        // A failing host call is logged with the host's code; at the installer's default
        // threshold only the error line passes.
        {"no running services",
         [](CSharedRuntime&) { FailHostCall(L"IServiceManager.GetRunningServices"); },
         {kOpening, "KRVL (Error): Failed to initialize svc Control.  Submission Service not running. hr = 0x80000100",
          "KRVL: Exiting Submission service shutdown.  Result: 0x80000100"},
         kServices},
        {"unload refused, default threshold",
         [](CSharedRuntime&) {
             FailHostCall(L"IServiceConfig.UnloadModule");
             DeleteValue(kKorvalinKey, L"MsiLogging");
         },
         {"KRVL (Error): Failed to stop the submission service: 0x80000100"},
         kServices},
    };
    // MsiLogging as text, verbose (2) or above or not: only its first two characters are read.
    const std::vector<std::pair<std::wstring, bool>> texts = {
        {L"", false}, {L"2x", true}, {L"200", false}, {std::wstring(5000, L'2'), false},
        {L"4", true}, {L"3", false}, {L"x2", false}};
    for (const auto& [text, verbose] : texts)
        cases.push_back(
            msiLogging("MsiLogging " + Narrow(text.substr(0, 8)), verbose, [&text] { SetMsiLogging(text); }));
    InstallationRuns runs(L"unloadservice");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!HasTwoViews() && c.what.find("64-bit view") != std::string::npos)
            continue;
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            const RegistryView inView(view);
            DeleteKeyTree(kKorvalinKey);
        }
        DeleteDebugLogs();
        {
            CSharedRuntime runtime;
            runtime.SetServices(kServices);
            SetMsiLogging(L"2");
            c.plant(runtime);
            const auto before = ValuesRead();
            EXPECT_EQ(c.lines, runs.Run().KrvlLines());
            EXPECT_EQ(before, ValuesRead()) << "no value is rewritten";
            EXPECT_EQ(c.services, runtime.Services());
            for (const std::string& line : runtime.ServiceJournal())
                EXPECT_EQ(std::string::npos, line.find(".LoadModule(")) << "the engine is not started again";
            const Lines trust = runtime.TrustJournal();
            if (!runtime.ServiceJournal().empty()) {
                EXPECT_NE(trust.end(), std::find(trust.begin(), trust.end(),
                                                 "IVerifyTrustBase.VerifyFile(\"" + Narrow(runtime.ServiceHostPath()) +
                                                     "\", false) -> eVerifyTrusted"));
            }
            for (const Lines& journal : {runtime.ServiceJournal(), trust})
                if (!journal.empty()) {
                    EXPECT_EQ(servicetest::kUnloadedClean, journal.back()) << "everything loaded is released";
                }
        }
        EXPECT_EQ(c.debugLog, !DebugLogFiles().empty());
    }
    DeleteKeyTree(kKorvalinKey);
}

} // namespace
