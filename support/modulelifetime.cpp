#include "support/modulelifetime.h"

#include "support/catchconvention.h"
#include "support/criticalsection.h"
#include "support/dlllifetimemgr.h"

#include <memory>
#include <new>
#include <string>

namespace srKrv {

namespace {

const srLib::CCatchSite kInitializeSite = {L"bool __thiscall srKrv::CDLLLifetimeMgr::initialize(void) throw()",
                                           L"srKrv::CDLLLifetimeMgr::initialize(62)"};
const srLib::CCatchSite kCreateObjectNarrowSite = {
    L"unsigned long __thiscall srKrv::CModuleLifetimeMgrImpl::CreateObject(const char *,const struct KRVGUID &,const "
    L"struct KRVGUID &,unsigned long,void **) throw()",
    L"srKrv::CModuleLifetimeMgrImpl::CreateObject(93)"};
const srLib::CCatchSite kCreateObjectWideSite = {
    L"unsigned long __thiscall srKrv::CModuleLifetimeMgrImpl::CreateObject(const wchar_t *,const struct KRVGUID "
    L"&,const struct KRVGUID &,unsigned long,void **) throw()",
    L"srKrv::CModuleLifetimeMgrImpl::CreateObject(114)"};

bool TrustCheck(DWORD flags)
{
    return (flags & sr::KRV_MODULE_TRUST_CHECK) != 0;
}

bool TrustOption(DWORD flags)
{
    return (flags & sr::KRV_MODULE_TRUST_OPTION) != 0;
}

// Throws std::bad_alloc.
std::wstring FromAnsi(const char* text)
{
    const int characters = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (characters <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(characters), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], characters);
    wide.resize(static_cast<size_t>(characters - 1));
    return wide;
}

} // namespace

// The front of the module's one manager: each operation makes sure the manager exists, and
// answers KRV_E_OUTOFMEMORY when it cannot be made.
class CDLLLifetimeMgr {
public:
    static CDLLLifetimeMgr& Instance() noexcept
    {
        static CDLLLifetimeMgr front;
        return front;
    }

    KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                           sr::IModuleLifetimeMgr* owner, void** object) noexcept
    {
        if (!initialize())
            return KRV_E_OUTOFMEMORY;
        return m_pManager->CreateObject(module, objectId, interfaceId, TrustCheck(flags), TrustOption(flags), owner,
                                        object);
    }

    KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                           sr::IModuleLifetimeMgr* owner, void** object) noexcept
    {
        if (!initialize())
            return KRV_E_OUTOFMEMORY;
        return m_pManager->CreateObject(path, objectId, interfaceId, TrustCheck(flags), TrustOption(flags), owner,
                                        object);
    }

    KRVRESULT DecrementModuleObjectCount(HINSTANCE module) noexcept
    {
        return initialize() ? m_pManager->DecrementModuleObjectCount(module) : KRV_E_OUTOFMEMORY;
    }

    KRVRESULT IncrementModuleObjectCount(HINSTANCE module) noexcept
    {
        return initialize() ? m_pManager->IncrementModuleObjectCount(module) : KRV_E_OUTOFMEMORY;
    }

private:
    CDLLLifetimeMgr() noexcept = default;

    bool initialize() noexcept
    {
        srLib::CCriticalSectionLock lock(m_lock);
        if (m_pManager)
            return true;
        srLib::CExceptionInfo info;
        return srLib::RunWithCatchConvention(kInitializeSite, info, false, [this] {
            m_pManager = std::make_unique<CDLLLifetimeMgrLocal>();
            return true;
        });
    }

    srLib::CCriticalSection m_lock;
    // Made once and kept until the module is unloaded.
    std::unique_ptr<CDLLLifetimeMgrLocal> m_pManager;
};

CModuleLifetimeMgrImpl* CModuleLifetimeMgrImpl::CreateModuleLifetimeMgrImpl() noexcept
{
    return new (std::nothrow) CModuleLifetimeMgrImpl();
}

KRVRESULT CModuleLifetimeMgrImpl::QueryInterface(const KRVGUID& interfaceId, void** object) noexcept
{
    if (!object)
        return KRV_E_INVALIDARG;
    if (interfaceId != sr::IID_ModuleLifetimeMgr) {
        *object = nullptr;
        return KRV_E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<sr::IModuleLifetimeMgr*>(this);
    return KRV_S_OK;
}

unsigned long CModuleLifetimeMgrImpl::AddRef() noexcept
{
    return static_cast<unsigned long>(InterlockedIncrement(&m_nRefCount));
}

unsigned long CModuleLifetimeMgrImpl::Release() noexcept
{
    const LONG references = InterlockedDecrement(&m_nRefCount);
    if (references == 0)
        delete this;
    return static_cast<unsigned long>(references);
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               DWORD flags, void** object) noexcept
{
    return CDLLLifetimeMgr::Instance().CreateObject(module, objectId, interfaceId, flags, this, object);
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               void** object) noexcept
{
    return CreateObject(module, objectId, interfaceId, 0, object);
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               DWORD flags, void** object) noexcept
{
    srLib::CExceptionInfo info;
    return srLib::RunWithCatchConvention(kCreateObjectWideSite, info, KRV_E_OUTOFMEMORY, [&] {
        return CDLLLifetimeMgr::Instance().CreateObject(path, objectId, interfaceId, flags, this, object);
    });
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               DWORD flags, void** object) noexcept
{
    srLib::CExceptionInfo info;
    return srLib::RunWithCatchConvention(kCreateObjectNarrowSite, info, KRV_E_OUTOFMEMORY, [&] {
        if (!path)
            return CDLLLifetimeMgr::Instance().CreateObject(static_cast<const wchar_t*>(nullptr), objectId, interfaceId,
                                                            flags, this, object);
        const std::wstring widePath = FromAnsi(path);
        return CDLLLifetimeMgr::Instance().CreateObject(widePath.c_str(), objectId, interfaceId, flags, this, object);
    });
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               void** object) noexcept
{
    return CreateObject(path, objectId, interfaceId, 0, object);
}

KRVRESULT CModuleLifetimeMgrImpl::CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                               void** object) noexcept
{
    return CreateObject(path, objectId, interfaceId, 0, object);
}

KRVRESULT CModuleLifetimeMgrImpl::DecrementModuleObjectCount(HINSTANCE module) noexcept
{
    return CDLLLifetimeMgr::Instance().DecrementModuleObjectCount(module);
}

KRVRESULT CModuleLifetimeMgrImpl::IncrementModuleObjectCount(HINSTANCE module) noexcept
{
    return CDLLLifetimeMgr::Instance().IncrementModuleObjectCount(module);
}

namespace {

srLib::CCriticalSection g_managerLock;

// The module's reference to its manager, released when the module is unloaded.
class CManagerHolder {
public:
    CManagerHolder() noexcept = default;
    CManagerHolder(const CManagerHolder&) = delete;
    CManagerHolder& operator=(const CManagerHolder&) = delete;
    ~CManagerHolder()
    {
        if (m_pManager)
            m_pManager->Release();
    }

    CModuleLifetimeMgrImpl* m_pManager = nullptr;
};

} // namespace

sr::IModuleLifetimeMgr* GetModuleLifetimeMgr() noexcept
{
    static CManagerHolder holder;
    srLib::CCriticalSectionLock lock(g_managerLock);
    if (!holder.m_pManager)
        holder.m_pManager = CModuleLifetimeMgrImpl::CreateModuleLifetimeMgrImpl();
    return holder.m_pManager;
}

} // namespace srKrv
