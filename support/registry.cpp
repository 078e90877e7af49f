#include "support/registry.h"

#include "support/catchconvention.h"
#include "support/memory.h"
#include "support/trace.h"

#include <shlwapi.h>

#include <cwchar>

namespace srLib {
namespace {

const wchar_t kOpenFailed[] =
    L"int __thiscall srLib::CRegistry::Open(struct HKEY__ *,const wchar_t *,unsigned long,int) "
    L"throw() : RegOpenKeyEx() != ERROR_SUCCESS, %s, 0x%08X\n";
const wchar_t kCreateFailed[] = L"int __thiscall srLib::CRegistry::Open(struct HKEY__ *,const wchar_t *,unsigned long,"
                                L"int) throw() : RegCreateKeyEx() != ERROR_SUCCESS, %s, 0x%08X\n";
const wchar_t kBufferSizeZero[] =
    L"int __thiscall srLib::CRegistry::GetString(const wchar_t *,wchar_t *,unsigned long &) throw() : dwSize == 0\n";
const wchar_t kBufferNotString[] = L"int __thiscall srLib::CRegistry::GetString(const wchar_t *,wchar_t *,unsigned "
                                   L"long &) throw() : dwType != REG_SZ\n";
const wchar_t kBufferMisshapen[] =
    L"int __thiscall srLib::CRegistry::GetString(const wchar_t *,wchar_t *,unsigned long "
    L"&) throw() : dwSize % sizeof(TCHAR) != 0\n";
const wchar_t kSetStringType[] = L"int __thiscall srLib::CRegistry::SetString(const wchar_t *,const wchar_t *,unsigned "
                                 L"long) throw() : dwType != REG_SZ\n";
const wchar_t kNotDword[] =
    L"int __thiscall srLib::CRegistry::GetNumber(const wchar_t *,unsigned long &) throw() : dwType != REG_DWORD\n";
const wchar_t kNotQword[] =
    L"int __thiscall srLib::CRegistry::GetNumber(const wchar_t *,unsigned __int64 &) throw() : dwType != REG_QWORD\n";
const wchar_t kNotBinary[] = L"int __thiscall srLib::CRegistry::GetBinary(const wchar_t *,class srLib::CMemory &) "
                             L"throw() : dwType != REG_BINARY\n";
const wchar_t kBinaryNoMemory[] = L"CRegistry::GetBinary() : Memory.NewAlloc() == FALSE\n";

#define SRLIB_CSTRING_GETSTRING                                                                                        \
    L"int __thiscall srLib::CRegistry::GetString(const wchar_t *,class ATL::CStringT<wchar_t,class "                   \
    L"ATL::StrTraitATL<wchar_t,class ATL::ChTraitsCRT<wchar_t> > > &) throw()"
const wchar_t kObjectNotString[] = SRLIB_CSTRING_GETSTRING L" : dwType != REG_SZ\n";
const wchar_t kObjectMisshapen[] = SRLIB_CSTRING_GETSTRING L" : dwSize % sizeof(TCHAR) != 0\n";
const wchar_t kObjectQueryFailed[] = SRLIB_CSTRING_GETSTRING L" : RegQueryValueEx() != ERROR_SUCCESS, 0x%08X\n";
const CCatchSite kGetStringObjectSite = {SRLIB_CSTRING_GETSTRING, L"srLib::CRegistry::GetString(42)"};
#undef SRLIB_CSTRING_GETSTRING

const wchar_t kAssignNull[] =
    L"class srLib::CRegistry &__thiscall srLib::CRegistry::operator =(struct HKEY__ *) throw() : Attach() == FALSE\n";

bool IsStringType(unsigned long type) noexcept
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

CRegistry& CRegistry::operator=(CRegistry&& other) noexcept
{
    Attach(other);
    return *this;
}

CRegistry::~CRegistry()
{
    const DWORD lastError = ::GetLastError();
    Close();
    SetLastError(lastError);
}

BOOL CRegistry::Open(HKEY root, const wchar_t* subKey, REGSAM access, BOOL create) noexcept
{
    Close();
    HKEY key = nullptr;
    m_lLastError = RegOpenKeyExW(root, subKey, 0, access, &key);
    if (m_lLastError == ERROR_SUCCESS) {
        m_hKey = key;
        return TRUE;
    }
    if (!create) {
        if (m_lLastError == ERROR_FILE_NOT_FOUND)
            TraceInfo(kOpenFailed, subKey, m_lLastError);
        else
            TraceError(kOpenFailed, subKey, m_lLastError);
        return FALSE;
    }
    m_lLastError = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (m_lLastError != ERROR_SUCCESS) {
        TraceError(kCreateFailed, subKey, m_lLastError);
        return FALSE;
    }
    m_hKey = key;
    return TRUE;
}

BOOL CRegistry::Close() noexcept
{
    if (m_hKey) {
        m_lLastError = RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::Attach(HKEY key) noexcept
{
    if (key != m_hKey) {
        Close();
        m_hKey = key;
    }
    return key != nullptr;
}

BOOL CRegistry::Attach(CRegistry& other) noexcept
{
    if (&other != this)
        Attach(other.Detach());
    return m_hKey != nullptr;
}

CRegistry& CRegistry::operator=(HKEY key) noexcept
{
    if (key && key == m_hKey)
        return *this;
    if (!Attach(key))
        TraceError(kAssignNull);
    return *this;
}

HKEY CRegistry::Detach() noexcept
{
    const HKEY key = m_hKey;
    m_hKey = nullptr;
    return key;
}

BOOL CRegistry::Refuse(LONG error, const wchar_t* message) noexcept
{
    TraceError(L"%s", message);
    m_lLastError = error;
    return FALSE;
}

BOOL CRegistry::GetString(const wchar_t* name, wchar_t* buffer, unsigned long& size) noexcept
{
    if (buffer && size == 0)
        return Refuse(ERROR_INVALID_PARAMETER, kBufferSizeZero);
    const unsigned long capacity = size;
    unsigned long type = REG_NONE;
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (m_lLastError != ERROR_SUCCESS)
        return FALSE;
    if (!IsStringType(type))
        return Refuse(ERROR_INVALID_DATA, kBufferNotString);
    if (size % sizeof(wchar_t) != 0)
        return Refuse(ERROR_INVALID_DATA, kBufferMisshapen);
    if (!buffer)
        return TRUE;
    if (size == 0) {
        // A stored string of no bytes at all: the empty text, where the buffer has room for it.
        if (capacity >= sizeof(wchar_t))
            buffer[0] = L'\0';
        return TRUE;
    }
    if (buffer[size / sizeof(wchar_t) - 1] != L'\0')
        return Refuse(ERROR_INVALID_DATA, kBufferMisshapen);
    return TRUE;
}

BOOL CRegistry::GetString(const wchar_t* name, std::wstring& value) noexcept
{
    CExceptionInfo info;
    RunWithCatchConvention(kGetStringObjectSite, info, FALSE, [&] { return ReadStringObject(name, value); });
    if (info.IsCaught())
        m_lLastError = ERROR_OUTOFMEMORY;
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::ReadStringObject(const wchar_t* name, std::wstring& value)
{
    unsigned long type = REG_NONE;
    unsigned long size = 0;
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, &type, nullptr, &size);
    if (m_lLastError != ERROR_SUCCESS)
        return FALSE;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return Refuse(ERROR_INVALID_DATA, kObjectNotString);
    if (size % sizeof(wchar_t) != 0)
        return Refuse(ERROR_INVALID_DATA, kObjectMisshapen);
    // Room for a terminator the stored data may lack.
    size += sizeof(wchar_t);
    std::wstring text(size / sizeof(wchar_t), L'\0');
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size);
    if (m_lLastError != ERROR_SUCCESS) {
        TraceError(kObjectQueryFailed, m_lLastError);
        value.clear();
        return FALSE;
    }
    text.resize(wcslen(text.c_str()));
    value.swap(text);
    return TRUE;
}

BOOL CRegistry::SetString(const wchar_t* name, const wchar_t* text) noexcept
{
    return SetString(name, text, REG_SZ);
}

BOOL CRegistry::SetString(const wchar_t* name, const wchar_t* text, unsigned long type) noexcept
{
    if (!IsStringType(type)) {
        TraceError(kSetStringType);
        return FALSE;
    }
    const wchar_t* data = text ? text : L"";
    const DWORD size = static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t));
    m_lLastError = RegSetValueExW(m_hKey, name, 0, type, reinterpret_cast<const BYTE*>(data), size);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::SetString(const wchar_t* name, const std::wstring& text) noexcept
{
    return SetString(name, text.c_str(), REG_SZ);
}

BOOL CRegistry::SetString(const wchar_t* name, const std::wstring& text, unsigned long type) noexcept
{
    return SetString(name, text.c_str(), type);
}

BOOL CRegistry::ReadTyped(const wchar_t* name, unsigned long expectedType, void* data, unsigned long size,
                          const wchar_t* refusal) noexcept
{
    unsigned long type = REG_NONE;
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, &type, static_cast<BYTE*>(data), &size);
    // A value too long for the number still tells its type, and the type is the real fault.
    const bool typeKnown = m_lLastError == ERROR_SUCCESS || m_lLastError == ERROR_MORE_DATA;
    if (typeKnown && type != expectedType)
        return Refuse(ERROR_INVALID_DATA, refusal);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::GetNumber(const wchar_t* name, unsigned long& value) noexcept
{
    unsigned long number = 0;
    if (!ReadTyped(name, REG_DWORD, &number, sizeof(number), kNotDword))
        return FALSE;
    value = number;
    return TRUE;
}

BOOL CRegistry::GetNumber(const wchar_t* name, long& value) noexcept
{
    unsigned long number = 0;
    if (!GetNumber(name, number))
        return FALSE;
    value = static_cast<long>(number);
    return TRUE;
}

BOOL CRegistry::GetNumber(const wchar_t* name, unsigned __int64& value) noexcept
{
    unsigned __int64 number = 0;
    if (!ReadTyped(name, REG_QWORD, &number, sizeof(number), kNotQword))
        return FALSE;
    value = number;
    return TRUE;
}

BOOL CRegistry::SetNumber(const wchar_t* name, unsigned long value) noexcept
{
    return SetValue(name, 0, REG_DWORD, &value, sizeof(value));
}

BOOL CRegistry::SetNumber(const wchar_t* name, long value) noexcept
{
    return SetNumber(name, static_cast<unsigned long>(value));
}

BOOL CRegistry::SetNumber(const wchar_t* name, unsigned int value) noexcept
{
    return SetNumber(name, static_cast<unsigned long>(value));
}

BOOL CRegistry::SetNumber(const wchar_t* name, int value) noexcept
{
    return SetNumber(name, static_cast<unsigned long>(value));
}

BOOL CRegistry::SetNumber(const wchar_t* name, unsigned __int64 value) noexcept
{
    return SetValue(name, 0, REG_QWORD, &value, sizeof(value));
}

BOOL CRegistry::GetBinary(const wchar_t* name, CMemory& memory) noexcept
{
    memory.Free();
    unsigned long type = REG_NONE;
    unsigned long size = 0;
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, &type, nullptr, &size);
    if (m_lLastError != ERROR_SUCCESS)
        return FALSE;
    if (type != REG_BINARY)
        return Refuse(ERROR_INVALID_DATA, kNotBinary);
    if (!memory.NewAlloc(size))
        return Refuse(ERROR_OUTOFMEMORY, kBinaryNoMemory);
    m_lLastError = RegQueryValueExW(m_hKey, name, nullptr, nullptr, static_cast<BYTE*>(memory.GetData()), &size);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::SetBinary(const wchar_t* name, const CMemory& memory) noexcept
{
    return SetBinary(name, memory.GetData(), static_cast<unsigned long>(memory.GetSize()));
}

BOOL CRegistry::SetBinary(const wchar_t* name, const void* data, unsigned long size) noexcept
{
    return SetValue(name, 0, REG_BINARY, data, size);
}

BOOL CRegistry::QueryValue(const wchar_t* name, unsigned long* reserved, unsigned long* type, void* data,
                           unsigned long* size) noexcept
{
    m_lLastError = RegQueryValueExW(m_hKey, name, reserved, type, static_cast<BYTE*>(data), size);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::QueryValue(const wchar_t* name, void* data, unsigned long* size) noexcept
{
    return QueryValue(name, nullptr, nullptr, data, size);
}

BOOL CRegistry::SetValue(const wchar_t* name, unsigned long reserved, unsigned long type, const void* data,
                         unsigned long size) noexcept
{
    m_lLastError = RegSetValueExW(m_hKey, name, reserved, type, static_cast<const BYTE*>(data), size);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::DeleteValue(const wchar_t* name) noexcept
{
    m_lLastError = RegDeleteValueW(m_hKey, name);
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::DeleteKey(const wchar_t* subKey) noexcept
{
    m_lLastError = static_cast<LONG>(SHDeleteKeyW(m_hKey, subKey ? subKey : L""));
    return m_lLastError == ERROR_SUCCESS;
}

BOOL CRegistry::DeleteEmptyKey(const wchar_t* subKey) noexcept
{
    m_lLastError = static_cast<LONG>(SHDeleteEmptyKeyW(m_hKey, subKey ? subKey : L""));
    return m_lLastError == ERROR_SUCCESS;
}

LONG CRegistry::EnumValue(unsigned long index, wchar_t* name, unsigned long* nameLength, unsigned long* type,
                          BYTE* data, unsigned long* dataSize) noexcept
{
    m_lLastError = RegEnumValueW(m_hKey, index, name, nameLength, nullptr, type, data, dataSize);
    return m_lLastError;
}

LONG CRegistry::EnumKey(unsigned long index, wchar_t* name, unsigned long* nameLength, wchar_t* className,
                        unsigned long* classLength, FILETIME* lastWriteTime) noexcept
{
    m_lLastError = RegEnumKeyExW(m_hKey, index, name, nameLength, nullptr, className, classLength, lastWriteTime);
    return m_lLastError;
}

} // namespace srLib
