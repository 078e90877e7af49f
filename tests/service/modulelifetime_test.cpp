// The module lifetime manager: one table entry per library, counted objects, unloading after ten
// idle minutes (on a clock of the test's own), the trust check, and the module's own manager.
#include "support/dlllifetimemgr.h"
#include "support/modulelifetime.h"
#include "testpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/service/sharedruntime.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using srKrv::CDLLLifetimeMgrLocal;
using testsupport::Narrow;
using Lines = std::vector<std::string>;

namespace {

// {C54E0B7A-2F39-4D81-9A6C-1E7D3B05F982}, the test components' object.
const KRVGUID kTestObjectId = {0xC54E0B7A, 0x2F39, 0x4D81, {0x9A, 0x6C, 0x1E, 0x7D, 0x3B, 0x05, 0xF9, 0x82}};

DWORD g_dwNow = 0;

DWORD WINAPI TestClock()
{
    return g_dwNow;
}

// The owner the managed objects report to: forwards their reports to one manager.
class COwner final : public sr::IModuleLifetimeMgr {
public:
    explicit COwner(CDLLLifetimeMgrLocal& manager) : m_manager(manager) {}

    KRVRESULT QueryInterface(const KRVGUID&, void**) override { return KRV_E_NOINTERFACE; }
    unsigned long AddRef() override { return static_cast<unsigned long>(++m_nRefs); }
    unsigned long Release() override { return static_cast<unsigned long>(--m_nRefs); }
    KRVRESULT CreateObject(HINSTANCE, const KRVGUID&, const KRVGUID&, DWORD, void**) override { return KRV_E_NOTIMPL; }
    KRVRESULT CreateObject(HINSTANCE, const KRVGUID&, const KRVGUID&, void**) override { return KRV_E_NOTIMPL; }
    KRVRESULT CreateObject(const wchar_t*, const KRVGUID&, const KRVGUID&, DWORD, void**) override
    {
        return KRV_E_NOTIMPL;
    }
    KRVRESULT CreateObject(const char*, const KRVGUID&, const KRVGUID&, DWORD, void**) override
    {
        return KRV_E_NOTIMPL;
    }
    KRVRESULT CreateObject(const wchar_t*, const KRVGUID&, const KRVGUID&, void**) override { return KRV_E_NOTIMPL; }
    KRVRESULT CreateObject(const char*, const KRVGUID&, const KRVGUID&, void**) override { return KRV_E_NOTIMPL; }
    KRVRESULT DecrementModuleObjectCount(HINSTANCE module) override
    {
        return m_manager.DecrementModuleObjectCount(module);
    }
    KRVRESULT IncrementModuleObjectCount(HINSTANCE module) override
    {
        return m_manager.IncrementModuleObjectCount(module);
    }

    long References() const { return m_nRefs; }

private:
    CDLLLifetimeMgrLocal& m_manager;
    long m_nRefs = 0;
};

// A creation by path on a thread of its own, held inside the test component's factory (its
// "HoldCreations" switch) until Finish, so that a test can act while the manager is in the middle
// of it. The library must be loaded already.
class CHeldCreation {
public:
    CHeldCreation(CDLLLifetimeMgrLocal& manager, sr::IModuleLifetimeMgr& owner, const std::wstring& path)
        : m_hEntered(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_hProceed(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_pfnHold(reinterpret_cast<Hold>(
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(path.c_str()), "HoldCreations"))))
    {
        if (!m_pfnHold)
            return;
        m_pfnHold(m_hEntered, m_hProceed);
        m_thread = std::thread([this, &manager, &owner, path] {
            m_result = manager.CreateObject(path.c_str(), kTestObjectId, kTestObjectId, false, false, &owner,
                                            &m_pObject);
        });
    }
    CHeldCreation(const CHeldCreation&) = delete;
    CHeldCreation& operator=(const CHeldCreation&) = delete;
    ~CHeldCreation()
    {
        bool made = false;
        Finish(made);
        CloseHandle(m_hEntered);
        CloseHandle(m_hProceed);
    }

    // Whether the creation reached the factory within ten seconds.
    bool Entered() const { return m_pfnHold && WaitForSingleObject(m_hEntered, 10000) == WAIT_OBJECT_0; }

    // Lets the creation end and returns its result; made says whether it handed out an object,
    // which is released at once.
    KRVRESULT Finish(bool& made)
    {
        if (m_thread.joinable()) {
            SetEvent(m_hProceed);
            m_thread.join();
            m_pfnHold(nullptr, nullptr);
        }
        made = m_pObject != nullptr;
        if (m_pObject)
            static_cast<IKrvBase*>(std::exchange(m_pObject, nullptr))->Release();
        return m_result;
    }

private:
    using Hold = void(__stdcall*)(HANDLE entered, HANDLE proceed);

    HANDLE m_hEntered;
    HANDLE m_hProceed;
    Hold m_pfnHold;
    std::thread m_thread;
    void* m_pObject = nullptr;
    KRVRESULT m_result = KRV_E_UNEXPECTED;
};

class ModuleLifetimeTest : public testing::Test {
protected:
    ModuleLifetimeTest() : m_sFolder(testsupport::MakeScratchFolder(L"lifetime\\" + TestName())) { g_dwNow = 1000; }

    static std::wstring TestName()
    {
        return testsupport::Widen(testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    std::wstring Copy(const wchar_t* built, const wchar_t* name) const
    {
        const std::wstring path = m_sFolder + L"\\" + name;
        EXPECT_TRUE(CopyFileW(built, path.c_str(), FALSE));
        return path;
    }

    IKrvBase* Create(CDLLLifetimeMgrLocal& manager, const std::wstring& path, KRVRESULT expected = KRV_S_OK)
    {
        void* object = nullptr;
        EXPECT_EQ(expected, manager.CreateObject(path.c_str(), kTestObjectId, kTestObjectId, false, false,
                                                 &Owner(manager), &object));
        return static_cast<IKrvBase*>(object);
    }

    COwner& Owner(CDLLLifetimeMgrLocal& manager)
    {
        if (!m_pOwner)
            m_pOwner = std::make_unique<COwner>(manager);
        return *m_pOwner;
    }

    static bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

    std::wstring m_sFolder;
    std::unique_ptr<COwner> m_pOwner;
};

// A component's release collects: a library whose count reached 0 ten minutes ago to the
// millisecond stays, one more millisecond unloads it.
TEST_F(ModuleLifetimeTest, CountsManagedObjectsAndUnloadsAfterTenIdleMinutes)
{
    const std::wstring first = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"first.dll");
    const std::wstring second = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"second.dll");
    {
        CDLLLifetimeMgrLocal manager(TestClock);
        IKrvBase* one = Create(manager, first);
        IKrvBase* two = Create(manager, first);
        IKrvBase* other = Create(manager, second);
        ASSERT_TRUE(one && two && other);
        EXPECT_EQ(3, Owner(manager).References());
        g_dwNow = 700000;
        one->Release();
        g_dwNow = 1300001;
        EXPECT_EQ(KRV_S_OK, manager.GarbageCollection(nullptr));
        EXPECT_TRUE(IsLoaded(first)) << "unloaded with an object alive";
        g_dwNow = 1400000;
        two->Release();
        g_dwNow = 1400000 + 600000;
        other->Release();
        EXPECT_TRUE(IsLoaded(first));
        other = Create(manager, second);
        g_dwNow = 1400000 + 600001;
        other->Release();
        EXPECT_FALSE(IsLoaded(first)) << "the second load's reference went at once, the first with the entry";
        EXPECT_EQ(0, Owner(manager).References());
    }
    // Still in the table when the manager goes, idle for less than ten minutes: left loaded.
    EXPECT_TRUE(IsLoaded(second));
    FreeLibrary(GetModuleHandleW(second.c_str()));
}

// The clock wraps after 49.7 days: a count that reached 0 before the wrap is idle after it.
TEST_F(ModuleLifetimeTest, IdleTimeIsMeasuredAcrossTheClocksWrap)
{
    struct Case {
        DWORD zero;
        DWORD now;
        bool unloaded;
    };
    const Case cases[] = {
        {0, 600000, false},
        {0, 600002, true},
        {0xFFFFFF00, 0xFFFFFF00 + 100, false},
        {0xFFFFFF00, 0x00000100, true},
        {0x00001000, 0x00000100, false},
    };
    const std::wstring path = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"wrap.dll");
    CDLLLifetimeMgrLocal manager(TestClock);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.now);
        g_dwNow = c.zero;
        Create(manager, path)->Release();
        g_dwNow = c.now;
        EXPECT_EQ(KRV_S_OK, manager.GarbageCollection(nullptr));
        EXPECT_EQ(!c.unloaded, IsLoaded(path));
    }
}

TEST_F(ModuleLifetimeTest, PlainFactoryMakesTheEntryUnmanaged)
{
    const std::wstring path = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"plain.dll");
    {
        CDLLLifetimeMgrLocal manager(TestClock);
        IKrvBase* object = Create(manager, path);
        ASSERT_NE(nullptr, object);
        const HINSTANCE module = GetModuleHandleW(path.c_str());
        const auto queries =
            reinterpret_cast<long(__stdcall*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ObjectCountQueries")));
        EXPECT_EQ(KRV_S_OK, manager.IncrementModuleObjectCount(module));
        EXPECT_EQ(KRV_S_OK, manager.DecrementModuleObjectCount(module));
        const long asked = queries();
        g_dwNow += 2 * 600000;
        EXPECT_EQ(KRV_S_OK, manager.GarbageCollection(nullptr));
        EXPECT_EQ(asked + 1, queries()) << "the component's own count decides";
        EXPECT_EQ(0u, object->Release());
        EXPECT_EQ(0, Owner(manager).References());
    }
    FreeLibrary(GetModuleHandleW(path.c_str()));
}

TEST_F(ModuleLifetimeTest, FailuresLoadNothingAndLeaveTheTableAsItWas)
{
    const std::wstring partial = Copy(SUBMCA_PARTIAL_COMPONENT_DLL, L"partial.dll");
    const std::wstring managed = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"managed.dll");
    std::optional<CDLLLifetimeMgrLocal> holder(std::in_place, TestClock);
    CDLLLifetimeMgrLocal& manager = *holder;
    void* object = nullptr;
    EXPECT_EQ(KRV_E_INVALIDARG,
              manager.CreateObject(managed.c_str(), kTestObjectId, kTestObjectId, false, false, nullptr, nullptr));
    EXPECT_EQ(KRV_E_INVALIDARG, manager.CreateObject(static_cast<const wchar_t*>(nullptr), kTestObjectId, kTestObjectId,
                                                     false, false, nullptr, &object));
    EXPECT_EQ(nullptr, Create(manager, m_sFolder + L"\\missing.dll", KRV_E_FILENOTFOUND));
    EXPECT_EQ(nullptr, Create(manager, partial, KRV_E_EXPORTNOTFOUND));
    EXPECT_FALSE(IsLoaded(partial));
    EXPECT_EQ(KRV_E_NOINTERFACE, manager.CreateObject(managed.c_str(), kTestObjectId, IID_KrvManagedFactory, false,
                                                      false, nullptr, &object));
    EXPECT_EQ(nullptr, object);
    const HINSTANCE module = GetModuleHandleW(managed.c_str());
    ASSERT_NE(nullptr, module) << "the library stays in the table after a refused object";
    const HINSTANCE stranger = GetModuleHandleW(nullptr);
    EXPECT_EQ(KRV_E_INVALIDARG, manager.IncrementModuleObjectCount(stranger));
    EXPECT_EQ(KRV_E_INVALIDARG, manager.DecrementModuleObjectCount(stranger));
    EXPECT_EQ(KRV_E_INVALIDARG,
              manager.CreateObject(stranger, kTestObjectId, kTestObjectId, false, false, nullptr, &object));

    // By handle, a library of the table; a reference held in the out value is released first.
    EXPECT_EQ(KRV_S_OK,
              manager.CreateObject(module, kTestObjectId, kTestObjectId, false, false, &Owner(manager), &object));
    ASSERT_NE(nullptr, object);
    EXPECT_EQ(KRV_S_OK,
              manager.CreateObject(module, kTestObjectId, kTestObjectId, false, false, &Owner(manager), &object));
    EXPECT_EQ(1, Owner(manager).References());
    static_cast<IKrvBase*>(object)->Release();
    holder.reset();
    FreeLibrary(module);
}

// A creation in progress on another thread keeps every collection from unloading anything.
TEST_F(ModuleLifetimeTest, NoCollectionWhileAnObjectIsBeingCreated)
{
    const std::wstring idle = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"idle.dll");
    const std::wstring busy = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"busy.dll");
    std::optional<CDLLLifetimeMgrLocal> holder(std::in_place, TestClock);
    CDLLLifetimeMgrLocal& manager = *holder;
    Create(manager, idle)->Release();
    IKrvBase* first = Create(manager, busy);
    const HINSTANCE busyModule = GetModuleHandleW(busy.c_str());
    {
        CHeldCreation creation(manager, Owner(manager), busy);
        ASSERT_TRUE(creation.Entered());
        g_dwNow += 600001;
        EXPECT_EQ(KRV_S_OK, manager.GarbageCollection(nullptr));
        EXPECT_TRUE(IsLoaded(idle));
        bool made = false;
        EXPECT_EQ(KRV_S_OK, creation.Finish(made));
        EXPECT_TRUE(made);
    }
    EXPECT_EQ(KRV_S_OK, manager.GarbageCollection(nullptr));
    EXPECT_FALSE(IsLoaded(idle));
    first->Release();
    holder.reset();
    FreeLibrary(busyModule);
}

// A clock that stops the thread reading it for the second time while it holds the table shared,
// as a decrement does, until released; then ten minutes have passed.
HANDLE g_hClockReached = nullptr;
HANDLE g_hClockReleased = nullptr;
DWORD g_dwStoppedThread = 0;
int g_nStoppedReads = 0;

DWORD WINAPI StoppingClock()
{
    if (GetCurrentThreadId() == g_dwStoppedThread && ++g_nStoppedReads == 2) {
        SetEvent(g_hClockReached);
        WaitForSingleObject(g_hClockReleased, INFINITE);
        g_dwNow += 600001;
    }
    return g_dwNow;
}

// A collection that found no creation in progress and then waited for the table must look again
// once it holds it: a creation may have begun, and found its library, in between.
TEST_F(ModuleLifetimeTest, CollectionWaitingForTheTableLeavesACreationThatBeganMeanwhile)
{
    const std::wstring idle = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"idle.dll");
    const std::wstring other = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"other.dll");
    g_hClockReached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hClockReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_nStoppedReads = 0;
    std::optional<CDLLLifetimeMgrLocal> holder(std::in_place, StoppingClock);
    CDLLLifetimeMgrLocal& manager = *holder;
    Create(manager, idle)->Release();
    IKrvBase* otherObject = Create(manager, other);

    // A release that holds the table shared while it reads the clock.
    std::thread releaser([&] {
        g_dwStoppedThread = GetCurrentThreadId();
        otherObject->Release();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hClockReached, 10000));
    // A collection that finds no creation in progress and waits for the table.
    std::thread collector([&] { manager.GarbageCollection(nullptr); });
    Sleep(500);
    // A creation from the idle library, held inside its factory.
    CHeldCreation creation(manager, Owner(manager), idle);
    ASSERT_TRUE(creation.Entered());

    SetEvent(g_hClockReleased);
    releaser.join();
    collector.join();
    EXPECT_TRUE(IsLoaded(idle)) << "unloaded while an object was being created from it";
    bool made = false;
    EXPECT_EQ(KRV_S_OK, creation.Finish(made));
    EXPECT_TRUE(made);
    g_dwStoppedThread = 0;
    holder.reset();
    for (const HANDLE event : {g_hClockReached, g_hClockReleased})
        CloseHandle(event);
}

// The trust check asks the maker's verifier with the caller's option; a refused file is never
// loaded, and a missing one is not found without a question to the verifier.
TEST_F(ModuleLifetimeTest, RefusedComponentIsNeverLoaded)
{
    servicetest::CSharedRuntime runtime;
    const std::wstring path = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"checked.dll");
    const std::string asked = "IVerifyTrustBase.VerifyFile(\"" + Narrow(path) + "\", ";
    {
        CDLLLifetimeMgrLocal manager(TestClock);
        void* object = nullptr;
        EXPECT_EQ(KRV_E_FILENOTFOUND, manager.CreateObject((m_sFolder + L"\\missing.dll").c_str(), kTestObjectId,
                                                           kTestObjectId, true, true, &Owner(manager), &object));
        servicetest::CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"CHECKED.DLL");
        EXPECT_EQ(KRV_E_NOTTRUSTED, manager.CreateObject(path.c_str(), kTestObjectId, kTestObjectId, true, true,
                                                         &Owner(manager), &object));
        EXPECT_FALSE(IsLoaded(path));
        EXPECT_EQ(asked + "true) -> eVerifyError", runtime.TrustJournal().back());

        servicetest::CSharedRuntime::SetSwitch(L"srVrTrst", L"RefuseFile", L"none");
        EXPECT_EQ(KRV_S_OK, manager.CreateObject(path.c_str(), kTestObjectId, kTestObjectId, true, false,
                                                 &Owner(manager), &object));
        EXPECT_EQ(asked + "false) -> eVerifyTrusted", runtime.TrustJournal().back());
        static_cast<IKrvBase*>(object)->Release();
    }
    EXPECT_EQ(servicetest::kUnloadedClean, runtime.TrustJournal().back()) << "the verifier goes with the manager";
    FreeLibrary(GetModuleHandleW(path.c_str()));
}

// The module's own manager, as the update action reaches the engine: slot 5 with flags 3, and
// the same through the narrow path of slot 6.
TEST_F(ModuleLifetimeTest, ModuleManagerCreatesTheEnginesConfigurationManager)
{
    servicetest::CSharedRuntime runtime;
    sr::IModuleLifetimeMgr* manager = srKrv::GetModuleLifetimeMgr();
    ASSERT_NE(nullptr, manager);
    EXPECT_EQ(manager, srKrv::GetModuleLifetimeMgr());
    const std::wstring engine = runtime.EnginePath();
    void* configManager = nullptr;
    EXPECT_EQ(KRV_S_OK,
              manager->CreateObject(engine.c_str(), clfs::svc::IID_ConfigManager, clfs::svc::IID_ConfigManager,
                                    sr::KRV_MODULE_TRUST_CHECK | sr::KRV_MODULE_TRUST_OPTION, &configManager));
    ASSERT_NE(nullptr, configManager);
    const std::string narrow = Narrow(engine);
    void* again = nullptr;
    EXPECT_EQ(KRV_S_OK, manager->CreateObject(narrow.c_str(), clfs::svc::IID_ConfigManager,
                                              clfs::svc::IID_ConfigManager, 3, &again));
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(0u, static_cast<IKrvBase*>(again)->Release());
    EXPECT_EQ(0u, static_cast<IKrvBase*>(configManager)->Release());

    // The second request finds the library in the table, but is checked all the same.
    const Lines trust = runtime.TrustJournal();
    const std::string asked = "IVerifyTrustBase.VerifyFile(\"" + narrow + "\", true) -> ";
    EXPECT_EQ(1, std::count(trust.begin(), trust.end(), asked + "eVerifyTrusted"));
    EXPECT_EQ(1, std::count(trust.begin(), trust.end(), asked + "eVerifyCached"));
    const Lines engineCalls = runtime.EngineJournal();
    EXPECT_EQ(1, std::count(engineCalls.begin(), engineCalls.end(), "load"));
    void* none = nullptr;
    EXPECT_EQ(KRV_E_INVALIDARG, manager->CreateObject(static_cast<const char*>(nullptr), clfs::svc::IID_ConfigManager,
                                                      clfs::svc::IID_ConfigManager, &none));
}

} // namespace
