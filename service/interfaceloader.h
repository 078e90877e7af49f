#pragma once
// Loaders of shared-runtime components: a component is a plain library that hands out its
// objects through its "GetFactory" export. A loader loads one component once, after its trust
// check, and creates objects from it; destroying the loader frees the library, so every object
// created from it must be released first. Nothing is thrown out of a loader: failures are
// KRVRESULT codes.
#include "support/library.h"
#include "support/srinterfaces.h"

#include <cstddef>
#include <new>
#include <string>

// Whether a shared-runtime result code reports failure: negative as a signed 32-bit number.
inline bool KrvFailed(KRVRESULT result) noexcept
{
    return static_cast<long>(result) < 0;
}

namespace sr {

class CKrvInterfaceLoader {
public:
    CKrvInterfaceLoader() noexcept = default;
    CKrvInterfaceLoader(const CKrvInterfaceLoader&) = delete;
    CKrvInterfaceLoader& operator=(const CKrvInterfaceLoader&) = delete;
    virtual ~CKrvInterfaceLoader();

    // Loads the component at fullPath once CheckTrust accepts it. A loader that holds a
    // component answers KRV_S_OK and loads nothing. KRV_E_INVALIDARG for a null path,
    // CheckTrust's own failure, KRV_E_FILENOTFOUND when the library does not load,
    // KRV_E_EXPORTNOTFOUND (the library freed again) when it lacks one of the two exports.
    KRVRESULT LoadFile(const wchar_t* fullPath) noexcept;
    // *object receives the object's interface, or null. KRV_E_INVALIDARG, with *object
    // untouched, for a null out pointer or when nothing is loaded.
    KRVRESULT CreateObject(const KRVGUID& objectId, const KRVGUID& interfaceId, void** object) noexcept;

    bool IsLoaded() const noexcept { return m_pfnGetFactory && m_pfnGetObjectCount; }

protected:
    // Whether the file at path may be loaded: negative to refuse. This loader trusts every file.
    virtual KRVRESULT CheckTrust(const wchar_t* path) noexcept;

private:
    CLibrary m_library;
    PFN_KRV_GETFACTORY m_pfnGetFactory = nullptr;
    PFN_KRV_GETOBJECTCOUNT m_pfnGetObjectCount = nullptr;
};

// A loader that creates one kind of object: the pair of identifiers is fixed.
template <class Loader, class Interface, const KRVGUID& ObjectId, const KRVGUID& InterfaceId>
class CKrvInterfaceHelper : public Loader {
public:
    using Loader::CreateObject;

    KRVRESULT CreateObject(Interface** object) noexcept
    {
        return Loader::CreateObject(ObjectId, InterfaceId, reinterpret_cast<void**>(object));
    }
};

// The full path of fileName in the directory that getPath (shaped like
// srKrv::CSRPathProvider::GetPath) reports, separated by one backslash. KRV_E_FILENOTFOUND when
// there is no directory, KRV_E_UNEXPECTED when a longer directory cannot be had either.
// Throws std::bad_alloc.
KRVRESULT ComponentPath(bool (*getPath)(wchar_t*, size_t*), const wchar_t* fileName, std::wstring& path);

// A loader that finds its component by file name in the directory of PathProvider.
template <class PathProvider, class Loader, class Interface, const KRVGUID& ObjectId, const KRVGUID& InterfaceId>
class CKrvInterfacePathHelper : public CKrvInterfaceHelper<Loader, Interface, ObjectId, InterfaceId> {
public:
    // KRV_E_INVALIDARG for a null name, KRV_E_OUTOFMEMORY, the failures of ComponentPath, or
    // the result of LoadFile.
    KRVRESULT Load(const wchar_t* fileName) noexcept
    {
        if (!fileName)
            return KRV_E_INVALIDARG;
        try {
            std::wstring path;
            const KRVRESULT found = ComponentPath(PathProvider::GetPath, fileName, path);
            return found == KRV_S_OK ? this->LoadFile(path.c_str()) : found;
        } catch (const std::bad_alloc&) {
            return KRV_E_OUTOFMEMORY;
        }
    }
};

// A loader of the component file FileName.
template <const wchar_t* FileName, class PathProvider, class Loader, class Interface, const KRVGUID& ObjectId,
          const KRVGUID& InterfaceId>
class CKrvInterfaceDLLHelper : public CKrvInterfacePathHelper<PathProvider, Loader, Interface, ObjectId, InterfaceId> {
public:
    using CKrvInterfacePathHelper<PathProvider, Loader, Interface, ObjectId, InterfaceId>::Load;

    KRVRESULT Load() noexcept { return Load(FileName); }
};

} // namespace sr
