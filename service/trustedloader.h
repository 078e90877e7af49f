#pragma once
#include "service/installedapps.h"
#include "service/interfaceloader.h"
#include "service/trustverifier.h"

namespace sr {

// A loader that loads a component only when the maker's trust verifier accepts its file. The
// verifier is prepared on the first check (and again until that succeeds) and stays with the
// loader; the loader's destruction releases it and frees "srVrTrst.dll" before the component.
class CKrvInterfaceTrustedCacheLoader : public CKrvInterfaceLoader {
protected:
    // KRV_E_INVALIDARG for a null path, the failure of preparing the verifier, KRV_E_FILENOTFOUND
    // for a missing file, KRV_E_NOTTRUSTED when the verifier refuses the file.
    KRVRESULT CheckTrust(const wchar_t* path) noexcept override;

private:
    CTrustVerifier m_verifier;
};

// The shared service host's module and its service manager, loaded after the trust check.
using CServiceManagerLoader =
    CKrvInterfaceDLLHelper<SR_SERVICE_HOST_MODULE, srKrv::CSRPathProvider, CKrvInterfaceTrustedCacheLoader,
                           srService::IServiceManager, srService::IID_ServiceManager, srService::IID_ServiceManager>;

} // namespace sr
