#pragma once
// The module lifetime manager: the one way the module loads shared-runtime components by full
// path and creates their objects. Components with a managed factory hand out objects that report
// their release to the manager; a component whose objects are all gone is unloaded ten minutes
// later. Slot layout and conventions as in support/srinterfaces.h.
#include "support/srinterfaces.h"

#include <windows.h>

namespace sr {

// Flags of CreateObject.
const DWORD KRV_MODULE_TRUST_CHECK = 0x1;  // check the file's trust before it is loaded
const DWORD KRV_MODULE_TRUST_OPTION = 0x2; // handed to the trust verifier as its option

// {8E3B6F24-5A17-4C9D-B0E2-7D41C8A96F35}
inline constexpr KRVGUID IID_ModuleLifetimeMgr = {
    0x8E3B6F24, 0x5A17, 0x4C9D, {0xB0, 0xE2, 0x7D, 0x41, 0xC8, 0xA9, 0x6F, 0x35}};

// Every CreateObject puts the object's interface into *object (releasing a reference held there
// first) and answers KRV_S_OK, or a failure: KRV_E_INVALIDARG (null argument, a handle the
// manager has not loaded), KRV_E_NOTTRUSTED, KRV_E_FILENOTFOUND (library not loaded),
// KRV_E_EXPORTNOTFOUND, KRV_E_OUTOFMEMORY, or what the component's factory answered.
class IModuleLifetimeMgr : public IKrvBase {
public:
    // By the handle of a library the manager loaded.
    virtual KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                                   void** object) = 0; // slot 3
    virtual KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   void** object) = 0; // slot 4
    // By full path; the library is loaded on the first request.
    virtual KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   DWORD flags, void** object) = 0; // slot 5
    // The path in the ANSI code page.
    virtual KRVRESULT CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                                   void** object) = 0; // slot 6
    virtual KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   void** object) = 0; // slot 7
    virtual KRVRESULT CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                                   void** object) = 0; // slot 8
    // What a managed object calls when it is released, with its component's library handle.
    virtual KRVRESULT DecrementModuleObjectCount(HINSTANCE module) = 0; // slot 9
    // What an object calls for a further managed object of its component.
    virtual KRVRESULT IncrementModuleObjectCount(HINSTANCE module) = 0; // slot 10

protected:
    ~IModuleLifetimeMgr() = default;
};

} // namespace sr

namespace srKrv {

// The reference-counted sr::IModuleLifetimeMgr of the module; it forwards to the module's one
// manager and names itself as the owner of the objects it creates.
class CModuleLifetimeMgrImpl final : public sr::IModuleLifetimeMgr {
public:
    // A new object holding one reference, or null.
    static CModuleLifetimeMgrImpl* CreateModuleLifetimeMgrImpl() noexcept;

    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) noexcept override;
    unsigned long AddRef() noexcept override;
    unsigned long Release() noexcept override;

    KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                           void** object) noexcept override;
    KRVRESULT CreateObject(HINSTANCE module, const KRVGUID& objectId, const KRVGUID& interfaceId,
                           void** object) noexcept override;
    KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                           void** object) noexcept override;
    KRVRESULT CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId, DWORD flags,
                           void** object) noexcept override;
    KRVRESULT CreateObject(const wchar_t* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                           void** object) noexcept override;
    KRVRESULT CreateObject(const char* path, const KRVGUID& objectId, const KRVGUID& interfaceId,
                           void** object) noexcept override;
    KRVRESULT DecrementModuleObjectCount(HINSTANCE module) noexcept override;
    KRVRESULT IncrementModuleObjectCount(HINSTANCE module) noexcept override;

private:
    CModuleLifetimeMgrImpl() noexcept = default;
    ~CModuleLifetimeMgrImpl() = default;
    CModuleLifetimeMgrImpl(const CModuleLifetimeMgrImpl&) = delete;
    CModuleLifetimeMgrImpl& operator=(const CModuleLifetimeMgrImpl&) = delete;

    volatile LONG m_nRefCount = 1;
};

// The module's manager, made on first use and kept until the module is unloaded; null when it
// cannot be made. Callers use it without a reference of their own.
sr::IModuleLifetimeMgr* GetModuleLifetimeMgr() noexcept;

} // namespace srKrv
