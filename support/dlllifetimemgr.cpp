#include "support/dlllifetimemgr.h"

#include "support/trace.h"
#include "support/krvref.h"

#include <cstdint>
#include <new>
#include <utility>

namespace srKrv {

namespace {

// Keeps a collection from unloading a component between its loading and its object's creation.
class CCreationInProgress {
public:
    explicit CCreationInProgress(volatile LONG& count) noexcept : m_count(count) { InterlockedIncrement(&m_count); }
    CCreationInProgress(const CCreationInProgress&) = delete;
    CCreationInProgress& operator=(const CCreationInProgress&) = delete;
    ~CCreationInProgress() { InterlockedDecrement(&m_count); }

private:
    volatile LONG& m_count;
};

void ReleaseHeldObject(void** object) noexcept
{
    IKrvBase* held = static_cast<IKrvBase*>(*object);
    *object = nullptr;
    if (held)
        held->Release();
}

} // namespace

CDLLLifetimeMgrLocal::CKrvModuleInfo::CKrvModuleInfo(sr::CLibrary&& library, const wchar_t* path,
                                                     PFN_KRV_GETFACTORY getFactory,
                                                     PFN_KRV_GETOBJECTCOUNT getObjectCount, bool trustCheck,
                                                     TickSource tickSource)
    : m_library(std::move(library)), m_sPath(path), m_pfnGetFactory(getFactory), m_pfnGetObjectCount(getObjectCount),
      m_bTrustCheck(trustCheck), m_pfnTickCount(tickSource)
{
}

long CDLLLifetimeMgrLocal::CKrvModuleInfo::IncrementManagedObjectCount() noexcept
{
    srLib::CCriticalSectionLock lock(m_countLock);
    if (m_bManaged) {
        ++m_nManagedObjectCount;
        TraceInfo(L"long __thiscall srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo::IncrementManagedObjectCount(void) "
                  L"throw() : Incremented module %s to count %d",
                  m_sPath.c_str(), m_nManagedObjectCount);
    } else {
        TraceInfo(L"long __thiscall srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo::IncrementManagedObjectCount(void) "
                  L"throw() : Skipped increment of module %s (count %d)",
                  m_sPath.c_str(), m_nManagedObjectCount);
    }
    m_dwZeroTime = 0;
    return m_nManagedObjectCount;
}

long CDLLLifetimeMgrLocal::CKrvModuleInfo::DecrementManagedObjectCount() noexcept
{
    srLib::CCriticalSectionLock lock(m_countLock);
    if (!m_bManaged) {
        TraceInfo(L"long __thiscall srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo::DecrementManagedObjectCount(void) "
                  L"throw() : Skipped decrement of module %s (count %d)",
                  m_sPath.c_str(), m_nManagedObjectCount);
        return m_nManagedObjectCount;
    }
    if (--m_nManagedObjectCount == 0) {
        const DWORD now = m_pfnTickCount();
        m_dwZeroTime = now != 0 ? now : 1;
    }
    if (m_nManagedObjectCount < 0)
        TraceError(L"long __thiscall srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo::DecrementManagedObjectCount(void) "
                   L"throw() : Decremented module %s below zero (count %d)",
                   m_sPath.c_str(), m_nManagedObjectCount);
    else
        TraceInfo(L"long __thiscall srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo::DecrementManagedObjectCount(void) "
                  L"throw() : Decremented module %s to count %d",
                  m_sPath.c_str(), m_nManagedObjectCount);
    return m_nManagedObjectCount;
}

long CDLLLifetimeMgrLocal::CKrvModuleInfo::GetManagedObjectCount() noexcept
{
    srLib::CCriticalSectionLock lock(m_countLock);
    return m_nManagedObjectCount;
}

// Past the idle time, or the clock has wrapped since the count reached 0.
bool CDLLLifetimeMgrLocal::CKrvModuleInfo::IsIdle(DWORD now) noexcept
{
    srLib::CCriticalSectionLock lock(m_countLock);
    const long live = m_bManaged ? m_nManagedObjectCount : m_pfnGetObjectCount();
    if (live != 0 || m_dwZeroTime == 0)
        return false;
    const uint64_t current = now;
    const uint64_t zeroTime = m_dwZeroTime;
    return current > zeroTime + kIdleMilliseconds || current + kIdleMilliseconds < zeroTime;
}

CDLLLifetimeMgrLocal::CDLLLifetimeMgrLocal(TickSource tickSource) noexcept : m_pfnTickCount(tickSource) {}

CDLLLifetimeMgrLocal::~CDLLLifetimeMgrLocal()
{
    InterlockedExchange(&m_nCreationsInProgress, 0);
    GarbageCollection(nullptr);
    srLib::CExclusiveLock lock(m_modulesLock);
    for (const auto& entry : m_modules) {
        TraceWarning(L"__thiscall srKrv::CDLLLifetimeMgrLocal::~CDLLLifetimeMgrLocal(void) throw() : Module %s not "
                     L"released (count = %d) => potential memory leak.",
                     entry.second->GetPath(), entry.second->GetManagedObjectCount());
        entry.second->Abandon();
    }
    m_modules.clear();
}

KRVRESULT CDLLLifetimeMgrLocal::CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                             bool, bool, sr::IModuleLifetimeMgr* owner, void** object) noexcept
{
    if (!object)
        return KRV_E_INVALIDARG;
    ReleaseHeldObject(object);
    CCreationInProgress inProgress(m_nCreationsInProgress);
    CKrvModuleInfo* moduleInfo = nullptr;
    {
        srLib::CSharedLock lock(m_modulesLock);
        moduleInfo = findModule(module);
    }
    if (!moduleInfo)
        return KRV_E_INVALIDARG;
    return createObject(moduleInfo, objectId, interfaceId, owner, object);
}

KRVRESULT CDLLLifetimeMgrLocal::CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                             bool trustCheck, bool trustOption, sr::IModuleLifetimeMgr* owner,
                                             void** object) noexcept
{
    if (!object || !path)
        return KRV_E_INVALIDARG;
    ReleaseHeldObject(object);
    CCreationInProgress inProgress(m_nCreationsInProgress);
    CKrvModuleInfo* moduleInfo = nullptr;
    const KRVRESULT added = addModule(path, trustCheck, trustOption, moduleInfo);
    if (KrvFailed(added))
        return added;
    return createObject(moduleInfo, objectId, interfaceId, owner, object);
}

KRVRESULT CDLLLifetimeMgrLocal::IncrementModuleObjectCount(HINSTANCE module) noexcept
{
    srLib::CSharedLock lock(m_modulesLock);
    CKrvModuleInfo* moduleInfo = findModule(module);
    if (!moduleInfo)
        return KRV_E_INVALIDARG;
    moduleInfo->IncrementManagedObjectCount();
    return KRV_S_OK;
}

KRVRESULT CDLLLifetimeMgrLocal::DecrementModuleObjectCount(HINSTANCE module) noexcept
{
    GarbageCollection(module);
    srLib::CSharedLock lock(m_modulesLock);
    CKrvModuleInfo* moduleInfo = findModule(module);
    if (!moduleInfo)
        return KRV_E_INVALIDARG;
    moduleInfo->DecrementManagedObjectCount();
    return KRV_S_OK;
}

KRVRESULT CDLLLifetimeMgrLocal::GarbageCollection(HINSTANCE skip) noexcept
{
    if (InterlockedCompareExchange(&m_nCreationsInProgress, 0, 0) > 0)
        return KRV_S_OK;
    srLib::CExclusiveLock lock(m_modulesLock);
    // Readers go before a waiting writer: a creation may have begun, and found its library,
    // while this collection waited for the table.
    if (InterlockedCompareExchange(&m_nCreationsInProgress, 0, 0) > 0)
        return KRV_S_OK;
    const DWORD now = m_pfnTickCount();
    for (auto entry = m_modules.begin(); entry != m_modules.end();) {
        if (entry->first == skip || !entry->second->IsIdle(now)) {
            ++entry;
            continue;
        }
        TraceInfo(L"unsigned long __thiscall srKrv::CDLLLifetimeMgrLocal::GarbageCollection(struct HINSTANCE__ *) "
                  L"throw() :  : Module %s Released on thread 0x%08X",
                  entry->second->GetPath(), GetCurrentThreadId());
        entry = m_modules.erase(entry);
    }
    return KRV_S_OK;
}

KRVRESULT CDLLLifetimeMgrLocal::addModule(const wchar_t* path, bool trustCheck, bool trustOption,
                                          CKrvModuleInfo*& moduleInfo) noexcept
{
    if (trustCheck) {
        const KRVRESULT checked = performTrustCheck(path, trustOption);
        if (KrvFailed(checked))
            return checked;
    }
    sr::CLibrary library;
    if (!library.Load(path))
        return KRV_E_FILENOTFOUND;
    TraceInfo(L"unsigned long __thiscall srKrv::CDLLLifetimeMgrLocal::addModule(const wchar_t *,bool,bool,class "
              L"srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo *&) throw() :  : Module %s loaded on thread 0x%08X",
              path, GetCurrentThreadId());
    {
        srLib::CSharedLock lock(m_modulesLock);
        moduleInfo = findModule(library.Get());
    }
    // The table holds the library's first load; this load's reference goes at once.
    if (moduleInfo)
        return KRV_S_OK;
    return createModuleInfo(library, path, trustCheck, moduleInfo);
}

KRVRESULT CDLLLifetimeMgrLocal::createModuleInfo(sr::CLibrary& library, const wchar_t* path, bool trustCheck,
                                                 CKrvModuleInfo*& moduleInfo) noexcept
{
    const auto getFactory = library.Export<PFN_KRV_GETFACTORY>(KRV_GETFACTORY_EXPORT);
    const auto getObjectCount = library.Export<PFN_KRV_GETOBJECTCOUNT>(KRV_GETOBJECTCOUNT_EXPORT);
    if (!getFactory || !getObjectCount)
        return KRV_E_EXPORTNOTFOUND;
    const HINSTANCE module = library.Get();
    try {
        auto created = std::make_unique<CKrvModuleInfo>(std::move(library), path, getFactory, getObjectCount,
                                                        trustCheck, m_pfnTickCount);
        srLib::CExclusiveLock lock(m_modulesLock);
        // Another thread may have added the same library meanwhile: its entry stays, and this
        // one goes with its reference.
        moduleInfo = m_modules.emplace(module, std::move(created)).first->second.get();
        return KRV_S_OK;
    } catch (const std::bad_alloc&) {
        return KRV_E_OUTOFMEMORY;
    }
}

KRVRESULT CDLLLifetimeMgrLocal::createObject(CKrvModuleInfo* moduleInfo, const KRVGUID& objectId,
                                             const KRVGUID& interfaceId, sr::IModuleLifetimeMgr* owner,
                                             void** object) noexcept
{
    clfs::utils::CKrvRef<IKrvFactory> factory;
    KRVRESULT result = moduleInfo->GetFactory()(objectId, factory.Receive());
    if (KrvFailed(result))
        return result;
    if (!factory)
        return KRV_E_UNEXPECTED;
    clfs::utils::CKrvRef<IKrvManagedFactory> managedFactory;
    const KRVRESULT managed =
        factory->QueryInterface(IID_KrvManagedFactory, reinterpret_cast<void**>(managedFactory.Receive()));
    if (!KrvFailed(managed) && managedFactory) {
        result = managedFactory->CreateManagedInstance(interfaceId, object, owner);
        if (!KrvFailed(result) && *object)
            moduleInfo->IncrementManagedObjectCount();
    } else {
        moduleInfo->SetUnmanaged();
        result = factory->CreateInstance(interfaceId, object);
    }
    if (!KrvFailed(result))
        TraceInfo(L"unsigned long __thiscall srKrv::CDLLLifetimeMgrLocal::createObject(class "
                  L"srKrv::CDLLLifetimeMgrLocal::CKrvModuleInfo *,const struct KRVGUID &,const struct KRVGUID &,class "
                  L"sr::IModuleLifetimeMgr *,void **) throw() :  : Object created in module %s on thread 0x%08X.",
                  moduleInfo->GetPath(), GetCurrentThreadId());
    return result;
}

// The trusted loader's order: the verifier is prepared first, then a missing file is not found
// rather than untrusted, and the verifier is not asked about it.
KRVRESULT CDLLLifetimeMgrLocal::performTrustCheck(const wchar_t* path, bool trustOption) noexcept
{
    srLib::CCriticalSectionLock lock(m_verifierLock);
    const KRVRESULT prepared = m_verifier.Prepare();
    if (KrvFailed(prepared)) {
        TraceError(L"bool __thiscall srKrv::CDLLLifetimeMgrLocal::performTrustCheck(const wchar_t *,bool) throw() : "
                   L"m_VerifyTrust.Prepare() == 0x%08X",
                   prepared);
        return KRV_E_NOTTRUSTED;
    }
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return KRV_E_FILENOTFOUND;
    if (m_verifier.VerifyFile(path, trustOption) == srVerifyTrust::eVerifyError) {
        TraceError(L"bool __thiscall srKrv::CDLLLifetimeMgrLocal::performTrustCheck(const wchar_t *,bool) throw() : "
                   L"m_pVerifyTrustBase->VerifyFile() == srVerifyTrust::eVerifyError");
        return KRV_E_NOTTRUSTED;
    }
    return KRV_S_OK;
}

// The caller holds the table lock.
CDLLLifetimeMgrLocal::CKrvModuleInfo* CDLLLifetimeMgrLocal::findModule(HINSTANCE module) noexcept
{
    const auto entry = m_modules.find(module);
    return entry == m_modules.end() ? nullptr : entry->second.get();
}

} // namespace srKrv
