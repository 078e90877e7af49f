#pragma once
#include <windows.h>

#include <string>

namespace srLib {

class CMemory;

// Owns one open registry key. Every operation keeps the Windows code of its last registry call
// (or of its own refusal) as the last error; typed reads check the value's type and shape
// before they report success and trace what they refuse; nothing throws. Reads leave their
// out-values untouched when they fail, unless said otherwise. One thread at a time.
class CRegistry {
public:
    CRegistry() noexcept = default;
    // Takes ownership of key.
    explicit CRegistry(HKEY key) noexcept : m_hKey(key) {}
    CRegistry(CRegistry&& other) noexcept : m_hKey(other.Detach()) {}
    CRegistry& operator=(CRegistry&& other) noexcept;
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;
    virtual ~CRegistry();

    // Opens (with create, opens or creates) root\subKey; true when a key is held afterwards.
    // A failed open is traced, at information level when the key simply is not there.
    BOOL Open(HKEY root, const wchar_t* subKey, REGSAM access, BOOL create) noexcept;
    // True when closing succeeded; with no key held it only reports the last error as it is.
    BOOL Close() noexcept;
    // Closes the held key and takes key (holding the same key again changes nothing); true when
    // key is not null.
    BOOL Attach(HKEY key) noexcept;
    // Takes the other's key (the other is left without one); true when a key was taken.
    BOOL Attach(CRegistry& other) noexcept;
    CRegistry& operator=(HKEY key) noexcept;
    // Gives the key up without closing it.
    HKEY Detach() noexcept;

    HKEY GetKey() const noexcept { return m_hKey; }
    LONG GetLastError() const noexcept { return m_lLastError; }

    // size counts bytes with the terminator, in and out; without a buffer only the size is
    // reported. Accepts REG_SZ, REG_EXPAND_SZ (not expanded) and REG_MULTI_SZ; a zero-byte
    // string reads as an empty one. The buffer may be written although the read is refused.
    BOOL GetString(const wchar_t* name, wchar_t* buffer, unsigned long& size) noexcept;
    // Accepts REG_SZ and REG_EXPAND_SZ; the text ends at its first terminator.
    BOOL GetString(const wchar_t* name, std::wstring& value) noexcept;
    BOOL SetString(const wchar_t* name, const wchar_t* text) noexcept;
    // type is REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ; the data is the text up to its first
    // terminator, with the terminator. Another type is refused without a registry call and
    // without changing the last error.
    BOOL SetString(const wchar_t* name, const wchar_t* text, unsigned long type) noexcept;
    BOOL SetString(const wchar_t* name, const std::wstring& text) noexcept;
    BOOL SetString(const wchar_t* name, const std::wstring& text, unsigned long type) noexcept;

    // REG_DWORD only; a value of another type is refused with ERROR_INVALID_DATA even when it
    // does not fit four bytes.
    BOOL GetNumber(const wchar_t* name, unsigned long& value) noexcept;
    BOOL GetNumber(const wchar_t* name, long& value) noexcept;
    // REG_QWORD only.
    BOOL GetNumber(const wchar_t* name, unsigned __int64& value) noexcept;
    BOOL SetNumber(const wchar_t* name, unsigned long value) noexcept;
    BOOL SetNumber(const wchar_t* name, long value) noexcept;
    BOOL SetNumber(const wchar_t* name, unsigned int value) noexcept;
    BOOL SetNumber(const wchar_t* name, int value) noexcept;
    BOOL SetNumber(const wchar_t* name, unsigned __int64 value) noexcept;

    // REG_BINARY only; the block is emptied first and holds exactly the value's bytes after
    // success.
    BOOL GetBinary(const wchar_t* name, CMemory& memory) noexcept;
    BOOL SetBinary(const wchar_t* name, const CMemory& memory) noexcept;
    BOOL SetBinary(const wchar_t* name, const void* data, unsigned long size) noexcept;

    BOOL QueryValue(const wchar_t* name, unsigned long* reserved, unsigned long* type, void* data,
                    unsigned long* size) noexcept;
    BOOL QueryValue(const wchar_t* name, void* data, unsigned long* size) noexcept;
    BOOL SetValue(const wchar_t* name, unsigned long reserved, unsigned long type, const void* data,
                  unsigned long size) noexcept;
    BOOL DeleteValue(const wchar_t* name) noexcept;
    // Deletes subKey with everything below it; a null subKey means the held key's contents.
    BOOL DeleteKey(const wchar_t* subKey) noexcept;
    BOOL DeleteEmptyKey(const wchar_t* subKey) noexcept;

    // Return the Windows code itself: 0, or ERROR_NO_MORE_ITEMS past the last entry.
    LONG EnumValue(unsigned long index, wchar_t* name, unsigned long* nameLength, unsigned long* type = nullptr,
                   BYTE* data = nullptr, unsigned long* dataSize = nullptr) noexcept;
    LONG EnumKey(unsigned long index, wchar_t* name, unsigned long* nameLength, wchar_t* className = nullptr,
                 unsigned long* classLength = nullptr, FILETIME* lastWriteTime = nullptr) noexcept;

private:
    BOOL ReadTyped(const wchar_t* name, unsigned long expectedType, void* data, unsigned long size,
                   const wchar_t* refusal) noexcept;
    BOOL Refuse(LONG error, const wchar_t* message) noexcept;
    LONG QueryStringSize(const wchar_t* name, unsigned long& type, unsigned long& size) noexcept;
    BOOL ReadStringObject(const wchar_t* name, std::wstring& value);

    HKEY m_hKey = nullptr;
    LONG m_lLastError = ERROR_SUCCESS;
};

} // namespace srLib
