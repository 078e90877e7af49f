// The module lifetime manager: one table entry per library, counted objects, unloading after ten
// idle minutes (on a clock of the test's own), its races, the trust check, and the module's own
// manager.
#include "support/dlllifetimemgr.h"
#include "support/modulelifetime.h"
#include "testpaths.h"
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/service/sharedruntime.h"
#include "update/engineinterfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using srKrv::CDLLLifetimeMgrLocal;
using testsupport::Narrow;

namespace {

// {C54E0B7A-2F39-4D81-9A6C-1E7D3B05F982}, the test components' object.
const KRVGUID kTestObjectId = {0xC54E0B7A, 0x2F39, 0x4D81, {0x9A, 0x6C, 0x1E, 0x7D, 0x3B, 0x05, 0xF9, 0x82}};

DWORD g_dwNow = 0;
HANDLE g_hClockReached = nullptr;
HANDLE g_hClockReleased = nullptr;
DWORD g_dwStoppedThread = 0;
int g_nStoppedReads = 0;

// The test's clock. It stops the chosen thread reading it for the second time (while it holds the
// table shared, as a decrement does) until released; then ten minutes have passed.
DWORD WINAPI TestClock()
{
    if (GetCurrentThreadId() == g_dwStoppedThread && ++g_nStoppedReads == 2) {
        SetEvent(g_hClockReached);
        WaitForSingleObject(g_hClockReleased, INFINITE);
        g_dwNow += 600001;
    }
    return g_dwNow;
}

// The owner the managed objects report to: forwards their releases to one manager.
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
    KRVRESULT IncrementModuleObjectCount(HINSTANCE) override { return KRV_E_NOTIMPL; }

    long m_nRefs = 0;

private:
    CDLLLifetimeMgrLocal& m_manager;
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
        m_pfnHold(m_hEntered, m_hProceed);
        m_thread = std::thread([this, &manager, &owner, path] {
            m_result =
                manager.CreateObject(path.c_str(), kTestObjectId, kTestObjectId, false, false, &owner, &m_pObject);
        });
    }
    CHeldCreation(const CHeldCreation&) = delete;
    CHeldCreation& operator=(const CHeldCreation&) = delete;
    ~CHeldCreation()
    {
        Finish();
        CloseHandle(m_hEntered);
        CloseHandle(m_hProceed);
    }

    bool Entered() const { return WaitForSingleObject(m_hEntered, 10000) == WAIT_OBJECT_0; }

    // Lets the creation end; its result, and whether it handed out an object (released at once).
    std::pair<KRVRESULT, bool> Finish()
    {
        if (m_thread.joinable()) {
            SetEvent(m_hProceed);
            m_thread.join();
            m_pfnHold(nullptr, nullptr);
        }
        const bool made = m_pObject != nullptr;
        if (m_pObject)
            static_cast<IKrvBase*>(std::exchange(m_pObject, nullptr))->Release();
        return {m_result, made};
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

const std::pair<KRVRESULT, bool> kMade = {KRV_S_OK, true};

// A manager on the test's clock, and the owner its objects report to.
class ModuleLifetimeTest : public testing::Test {
protected:
    ModuleLifetimeTest()
        : m_sFolder(testsupport::MakeScratchFolder(
              L"lifetime\\" + testsupport::Widen(testing::UnitTest::GetInstance()->current_test_info()->name())))
    {
        g_dwNow = 1000;
    }

    std::wstring Copy(const wchar_t* built, const wchar_t* name) const
    {
        const std::wstring path = m_sFolder + L"\\" + name;
        EXPECT_TRUE(CopyFileW(built, path.c_str(), FALSE));
        return path;
    }

    IKrvBase* Create(const std::wstring& path, KRVRESULT expected = KRV_S_OK)
    {
        void* object = nullptr;
        EXPECT_EQ(expected,
                  m_manager->CreateObject(path.c_str(), kTestObjectId, kTestObjectId, false, false, &m_owner, &object));
        return static_cast<IKrvBase*>(object);
    }

    static bool IsLoaded(const std::wstring& path) { return GetModuleHandleW(path.c_str()) != nullptr; }

    std::wstring m_sFolder;
    std::optional<CDLLLifetimeMgrLocal> m_manager{std::in_place, TestClock};
    COwner m_owner{*m_manager};
};

// A component's release collects: a library whose count reached 0 ten minutes ago to the
// millisecond stays, one more millisecond unloads it.
TEST_F(ModuleLifetimeTest, CountsManagedObjectsAndUnloadsAfterTenIdleMinutes)
{
    const std::wstring first = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"first.dll");
    const std::wstring second = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"second.dll");
    IKrvBase* one = Create(first);
    IKrvBase* two = Create(first);
    IKrvBase* other = Create(second);
    ASSERT_TRUE(one && two && other);
    EXPECT_EQ(3, m_owner.m_nRefs);
    g_dwNow = 700000;
    one->Release();
    g_dwNow = 1300001;
    EXPECT_EQ(KRV_S_OK, m_manager->GarbageCollection(nullptr));
    EXPECT_TRUE(IsLoaded(first)) << "unloaded with an object alive";
    g_dwNow = 1400000;
    two->Release();
    g_dwNow = 1400000 + 600000;
    other->Release();
    EXPECT_TRUE(IsLoaded(first));
    other = Create(second);
    g_dwNow = 1400000 + 600001;
    other->Release();
    EXPECT_FALSE(IsLoaded(first)) << "the second load's reference went at once, the first with the entry";
    EXPECT_EQ(0, m_owner.m_nRefs);
    // Still in the table when the manager goes, idle for less than ten minutes: left loaded.
    m_manager.reset();
    EXPECT_TRUE(IsLoaded(second));
    FreeLibrary(GetModuleHandleW(second.c_str()));
}

// The clock wraps after 49.7 days: a count that reached 0 before the wrap is idle after it.
TEST_F(ModuleLifetimeTest, IdleTimeIsMeasuredAcrossTheClocksWrap)
{
    const DWORD cases[][3] = {
        {0xFFFFFF00, 0x00000100, true},
        {0x00001000, 0x00000100, false},
    };
    const std::wstring path = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"wrap.dll");
    for (const auto& [zero, now, unloaded] : cases) {
        g_dwNow = zero;
        Create(path)->Release();
        g_dwNow = now;
        EXPECT_EQ(KRV_S_OK, m_manager->GarbageCollection(nullptr));
        EXPECT_EQ(!unloaded, IsLoaded(path)) << now;
    }
}

TEST_F(ModuleLifetimeTest, FailuresLoadNothingAndLeaveTheTableAsItWas)
{
    const std::wstring partial = Copy(SUBMCA_PARTIAL_COMPONENT_DLL, L"partial.dll");
    const std::wstring managed = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"managed.dll");
    void* object = nullptr;
    EXPECT_EQ(KRV_E_INVALIDARG,
              m_manager->CreateObject(managed.c_str(), kTestObjectId, kTestObjectId, false, false, nullptr, nullptr));
    EXPECT_EQ(nullptr, Create(m_sFolder + L"\\missing.dll", KRV_E_FILENOTFOUND));
    EXPECT_EQ(nullptr, Create(partial, KRV_E_EXPORTNOTFOUND));
    EXPECT_FALSE(IsLoaded(partial));
    EXPECT_EQ(KRV_E_NOINTERFACE, m_manager->CreateObject(managed.c_str(), kTestObjectId, IID_KrvManagedFactory, false,
                                                         false, nullptr, &object));
    EXPECT_EQ(nullptr, object);
    const HINSTANCE module = GetModuleHandleW(managed.c_str());
    ASSERT_NE(nullptr, module) << "the library stays in the table after a refused object";
    EXPECT_EQ(KRV_E_INVALIDARG, m_manager->DecrementModuleObjectCount(GetModuleHandleW(nullptr)));

    // By handle, a library of the table; a reference held in the out value is released first.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(KRV_S_OK,
                  m_manager->CreateObject(module, kTestObjectId, kTestObjectId, false, false, &m_owner, &object));
    EXPECT_EQ(1, m_owner.m_nRefs);
    static_cast<IKrvBase*>(object)->Release();
    m_manager.reset();
    FreeLibrary(module);
}

// A creation in progress on another thread keeps every collection from unloading anything.
TEST_F(ModuleLifetimeTest, NoCollectionWhileAnObjectIsBeingCreated)
{
    const std::wstring idle = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"idle.dll");
    const std::wstring busy = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"busy.dll");
    Create(idle)->Release();
    IKrvBase* first = Create(busy);
    const HINSTANCE busyModule = GetModuleHandleW(busy.c_str());
    {
        CHeldCreation creation(*m_manager, m_owner, busy);
        ASSERT_TRUE(creation.Entered());
        g_dwNow += 600001;
        EXPECT_EQ(KRV_S_OK, m_manager->GarbageCollection(nullptr));
        EXPECT_TRUE(IsLoaded(idle));
        EXPECT_EQ(kMade, creation.Finish());
    }
    EXPECT_EQ(KRV_S_OK, m_manager->GarbageCollection(nullptr));
    EXPECT_FALSE(IsLoaded(idle));
    first->Release();
    m_manager.reset();
    FreeLibrary(busyModule);
}

// A collection that found no creation in progress and then waited for the table must look again
// once it holds it: a creation may have begun, and found its library, in between.
TEST_F(ModuleLifetimeTest, CollectionWaitingForTheTableLeavesACreationThatBeganMeanwhile)
{
    const std::wstring idle = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"idle.dll");
    const std::wstring other = Copy(SUBMCA_MANAGED_COMPONENT_DLL, L"other.dll");
    g_hClockReached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hClockReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Create(idle)->Release();
    IKrvBase* otherObject = Create(other);

    // A release that holds the table shared while it reads the clock.
    std::thread releaser([&] {
        g_dwStoppedThread = GetCurrentThreadId();
        otherObject->Release();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_hClockReached, 10000));
    // A collection that finds no creation in progress and waits for the table.
    std::thread collector([&] { m_manager->GarbageCollection(nullptr); });
    Sleep(500);
    // A creation from the idle library, held inside its factory.
    CHeldCreation creation(*m_manager, m_owner, idle);
    ASSERT_TRUE(creation.Entered());

    SetEvent(g_hClockReleased);
    releaser.join();
    collector.join();
    EXPECT_TRUE(IsLoaded(idle)) << "unloaded while an object was being created from it";
    EXPECT_EQ(kMade, creation.Finish());
    g_dwStoppedThread = 0;
    m_manager.reset();
    for (const HANDLE event : {g_hClockReached, g_hClockReleased})
        CloseHandle(event);
}

// The trusted loader's order: the verifier is prepared before the file is looked for, so a missing
// engine shows the preparation and no verdict, and a verifier that cannot be prepared refuses
// even a missing file.
TEST_F(ModuleLifetimeTest, TrustCheckPreparesTheVerifierBeforeLookingForTheFile)
{
    servicetest::CSharedRuntime runtime;
    const std::wstring missing = runtime.EngineDirectory() + L"\\absent.dll";
    const struct {
        const char* what;
        std::wstring path;
        const wchar_t* switchName;
        const wchar_t* switchValue;
        KRVRESULT result;
        std::string journalLine;
    } cases[] = {
        {"a missing engine", missing, nullptr, nullptr, KRV_E_FILENOTFOUND,
         "IVerifyTrustBase.Initialize() -> 0x00010000"},
        {"a missing engine, the verifier not starting", missing, L"FailCall", L"ICachedVerifyTrust.Initialize",
         KRV_E_NOTTRUSTED, "ICachedVerifyTrust.Initialize() -> 0x8001FFFF"},
        {"an untrusted engine", runtime.EnginePath(), L"RefuseFile", L"vexcore.dll", KRV_E_NOTTRUSTED,
         "IVerifyTrustBase.VerifyFile(\"" + Narrow(runtime.EnginePath()) + "\", true) -> eVerifyError"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        servicetest::CSharedRuntime::ClearSwitches();
        if (c.switchName)
            servicetest::CSharedRuntime::SetSwitch(L"srVrTrst", c.switchName, c.switchValue);
        DeleteFileW((runtime.Directory() + L"\\srvrtrst-journal.txt").c_str());
        CDLLLifetimeMgrLocal manager;
        void* object = nullptr;
        EXPECT_EQ(c.result, manager.CreateObject(c.path.c_str(), clfs::svc::IID_ConfigManager,
                                                 clfs::svc::IID_ConfigManager, true, true, nullptr, &object));
        EXPECT_EQ(nullptr, object);
        const std::vector<std::string> journal = runtime.TrustJournal();
        EXPECT_NE(journal.end(), std::find(journal.begin(), journal.end(), c.journalLine));
        const bool verdict = std::any_of(journal.begin(), journal.end(), [](const std::string& line) {
            return line.find("VerifyFile") != std::string::npos;
        });
        EXPECT_EQ(c.path != missing, verdict) << "a missing file is never handed to the verifier";
    }
    servicetest::CSharedRuntime::ClearSwitches();
}

// The module's own manager, as the update action reaches the engine: asks the verifier with the
// caller's option, and again for a library already in the table.
TEST_F(ModuleLifetimeTest, ModuleManagerChecksEveryRequest)
{
    servicetest::CSharedRuntime runtime;
    sr::IModuleLifetimeMgr* manager = srKrv::GetModuleLifetimeMgr();
    ASSERT_EQ(manager, srKrv::GetModuleLifetimeMgr());
    const std::string engine = Narrow(runtime.EnginePath());
    const std::string asked = "IVerifyTrustBase.VerifyFile(\"" + engine + "\", true) -> ";
    for (const char* verdict : {"eVerifyTrusted", "eVerifyCached"}) {
        void* configManager = nullptr;
        ASSERT_EQ(KRV_S_OK, manager->CreateObject(runtime.EnginePath().c_str(), clfs::svc::IID_ConfigManager,
                                                  clfs::svc::IID_ConfigManager, 3, &configManager));
        EXPECT_EQ(0u, static_cast<IKrvBase*>(configManager)->Release());
        EXPECT_EQ(asked + verdict, runtime.TrustJournal().back());
    }
}

} // namespace
