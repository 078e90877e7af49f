// The engine stand-in driven by slot number in the update's order: remove every configuration,
// create and save new ones, write the engine-wide defaults; its store must survive the DLL being
// freed and loaded again.
#include "standinpaths.h"
#include "support/stringimpl.h"
#include "tests/standins/harness.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

using standintest::CallSlot;
using standintest::CStandinCopy;
using standintest::Release;

namespace {

const wchar_t kStore[] = L"vexcore-configs.txt";
const wchar_t kJournal[] = L"vexcore-journal.txt";

const char kSeed[] = "[engine]\n"
                     "262=dword:45\n"
                     "[config 1]\n"
                     "256=string:old.example.com\n"
                     "[config 2]\n"
                     "272=string:Detection\n";

GUID SubmissionType()
{
    GUID guid = {};
    IIDFromString(L"{9C47B2E8-3D15-4a60-8F7E-A2D9105C3B64}", &guid);
    return guid;
}

class Engine : public testing::Test {
protected:
    Engine() : m_engine(SUBMCA_VEXCORE_DLL, L"vexcore.dll", L"vexcore") { m_engine.WriteText(kStore, kSeed); }

    // The configuration manager as the module lifetime manager creates it: the factory is first
    // asked whether it is a managed one, then asked for the manager.
    void* CreateManager()
    {
        void* factory = nullptr;
        EXPECT_EQ(KRV_S_OK,
                  m_engine.GetFactory()(clfs::svc::IID_ConfigManager, reinterpret_cast<IKrvFactory**>(&factory)));
        if (!factory)
            return nullptr;
        void* managed = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(KRV_E_NOINTERFACE, CallSlot<KRVRESULT>(factory, 0, &IID_KrvManagedFactory, &managed));
        EXPECT_EQ(nullptr, managed);
        void* manager = nullptr;
        EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(factory, 3, &clfs::svc::IID_ConfigManager, &manager));
        Release(factory);
        return manager;
    }

    // Slot 33 with the module's own string object, released after the call as the module does.
    static bool SetString(void* values, unsigned long key, const wchar_t* text)
    {
        srKrv::CStringImpl* string = srKrv::CStringImpl::CreateStringImpl(text);
        const bool stored = CallSlot<bool>(values, 33, key, static_cast<sr::IString*>(string));
        string->Release();
        return stored;
    }

    CStandinCopy m_engine;
};

} // namespace

TEST_F(Engine, ReplacesTheConfigurationsAndKeepsThemAcrossAReload)
{
    ASSERT_TRUE(m_engine.Load());
    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);

    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 3));
    DWORD count = 0;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 4, &count));
    ASSERT_EQ(2u, count);
    for (DWORD index = 0; index < count; ++index) {
        void* config = nullptr;
        ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 5, index, &config));
        EXPECT_EQ(S_OK, CallSlot<HRESULT>(manager, 7, config));
        Release(config);
    }
    EXPECT_EQ("[engine]\n262=dword:45\n", m_engine.ReadText(kStore));

    void* config = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 6, &config));
    void* values = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    EXPECT_TRUE(SetString(values, 275, L"Vexcore"));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 264ul, DWORD(0)));
    DWORD stored = 0;
    EXPECT_FALSE(CallSlot<bool>(values, 26, 265ul, &stored));
    EXPECT_EQ(0u, stored);
    stored = 7;
    EXPECT_TRUE(CallSlot<bool>(values, 26, 264ul, &stored));
    EXPECT_EQ(0u, stored);
    const GUID type = SubmissionType();
    EXPECT_TRUE(CallSlot<bool>(values, 39, 266ul, &type));
    EXPECT_TRUE(CallSlot<bool>(values, 49, 278ul, true));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 264ul, DWORD(41)));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 265ul, DWORD(100)));
    EXPECT_EQ(0u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    Release(values);
    Release(config);

    void* engine = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 8, &engine));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(engine, 6, &values));
    EXPECT_TRUE(CallSlot<bool>(values, 4, 262ul));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 384ul));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 384ul, DWORD(14)));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 385ul));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 385ul, DWORD(0)));
    EXPECT_EQ(0u, CallSlot<DWORD>(engine, 3, DWORD(1000)));
    Release(values);
    Release(engine);
    Release(manager);
    EXPECT_EQ(0, m_engine.ObjectCount());
    m_engine.Free();

    const std::string expectedStore = "[engine]\n"
                                      "262=dword:45\n"
                                      "384=dword:14\n"
                                      "385=dword:0\n"
                                      "[config 3]\n"
                                      "264=dword:41\n"
                                      "265=dword:100\n"
                                      "266=guid:{9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}\n"
                                      "275=string:Vexcore\n"
                                      "278=bool:true\n";
    EXPECT_EQ(expectedStore, m_engine.ReadText(kStore));
    const std::vector<std::string> expectedJournal = {
        "load",
        "GetFactory({5A3C9E1D-7B42-4F86-9D2A-31E8C6B07F54}) -> 0x00010000",
        "IKrvFactory.QueryInterface({1D7C5E93-4A2B-4F08-B6E1-8C39A07D52F4}) -> 0x80010200",
        "IKrvFactory.CreateInstance({5A3C9E1D-7B42-4F86-9D2A-31E8C6B07F54}) -> 0x00010000",
        "IKrvFactory destroyed",
        "IConfigManager.LoadConfigs() -> 0x00000000, 2 configurations",
        "IConfigManager.GetConfigCount() -> 0x00000000, 2",
        "IConfigManager.GetConfigAt(0) -> 0x00000000, config 1",
        "IConfigManager.RemoveConfig(config 1) -> 0x00000000",
        "IConfigManager.GetConfigAt(1) -> 0x00000000, config 2",
        "IConfigManager.RemoveConfig(config 2) -> 0x00000000",
        "IConfigManager.NewConfig() -> 0x00000000, config 3",
        "IConfig[config 3].GetData() -> 0x00000000",
        "IKeyValueCollection[config 3].SetStringValue(275, \"Vexcore\") -> true",
        "IKeyValueCollection[config 3].SetDwordValue(264, 0) -> true",
        "IKeyValueCollection[config 3].GetDwordValue(265) -> false",
        "IKeyValueCollection[config 3].GetDwordValue(264) -> true, 0",
        "IKeyValueCollection[config 3].SetGuidValue(266, {9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}) -> true",
        "IKeyValueCollection[config 3].SetBoolValue(278, true) -> true",
        "IKeyValueCollection[config 3].SetDwordValue(264, 41) -> true",
        "IKeyValueCollection[config 3].SetDwordValue(265, 100) -> true",
        "IConfig[config 3].Save(1000) -> 0",
        "IKeyValueCollection[config 3] destroyed",
        "IConfig[config 3] destroyed",
        "IConfigManager.GetEngineConfig() -> 0x00000000, engine",
        "IConfig[engine].GetData() -> 0x00000000",
        "IKeyValueCollection[engine].HasValue(262) -> true",
        "IKeyValueCollection[engine].HasValue(384) -> false",
        "IKeyValueCollection[engine].SetDwordValue(384, 14) -> true",
        "IKeyValueCollection[engine].HasValue(385) -> false",
        "IKeyValueCollection[engine].SetDwordValue(385, 0) -> true",
        "IConfig[engine].Save(1000) -> 0",
        "IKeyValueCollection[engine] destroyed",
        "IConfig[engine] destroyed",
        "IConfig[config 1] destroyed",
        "IConfig[config 2] destroyed",
        "IConfigManager destroyed",
        "unload (live objects 0)",
    };
    EXPECT_EQ(expectedJournal, m_engine.JournalLines(kJournal));

    ASSERT_TRUE(m_engine.Load());
    manager = CreateManager();
    ASSERT_NE(nullptr, manager);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 3));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 4, &count));
    ASSERT_EQ(1u, count);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 5, DWORD(0), &config));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    stored = 0;
    EXPECT_TRUE(CallSlot<bool>(values, 26, 264ul, &stored));
    EXPECT_EQ(41u, stored);
    EXPECT_TRUE(CallSlot<bool>(values, 26, 265ul, &stored));
    EXPECT_EQ(100u, stored);
    EXPECT_TRUE(CallSlot<bool>(values, 4, 275ul));
    EXPECT_FALSE(CallSlot<bool>(values, 26, 275ul, &stored));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 256ul));
    EXPECT_EQ(0u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    Release(values);
    Release(config);
    Release(manager);
    EXPECT_EQ(0, m_engine.ObjectCount());
    EXPECT_EQ(expectedStore, m_engine.ReadText(kStore));
}

TEST_F(Engine, KeepsEveryCharacterOfStringValues)
{
    const std::wstring text = L"50% of\r\nsamples \u00e9\u65e5";
    ASSERT_TRUE(m_engine.Load());
    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);
    void* config = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 6, &config));
    void* values = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    EXPECT_TRUE(SetString(values, 256, text.c_str()));
    EXPECT_TRUE(SetString(values, 258, L""));
    EXPECT_FALSE(CallSlot<bool>(values, 33, 259ul, static_cast<sr::IString*>(nullptr)));
    EXPECT_EQ(0u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    Release(values);
    Release(config);
    Release(manager);
    m_engine.Free();

    // The text as UTF-8 with %, CR and LF escaped.
    const std::string escaped = "50%25 of%0D%0Asamples \xC3\xA9\xE6\x97\xA5";
    const std::string stored = m_engine.ReadText(kStore);
    EXPECT_NE(std::string::npos, stored.find("[config 3]\n256=string:" + escaped + "\n258=string:\n")) << stored;
    const std::vector<std::string> journal = m_engine.JournalLines(kJournal);
    const std::string setter = "IKeyValueCollection[config 3].SetStringValue(256, \"" + escaped + "\") -> true";
    EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(), setter));
    EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(),
                                       "IKeyValueCollection[config 3].SetStringValue(259, null) -> false"));

    ASSERT_TRUE(m_engine.Load());
    manager = CreateManager();
    ASSERT_NE(nullptr, manager);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 3));
    DWORD count = 0;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 4, &count));
    ASSERT_EQ(3u, count);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 5, DWORD(2), &config));
    EXPECT_EQ(0u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    Release(config);
    Release(manager);
    EXPECT_EQ(stored, m_engine.ReadText(kStore));
}

TEST_F(Engine, FailsTheCallsATestChoosesAndRefusesWhatItDoesNotHold)
{
    ASSERT_TRUE(m_engine.Load());
    void* manager = CreateManager();
    ASSERT_NE(nullptr, manager);

    m_engine.SetSwitch(L"FailCall", L"IConfigManager.NewConfig");
    m_engine.SetSwitch(L"FailResult", DWORD(E_OUTOFMEMORY));
    void* config = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(E_OUTOFMEMORY, CallSlot<HRESULT>(manager, 6, &config));
    EXPECT_EQ(nullptr, config);

    m_engine.SetSwitch(L"FailCall", L"IKeyValueCollection.SetDwordValue");
    m_engine.SetSwitch(L"FailMatch", L"(257,");
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 6, &config));
    void* values = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    EXPECT_FALSE(CallSlot<bool>(values, 43, 257ul, DWORD(443)));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 257ul));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 264ul, DWORD(0)));

    m_engine.SetSwitch(L"FailCall", L"IConfig.Save");
    m_engine.SetSwitch(L"FailMatch", L"[config 3]");
    m_engine.SetSwitch(L"FailResult", DWORD(5));
    EXPECT_EQ(5u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    EXPECT_EQ(kSeed, m_engine.ReadText(kStore));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), CallSlot<HRESULT>(manager, 7, config));
    Release(values);
    Release(config);

    m_engine.SetSwitch(L"FailCall", std::wstring());
    void* engine = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 8, &engine));
    EXPECT_EQ(E_INVALIDARG, CallSlot<HRESULT>(manager, 7, engine));
    Release(engine);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 3));
    EXPECT_EQ(E_INVALIDARG, CallSlot<HRESULT>(manager, 5, DWORD(2), &config));
    EXPECT_EQ(nullptr, config);
    EXPECT_EQ(E_POINTER, CallSlot<HRESULT>(manager, 4, static_cast<DWORD*>(nullptr)));
    Release(manager);
    EXPECT_EQ(0, m_engine.ObjectCount());
    EXPECT_EQ(kSeed, m_engine.ReadText(kStore));

    const std::vector<std::string> journal = m_engine.JournalLines(kJournal);
    for (const char* line : {"IConfigManager.NewConfig() -> 0x8007000E",
                             "IKeyValueCollection[config 3].SetDwordValue(257, 443) -> false",
                             "IKeyValueCollection[config 3].SetDwordValue(264, 0) -> true",
                             "IConfig[config 3].Save(1000) -> 5"})
        EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(), line)) << line;
}
