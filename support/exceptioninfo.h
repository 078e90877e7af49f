#pragma once
#include "platform/atlexception.h"

#include <new>

namespace srLib {

// What a catch site caught, for the function that ran under it to ask afterwards. The location
// and type name are literals that outlive the record; the message is copied.
class CExceptionInfo {
public:
    enum Code {
        eNone = 0,
        eBadAlloc = 19,
        eComError = 20,
        eAtlException = 21,
    };

    void Set(Code code, const wchar_t* location, const wchar_t* typeName, const wchar_t* message) noexcept;
    // The message is what() converted from the ANSI code page.
    void SetBadAlloc(const std::bad_alloc& caught, const wchar_t* location) noexcept;
    // The message is the HRESULT as "0x%08X".
    void SetAtlException(const ATL::CAtlException& caught, const wchar_t* location) noexcept;

    bool IsCaught() const noexcept { return m_nCode != eNone; }
    Code GetCode() const noexcept { return m_nCode; }
    const wchar_t* GetLocation() const noexcept { return m_szLocation; }
    const wchar_t* GetTypeName() const noexcept { return m_szTypeName; }
    const wchar_t* GetMessageText() const noexcept { return m_szMessage; }

private:
    Code m_nCode = eNone;
    const wchar_t* m_szLocation = L"";
    const wchar_t* m_szTypeName = L"";
    wchar_t m_szMessage[256] = {};
};

// Traces "<signature> : CCCATCH : <type name>, <message>\n" at error level.
void TraceCaught(const wchar_t* signature, const CExceptionInfo& info) noexcept;

} // namespace srLib
