#include "support/registrydebugoutput.h"

#include "support/debugoptions.h"

namespace srKrv {

int CRegistryDebugOutput::Initialize() noexcept
{
    if (IsInitialized())
        return 1;
    srLib::CCriticalSectionLock lock(GetLock());
    if (!lock.IsHeld())
        return 0;
    if (m_bLoading || IsInitialized())
        return 1;
    m_bLoading = true;
    const int result = LoadSettings();
    m_bLoading = false;
    SetInitialized();
    return result;
}

int CRegistryDebugOutput::LoadSettings() noexcept
{
    CDebugOptions options;
    if (!options.Load(L"Software\\Korvalin\\Shared Runtime\\Debug"))
        return 0;
    if (!options.Apply(this))
        return 0;
    return FillNamesFromHost() ? 1 : 0;
}

} // namespace srKrv
