#include "service/trustedloader.h"

namespace sr {

KRVRESULT CKrvInterfaceTrustedCacheLoader::CheckTrust(const wchar_t* path) noexcept
{
    if (!path)
        return KRV_E_INVALIDARG;
    const KRVRESULT prepared = m_verifier.Prepare();
    if (KrvFailed(prepared))
        return prepared;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return KRV_E_FILENOTFOUND;
    if (m_verifier.VerifyFile(path, false) == srVerifyTrust::eVerifyError)
        return KRV_E_NOTTRUSTED;
    return KRV_S_OK;
}

} // namespace sr
