#pragma once
#include <windows.h>

namespace srLib {

// Owns one Windows handle. A handle counts as open when it is neither null nor
// INVALID_HANDLE_VALUE; closing an open one calls CloseHandle and leaves null behind. Closing
// keeps the thread's last error as it was, so callers can still report the failure that led
// to it.
class CHandle {
public:
    CHandle() noexcept = default;
    explicit CHandle(HANDLE handle) noexcept : m_hHandle(handle) {}
    CHandle(CHandle&& other) noexcept : m_hHandle(other.Detach()) {}
    CHandle& operator=(CHandle&& other) noexcept;
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    ~CHandle() { Close(); }

    static bool IsOpenHandle(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

    bool IsOpen() const noexcept { return IsOpenHandle(m_hHandle); }
    HANDLE Get() const noexcept { return m_hHandle; }

    void Close() noexcept;
    // Closes the held handle first, unless it is the one given.
    void Attach(HANDLE handle) noexcept;
    // Takes the other's handle; the other is left without one.
    void Attach(CHandle& other) noexcept;
    // Gives the handle up without closing it.
    HANDLE Detach() noexcept;

private:
    HANDLE m_hHandle = nullptr;
};

} // namespace srLib
