// The engine stand-in driven by slot number in the update's order: remove every configuration,
// create and save a new one, write the engine-wide defaults. Its store, which the module's tests
// read, must hold exactly what was saved and survive the DLL being freed and loaded again.
#include "standinpaths.h"
#include "support/stringimpl.h"
#include "tests/standins/harness.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

using standintest::CallSlot;
using standintest::Release;

namespace {

const wchar_t kStore[] = L"vexcore-configs.txt";

// Slot 33 with the module's own string object, released after the call as the module does.
bool SetString(void* values, unsigned long key, const wchar_t* text)
{
    srKrv::CStringImpl* string = srKrv::CStringImpl::CreateStringImpl(text);
    const bool stored = CallSlot<bool>(values, 33, key, static_cast<sr::IString*>(string));
    string->Release();
    return stored;
}

TEST(Engine, ReplacesTheConfigurationsAndKeepsThemAcrossAReload)
{
    standintest::CStandinCopy engine(SUBMCA_VEXCORE_DLL, L"vexcore.dll", L"vexcore");
    engine.WriteText(kStore, "[engine]\n262=dword:45\n[config 1]\n256=string:old\n[config 2]\n272=string:D\n");
    ASSERT_TRUE(engine.Load());
    void* manager = engine.Create(clfs::svc::IID_ConfigManager);
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
    EXPECT_EQ("[engine]\n262=dword:45\n", engine.ReadText(kStore));

    void* config = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 6, &config));
    void* values = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    EXPECT_TRUE(SetString(values, 275, L"50% of\r\nsamples \u00e9\u65e5"));
    EXPECT_TRUE(SetString(values, 258, L""));
    DWORD stored = 7;
    EXPECT_FALSE(CallSlot<bool>(values, 26, 265ul, &stored));
    EXPECT_EQ(7u, stored);
    GUID type = {};
    IIDFromString(L"{9C47B2E8-3D15-4a60-8F7E-A2D9105C3B64}", &type);
    EXPECT_TRUE(CallSlot<bool>(values, 39, 266ul, &type));
    EXPECT_TRUE(CallSlot<bool>(values, 49, 278ul, true));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 264ul, DWORD(41)));
    EXPECT_TRUE(CallSlot<bool>(values, 26, 264ul, &stored));
    EXPECT_EQ(41u, stored);
    EXPECT_EQ(0u, CallSlot<DWORD>(config, 3, DWORD(1000)));
    Release(values);
    Release(config);

    void* engineConfig = nullptr;
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 8, &engineConfig));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(engineConfig, 6, &values));
    EXPECT_TRUE(CallSlot<bool>(values, 4, 262ul));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 384ul));
    EXPECT_TRUE(CallSlot<bool>(values, 43, 384ul, DWORD(14)));
    EXPECT_EQ(0u, CallSlot<DWORD>(engineConfig, 3, DWORD(1000)));
    Release(values);
    Release(engineConfig);
    Release(manager);
    EXPECT_EQ(0, engine.ObjectCount());
    engine.Free();

    // Strings as UTF-8 with %, CR and LF escaped.
    const std::string expectedStore = "[engine]\n262=dword:45\n384=dword:14\n[config 3]\n"
                                      "258=string:\n264=dword:41\n266=guid:{9C47B2E8-3D15-4A60-8F7E-A2D9105C3B64}\n"
                                      "275=string:50%25 of%0D%0Asamples \xC3\xA9\xE6\x97\xA5\n278=bool:true\n";
    EXPECT_EQ(expectedStore, engine.ReadText(kStore));
    standintest::JournalHolds(engine.JournalLines(L"vexcore-journal.txt"),
                              {"IKeyValueCollection[config 3].SetDwordValue(264, 41) -> true",
                               "IConfig[config 3].Save(1000) -> 0", "IKeyValueCollection[engine].HasValue(384) -> false",
                               "IConfig[engine].Save(1000) -> 0", "unload (live objects 0)"});

    ASSERT_TRUE(engine.Load());
    manager = engine.Create(clfs::svc::IID_ConfigManager);
    ASSERT_NE(nullptr, manager);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 3));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 4, &count));
    ASSERT_EQ(1u, count);
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(manager, 5, DWORD(0), &config));
    ASSERT_EQ(S_OK, CallSlot<HRESULT>(config, 6, &values));
    stored = 0;
    EXPECT_TRUE(CallSlot<bool>(values, 26, 264ul, &stored));
    EXPECT_EQ(41u, stored);
    EXPECT_TRUE(CallSlot<bool>(values, 4, 275ul));
    EXPECT_FALSE(CallSlot<bool>(values, 4, 256ul));
    Release(values);
    Release(config);
    Release(manager);
    EXPECT_EQ(expectedStore, engine.ReadText(kStore));
}

} // namespace
