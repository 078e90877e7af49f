#pragma once
#include <windows.h>

// The one ATL type the module relies on: the exception that ATL code raises for a failing
// HRESULT (out of memory among others). MinGW has no ATL.
namespace ATL {

class CAtlException {
public:
    CAtlException() noexcept : m_hr(E_FAIL) {}
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}

    operator HRESULT() const noexcept { return m_hr; }

    HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr)
{
    throw CAtlException(hr);
}

} // namespace ATL
