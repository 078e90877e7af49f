// The module and the components meet only through slot numbers and identifiers: the interface
// headers must put every operation in the slot the components use.
#include "support/srinterfaces.h"
#include "support/stringimpl.h"
#include "tests/common/process.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdint>
#include <cstring>

namespace {

// The slot in which the compiler placed a virtual operation: a pointer to a virtual member holds
// one more than the operation's byte offset in the table.
template <class Method, class Interface> size_t SlotOf(Method Interface::*operation)
{
    struct Raw {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(operation) == sizeof(Raw), "pointer to member function of two words");
    Raw raw;
    std::memcpy(&raw, &operation, sizeof(raw));
    return (raw.pointer - 1) / sizeof(void*);
}

// The identifier as the registry and the documentation write it, formatted by the platform.
std::string GuidText(const KRVGUID& guid)
{
    GUID platform;
    std::memcpy(&platform, &guid, sizeof(platform));
    wchar_t text[40] = {};
    StringFromGUID2(platform, text, 40);
    return testsupport::Narrow(text);
}

TEST(InterfaceSlots, AsTheComponentsUseThem)
{
    using namespace srService;
    using namespace clfs::svc;
    const size_t rows[][2] = {
        {SlotOf(&IKrvBase::QueryInterface), 0},
        {SlotOf(&IKrvBase::AddRef), 1},
        {SlotOf(&IKrvBase::Release), 2},
        {SlotOf(&IKrvFactory::CreateInstance), 3},
        {SlotOf(&IKrvManagedFactory::CreateManagedInstance), 4},
        {SlotOf(&srVerifyTrust::ICachedVerifyTrust::Initialize), 3},
        {SlotOf(&srVerifyTrust::IVerifyTrustBase::Initialize), 3},
        {SlotOf(&srVerifyTrust::IVerifyTrustBase::VerifyFile), 4},
        {SlotOf(&IServiceManager::GetRunningServices), 10},
        {SlotOf(&IServiceConfigCollection::GetCount), 3},
        {SlotOf(&IServiceConfigCollection::GetItem), 13},
        {SlotOf(&IServiceConfig::GetLoadedModules), 3},
        {SlotOf(&IServiceConfig::LoadModule), 4},
        {SlotOf(&IServiceConfig::UnloadModule), 5},
        {SlotOf(&IModuleCollection::GetCount), 3},
        {SlotOf(&IModuleCollection::GetItem), 13},
        {SlotOf(&IServiceModule::GetPath), 4},
        {SlotOf(&IServiceModule::GetName), 6},
        {SlotOf(&sr::IString::GetLength), 5},
        {SlotOf(&sr::IString::GetStringW), 10},
        {SlotOf(&IConfigManager::LoadConfigs), 3},
        {SlotOf(&IConfigManager::GetConfigCount), 4},
        {SlotOf(&IConfigManager::GetConfigAt), 5},
        {SlotOf(&IConfigManager::NewConfig), 6},
        {SlotOf(&IConfigManager::RemoveConfig), 7},
        {SlotOf(&IConfigManager::GetEngineConfig), 8},
        {SlotOf(&IConfig::Save), 3},
        {SlotOf(&IConfig::GetData), 6},
        {SlotOf(&sr::IKeyValueCollection::HasValue), 4},
        {SlotOf(&sr::IKeyValueCollection::GetDwordValue), 26},
        {SlotOf(&sr::IKeyValueCollection::SetStringValue), 33},
        {SlotOf(&sr::IKeyValueCollection::SetGuidValue), 39},
        {SlotOf(&sr::IKeyValueCollection::SetDwordValue), 43},
        {SlotOf(&sr::IKeyValueCollection::SetBoolValue), 49},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i)
        EXPECT_EQ(rows[i][1], rows[i][0]) << "row " << i;
}

TEST(Identifiers, AsTheComponentsPublishThem)
{
    EXPECT_EQ("{3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}", GuidText(srService::IID_ServiceManager));
    EXPECT_EQ("{6B2E4D90-1C7A-4F35-8E69-D04A3B75C2E1}", GuidText(srVerifyTrust::IID_CachedVerifyTrust));
    EXPECT_EQ("{1BB5BE77-2D6F-438B-87D2-634C29DB29A8}", GuidText(srVerifyTrust::IID_VerifyTrustBase));
    EXPECT_EQ("{5A3C9E1D-7B42-4F86-9D2A-31E8C6B07F54}", GuidText(clfs::svc::IID_ConfigManager));
    EXPECT_EQ("{1D7C5E93-4A2B-4F08-B6E1-8C39A07D52F4}", GuidText(IID_KrvManagedFactory));
    EXPECT_STREQ("GetFactory", KRV_GETFACTORY_EXPORT);
    EXPECT_STREQ("GetObjectCount", KRV_GETOBJECTCOUNT_EXPORT);
    EXPECT_STREQ(L"srSvc.dll", SR_SERVICE_HOST_MODULE);
    EXPECT_STREQ(L"srVrTrst.dll", SR_VERIFY_TRUST_MODULE);
    EXPECT_STREQ(L"vexcore.dll", clfs::svc::VEXCORE_MODULE);
    EXPECT_EQ(16u, sizeof(KRVGUID));
}

} // namespace
