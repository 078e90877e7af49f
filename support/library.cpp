#include "support/library.h"

namespace sr {

CLibrary& CLibrary::operator=(CLibrary&& other) noexcept
{
    if (this != &other) {
        Free();
        m_hModule = other.Detach();
    }
    return *this;
}

bool CLibrary::Load(const wchar_t* path) noexcept
{
    Free();
    m_hModule = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return m_hModule != nullptr;
}

void CLibrary::Free() noexcept
{
    if (!m_hModule)
        return;
    const DWORD lastError = GetLastError();
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
    SetLastError(lastError);
}

HMODULE CLibrary::Detach() noexcept
{
    HMODULE module = m_hModule;
    m_hModule = nullptr;
    return module;
}

} // namespace sr
