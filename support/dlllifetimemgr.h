#pragma once
// The manager behind the module lifetime manager: loads shared-runtime components by full path,
// once each, creates their objects through "GetFactory", counts the objects of components with
// a managed factory and unloads a component that has had none for ten minutes.
#include "support/library.h"
#include "support/srinterfaces.h"
#include "service/trustverifier.h"
#include "support/criticalsection.h"
#include "support/readerpreferencelock.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace srKrv {

class CDLLLifetimeMgrLocal {
public:
    // The millisecond clock idle time is measured with; it wraps at 2^32 like GetTickCount.
    using TickSource = DWORD(WINAPI*)();
    // How long a component stays loaded after its last managed object went away.
    static const DWORD kIdleMilliseconds = 600000;

    // One loaded component.
    class CKrvModuleInfo {
    public:
        CKrvModuleInfo(sr::CLibrary&& library, const wchar_t* path, PFN_KRV_GETFACTORY getFactory,
                       PFN_KRV_GETOBJECTCOUNT getObjectCount, bool trustCheck, TickSource tickSource);
        CKrvModuleInfo(const CKrvModuleInfo&) = delete;
        CKrvModuleInfo& operator=(const CKrvModuleInfo&) = delete;

        // Both return the count afterwards; an unmanaged entry only traces that it skipped.
        long IncrementManagedObjectCount() noexcept;
        long DecrementManagedObjectCount() noexcept;
        // From now on the component's own "GetObjectCount" tells whether objects are alive.
        void SetUnmanaged() noexcept { m_bManaged = false; }
        // Whether the component has had no live object for longer than the idle time at now.
        bool IsIdle(DWORD now) noexcept;
        // Leaves the library loaded when the entry goes.
        void Abandon() noexcept { m_library.Detach(); }

        const wchar_t* GetPath() const noexcept { return m_sPath.c_str(); }
        PFN_KRV_GETFACTORY GetFactory() const noexcept { return m_pfnGetFactory; }
        long GetManagedObjectCount() noexcept;

    private:
        sr::CLibrary m_library;
        std::wstring m_sPath;
        PFN_KRV_GETFACTORY m_pfnGetFactory;
        PFN_KRV_GETOBJECTCOUNT m_pfnGetObjectCount;
        bool m_bManaged = true;
        bool m_bTrustCheck;
        long m_nManagedObjectCount = 0;
        // When the count last reached 0; 0 for never (a tick count of 0 is stored as 1).
        DWORD m_dwZeroTime = 0;
        srLib::CCriticalSection m_countLock;
        TickSource m_pfnTickCount;
    };

    explicit CDLLLifetimeMgrLocal(TickSource tickSource = GetTickCount) noexcept;
    CDLLLifetimeMgrLocal(const CDLLLifetimeMgrLocal&) = delete;
    CDLLLifetimeMgrLocal& operator=(const CDLLLifetimeMgrLocal&) = delete;
    // Collects once more, then leaves every component still in the table loaded, with a
    // warning each: their objects may still be in use.
    virtual ~CDLLLifetimeMgrLocal();

    // An object of a component this manager has loaded, by its library handle; KRV_E_INVALIDARG
    // when the handle is not in the table. The trust arguments do not apply to a loaded library.
    virtual KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   bool trustCheck, bool trustOption, sr::IModuleLifetimeMgr* owner,
                                   void** object) noexcept;
    // An object of the component at path, loaded on the first request after its trust check
    // (when asked for; trustOption goes to the verifier). A reference in *object is released
    // first. Objects of a managed factory hold owner and report their release to it.
    virtual KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   bool trustCheck, bool trustOption, sr::IModuleLifetimeMgr* owner,
                                   void** object) noexcept;
    // What a managed object reports on its release; a collection that spares this component
    // runs first. KRV_E_INVALIDARG for a handle that is not in the table.
    virtual KRVRESULT DecrementModuleObjectCount(HINSTANCE module) noexcept;
    virtual KRVRESULT IncrementModuleObjectCount(HINSTANCE module) noexcept;
    // Unloads every component but skip that has been idle long enough; does nothing while an
    // object creation is in progress.
    virtual KRVRESULT GarbageCollection(HINSTANCE skip) noexcept;

private:
    KRVRESULT addModule(const wchar_t* path, bool trustCheck, bool trustOption, CKrvModuleInfo*& moduleInfo) noexcept;
    KRVRESULT createModuleInfo(sr::CLibrary& library, const wchar_t* path, bool trustCheck,
                               CKrvModuleInfo*& moduleInfo) noexcept;
    KRVRESULT createObject(CKrvModuleInfo* moduleInfo, const KRVGUID& objectId, const KRVGUID& interfaceId,
                           sr::IModuleLifetimeMgr* owner, void** object) noexcept;
    // KRV_E_FILENOTFOUND for a missing file, KRV_E_NOTTRUSTED when the verifier cannot be
    // prepared or rejects the file.
    KRVRESULT performTrustCheck(const wchar_t* path, bool trustOption) noexcept;
    CKrvModuleInfo* findModule(HINSTANCE module) noexcept;

    std::map<HINSTANCE, std::unique_ptr<CKrvModuleInfo>> m_modules;
    srLib::CReaderPreferenceLock m_modulesLock;
    srLib::CCriticalSection m_verifierLock;
    volatile LONG m_nCreationsInProgress = 0;
    sr::CTrustVerifier m_verifier;
    TickSource m_pfnTickCount;
};

} // namespace srKrv
