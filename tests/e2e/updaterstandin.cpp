#include "tests/e2e/updaterstandin.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace testsupport {
namespace {

const wchar_t kSwitchKey[] = L"Software\\KorvalinStandins\\PatchRelay";

std::wstring StandInFile(const wchar_t* name)
{
    return std::wstring(SUBMCA_STANDINS_DIR) + L"\\patchrelay\\" + name;
}

void CallServerEntry(const char* entry)
{
    const HMODULE module = LoadLibraryW(StandInFile(L"patchrelay.dll").c_str());
    ASSERT_NE(nullptr, module);
    using EntryFn = HRESULT(__stdcall*)();
    const auto function = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    ASSERT_NE(nullptr, function);
    EXPECT_EQ(S_OK, function());
    FreeLibrary(module);
}

// Two calls that create and release both updater objects, around what happens in between.
std::vector<std::string> AroundTwoSteps(const std::vector<std::string>& firstStep)
{
    std::vector<std::string> calls = {"create ProductRegistry", "create GroupRegistry"};
    calls.insert(calls.end(), firstStep.begin(), firstStep.end());
    for (const char* line : {"release ProductRegistry", "release GroupRegistry", "create ProductRegistry",
                             "create GroupRegistry", "release ProductRegistry", "release GroupRegistry"})
        calls.push_back(line);
    return calls;
}

} // namespace

const char kEngineProduct[] = "{5D7B2E90-4C18-4A3F-8E61-B02F9D4C7A13}";
const char kControlDataProduct[] = "{3B6E0A2F-91C7-4d5e-A2B4-7F1C8E0D5962}";

UpdaterStandIn::UpdaterStandIn()
{
    DeleteKeyTree(kSwitchKey);
    DeleteFileIfAny(StandInFile(L"patchrelay-journal.txt"));
    DeleteFileIfAny(StandInFile(L"patchrelay-products.txt"));
    CallServerEntry("DllRegisterServer");
}

UpdaterStandIn::~UpdaterStandIn()
{
    DeleteKeyTree(kSwitchKey);
}

void UpdaterStandIn::Unregister()
{
    CallServerEntry("DllUnregisterServer");
}

void UpdaterStandIn::Fail(const wchar_t* call, const wchar_t* match)
{
    SetString(kSwitchKey, L"FailCall", call);
    SetString(kSwitchKey, L"FailMatch", match);
}

std::vector<std::string> UpdaterStandIn::Journal()
{
    const std::vector<std::string> lines = SplitLines(ReadTextFile(StandInFile(L"patchrelay-journal.txt")));
    DeleteFileIfAny(StandInFile(L"patchrelay-journal.txt"));
    return lines;
}

std::string UpdaterStandIn::Products()
{
    return ReadTextFile(StandInFile(L"patchrelay-products.txt"));
}

std::vector<std::string> RegisterPRLines(const std::string& phase)
{
    std::vector<std::string> lines;
    for (const char* action : {"SubmissionEnginePatchRelay", "SUB_PR_Action"})
        for (const char* end : {" (Begin): ", " (End): "})
            lines.push_back("KRVL: " + phase + end + action);
    return lines;
}

std::vector<std::string> FailedRegistrationLines()
{
    return Concat(
        {RegisterPRLines("Scheduling"),
         {"KRVL: Deferred (Begin): SubmissionEnginePatchRelay", "KRVL: Deferred (End): SubmissionEnginePatchRelay",
          "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE."},
         RegisterPRLines("Rollback")});
}

std::vector<std::string> RegistrationCalls()
{
    const std::string engine = kEngineProduct;
    const std::string control = kControlDataProduct;
    return AroundTwoSteps({
        "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, \"\", " + engine + ")",
        "SetProperty(" + engine + ", DescriptiveName, Korvalin Security Software Update)",
        "SetProperty(" + engine + ", AUTOPATCHRELAY, NO)",
        "SetProperty(" + engine + ", AUTOPATCHRELAYTYPE, NOISY)",
        "RegisterProduct(QELM Submission Control Data, 11.0, KrvAllLanguages, \"\", " + control + ")",
        "SetProperty(" + control + ", DescriptiveName, Korvalin Security Software Update)",
        "SetProperty(" + control + ", AUTOPATCHRELAY, YES)",
        "SetProperty(" + control + ", AUTOPATCHRELAYTYPE, SILENT)",
    });
}

std::vector<std::string> RemovalCalls()
{
    return AroundTwoSteps({"UnregisterProduct(" + std::string(kEngineProduct) + ")",
                           "UnregisterProduct(" + std::string(kControlDataProduct) + ")"});
}

std::string RegisteredProducts()
{
    return "[" + std::string(kEngineProduct) +
           "]\n"
           "ProductName=ORB Submission Engine\nVersion=11.0\nLanguage=KrvAllLanguages\n"
           "DescriptiveName=Korvalin Security Software Update\nAUTOPATCHRELAY=NO\nAUTOPATCHRELAYTYPE=NOISY\n"
           "[" +
           std::string(kControlDataProduct) +
           "]\n"
           "ProductName=QELM Submission Control Data\nVersion=11.0\nLanguage=KrvAllLanguages\n"
           "DescriptiveName=Korvalin Security Software Update\nAUTOPATCHRELAY=YES\nAUTOPATCHRELAYTYPE=SILENT\n";
}

} // namespace testsupport
