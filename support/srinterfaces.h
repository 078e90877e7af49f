#pragma once
// The shared runtime as the module reaches it: the component conventions (the two exports, the
// factory), the shared service host's service manager and the trust-verification component.
//
// Every interface is laid out for the components' slot numbers: slots 0 to 2 are IKrvBase's,
// then the operations in the order given. Operations the module never calls are declared as
// Reserved<slot> only to keep the later slots in place. Interfaces have no virtual destructor
// (it would take slots of its own); objects end with their last Release.
#include "support/krvbase.h"

#include <cstddef>

namespace sr {

// Text shared by reference, set and read as 8-bit (ANSI code page) or wide text; components
// outside the module rely on the slot order, including the two overloads in slots 8 and 9.
class IString : public IKrvBase {
public:
    enum StringType {
        eNone = 0,
        eAnsi = 1,
        eWide = 2,
    };

    virtual void Clear() = 0;               // slot 3
    virtual long GetStringType() const = 0; // slot 4
    // Characters of the text as it was set, whatever a getter converted since.
    virtual size_t GetLength() const = 0; // slot 5
    // The text in the other width is converted by the first call after the text was set; the
    // pointer stays valid until the object changes, however often it is asked for. Empty text
    // when none was set.
    virtual const char* GetStringA() const = 0;       // slot 6
    virtual bool SetStringA(const char* text) = 0;    // slot 7
    virtual bool SetString(const wchar_t* text) = 0;  // slot 8, as SetStringW
    virtual bool SetString(const char* text) = 0;     // slot 9, as SetStringA
    virtual const wchar_t* GetStringW() const = 0;    // slot 10
    virtual bool SetStringW(const wchar_t* text) = 0; // slot 11

protected:
    ~IString() = default;
};

// {2B8E51D4-97A6-4C03-B1F2-5E6D0A8C3947}
extern const KRVGUID IID_IString;

class IModuleLifetimeMgr;
} // namespace sr

// Further result codes of the shared runtime (KRVRESULT).
const KRVRESULT KRV_S_FALSE = 0x00010001;
const KRVRESULT KRV_E_OUTOFMEMORY = 0x80010201;
const KRVRESULT KRV_E_NOTIMPL = 0x80010202;
const KRVRESULT KRV_E_ACCESSDENIED = 0x80010204;
// The file or directory is missing, or the library did not load.
const KRVRESULT KRV_E_FILENOTFOUND = 0x80010300;
// A component lacks one of its two exports.
const KRVRESULT KRV_E_EXPORTNOTFOUND = 0x80010302;
const KRVRESULT KRV_E_NOTTRUSTED = 0x80010303;
const KRVRESULT KRV_E_UNEXPECTED = 0x8001FFFF;
const KRVRESULT KRV_E_NOTFOUND = 0x80000100;

// Hands out a component's objects by interface identifier.
class IKrvFactory : public IKrvBase {
public:
    // On success *object holds a reference of its own.
    virtual KRVRESULT CreateInstance(const KRVGUID& interfaceId, void** object) = 0; // slot 3

protected:
    ~IKrvFactory() = default;
};

// {1D7C5E93-4A2B-4F08-B6E1-8C39A07D52F4}
inline constexpr KRVGUID IID_KrvManagedFactory = {
    0x1D7C5E93, 0x4A2B, 0x4F08, {0xB6, 0xE1, 0x8C, 0x39, 0xA0, 0x7D, 0x52, 0xF4}};

// A factory whose objects report their creation and release to an owner (the module lifetime
// manager). Asked for with QueryInterface(IID_KrvManagedFactory); a factory without it answers
// no interface.
class IKrvManagedFactory : public IKrvFactory {
public:
    // The object holds a reference to owner and reports to it while it lives.
    virtual KRVRESULT CreateManagedInstance(const KRVGUID& interfaceId, void** object,
                                            sr::IModuleLifetimeMgr* owner) = 0; // slot 4

protected:
    ~IKrvManagedFactory() = default;
};

// The exports of every shared-runtime component, by these undecorated names.
inline constexpr char KRV_GETFACTORY_EXPORT[] = "GetFactory";
inline constexpr char KRV_GETOBJECTCOUNT_EXPORT[] = "GetObjectCount";

// "GetFactory": the factory of the object objectId names. On success *factory holds a reference
// of its own; on failure it is null.
typedef KRVRESULT(__stdcall* PFN_KRV_GETFACTORY)(const KRVGUID& objectId, IKrvFactory** factory);
// "GetObjectCount": how many of the component's objects are alive (0 when it may be unloaded).
typedef long(__stdcall* PFN_KRV_GETOBJECTCOUNT)();

// The component files, found in the shared runtime directory.
inline constexpr wchar_t SR_SERVICE_HOST_MODULE[] = L"srSvc.dll";
inline constexpr wchar_t SR_VERIFY_TRUST_MODULE[] = L"srVrTrst.dll";

namespace srService {

class IServiceConfig;
class IModuleCollection;
class IServiceModule;

// Object id and interface id of the service manager.
// {3F6A9C21-7D4E-4B18-A5C3-92E07B1D6F48}
inline constexpr KRVGUID IID_ServiceManager = {
    0x3F6A9C21, 0x7D4E, 0x4B18, {0xA5, 0xC3, 0x92, 0xE0, 0x7B, 0x1D, 0x6F, 0x48}};

// The running service configurations of the host, in the host's order.
class IServiceConfigCollection : public IKrvBase {
public:
    virtual unsigned long GetCount() = 0; // slot 3
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    virtual void Reserved10() = 0;
    virtual void Reserved11() = 0;
    virtual void Reserved12() = 0;
    // True with *config holding a reference of its own; false (and *config null) for an index
    // out of range.
    virtual bool GetItem(unsigned long index, IServiceConfig** config) = 0; // slot 13

protected:
    ~IServiceConfigCollection() = default;
};

class IServiceManager : public IKrvBase {
public:
    virtual void Reserved3() = 0;
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    // On success *configs holds a reference of its own.
    virtual KRVRESULT GetRunningServices(IServiceConfigCollection** configs) = 0; // slot 10

protected:
    ~IServiceManager() = default;
};

// One running service configuration and the modules loaded into it.
class IServiceConfig : public IKrvBase {
public:
    // On success *modules holds a reference of its own.
    virtual KRVRESULT GetLoadedModules(IModuleCollection** modules) = 0; // slot 3
    // Loads the module at path into this configuration under name.
    virtual KRVRESULT LoadModule(const wchar_t* path, const wchar_t* name) = 0; // slot 4
    // Unloads the module that was loaded from path.
    virtual KRVRESULT UnloadModule(const wchar_t* path) = 0; // slot 5

protected:
    ~IServiceConfig() = default;
};

// The modules loaded in one configuration, in load order.
class IModuleCollection : public IKrvBase {
public:
    virtual unsigned long GetCount() = 0; // slot 3
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    virtual void Reserved10() = 0;
    virtual void Reserved11() = 0;
    virtual void Reserved12() = 0;
    // True with *module holding a reference of its own; false (and *module null) for an index
    // out of range.
    virtual bool GetItem(unsigned long index, IServiceModule** module) = 0; // slot 13

protected:
    ~IModuleCollection() = default;
};

class IServiceModule : public IKrvBase {
public:
    virtual void Reserved3() = 0;
    // The module's full path; on success *path holds a reference of its own.
    virtual KRVRESULT GetPath(sr::IString** path) = 0; // slot 4
    virtual void Reserved5() = 0;
    // The name the module was loaded under; *name stays null when it has none.
    virtual KRVRESULT GetName(sr::IString** name) = 0; // slot 6

protected:
    ~IServiceModule() = default;
};

} // namespace srService

namespace srVerifyTrust {

// The verdict on one file.
enum VerifyResult {
    eVerifyError = 0,   // not trusted: the file must not be loaded
    eVerifyTrusted = 1, // trusted
    eVerifyCached = 2,  // trusted, answered from the verifier's cache
};

// Object id and interface id of the verifier.
// {6B2E4D90-1C7A-4F35-8E69-D04A3B75C2E1}
inline constexpr KRVGUID IID_CachedVerifyTrust = {
    0x6B2E4D90, 0x1C7A, 0x4F35, {0x8E, 0x69, 0xD0, 0x4A, 0x3B, 0x75, 0xC2, 0xE1}};

// The verification interface, obtained from the verifier with QueryInterface.
// {1BB5BE77-2D6F-438B-87D2-634C29DB29A8}
inline constexpr KRVGUID IID_VerifyTrustBase = {
    0x1BB5BE77, 0x2D6F, 0x438B, {0x87, 0xD2, 0x63, 0x4C, 0x29, 0xDB, 0x29, 0xA8}};

// The verifier object: keeps the verdicts it has given.
class ICachedVerifyTrust : public IKrvBase {
public:
    // Prepares the verdict cache; required once before its verification interface is used.
    virtual KRVRESULT Initialize() = 0; // slot 3

protected:
    ~ICachedVerifyTrust() = default;
};

class IVerifyTrustBase : public IKrvBase {
public:
    // Prepares the verification; required once before VerifyFile.
    virtual KRVRESULT Initialize() = 0; // slot 3
    // The verdict on the file at path. option is the caller's trust option (bit 1 of the module
    // lifetime manager's flags; false from the trusted interface loader). Unprepared, a missing
    // file or a null path give eVerifyError.
    virtual VerifyResult VerifyFile(const wchar_t* path, bool option) = 0; // slot 4

protected:
    ~IVerifyTrustBase() = default;
};

} // namespace srVerifyTrust
