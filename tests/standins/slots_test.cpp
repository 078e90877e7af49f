// The module and the components meet only through slot numbers and identifiers: the interface
// headers must put every operation in the slot the components use.
#include "support/srinterfaces.h"
#include "support/stringimpl.h"
#include "tests/standins/harness.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>

#include <cstring>

using standintest::GuidText;
using standintest::SlotOf;

TEST(InterfaceSlots, ComponentConventions)
{
    EXPECT_EQ(0u, SlotOf(&IKrvBase::QueryInterface));
    EXPECT_EQ(1u, SlotOf(&IKrvBase::AddRef));
    EXPECT_EQ(2u, SlotOf(&IKrvBase::Release));
    EXPECT_EQ(3u, SlotOf(&IKrvFactory::CreateInstance));
    EXPECT_EQ(4u, SlotOf(&IKrvManagedFactory::CreateManagedInstance));
    EXPECT_EQ(3u, SlotOf(&srVerifyTrust::ICachedVerifyTrust::Initialize));
    EXPECT_EQ(3u, SlotOf(&srVerifyTrust::IVerifyTrustBase::Initialize));
    EXPECT_EQ(4u, SlotOf(&srVerifyTrust::IVerifyTrustBase::VerifyFile));
}

TEST(InterfaceSlots, ServiceManagerAsTheServiceControlCallsIt)
{
    EXPECT_EQ(10u, SlotOf(&srService::IServiceManager::GetRunningServices));
    EXPECT_EQ(3u, SlotOf(&srService::IServiceConfigCollection::GetCount));
    EXPECT_EQ(13u, SlotOf(&srService::IServiceConfigCollection::GetItem));
    EXPECT_EQ(3u, SlotOf(&srService::IServiceConfig::GetLoadedModules));
    EXPECT_EQ(4u, SlotOf(&srService::IServiceConfig::LoadModule));
    EXPECT_EQ(5u, SlotOf(&srService::IServiceConfig::UnloadModule));
    EXPECT_EQ(3u, SlotOf(&srService::IModuleCollection::GetCount));
    EXPECT_EQ(13u, SlotOf(&srService::IModuleCollection::GetItem));
    EXPECT_EQ(4u, SlotOf(&srService::IServiceModule::GetPath));
    EXPECT_EQ(6u, SlotOf(&srService::IServiceModule::GetName));
    EXPECT_EQ(5u, SlotOf(&sr::IString::GetLength));
    EXPECT_EQ(10u, SlotOf(&sr::IString::GetStringW));
}

TEST(InterfaceSlots, EngineAsTheUpdateCallsIt)
{
    EXPECT_EQ(3u, SlotOf(&clfs::svc::IConfigManager::LoadConfigs));
    EXPECT_EQ(4u, SlotOf(&clfs::svc::IConfigManager::GetConfigCount));
    EXPECT_EQ(5u, SlotOf(&clfs::svc::IConfigManager::GetConfigAt));
    EXPECT_EQ(6u, SlotOf(&clfs::svc::IConfigManager::NewConfig));
    EXPECT_EQ(7u, SlotOf(&clfs::svc::IConfigManager::RemoveConfig));
    EXPECT_EQ(8u, SlotOf(&clfs::svc::IConfigManager::GetEngineConfig));
    EXPECT_EQ(3u, SlotOf(&clfs::svc::IConfig::Save));
    EXPECT_EQ(6u, SlotOf(&clfs::svc::IConfig::GetData));
    EXPECT_EQ(4u, SlotOf(&sr::IKeyValueCollection::HasValue));
    EXPECT_EQ(26u, SlotOf(&sr::IKeyValueCollection::GetDwordValue));
    EXPECT_EQ(33u, SlotOf(&sr::IKeyValueCollection::SetStringValue));
    EXPECT_EQ(39u, SlotOf(&sr::IKeyValueCollection::SetGuidValue));
    EXPECT_EQ(43u, SlotOf(&sr::IKeyValueCollection::SetDwordValue));
    EXPECT_EQ(49u, SlotOf(&sr::IKeyValueCollection::SetBoolValue));
}

TEST(Identifiers, AsTheComponentsPublishThem)
{
    EXPECT_EQ("{3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}", GuidText(srService::IID_ServiceManager));
    EXPECT_EQ("{6B2E4D90-1C7A-4F35-8E69-D04A3B75C2E1}", GuidText(srVerifyTrust::IID_CachedVerifyTrust));
    EXPECT_EQ("{5A3C9E1D-7B42-4F86-9D2A-31E8C6B07F54}", GuidText(clfs::svc::IID_ConfigManager));
    EXPECT_EQ("{1D7C5E93-4A2B-4F08-B6E1-8C39A07D52F4}", GuidText(IID_KrvManagedFactory));
    EXPECT_STREQ("GetFactory", KRV_GETFACTORY_EXPORT);
    EXPECT_STREQ("GetObjectCount", KRV_GETOBJECTCOUNT_EXPORT);
    EXPECT_STREQ(L"srSvc.dll", SR_SERVICE_HOST_MODULE);
    EXPECT_STREQ(L"srVrTrst.dll", SR_VERIFY_TRUST_MODULE);
    EXPECT_STREQ(L"vexcore.dll", clfs::svc::VEXCORE_MODULE);
    EXPECT_EQ(16u, sizeof(KRVGUID));
}
