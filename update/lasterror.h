#pragma once
#include <windows.h>

namespace clfs::utils {

// The HRESULT of a Windows error code: 0 gives E_FAIL, a value that is already negative as a
// signed number is used unchanged, any other value v gives 0x80070000 | (v & 0xFFFF).
inline long HresultFromError(DWORD error) noexcept
{
    const long value = static_cast<long>(error);
    if (value == 0)
        return E_FAIL;
    if (value < 0)
        return value;
    return static_cast<long>(0x80070000UL | (error & 0xFFFF));
}

// The same for the calling thread's last error.
inline long HresultFromLastError() noexcept
{
    return HresultFromError(GetLastError());
}

} // namespace clfs::utils
