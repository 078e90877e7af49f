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
LONG g_nLiveObjects = 0;
HANDLE g_hCreationEntered = nullptr;
HANDLE g_hCreationProceed = nullptr;

bool Same(const KRVGUID& left, const KRVGUID& right)
{
    return std::memcmp(&left, &right, sizeof(KRVGUID)) == 0;
}

// One reference on creation; QueryInterface answers only the one interface the object serves.
template <class Interface>
class CCounted : public Interface {
public:
    explicit CCounted(const KRVGUID& served) : m_served(served) {}

    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) override
    {
        *object = Same(interfaceId, m_served) ? this : nullptr;
        if (!*object)
            return KRV_E_NOINTERFACE;
        this->AddRef();
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

protected:
    virtual ~CCounted() = default;

private:
    const KRVGUID& m_served;
    LONG m_nRefs = 1;
};

class CTestObject final : public CCounted<IKrvBase> {
public:
    explicit CTestObject(sr::IModuleLifetimeMgr* owner) : CCounted(kTestObjectId), m_pOwner(owner)
    {
        if (m_pOwner)
            m_pOwner->AddRef();
        InterlockedIncrement(&g_nLiveObjects);
    }

private:
    ~CTestObject() override
    {
        InterlockedDecrement(&g_nLiveObjects);
        if (!m_pOwner)
            return;
        m_pOwner->DecrementModuleObjectCount(g_hModule);
        m_pOwner->Release();
    }

    sr::IModuleLifetimeMgr* m_pOwner;
};

class CFactory final : public CCounted<IKrvManagedFactory> {
public:
    CFactory() : CCounted(IID_KrvManagedFactory) {}

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

private:
    static KRVRESULT Create(const KRVGUID& interfaceId, void** object, sr::IModuleLifetimeMgr* owner)
    {
        *object = nullptr;
        if (!Same(interfaceId, kTestObjectId))
            return KRV_E_NOINTERFACE;
        *object = new (std::nothrow) CTestObject(owner);
        return *object ? KRV_S_OK : KRV_E_OUTOFMEMORY;
    }
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
    *factory = Same(objectId, kTestObjectId) ? new (std::nothrow) CFactory() : nullptr;
    return *factory ? KRV_S_OK : KRV_E_NOINTERFACE;
}

extern "C" long __stdcall GetObjectCount()
{
    return g_nLiveObjects;
}

// From now on a managed creation signals entered and waits for proceed (null: no more holding).
extern "C" void __stdcall HoldCreations(HANDLE entered, HANDLE proceed)
{
    g_hCreationProceed = proceed;
    g_hCreationEntered = entered;
}
