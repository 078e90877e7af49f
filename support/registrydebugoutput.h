#pragma once
#include "support/debugoutput.h"

namespace srKrv {

// The trace channel whose settings come from the registry: on first use it loads the options
// under "Software\Korvalin\Shared Runtime\Debug" (HKEY_LOCAL_MACHINE) once for the object's
// lifetime, whether that succeeds or not. Traces made on the loading thread while the options
// are read (the registry layer reports through this channel) see level 0 and are dropped.
class CRegistryDebugOutput : public srLib::CDebugOutput {
public:
    explicit CRegistryDebugOutput(const wchar_t* moduleName) noexcept : CDebugOutput(moduleName) {}

    int Initialize() noexcept override;

private:
    int LoadSettings() noexcept;

    bool m_bLoading = false;
};

} // namespace srKrv
