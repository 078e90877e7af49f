#include "service/trustverifier.h"

#include <utility>

namespace sr {

KRVRESULT CTrustVerifier::Prepare() noexcept
{
    if (IsPrepared())
        return KRV_S_OK;
    KRVRESULT result = m_loader.Load();
    if (!KrvFailed(result))
        result = PrepareObjects();
    if (KrvFailed(result)) {
        m_spVerifyTrustBase.Release();
        m_spVerifier.Release();
    }
    return result;
}

KRVRESULT CTrustVerifier::PrepareObjects() noexcept
{
    KRVRESULT result = m_loader.CreateObject(m_spVerifier.Receive());
    if (KrvFailed(result))
        return result;
    if (!m_spVerifier)
        return KRV_E_UNEXPECTED;
    clfs::utils::CKrvRef<srVerifyTrust::IVerifyTrustBase> verifyTrustBase;
    result = m_spVerifier->QueryInterface(srVerifyTrust::IID_VerifyTrustBase,
                                          reinterpret_cast<void**>(verifyTrustBase.Receive()));
    if (KrvFailed(result))
        return result;
    if (!verifyTrustBase)
        return KRV_E_NOINTERFACE;
    result = m_spVerifier->Initialize();
    if (KrvFailed(result))
        return result;
    result = verifyTrustBase->Initialize();
    if (KrvFailed(result))
        return result;
    m_spVerifyTrustBase = std::move(verifyTrustBase);
    return KRV_S_OK;
}

srVerifyTrust::VerifyResult CTrustVerifier::VerifyFile(const wchar_t* path, bool option) noexcept
{
    if (!IsPrepared())
        return srVerifyTrust::eVerifyError;
    return m_spVerifyTrustBase->VerifyFile(path, option);
}

} // namespace sr
