#include "tests/e2e/updaterstandin.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/registry.h"

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

} // namespace

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

} // namespace testsupport
