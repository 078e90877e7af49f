#include "framework/regkey.h"

namespace InstallToolBox {

LONG ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD capacity, RegQueryValueFn query)
{
    DWORD type = 0;
    DWORD bytes = capacity * sizeof(wchar_t);
    const LONG result = query(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result != ERROR_SUCCESS)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (bytes == 0) {
        buffer[0] = L'\0';
        return ERROR_SUCCESS;
    }
    if (bytes % sizeof(wchar_t) != 0 || buffer[bytes / sizeof(wchar_t) - 1] != L'\0')
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

} // namespace InstallToolBox
