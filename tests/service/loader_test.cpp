// The shared runtime directory, loading components by name and by full path, and the trust
// check before the service host's module is loaded.
#include "service/installedapps.h"
#include "service/interfaceloader.h"
#include "service/trustedloader.h"
#include "testpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

using servicetest::CSharedRuntime;
using testsupport::Narrow;

namespace {

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// {C54E0B7A-2F39-4D81-9A6C-1E7D3B05F982}, the test components' object.
const KRVGUID kTestObjectId = {0xC54E0B7A, 0x2F39, 0x4D81, {0x9A, 0x6C, 0x1E, 0x7D, 0x3B, 0x05, 0xF9, 0x82}};

std::optional<std::wstring> ProviderPath(size_t bufferBytes, size_t& size)
{
    std::vector<wchar_t> buffer(bufferBytes / 2 + 1, L'#');
    size = bufferBytes;
    if (!srKrv::CSRPathProvider::GetPath(buffer.data(), &size))
        return std::nullopt;
    return std::wstring(buffer.data());
}

BOOL WINAPI NoSpecialFolder(HWND, LPWSTR, int, BOOL)
{
    return FALSE;
}

std::wstring CommonFilesFolder()
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES_COMMON, FALSE));
    return path;
}

bool IsLoaded(const std::wstring& path)
{
    return GetModuleHandleW(path.c_str()) != nullptr;
}

std::wstring CopyComponent(const wchar_t* built, const std::wstring& folder, const wchar_t* name)
{
    const std::wstring path = folder + L"\\" + name;
    EXPECT_TRUE(CopyFileW(built, path.c_str(), FALSE)) << Narrow(built);
    return path;
}

// A buffer too small for the directory gives false and the size it needs.
TEST(SharedRuntimeDirectory, ComesFromInstalledAppsOrTheCommonFilesFolder)
{
    const std::wstring common = CommonFilesFolder() + L"\\Korvalin Shared";
    const std::wstring longDirectory = L"C:\\" + std::wstring(297, L'd');
    const struct {
        const char* what;
        std::optional<std::wstring> value;
        size_t bufferBytes;
        std::optional<std::wstring> expected;
        size_t size;
    } cases[] = {
        {"plain value", L"C:\\Korvalin\\Shared", 522, L"C:\\Korvalin\\Shared", 38},
        {"trailing backslashes", L"C:\\Korvalin\\Shared\\\\\\", 522, L"C:\\Korvalin\\Shared", 38},
        {"empty value", L"", 522, common, (common.size() + 1) * 2},
        {"no value", std::nullopt, 522, common, (common.size() + 1) * 2},
        {"300 characters", longDirectory, 522, std::nullopt, 602},
        {"300 characters, buffer to fit", longDirectory, 602, longDirectory, 602},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::DeleteKeyTree(testsupport::kInstalledAppsKey);
        if (c.value)
            testsupport::SetString(testsupport::kInstalledAppsKey, L"Shared Runtime", *c.value);
        size_t size = 0;
        EXPECT_EQ(c.expected.value_or(L"<failed>"), ProviderPath(c.bufferBytes, size).value_or(L"<failed>"));
        EXPECT_EQ(c.size, size);
    }
    EXPECT_FALSE(srKrv::CSRPathProvider::GetPath(nullptr, nullptr));
    testsupport::DeleteKeyTree(testsupport::kInstalledAppsKey);
}

// Without the platform's answer the registry's "CommonFilesDir" stands in; without either
// there is no directory at all.
TEST(SharedRuntimeDirectory, FallsBackToTheRegistryThenFails)
{
    testsupport::DeleteKeyTree(testsupport::kInstalledAppsKey);
    const std::optional<std::wstring> saved = testsupport::GetString(kCurrentVersionKey, L"CommonFilesDir");
    const auto platform = srKrv::CInstalledApps::SetSpecialFolderQuery(NoSpecialFolder);

    testsupport::SetString(kCurrentVersionKey, L"CommonFilesDir", L"D:\\Shared Files\\");
    size_t size = 0;
    EXPECT_EQ(L"D:\\Shared Files\\Korvalin Shared", ProviderPath(522, size).value_or(L"<failed>"));

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_SET_VALUE, &key));
    RegDeleteValueW(key, L"CommonFilesDir");
    RegCloseKey(key);
    EXPECT_FALSE(ProviderPath(522, size).has_value());
    EXPECT_EQ(0u, size);

    // Loading by name stops before any file is touched.
    sr::CServiceManagerLoader loader;
    EXPECT_EQ(KRV_E_FILENOTFOUND, loader.Load());

    srKrv::CInstalledApps::SetSpecialFolderQuery(platform);
    if (saved)
        testsupport::SetString(kCurrentVersionKey, L"CommonFilesDir", *saved);
}

// A directory provider and a loader that record what the path helper asks and loads.
struct CRecordingProvider {
    static std::optional<std::wstring> s_directory;
    static bool s_bFailSecond;
    static std::vector<size_t> s_sizes;

    static bool GetPath(wchar_t* buffer, size_t* size)
    {
        s_sizes.push_back(*size);
        if (!s_directory || (s_bFailSecond && s_sizes.size() == 2)) {
            *size = 0;
            return false;
        }
        const size_t needed = (s_directory->size() + 1) * 2;
        const bool fits = *size >= needed;
        if (fits)
            std::wmemcpy(buffer, s_directory->c_str(), s_directory->size() + 1);
        *size = needed;
        return fits;
    }
};
std::optional<std::wstring> CRecordingProvider::s_directory;
bool CRecordingProvider::s_bFailSecond = false;
std::vector<size_t> CRecordingProvider::s_sizes;

class CRecordingLoader {
public:
    KRVRESULT LoadFile(const wchar_t* path)
    {
        m_paths.push_back(path);
        return KRV_S_OK;
    }
    KRVRESULT CreateObject(const KRVGUID&, const KRVGUID&, void**) { return KRV_E_NOTIMPL; }

    std::vector<std::wstring> m_paths;
};

TEST(PathHelper, LoadsTheFileFromTheProvidersDirectory)
{
    using CLoader =
        sr::CKrvInterfacePathHelper<CRecordingProvider, CRecordingLoader, IKrvBase, kTestObjectId, kTestObjectId>;
    struct Case {
        const char* what;
        std::optional<std::wstring> directory;
        bool failSecond;
        KRVRESULT result;
        std::vector<size_t> sizes;
        std::vector<std::wstring> paths;
    };
    const std::wstring longDirectory = L"C:\\" + std::wstring(297, L'l');
    const std::vector<Case> cases = {
        {"short directory", L"C:\\Shared", false, KRV_S_OK, {522}, {L"C:\\Shared\\comp.dll"}},
        {"ending in a backslash", L"C:\\Shared\\", false, KRV_S_OK, {522}, {L"C:\\Shared\\comp.dll"}},
        {"300 characters", longDirectory, false, KRV_S_OK, {522, 602}, {longDirectory + L"\\comp.dll"}},
        {"longer directory gone", longDirectory, true, KRV_E_UNEXPECTED, {522, 602}, {}},
        {"no directory", std::nullopt, false, KRV_E_FILENOTFOUND, {522}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CRecordingProvider::s_directory = c.directory;
        CRecordingProvider::s_bFailSecond = c.failSecond;
        CRecordingProvider::s_sizes.clear();
        CLoader loader;
        EXPECT_EQ(c.result, loader.Load(L"comp.dll"));
        EXPECT_EQ(c.sizes, CRecordingProvider::s_sizes);
        EXPECT_EQ(c.paths, loader.m_paths);
    }
    CLoader loader;
    EXPECT_EQ(KRV_E_INVALIDARG, loader.Load(nullptr));
}

TEST(InterfaceLoader, LoadsOnceAndFreesWhatItCannotUse)
{
    const std::wstring folder = testsupport::MakeScratchFolder(L"loader\\plain");
    const std::wstring component = CopyComponent(SUBMCA_MANAGED_COMPONENT_DLL, folder, L"component.dll");
    const std::wstring other = CopyComponent(SUBMCA_MANAGED_COMPONENT_DLL, folder, L"other.dll");
    const std::wstring partial = CopyComponent(SUBMCA_PARTIAL_COMPONENT_DLL, folder, L"partial.dll");
    {
        sr::CKrvInterfaceLoader loader;
        void* object = &loader;
        EXPECT_EQ(KRV_E_INVALIDARG, loader.CreateObject(kTestObjectId, kTestObjectId, &object));
        EXPECT_EQ(&loader, object) << "untouched while nothing is loaded";
        EXPECT_EQ(KRV_E_INVALIDARG, loader.LoadFile(nullptr));
        EXPECT_EQ(KRV_E_FILENOTFOUND, loader.LoadFile((folder + L"\\missing.dll").c_str()));
        EXPECT_EQ(KRV_E_EXPORTNOTFOUND, loader.LoadFile(partial.c_str()));
        EXPECT_FALSE(IsLoaded(partial));

        EXPECT_EQ(KRV_S_OK, loader.LoadFile(component.c_str()));
        EXPECT_EQ(KRV_S_OK, loader.LoadFile(other.c_str()));
        EXPECT_TRUE(IsLoaded(component));
        EXPECT_FALSE(IsLoaded(other)) << "a loaded loader loads nothing more";

        EXPECT_EQ(KRV_E_INVALIDARG, loader.CreateObject(kTestObjectId, kTestObjectId, nullptr));
        EXPECT_EQ(KRV_E_NOINTERFACE, loader.CreateObject(kTestObjectId, IID_KrvManagedFactory, &object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(KRV_S_OK, loader.CreateObject(kTestObjectId, kTestObjectId, &object));
        ASSERT_NE(nullptr, object);
        EXPECT_EQ(0u, static_cast<IKrvBase*>(object)->Release());
    }
    EXPECT_FALSE(IsLoaded(component)) << "freed with the loader";
}

// The service host's module is loaded only when the verifier accepts it; the verifier is
// prepared again after a failure.
TEST(TrustedLoader, LoadsTheServiceHostOnlyWhenTrusted)
{
    struct Case {
        const char* what;
        const wchar_t* failCall;
        const wchar_t* refuse;
        bool removeHost;
        bool removeVerifier;
        KRVRESULT result;
        std::string verdict;
    };
    const std::vector<Case> cases = {
        {"trusted", nullptr, nullptr, false, false, 0x00010000, "eVerifyTrusted"},
        {"refused", nullptr, L"SRSVC.DLL", false, false, 0x80010303, "eVerifyError"},
        {"host missing", nullptr, nullptr, true, false, 0x80010300, ""},
        {"verifier missing", nullptr, nullptr, false, true, 0x80010300, ""},
        {"verifier unprepared", L"ICachedVerifyTrust.Initialize", nullptr, false, false, 0x8001FFFF, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSharedRuntime runtime;
        if (c.failCall)
            CSharedRuntime::SetSwitch(L"srVrTrst", L"FailCall", c.failCall);
        if (c.refuse)
            CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", c.refuse);
        if (c.removeHost)
            DeleteFileW(runtime.ServiceHostPath().c_str());
        if (c.removeVerifier)
            DeleteFileW((runtime.Directory() + L"\\srVrTrst.dll").c_str());
        {
            sr::CServiceManagerLoader loader;
            EXPECT_EQ(c.result, loader.Load());
            EXPECT_EQ(c.result == KRV_S_OK, IsLoaded(runtime.ServiceHostPath()));
            if (c.failCall) {
                CSharedRuntime::SetSwitch(L"srVrTrst", L"FailCall", L"none");
                EXPECT_EQ(KRV_S_OK, loader.Load()) << "prepared again on the next check";
            }
        }
        EXPECT_FALSE(IsLoaded(runtime.ServiceHostPath()));
        EXPECT_FALSE(IsLoaded(runtime.Directory() + L"\\srVrTrst.dll"));
        const std::vector<std::string> trust = runtime.TrustJournal();
        if (!c.verdict.empty()) {
            const std::string asked =
                "IVerifyTrustBase.VerifyFile(\"" + Narrow(runtime.ServiceHostPath()) + "\", false) -> ";
            EXPECT_NE(trust.end(), std::find(trust.begin(), trust.end(), asked + c.verdict));
        }
        if (!c.removeVerifier) {
            ASSERT_FALSE(trust.empty());
            EXPECT_EQ(servicetest::kUnloadedClean, trust.back());
        }
        const std::vector<std::string> host = runtime.ServiceJournal();
        if (c.result == KRV_S_OK || c.failCall)
            EXPECT_EQ((std::vector<std::string>{"load", servicetest::kUnloadedClean}), host);
        else
            EXPECT_TRUE(host.empty()) << "never loaded";
    }
}

} // namespace
