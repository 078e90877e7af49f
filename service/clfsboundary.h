#pragma once
// The boundary of the clfs functions that are declared not to throw: inside, a failing HRESULT
// is raised as _com_error; at the boundary each kind of exception is traced at error level after
// the function's signature and turned into the function's result.
#include "platform/atlexception.h"
#include "support/catchconvention.h"
#include "service/krvresult.h"
#include "service/tracesite.h"

#include <comdef.h>

#include <new>
#include <utility>

namespace clfs::utils {

// Raises a failing HRESULT as _com_error; anything else passes.
inline long ThrowIfFailed(long hr)
{
    if (hr < 0)
        throw _com_error(hr);
    return hr;
}

// The result of an engine call that hands out an object: a success that handed out none is
// E_POINTER, so that nothing is ever called through a null interface. Make the call in a statement
// of its own: an argument list does not say whether the call or the pointer is read first.
inline long HandedOut(long hr, const void* object)
{
    return hr >= 0 && !object ? E_POINTER : hr;
}

// Runs body, which returns an HRESULT, and returns its result or what a handler makes of the
// exception it raised:
//   std::bad_alloc        "caught std::bad_alloc"              E_OUTOFMEMORY
//   ATL::CAtlException    "atl ex: 0x%08X"                     its HRESULT
//   _com_error            "error: 0x%08X"                      its HRESULT
//   srx_exception         "srx: 0x%08X (hr 0x%08X)"            KrvresultToHresult of its code
template <class Body> long RunClfsBoundary(const CTraceSite& site, Body&& body) noexcept
{
    return srLib::RunUnderHandlers(std::forward<Body>(body),
                                   srLib::Handle<std::bad_alloc>([&site](const std::bad_alloc&) -> long {
                                       site.Error(L"caught std::bad_alloc");
                                       return E_OUTOFMEMORY;
                                   }),
                                   srLib::Handle<ATL::CAtlException>([&site](const ATL::CAtlException& caught) -> long {
                                       site.Error(L"atl ex: 0x%08X", caught.m_hr);
                                       return caught.m_hr;
                                   }),
                                   srLib::Handle<_com_error>([&site](const _com_error& caught) -> long {
                                       site.Error(L"error: 0x%08X", caught.Error());
                                       return caught.Error();
                                   }),
                                   srLib::Handle<srx_exception>([&site](const srx_exception& caught) -> long {
                                       const long hr = KrvresultToHresult(caught.GetCode());
                                       site.Error(L"srx: 0x%08X (hr 0x%08X)", caught.GetCode(), hr);
                                       return hr;
                                   }));
}

} // namespace clfs::utils
