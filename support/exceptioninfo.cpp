#include "support/exceptioninfo.h"

#include "support/format.h"
#include "support/trace.h"

#include <cwchar>

namespace srLib {

void CExceptionInfo::Set(Code code, const wchar_t* location, const wchar_t* typeName, const wchar_t* message) noexcept
{
    m_nCode = code;
    m_szLocation = location;
    m_szTypeName = typeName;
    FormatW(m_szMessage, L"%s", message ? message : L"");
}

void CExceptionInfo::SetBadAlloc(const std::bad_alloc& caught, const wchar_t* location) noexcept
{
    wchar_t message[256] = {};
    if (MultiByteToWideChar(CP_ACP, 0, caught.what(), -1, message, 256) == 0)
        message[0] = L'\0';
    message[255] = L'\0';
    Set(eBadAlloc, location, L"std::bad_alloc", message);
}

void CExceptionInfo::SetAtlException(const ATL::CAtlException& caught, const wchar_t* location) noexcept
{
    wchar_t message[16];
    FormatW(message, L"0x%08X", static_cast<unsigned>(static_cast<HRESULT>(caught)));
    Set(eAtlException, location, L"CAtlException", message);
}

void TraceCaught(const wchar_t* signature, const CExceptionInfo& info) noexcept
{
    TraceError(L"%s : CCCATCH : %s, %s\n", signature, info.GetTypeName(), info.GetMessageText());
}

} // namespace srLib
