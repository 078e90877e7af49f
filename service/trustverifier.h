#pragma once
#include "service/installedapps.h"
#include "service/interfaceloader.h"
#include "support/krvref.h"

namespace sr {

// The plain loader of the trust-verification component in the shared runtime directory.
using CVerifyTrustLoader =
    CKrvInterfaceDLLHelper<SR_VERIFY_TRUST_MODULE, srKrv::CSRPathProvider, CKrvInterfaceLoader,
                           srVerifyTrust::ICachedVerifyTrust, srVerifyTrust::IID_CachedVerifyTrust,
                           srVerifyTrust::IID_CachedVerifyTrust>;

// The maker's trust verifier as the loaders use it: "srVrTrst.dll" loaded from the shared
// runtime directory (without a trust check of its own), its verifier object and that object's
// verification interface, both prepared. Destruction releases the verification interface, then
// the verifier, then frees the component. One thread at a time.
class CTrustVerifier {
public:
    // Makes the verifier ready, once: later calls answer KRV_S_OK at once. On failure nothing
    // stays prepared (the component may stay loaded) and the next call tries again.
    KRVRESULT Prepare() noexcept;
    bool IsPrepared() const noexcept { return static_cast<bool>(m_spVerifyTrustBase); }
    // The verdict on the file; eVerifyError when the verifier is not prepared.
    srVerifyTrust::VerifyResult VerifyFile(const wchar_t* path, bool option) noexcept;

private:
    KRVRESULT PrepareObjects() noexcept;

    CVerifyTrustLoader m_loader;
    clfs::utils::CKrvRef<srVerifyTrust::ICachedVerifyTrust> m_spVerifier;
    clfs::utils::CKrvRef<srVerifyTrust::IVerifyTrustBase> m_spVerifyTrustBase;
};

} // namespace sr
