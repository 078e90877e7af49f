#include "buildpaths.h"
#include "tests/common/files.h"
#include "tests/common/registry.h"
#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>
#include <objbase.h>

#include <thread>

using namespace testsupport;

namespace {

const wchar_t kDebugKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug";
const wchar_t kOutputKey[] = L"Software\\Korvalin\\Shared Runtime\\Debug\\DebugOutput";

// The updater's objects live in a single-threaded apartment: a thread that cannot enter one
// leaves the updater alone and the installation going. Entering and leaving the apartment is
// no trace matter: with every trace line switched on, the action writes no trace file.
TEST(RegisterPRExport, EntersItsApartmentUntracedAndGivesUpOnAnotherOne)
{
    const struct {
        const char* what;
        bool callerInMultithreadedApartment;
        bool driverRuns;
    } cases[] = {
        {"a thread outside any apartment", false, true},
        {"a thread in the multithreaded apartment", true, false},
    };
    const std::wstring dataFile = TempFolder() + L"\\SUB_PR_Action.dat";
    const std::wstring traceFolder = MakeScratchFolder(L"registerpr-trace");
    const std::wstring traceFile = traceFolder + L"\\submca.log";
    {
        const RegistryView view(KEY_WOW64_64KEY);
        DeleteKeyTree(kDebugKey);
        SetDword(kOutputKey, L"DebugType", 1);
        SetDword(kOutputKey, L"OutputToFile", 1);
        SetDword(kOutputKey, L"AppendProcessIdToFile", 0);
        SetString(kOutputKey, L"Directory", traceFolder);
    }
    UpdaterStandIn updater;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE package = 0;
    ASSERT_EQ(0u, MsiOpenPackageW((std::wstring(SUBMCA_PACKAGE_DIR) + L"\\installedapps.msi").c_str(), &package));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileIfAny(dataFile);
        DeleteFileIfAny(traceFile);
        // A fresh load reads the trace options anew.
        const HMODULE module = LoadLibraryW(SUBMCA_MODULE_PATH);
        ASSERT_NE(nullptr, module);
        const auto registerPR = reinterpret_cast<UINT(__stdcall*)(MSIHANDLE)>(
            reinterpret_cast<void*>(GetProcAddress(module, "RegisterPR")));
        ASSERT_NE(nullptr, registerPR);
        UINT result = 12345;
        std::thread caller([&] {
            const HRESULT entered =
                c.callerInMultithreadedApartment ? CoInitializeEx(nullptr, COINIT_MULTITHREADED) : E_FAIL;
            result = registerPR(package);
            if (SUCCEEDED(entered))
                CoUninitialize();
        });
        caller.join();
        FreeLibrary(module);
        EXPECT_EQ(0u, result);
        EXPECT_EQ(c.driverRuns, FileExists(dataFile)) << "the driver's scheduling call keeps its decisions";
        EXPECT_TRUE(updater.Journal().empty()) << "the updater was not contacted";
        EXPECT_FALSE(FileExists(traceFile)) << ReadTextFile(traceFile);
    }
    MsiCloseHandle(package);
    DeleteFileIfAny(dataFile);
    const RegistryView view(KEY_WOW64_64KEY);
    DeleteKeyTree(kDebugKey);
    RemoveTree(traceFolder);
}

} // namespace
