// The service host stand-in driven by slot number, in the order in which the service control
// finds the engine module, unloads it and loads it again.
#include "support/srinterfaces.h"
#include "standinpaths.h"
#include "tests/standins/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using standintest::CallSlot;
using standintest::CStandinCopy;
using standintest::Release;

namespace {

const char kSeed[] = "[Antivirus]\r\n"
                     "C:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\r\n"
                     "[Submission]\r\n"
                     "C:\\Program Files\\Korvalin\\Tools\\helper.dll\r\n"
                     "C:\\Program Files\\X\\VEXCORE.DLL|ORBSubmissionEngine\r\n";

const wchar_t kServices[] = L"srsvc-services.txt";
const wchar_t kJournal[] = L"srsvc-journal.txt";
const wchar_t kEngine[] = L"C:\\Program Files\\X\\VEXCORE.DLL";

class ServiceHost : public testing::Test {
protected:
    ServiceHost() : m_host(SUBMCA_SRSVC_DLL, L"srSvc.dll", L"srSvc") { m_host.WriteText(kServices, kSeed); }

    // The service manager, as the trusted loader creates it: object id and interface id are both
    // the manager's, and the factory is released at once.
    void* CreateManager()
    {
        void* factory = nullptr;
        EXPECT_EQ(KRV_S_OK,
                  m_host.GetFactory()(srService::IID_ServiceManager, reinterpret_cast<IKrvFactory**>(&factory)));
        if (!factory)
            return nullptr;
        void* manager = nullptr;
        EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(factory, 3, &srService::IID_ServiceManager, &manager));
        Release(factory);
        return manager;
    }

    // The configuration at index of a fresh list of running configurations.
    void* ConfigAt(void* manager, unsigned long index)
    {
        void* configs = nullptr;
        EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(manager, 10, &configs));
        void* config = nullptr;
        EXPECT_TRUE(CallSlot<bool>(configs, 13, index, &config));
        Release(configs);
        return config;
    }

    CStandinCopy m_host;
};

// The text of a host string, read through slots 5 (length) and 10 (wide text).
std::wstring TextOf(void* string)
{
    const size_t length = CallSlot<size_t>(string, 5);
    return std::wstring(CallSlot<const wchar_t*>(string, 10), length);
}

struct SeenModule {
    std::wstring path;
    KRVRESULT nameResult = 0;
    bool named = false;
    std::wstring name;
};

} // namespace

TEST_F(ServiceHost, ListsFindsUnloadsAndLoadsTheEngineModule)
{
    ASSERT_TRUE(m_host.Load());
    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);

    void* configs = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(manager, 10, &configs));
    ASSERT_EQ(2ul, CallSlot<unsigned long>(configs, 3));
    std::vector<std::vector<SeenModule>> seen(2);
    void* engineConfig = nullptr;
    for (unsigned long i = 0; i < 2; ++i) {
        void* config = nullptr;
        ASSERT_TRUE(CallSlot<bool>(configs, 13, i, &config));
        void* modules = nullptr;
        ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(config, 3, &modules));
        const unsigned long count = CallSlot<unsigned long>(modules, 3);
        for (unsigned long j = 0; j < count; ++j) {
            void* module = nullptr;
            ASSERT_TRUE(CallSlot<bool>(modules, 13, j, &module));
            SeenModule entry;
            void* path = nullptr;
            ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(module, 4, &path));
            entry.path = TextOf(path);
            Release(path);
            void* name = nullptr;
            entry.nameResult = CallSlot<KRVRESULT>(module, 6, &name);
            entry.named = name != nullptr;
            if (name) {
                entry.name = TextOf(name);
                Release(name);
            }
            Release(module);
            seen[i].push_back(entry);
        }
        Release(modules);
        if (i == 1)
            engineConfig = config;
        else
            Release(config);
    }
    Release(configs);

    ASSERT_EQ(1u, seen[0].size());
    EXPECT_EQ(L"C:\\Program Files\\Korvalin\\Scanner\\scan.dll", seen[0][0].path);
    EXPECT_EQ(L"Scanner", seen[0][0].name);
    ASSERT_EQ(2u, seen[1].size());
    EXPECT_EQ(L"C:\\Program Files\\Korvalin\\Tools\\helper.dll", seen[1][0].path);
    EXPECT_EQ(KRV_S_FALSE, seen[1][0].nameResult);
    EXPECT_FALSE(seen[1][0].named);
    EXPECT_EQ(kEngine, seen[1][1].path);
    EXPECT_EQ(L"ORBSubmissionEngine", seen[1][1].name);

    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(engineConfig, 5, kEngine));
    EXPECT_EQ("[Antivirus]\n"
              "C:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n"
              "[Submission]\n"
              "C:\\Program Files\\Korvalin\\Tools\\helper.dll\n",
              m_host.ReadText(kServices));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(engineConfig, 4, kEngine, L"ORBSubmissionEngine"));
    EXPECT_EQ("[Antivirus]\n"
              "C:\\Program Files\\Korvalin\\Scanner\\scan.dll|Scanner\n"
              "[Submission]\n"
              "C:\\Program Files\\Korvalin\\Tools\\helper.dll\n"
              "C:\\Program Files\\X\\VEXCORE.DLL|ORBSubmissionEngine\n",
              m_host.ReadText(kServices));
    Release(engineConfig);
    EXPECT_EQ(1, m_host.ObjectCount());
    Release(manager);
    EXPECT_EQ(0, m_host.ObjectCount());
    m_host.Free();

    const std::vector<std::string> expected = {
        "load",
        "GetFactory({3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}) -> 0x00010000",
        "IKrvFactory.CreateInstance({3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}) -> 0x00010000",
        "IKrvFactory destroyed",
        "IServiceManager.GetRunningServices() -> 0x00010000",
        "IServiceConfigCollection.GetCount() -> 2",
        "IServiceConfigCollection.GetItem(0) -> true, [Antivirus]",
        "IServiceConfig[Antivirus].GetLoadedModules() -> 0x00010000",
        "IModuleCollection[Antivirus].GetCount() -> 1",
        "IModuleCollection[Antivirus].GetItem(0) -> true",
        "IServiceModule[Antivirus/0].GetPath() -> 0x00010000, \"C:\\Program Files\\Korvalin\\Scanner\\scan.dll\"",
        "IServiceModule[Antivirus/0].GetName() -> 0x00010000, \"Scanner\"",
        "IServiceModule[Antivirus/0] destroyed",
        "IModuleCollection[Antivirus] destroyed",
        "IServiceConfig[Antivirus] destroyed",
        "IServiceConfigCollection.GetItem(1) -> true, [Submission]",
        "IServiceConfig[Submission].GetLoadedModules() -> 0x00010000",
        "IModuleCollection[Submission].GetCount() -> 2",
        "IModuleCollection[Submission].GetItem(0) -> true",
        "IServiceModule[Submission/0].GetPath() -> 0x00010000, \"C:\\Program Files\\Korvalin\\Tools\\helper.dll\"",
        "IServiceModule[Submission/0].GetName() -> 0x00010001, null",
        "IServiceModule[Submission/0] destroyed",
        "IModuleCollection[Submission].GetItem(1) -> true",
        "IServiceModule[Submission/1].GetPath() -> 0x00010000, \"C:\\Program Files\\X\\VEXCORE.DLL\"",
        "IServiceModule[Submission/1].GetName() -> 0x00010000, \"ORBSubmissionEngine\"",
        "IServiceModule[Submission/1] destroyed",
        "IModuleCollection[Submission] destroyed",
        "IServiceConfigCollection destroyed",
        "IServiceConfig[Submission].UnloadModule(\"C:\\Program Files\\X\\VEXCORE.DLL\") -> 0x00010000",
        "IServiceConfig[Submission].LoadModule(\"C:\\Program Files\\X\\VEXCORE.DLL\", \"ORBSubmissionEngine\") -> "
        "0x00010000",
        "IServiceConfig[Submission] destroyed",
        "IServiceManager destroyed",
        "unload (live objects 0)",
    };
    EXPECT_EQ(expected, m_host.JournalLines(kJournal));
}

TEST_F(ServiceHost, AnswersWhatTheHostDoesNotHold)
{
    ASSERT_TRUE(m_host.Load());
    IKrvFactory* factory = reinterpret_cast<IKrvFactory*>(0x1);
    EXPECT_EQ(KRV_E_NOINTERFACE, m_host.GetFactory()(srVerifyTrust::IID_CachedVerifyTrust, &factory));
    EXPECT_EQ(nullptr, factory);

    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);
    void* configs = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(manager, 10, &configs));
    void* config = reinterpret_cast<void*>(0x1);
    EXPECT_FALSE(CallSlot<bool>(configs, 13, 2ul, &config));
    EXPECT_EQ(nullptr, config);
    Release(configs);

    void* submission = ConfigAt(manager, 1);
    ASSERT_NE(nullptr, submission);
    EXPECT_EQ(KRV_E_NOTFOUND, CallSlot<KRVRESULT>(submission, 5, L"C:\\Program Files\\X\\vexcore2.dll"));
    EXPECT_EQ(KRV_S_FALSE, CallSlot<KRVRESULT>(submission, 4, L"c:\\program files\\x\\vexcore.dll", L"Other"));
    EXPECT_EQ(kSeed, m_host.ReadText(kServices));
    Release(submission);
    Release(manager);
    EXPECT_EQ(0, m_host.ObjectCount());
}

TEST_F(ServiceHost, FailsTheCallsATestChooses)
{
    ASSERT_TRUE(m_host.Load());
    m_host.SetSwitch(L"FailCall", L"GetFactory");
    IKrvFactory* factory = reinterpret_cast<IKrvFactory*>(0x1);
    EXPECT_EQ(KRV_E_UNEXPECTED, m_host.GetFactory()(srService::IID_ServiceManager, &factory));
    EXPECT_EQ(nullptr, factory);

    m_host.SetSwitch(L"FailCall", L"IServiceManager.GetRunningServices");
    m_host.SetSwitch(L"FailResult", 0x80000203);
    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);
    void* configs = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(0x80000203ul, CallSlot<KRVRESULT>(manager, 10, &configs));
    EXPECT_EQ(nullptr, configs);

    m_host.SetSwitch(L"FailCall", L"IServiceConfigCollection.GetItem");
    m_host.SetSwitch(L"FailMatch", L"(0)");
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(manager, 10, &configs));
    void* config = nullptr;
    EXPECT_FALSE(CallSlot<bool>(configs, 13, 0ul, &config));
    EXPECT_EQ(nullptr, config);
    EXPECT_TRUE(CallSlot<bool>(configs, 13, 1ul, &config));
    Release(configs);
    ASSERT_NE(nullptr, config);

    m_host.SetSwitch(L"FailCall", L"IServiceConfig.UnloadModule");
    m_host.SetSwitch(L"FailMatch", L"VEXCORE");
    m_host.SetSwitch(L"FailResult", 0x80000100);
    EXPECT_EQ(0x80000100ul, CallSlot<KRVRESULT>(config, 5, kEngine));
    EXPECT_EQ(kSeed, m_host.ReadText(kServices));
    Release(config);
    Release(manager);

    const std::vector<std::string> journal = m_host.JournalLines(kJournal);
    const std::vector<std::string> failures = {
        "GetFactory({3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}) -> 0x8001FFFF",
        "IServiceManager.GetRunningServices() -> 0x80000203",
        "IServiceConfigCollection.GetItem(0) -> false",
        "IServiceConfig[Submission].UnloadModule(\"C:\\Program Files\\X\\VEXCORE.DLL\") -> 0x80000100",
    };
    for (const std::string& line : failures)
        EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(), line)) << line;
}
