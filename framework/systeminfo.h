#pragma once
#include <windows.h>

namespace InstallToolBox {

class CDebugLog;

// What the framework knows of the system it runs on: gathered once per process, and reported to
// the install debug log on the first construction so that support staff see where it happened.
class CSystemInfo {
public:
    enum : DWORD {
        kNT351OrWin95 = 0x1,
        kNT4OrWin98 = 0x2,
        kWin2000OrMe = 0x4,
        kWinXP = 0x8,
        kServer2003 = 0x10,
        kVista = 0x20,
        kWin9x = 0x1000,
        kNT = 0x2000,
    };

    struct Facts {
        DWORD dwPlatformFlags = 0;
        DWORD dwMajorVersion = 0;
        DWORD dwMinorVersion = 0;
        WORD wServicePackMajor = 0;
        WORD wServicePackMinor = 0;
        bool bServer = false;
        bool bTerminalServices = false;
        bool bActiveSession = false;
        bool bAdministrator = false;
    };

    // Gathers and reports on the first construction in the process; later ones do nothing.
    CSystemInfo();

    bool IsNT() const;
    const Facts& Get() const;
};

// The platform flags for a platform id and version (0 bits beyond the family for versions the
// framework has no bit for).
DWORD PlatformFlags(DWORD platformId, DWORD major, DWORD minor);

// Whether a REG_MULTI_SZ value of chars characters lists name. The list ends at its first empty
// string or at its last character, so a value stored without its terminators is read no further.
bool MultiStringNames(const wchar_t* data, size_t chars, const wchar_t* name);

// Writes the system report lines for these facts.
void WriteSystemReport(CDebugLog& log, const CSystemInfo::Facts& facts);

} // namespace InstallToolBox
