#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>
#include <objbase.h>

#include <thread>

using namespace testsupport;

namespace {

// The updater's objects live in a single-threaded apartment: a thread that cannot enter one
// leaves the updater alone and the installation going.
TEST(RegisterPRExport, ThreadWithoutASingleThreadedApartmentDoesNothing)
{
    DeleteFileIfAny(TempFolder() + L"\\SUB_PR_Action.dat");
    UpdaterStandIn updater;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE package = 0;
    ASSERT_EQ(0u, MsiOpenPackageW((std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi").c_str(), &package));
    const HMODULE module = LoadLibraryW(SUBMCA_MODULE_PATH);
    ASSERT_NE(nullptr, module);
    const auto registerPR =
        reinterpret_cast<UINT(__stdcall*)(MSIHANDLE)>(reinterpret_cast<void*>(GetProcAddress(module, "RegisterPR")));
    ASSERT_NE(nullptr, registerPR);
    UINT result = 12345;
    std::thread caller([&] {
        const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        result = registerPR(package);
        if (SUCCEEDED(entered))
            CoUninitialize();
    });
    caller.join();
    FreeLibrary(module);
    MsiCloseHandle(package);
    EXPECT_EQ(0u, result);
    EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat")) << "the driver never ran";
    EXPECT_TRUE(updater.Journal().empty()) << "the updater was not contacted";
}

} // namespace
