#pragma once
#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// The updater stand-in as a test sees it: registered in the prefix, its journal and products.
namespace testsupport {

class UpdaterStandIn {
public:
    // Registers the COM classes and starts with no products, no journal and no failure.
    UpdaterStandIn()
    {
        DeleteKeyTree(kSwitchKey);
        DeleteFileIfAny(File(L"patchrelay-journal.txt"));
        DeleteFileIfAny(File(L"patchrelay-products.txt"));
        CallServerEntry("DllRegisterServer");
    }
    ~UpdaterStandIn() { DeleteKeyTree(kSwitchKey); }

    void Unregister() { CallServerEntry("DllUnregisterServer"); } // the updater is absent

    // Makes the named call fail (see the stand-in's switches), optionally only for calls whose
    // argument contains match.
    void Fail(const wchar_t* call, const wchar_t* match = L"")
    {
        SetString(kSwitchKey, L"FailCall", call);
        SetString(kSwitchKey, L"FailMatch", match);
    }

    std::vector<std::string> Journal() // and starts a new one
    {
        const std::vector<std::string> lines = SplitLines(ReadTextFile(File(L"patchrelay-journal.txt")));
        DeleteFileIfAny(File(L"patchrelay-journal.txt"));
        return lines;
    }
    std::string Products() { return ReadTextFile(File(L"patchrelay-products.txt")); } // the products file as text

private:
    static constexpr const wchar_t* kSwitchKey = L"Software\\KorvalinStandins\\PatchRelay";

    static std::wstring File(const wchar_t* name)
    {
        return std::wstring(SUBMCA_STANDINS_DIR) + L"\\patchrelay\\" + name;
    }

    static void CallServerEntry(const char* entry)
    {
        const HMODULE module = LoadLibraryW(File(L"patchrelay.dll").c_str());
        ASSERT_NE(nullptr, module);
        using EntryFn = HRESULT(__stdcall*)();
        const auto function = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
        ASSERT_NE(nullptr, function);
        EXPECT_EQ(S_OK, function());
        FreeLibrary(module);
    }
};

} // namespace testsupport
