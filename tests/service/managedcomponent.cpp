// A shared-runtime component for the tests of the module lifetime manager, with a managed factory.
// Its objects hold the owner they were created for and report their release to it with the DLL's
// own handle. A test can hold a managed creation halfway (see HoldCreations).
#include "support/modulelifetime.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace {

// Object id and interface id of the one object the component makes.
// {C54E0B7A-2F39-4D81-9A6C-1E7D3B05F982}
const KRVGUID kTestObjectId = {0xC54E0B7A, 0x2F39, 0x4D81, {0x9A, 0x6C, 0x1E, 0x7D, 0x3B, 0x05, 0xF9, 0x82}};

HMODULE g_hModule = nullptr;
HANDLE g_hCreationEntered = nullptr;
HANDLE g_hCreationProceed = nullptr;

// The factory and the object in one class: each answers only the interface it serves, the
// managed factory's or the object's.
class CUnit final : public IKrvManagedFactory {
public:
    CUnit(const KRVGUID& served, sr::IModuleLifetimeMgr* owner) : m_served(served), m_pOwner(owner)
    {
        if (m_pOwner)
            m_pOwner->AddRef();
    }

    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) override
    {
        *object = std::memcmp(&interfaceId, &m_served, sizeof(KRVGUID)) == 0 ? this : nullptr;
        if (!*object)
            return KRV_E_NOINTERFACE;
        AddRef();
        return KRV_S_OK;
    }
    unsigned long AddRef() override { return static_cast<unsigned long>(InterlockedIncrement(&m_nRefs)); }
    unsigned long Release() override
    {
        const LONG refs = InterlockedDecrement(&m_nRefs);
        if (refs == 0)
            delete this;
        return static_cast<unsigned long>(refs);
    }

    KRVRESULT CreateInstance(const KRVGUID& interfaceId, void** object) override
    {
        return Create(interfaceId, object, nullptr);
    }
    KRVRESULT CreateManagedInstance(const KRVGUID& interfaceId, void** object, sr::IModuleLifetimeMgr* owner) override
    {
        if (g_hCreationEntered) {
            SetEvent(g_hCreationEntered);
            WaitForSingleObject(g_hCreationProceed, INFINITE);
        }
        return Create(interfaceId, object, owner);
    }

    static KRVRESULT Create(const KRVGUID& objectId, void** object, sr::IModuleLifetimeMgr* owner)
    {
        *object = nullptr;
        if (std::memcmp(&objectId, &kTestObjectId, sizeof(KRVGUID)) != 0)
            return KRV_E_NOINTERFACE;
        *object = static_cast<IKrvBase*>(new (std::nothrow) CUnit(kTestObjectId, owner));
        return *object ? KRV_S_OK : KRV_E_OUTOFMEMORY;
    }

private:
    ~CUnit()
    {
        if (!m_pOwner)
            return;
        m_pOwner->DecrementModuleObjectCount(g_hModule);
        m_pOwner->Release();
    }

    const KRVGUID& m_served;
    sr::IModuleLifetimeMgr* m_pOwner;
    LONG m_nRefs = 1;
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_hModule = instance;
    return TRUE;
}

extern "C" KRVRESULT __stdcall GetFactory(const KRVGUID& objectId, IKrvFactory** factory)
{
    const bool known = std::memcmp(&objectId, &kTestObjectId, sizeof(KRVGUID)) == 0;
    *factory = known ? new (std::nothrow) CUnit(IID_KrvManagedFactory, nullptr) : nullptr;
    return *factory ? KRV_S_OK : KRV_E_NOINTERFACE;
}

// Managed objects are counted by the lifetime manager, never by the component.
extern "C" long __stdcall GetObjectCount()
{
    return 0;
}

// From now on a managed creation signals entered and waits for proceed (null: no more holding).
extern "C" void __stdcall HoldCreations(HANDLE entered, HANDLE proceed)
{
    g_hCreationProceed = proceed;
    g_hCreationEntered = entered;
}
