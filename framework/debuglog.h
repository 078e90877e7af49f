#pragma once
#include <windows.h>

namespace InstallToolBox {

// The install debug log for support staff: "KRVMSI<pid>.log" in the temporary folder and/or the
// debugger output, switched on by "DebugLog" / "MsiDebugLog" under HKLM\Software\Korvalin.
// Each object opens the file anew with read sharing only, so while one object is alive a second
// one in the same process cannot open it and falls back to the debugger output.
class CDebugLog {
public:
    enum : DWORD { kToFile = 1, kToDebugger = 4 };

    CDebugLog();
    CDebugLog(const CDebugLog&) = delete;
    CDebugLog& operator=(const CDebugLog&) = delete;
    ~CDebugLog();

    // Formats one line (cut at 1023 characters), ends it with CR LF unless it already ends with a
    // line feed, and writes it where the switches say. Lines to be written verbatim go through "%s".
    void Write(const wchar_t* format, ...);

    DWORD Switches() const { return m_dwSwitches; }

private:
    void WriteV(const wchar_t* format, va_list args);

    DWORD m_dwSwitches = 0;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION m_lock;
};

// The temporary folder without its trailing backslash, as the debug log and the framework's
// data files use it. Returns false when the platform gives no folder.
bool GetTempFolder(wchar_t (&folder)[MAX_PATH]);

} // namespace InstallToolBox
