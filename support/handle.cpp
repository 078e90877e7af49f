#include "support/handle.h"

namespace srLib {

CHandle& CHandle::operator=(CHandle&& other) noexcept
{
    Attach(other);
    return *this;
}

void CHandle::Close() noexcept
{
    if (IsOpen()) {
        const DWORD lastError = GetLastError();
        CloseHandle(m_hHandle);
        SetLastError(lastError);
    }
    m_hHandle = nullptr;
}

void CHandle::Attach(HANDLE handle) noexcept
{
    if (handle == m_hHandle)
        return;
    Close();
    m_hHandle = handle;
}

void CHandle::Attach(CHandle& other) noexcept
{
    if (&other == this)
        return;
    Attach(other.Detach());
}

HANDLE CHandle::Detach() noexcept
{
    const HANDLE handle = m_hHandle;
    m_hHandle = nullptr;
    return handle;
}

} // namespace srLib
