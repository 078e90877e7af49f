#pragma once
#include <windows.h>
#include <msi.h>

namespace InstallToolBox {

enum LogLevel {
    LOG_LEVEL_INFO = 0,
    LOG_LEVEL_ERROR = 1,
    LOG_LEVEL_VERBOSE = 2,
};

// Writes one "KRVL: " / "KRVL (Error): " line to the installer log (when hInstall is not 0) and
// mirrors it into the install debug log. Lines above the "MsiLogging" threshold (default 1,
// read once per process) are dropped. Never fails towards the caller.
void LogMessage(MSIHANDLE hInstall, int level, const wchar_t* format, ...);

} // namespace InstallToolBox
