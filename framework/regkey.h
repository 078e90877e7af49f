#pragma once
#include <windows.h>

namespace InstallToolBox {

// Owns one open registry key for the framework's own reads, which follow the installer-side
// rules (no tracing, exact access masks) rather than the support library's registry class.
// Closing preserves the thread's last error so callers can still report it.
class CRegKey {
public:
    CRegKey() = default;
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    ~CRegKey() { Close(); }

    // Returns the registry's result; on failure the object stays closed.
    LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access)
    {
        Close();
        HKEY key = nullptr;
        const LONG result = RegOpenKeyExW(parent, subKey, 0, access, &key);
        if (result == ERROR_SUCCESS)
            m_hKey = key;
        return result;
    }

    void Close()
    {
        if (m_hKey) {
            const DWORD lastError = GetLastError();
            RegCloseKey(m_hKey);
            m_hKey = nullptr;
            SetLastError(lastError);
        }
    }

    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

using RegQueryValueFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);

// Reads a REG_SZ or REG_EXPAND_SZ value verbatim (no expansion) into buffer[0..capacity).
// Returns the registry's error, or ERROR_INVALID_DATA for another type, an odd byte length or a
// missing terminator; an empty (zero-byte) value reads as an empty string. The buffer is left
// untouched when the registry itself refuses the read. query is the registry read; only tests
// replace it, to hand back stored shapes that some platforms repair on the way out.
LONG ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD capacity,
                        RegQueryValueFn query = RegQueryValueExW);

} // namespace InstallToolBox
