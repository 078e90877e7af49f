#include "updater/regprcmdlines.h"

#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <thread>

using namespace testsupport;

namespace {

const wchar_t kDescriptiveName[] = L"Korvalin Security Software Update";

TEST(RegisterPRResources, BothModulesCarryTheDescriptiveNamesInUsEnglish)
{
    const HMODULE module = LoadLibraryExW(SUBMCA_MODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(kDescriptiveName, LoadModuleString(module, 1000));
    EXPECT_EQ(kDescriptiveName, LoadModuleString(module, 1001));
    EXPECT_EQ(L"", LoadModuleString(module, 1002));
    EXPECT_NE(nullptr, FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(1000 / 16 + 1),
                                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    FreeLibrary(module);
    EXPECT_EQ(L"", LoadModuleString(GetModuleHandleW(nullptr), 1000)) << "a module without the table";
}

TEST(RegisterPRExport, ThreadWithoutASingleThreadedApartmentDoesNothing)
{
    DeleteKeyTree(kKorvalinKey);
    SetDword(kKorvalinKey, L"DebugLog", 1);
    const std::wstring ownLog = TempFolder() + L"\\KRVMSI" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileIfAny(ownLog);
    DeleteFileIfAny(TempFolder() + L"\\SUB_PR_Action.dat");
    UpdaterStandIn updater;

    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE package = 0;
    ASSERT_EQ(0u, MsiOpenPackageW((std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi").c_str(), &package));
    const HMODULE module = LoadLibraryW(SUBMCA_MODULE_PATH);
    ASSERT_NE(nullptr, module);
    using ActionFn = UINT(__stdcall*)(MSIHANDLE);
    const auto registerPR = reinterpret_cast<ActionFn>(reinterpret_cast<void*>(GetProcAddress(module, "RegisterPR")));
    ASSERT_NE(nullptr, registerPR);

    UINT result = 12345;
    std::thread caller([&] {
        // The thread is already in the multithreaded apartment, so entering a single-threaded
        // one fails.
        const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        result = registerPR(package);
        if (SUCCEEDED(entered))
            CoUninitialize();
    });
    caller.join();
    FreeLibrary(module);
    MsiCloseHandle(package);

    EXPECT_EQ(0u, result);
    EXPECT_FALSE(FileExists(ownLog)) << "nothing is logged";
    EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat")) << "the driver never ran";
    EXPECT_TRUE(updater.Journal().empty()) << "the updater was not contacted";
    DeleteKeyTree(kKorvalinKey);
}

} // namespace
