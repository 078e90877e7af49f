#pragma once
#include "support/krvbase.h"

// The shared runtime's exception: shared-runtime code raises a failing result code with it.
class srx_exception {
public:
    explicit srx_exception(KRVRESULT code) noexcept : m_nCode(code) {}

    KRVRESULT GetCode() const noexcept { return m_nCode; }

private:
    KRVRESULT m_nCode;
};

namespace clfs::utils {

// The HRESULT of a shared-runtime result code; E_FAIL for a code it does not know, also a
// success code. A failing code is traced at error level.
long KrvresultToHresult(unsigned long sr) noexcept;

} // namespace clfs::utils
