#pragma once
#include <windows.h>

namespace sr {

// Owns one loaded library: FreeLibrary on destruction. Freeing keeps the thread's last error as
// it was, so callers can still report the failure that led to it. Move-only.
class CLibrary {
public:
    CLibrary() noexcept = default;
    CLibrary(CLibrary&& other) noexcept : m_hModule(other.Detach()) {}
    CLibrary& operator=(CLibrary&& other) noexcept;
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    ~CLibrary() { Free(); }

    // Loads the library at a full path, its own dependencies searched for in its folder first
    // (LOAD_WITH_ALTERED_SEARCH_PATH). A library held before is freed first.
    bool Load(const wchar_t* path) noexcept;
    void Free() noexcept;
    // Gives the library up without freeing it.
    HMODULE Detach() noexcept;

    HMODULE Get() const noexcept { return m_hModule; }

    // The export of that name as a function of type Function, or null.
    template <class Function> Function Export(const char* name) const noexcept
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_hModule, name)));
    }

private:
    HMODULE m_hModule = nullptr;
};

} // namespace sr
