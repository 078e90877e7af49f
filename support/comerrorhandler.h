#pragma once
// The catch convention's handler for _com_error, for boundaries around code that uses the COM
// support types.
#include "support/catchconvention.h"

#include <comdef.h>

namespace srLib {

// Records the error (its message text as the message), traces the CCCATCH line and answers
// failure.
template <class Result> auto OnComError(const CCatchSite& site, CExceptionInfo& info, Result failure)
{
    return Handle<_com_error>([site, &info, failure](const _com_error& caught) {
        info.Set(CExceptionInfo::eComError, site.location, L"_com_error", caught.ErrorMessage());
        TraceCaught(site.signature, info);
        return failure;
    });
}

} // namespace srLib
