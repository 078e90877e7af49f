#include "service/interfaceloader.h"

#include "support/krvref.h"

#include <cwchar>
#include <vector>

namespace sr {

namespace {

// A directory of up to 260 characters with its terminator.
const size_t kFirstDirectoryBytes = 522;
// The first buffer also holds the backslash and the file name.
const size_t kFirstBufferExtra = 262;

} // namespace

CKrvInterfaceLoader::~CKrvInterfaceLoader()
{
    m_library.Free();
    m_pfnGetFactory = nullptr;
    m_pfnGetObjectCount = nullptr;
}

KRVRESULT CKrvInterfaceLoader::CheckTrust(const wchar_t*) noexcept
{
    return KRV_S_OK;
}

KRVRESULT CKrvInterfaceLoader::LoadFile(const wchar_t* fullPath) noexcept
{
    if (IsLoaded())
        return KRV_S_OK;
    if (!fullPath)
        return KRV_E_INVALIDARG;
    m_library.Free();
    m_pfnGetFactory = nullptr;
    m_pfnGetObjectCount = nullptr;

    const KRVRESULT trusted = CheckTrust(fullPath);
    if (KrvFailed(trusted))
        return trusted;
    if (!m_library.Load(fullPath))
        return KRV_E_FILENOTFOUND;
    const auto getFactory = m_library.Export<PFN_KRV_GETFACTORY>(KRV_GETFACTORY_EXPORT);
    const auto getObjectCount = m_library.Export<PFN_KRV_GETOBJECTCOUNT>(KRV_GETOBJECTCOUNT_EXPORT);
    if (!getFactory || !getObjectCount) {
        m_library.Free();
        return KRV_E_EXPORTNOTFOUND;
    }
    m_pfnGetFactory = getFactory;
    m_pfnGetObjectCount = getObjectCount;
    return KRV_S_OK;
}

KRVRESULT CKrvInterfaceLoader::CreateObject(const KRVGUID& objectId, const KRVGUID& interfaceId, void** object) noexcept
{
    if (!object || !m_pfnGetFactory)
        return KRV_E_INVALIDARG;
    *object = nullptr;
    clfs::utils::CKrvRef<IKrvFactory> factory;
    KRVRESULT result = m_pfnGetFactory(objectId, factory.Receive());
    if (!KrvFailed(result) && factory)
        result = factory->CreateInstance(interfaceId, object);
    return result;
}

KRVRESULT ComponentPath(bool (*getPath)(wchar_t*, size_t*), const wchar_t* fileName, std::wstring& path)
{
    const size_t nameLength = std::wcslen(fileName);
    std::vector<wchar_t> buffer(nameLength + kFirstBufferExtra);
    size_t size = kFirstDirectoryBytes;
    if (!getPath(buffer.data(), &size)) {
        if (size <= kFirstDirectoryBytes)
            return KRV_E_FILENOTFOUND;
        buffer.assign(size / sizeof(wchar_t) + nameLength + 1, L'\0');
        if (!getPath(buffer.data(), &size))
            return KRV_E_UNEXPECTED;
    }
    path.assign(buffer.data());
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    path += fileName;
    return KRV_S_OK;
}

} // namespace sr
