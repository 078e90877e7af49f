#include "support/stringimpl.h"

#include "support/catchconvention.h"
#include "support/objectcount.h"
#include "support/trace.h"

#include <windows.h>

namespace sr {

const KRVGUID IID_IString = {0x2B8E51D4, 0x97A6, 0x4C03, {0xB1, 0xF2, 0x5E, 0x6D, 0x0A, 0x8C, 0x39, 0x47}};

} // namespace sr

namespace srKrv {
namespace {

const srLib::CCatchSite kCreateSite = {
    L"class srKrv::CStringImpl *__cdecl srKrv::CStringImpl::CreateStringImpl(void) throw()",
    L"srKrv::CStringImpl::CreateStringImpl(534)"};
const srLib::CCatchSite kCreateAnsiSite = {
    L"class srKrv::CStringImpl *__cdecl srKrv::CStringImpl::CreateStringImpl(const char *) throw()",
    L"srKrv::CStringImpl::CreateStringImpl(552)"};
const srLib::CCatchSite kCreateWideSite = {
    L"class srKrv::CStringImpl *__cdecl srKrv::CStringImpl::CreateStringImpl(const wchar_t *) throw()",
    L"srKrv::CStringImpl::CreateStringImpl(570)"};

const wchar_t kSetAnsiFailed[] =
    L"bool __thiscall srKrv::CStringImpl::SetStringA(const char *) throw() : CStringConvert::Copy() == false\n";
const wchar_t kSetWideFailed[] =
    L"bool __thiscall srKrv::CStringImpl::SetStringW(const wchar_t *) throw() : CStringConvert::Copy() == false\n";
const wchar_t kAssignAnsiFailed[] =
    L"class srKrv::CStringImpl &__thiscall srKrv::CStringImpl::operator =(const char *) "
    L"throw() : CStringConvert::Copy() == false\n";
const wchar_t kAssignWideFailed[] =
    L"class srKrv::CStringImpl &__thiscall srKrv::CStringImpl::operator =(const wchar_t "
    L"*) throw() : CStringConvert::Copy() == false\n";
const wchar_t kGetWideCopy[] =
    L"const wchar_t *__thiscall srKrv::CStringImpl::GetStringW(void) throw() const : CStringConvert::Copy() == false\n";
const wchar_t kGetWideType[] =
    L"const wchar_t *__thiscall srKrv::CStringImpl::GetStringW(void) throw() const : switch(default)\n";
const wchar_t kGetAnsiCopy[] =
    L"const char *__thiscall srKrv::CStringImpl::GetStringA(void) throw() const : CStringConvert::Copy() == false\n";
const wchar_t kGetAnsiType[] =
    L"const char *__thiscall srKrv::CStringImpl::GetStringA(void) throw() const : switch(default)\n";
const wchar_t kGetLengthType[] =
    L"__w64 unsigned int __thiscall srKrv::CStringImpl::GetLength(void) throw() const : switch(default)\n";

// Conversions with the ANSI code page; the target changes only on success.
bool ToWide(const std::string& text, std::wstring& target)
{
    std::wstring converted;
    if (!text.empty()) {
        const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (length <= 0)
            return false;
        converted.resize(static_cast<size_t>(length));
        if (MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &converted[0], length) != length)
            return false;
    }
    target.swap(converted);
    return true;
}

bool ToAnsi(const std::wstring& text, std::string& target)
{
    std::string converted;
    if (!text.empty()) {
        const int size = static_cast<int>(text.size());
        const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
        if (length <= 0)
            return false;
        converted.resize(static_cast<size_t>(length));
        if (WideCharToMultiByte(CP_ACP, 0, text.data(), size, &converted[0], length, nullptr, nullptr) != length)
            return false;
    }
    target.swap(converted);
    return true;
}

} // namespace

CStringImpl::CStringImpl() noexcept
{
    IncrementObjectCount();
}

CStringImpl::~CStringImpl()
{
    DecrementObjectCount();
}

CStringImpl* CStringImpl::Create(const srLib::CCatchSite& site) noexcept
{
    srLib::CExceptionInfo info;
    CStringImpl* string = srLib::RunWithCatchConvention(site, info, nullptr, [] { return new CStringImpl(); });
    if (string)
        string->AddRef();
    return string;
}

CStringImpl* CStringImpl::CreateStringImpl() noexcept
{
    return Create(kCreateSite);
}

CStringImpl* CStringImpl::CreateStringImpl(const char* text) noexcept
{
    CStringImpl* string = Create(kCreateAnsiSite);
    if (string) {
        string->SetStringA(text);
        string->m_bModified = false;
    }
    return string;
}

CStringImpl* CStringImpl::CreateStringImpl(const wchar_t* text) noexcept
{
    CStringImpl* string = Create(kCreateWideSite);
    if (string) {
        string->SetStringW(text);
        string->m_bModified = false;
    }
    return string;
}

KRVRESULT CStringImpl::QueryInterface(const KRVGUID& interfaceId, void** object) noexcept
{
    if (!object)
        return KRV_E_INVALIDARG;
    *object = nullptr;
    if (interfaceId != sr::IID_IString)
        return KRV_E_NOINTERFACE;
    AddRef();
    *object = static_cast<sr::IString*>(this);
    return KRV_S_OK;
}

unsigned long CStringImpl::AddRef() noexcept
{
    return static_cast<unsigned long>(InterlockedIncrement(&m_lRefCount));
}

unsigned long CStringImpl::Release() noexcept
{
    const long count = InterlockedDecrement(&m_lRefCount);
    if (count == 0)
        delete this;
    return static_cast<unsigned long>(count);
}

void CStringImpl::Reset() noexcept
{
    m_sAString.clear();
    m_sWString.clear();
    m_bConverted = false;
    m_eStringType = eNone;
    m_bModified = false;
}

void CStringImpl::Clear() noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    Reset();
}

long CStringImpl::GetStringType() const noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_eStringType;
}

bool CStringImpl::IsModified() const noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_bModified;
}

template <class Char>
bool CStringImpl::Store(std::basic_string<Char>& target, const Char* text, long type, const wchar_t* failure) noexcept
{
    static const Char empty[1] = {};
    Reset();
    if (!srLib::FalseOnOutOfMemory([&] {
            target.assign(text ? text : empty);
            return true;
        })) {
        TraceError(failure);
        return false;
    }
    m_eStringType = type;
    m_bModified = true;
    return true;
}

bool CStringImpl::SetStringA(const char* text) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return Store(m_sAString, text, eAnsi, kSetAnsiFailed);
}

bool CStringImpl::SetStringW(const wchar_t* text) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return Store(m_sWString, text, eWide, kSetWideFailed);
}

bool CStringImpl::SetString(const wchar_t* text) noexcept
{
    return SetStringW(text);
}

bool CStringImpl::SetString(const char* text) noexcept
{
    return SetStringA(text);
}

CStringImpl& CStringImpl::operator=(const char* text) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    Store(m_sAString, text, eAnsi, kAssignAnsiFailed);
    return *this;
}

CStringImpl& CStringImpl::operator=(const wchar_t* text) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    Store(m_sWString, text, eWide, kAssignWideFailed);
    return *this;
}

const wchar_t* CStringImpl::GetStringW() const noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    switch (m_eStringType) {
    case eAnsi:
        if (m_bConverted)
            break;
        m_bConverted = srLib::FalseOnOutOfMemory([this] { return ToWide(m_sAString, m_sWString); });
        if (!m_bConverted)
            TraceError(kGetWideCopy);
        break;
    case eNone:
    case eWide:
        break;
    default:
        TraceError(kGetWideType);
        break;
    }
    return m_sWString.c_str();
}

const char* CStringImpl::GetStringA() const noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    switch (m_eStringType) {
    case eWide:
        if (m_bConverted)
            break;
        m_bConverted = srLib::FalseOnOutOfMemory([this] { return ToAnsi(m_sWString, m_sAString); });
        if (!m_bConverted)
            TraceError(kGetAnsiCopy);
        break;
    case eNone:
    case eAnsi:
        break;
    default:
        TraceError(kGetAnsiType);
        break;
    }
    return m_sAString.c_str();
}

size_t CStringImpl::GetLength() const noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    switch (m_eStringType) {
    case eNone:
        return 0;
    case eAnsi:
        return m_sAString.size();
    case eWide:
        return m_sWString.size();
    default:
        TraceError(kGetLengthType);
        return 0;
    }
}

} // namespace srKrv
