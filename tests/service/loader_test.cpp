// The shared runtime directory, loading components by name and by full path, and the trust
// check before the service host's module is loaded.
#include "service/installedapps.h"
#include "service/interfaceloader.h"
#include "service/trustedloader.h"
#include "testpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t kCurrentVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// {C54E0B7A-2F39-4D81-9A6C-1E7D3B05F982}, the test components' object.
const KRVGUID kTestObjectId = {0xC54E0B7A, 0x2F39, 0x4D81, {0x9A, 0x6C, 0x1E, 0x7D, 0x3B, 0x05, 0xF9, 0x82}};

std::wstring ProviderPath(size_t bufferBytes, size_t& size)
{
    std::vector<wchar_t> buffer(bufferBytes / 2 + 1, L'#');
    size = bufferBytes;
    return srKrv::CSRPathProvider::GetPath(buffer.data(), &size) ? buffer.data() : L"<failed>";
}

BOOL WINAPI NoSpecialFolder(HWND, LPWSTR, int, BOOL)
{
    return FALSE;
}

bool IsLoaded(const std::wstring& path)
{
    return GetModuleHandleW(path.c_str()) != nullptr;
}

// A buffer too small for the directory gives false and the size it needs in bytes. Without the
// platform's common files folder the registry's "CommonFilesDir" stands in; without either there
// is no directory, and loading by name stops before any file is touched.
TEST(SharedRuntimeDirectory, SizesAndFallbacks)
{
    const std::wstring longDirectory = L"C:\\" + std::wstring(297, L'd');
    testsupport::SetString(testsupport::kInstalledAppsKey, L"Shared Runtime", longDirectory);
    size_t size = 0;
    EXPECT_EQ(L"<failed>", ProviderPath(522, size));
    EXPECT_EQ(602u, size);
    EXPECT_EQ(longDirectory, ProviderPath(602, size));
    testsupport::DeleteKeyTree(testsupport::kInstalledAppsKey);

    const std::optional<std::wstring> saved = testsupport::GetString(kCurrentVersionKey, L"CommonFilesDir");
    const auto platform = srKrv::CInstalledApps::SetSpecialFolderQuery(NoSpecialFolder);
    testsupport::SetString(kCurrentVersionKey, L"CommonFilesDir", L"D:\\Shared Files\\");
    EXPECT_EQ(L"D:\\Shared Files\\Korvalin Shared", ProviderPath(522, size));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CommonFilesDir");
    EXPECT_EQ(L"<failed>", ProviderPath(522, size));
    EXPECT_EQ(0u, size);
    sr::CServiceManagerLoader loader;
    EXPECT_EQ(KRV_E_FILENOTFOUND, loader.Load());
    srKrv::CInstalledApps::SetSpecialFolderQuery(platform);
    if (saved)
        testsupport::SetString(kCurrentVersionKey, L"CommonFilesDir", *saved);
}

// A component without the object count export is refused and freed at once.
TEST(InterfaceLoader, FreesWhatItCannotUse)
{
    const std::wstring folder = testsupport::MakeScratchFolder(L"loader\\plain");
    const std::wstring component = folder + L"\\component.dll";
    const std::wstring partial = folder + L"\\partial.dll";
    ASSERT_TRUE(CopyFileW(SUBMCA_MANAGED_COMPONENT_DLL, component.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(SUBMCA_PARTIAL_COMPONENT_DLL, partial.c_str(), FALSE));
    sr::CKrvInterfaceLoader loader;
    EXPECT_EQ(KRV_E_FILENOTFOUND, loader.LoadFile((folder + L"\\missing.dll").c_str()));
    EXPECT_EQ(KRV_E_EXPORTNOTFOUND, loader.LoadFile(partial.c_str()));
    EXPECT_FALSE(IsLoaded(partial));
    EXPECT_EQ(KRV_S_OK, loader.LoadFile(component.c_str()));
    void* object = nullptr;
    EXPECT_EQ(KRV_E_NOINTERFACE, loader.CreateObject(kTestObjectId, IID_KrvManagedFactory, &object));
    ASSERT_EQ(KRV_S_OK, loader.CreateObject(kTestObjectId, kTestObjectId, &object));
    EXPECT_EQ(0u, static_cast<IKrvBase*>(object)->Release());
}

} // namespace
