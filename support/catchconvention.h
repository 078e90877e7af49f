#pragma once
#include "platform/atlexception.h"
#include "support/exceptioninfo.h"

#include <new>
#include <type_traits>
#include <utility>

namespace srLib {

// One handler of a boundary: what to answer for an exception of type Exception (or a type
// derived from it). Made with Handle<Exception>(callable taking const Exception&).
template <class Exception, class OnCaught> struct CHandler {
    OnCaught onCaught;
};

template <class Exception, class OnCaught> CHandler<Exception, std::decay_t<OnCaught>> Handle(OnCaught&& onCaught)
{
    return {std::forward<OnCaught>(onCaught)};
}

// The generic boundary: runs body and returns its result. An exception that a handler names
// goes to the first such handler in list order, and that handler's answer becomes the result;
// anything else passes on, which out of a noexcept function ends the process. Handlers must
// not throw: a later handler of the list could catch what an earlier one raised.
template <class Body> std::invoke_result_t<Body&> RunUnderHandlers(Body&& body)
{
    return body();
}

template <class Body, class Exception, class OnCaught, class... Rest>
std::invoke_result_t<Body&> RunUnderHandlers(Body&& body, CHandler<Exception, OnCaught> first, Rest... rest)
{
    auto guarded = [&]() -> std::invoke_result_t<Body&> {
        try {
            return body();
        } catch (const Exception& caught) {
            return first.onCaught(caught);
        }
    };
    return RunUnderHandlers(guarded, std::move(rest)...);
}

// For steps whose only failure is running out of memory and whose callers report it their own
// way: std::bad_alloc and ATL::CAtlException give false, untraced.
template <class Body> bool FalseOnOutOfMemory(Body&& body) noexcept
{
    return RunUnderHandlers(std::forward<Body>(body),
                            Handle<std::bad_alloc>([](const std::bad_alloc&) { return false; }),
                            Handle<ATL::CAtlException>([](const ATL::CAtlException&) { return false; }));
}

// Where a function runs under the catch convention: its full signature, as its trace lines name
// it, and the location the exception record keeps.
struct CCatchSite {
    const wchar_t* signature;
    const wchar_t* location;
};

// The convention's handlers, one per exception kind, for boundaries that list their own
// (another location per kind, a further kind): each records the exception in info, traces the
// CCCATCH line and answers failure.
template <class Result> auto OnBadAlloc(const CCatchSite& site, CExceptionInfo& info, Result failure)
{
    return Handle<std::bad_alloc>([site, &info, failure](const std::bad_alloc& caught) {
        info.SetBadAlloc(caught, site.location);
        TraceCaught(site.signature, info);
        return failure;
    });
}

template <class Result> auto OnAtlException(const CCatchSite& site, CExceptionInfo& info, Result failure)
{
    return Handle<ATL::CAtlException>([site, &info, failure](const ATL::CAtlException& caught) {
        info.SetAtlException(caught, site.location);
        TraceCaught(site.signature, info);
        return failure;
    });
}

// The support library's boundary for functions declared not to throw: std::bad_alloc and
// ATL::CAtlException become failure, recorded in info and traced.
template <class Body>
std::invoke_result_t<Body&> RunWithCatchConvention(const CCatchSite& site, CExceptionInfo& info,
                                                   std::invoke_result_t<Body&> failure, Body&& body) noexcept
{
    return RunUnderHandlers(std::forward<Body>(body), OnBadAlloc(site, info, failure),
                            OnAtlException(site, info, failure));
}

} // namespace srLib
