#include "framework/logmessage.h"

#include "framework/debuglog.h"
#include "framework/regkey.h"
#include "support/format.h"

#include <msiquery.h>

#include <cwchar>
#include <memory>
#include <new>

namespace InstallToolBox {
namespace {

const size_t kOutputCapacity = 2048;

// Process-wide: the registry is consulted on the first message only.
int g_nLoggingLevel = 1;
bool g_bLoggingLevelRead = false;

int ParseLeadingDigits(const wchar_t* text)
{
    int value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text)
        value = value * 10 + (*text - L'0');
    return value;
}

void ReadLoggingLevel()
{
    if (g_bLoggingLevelRead)
        return;
    // Set before reading so that a failed read is not retried on every message.
    g_bLoggingLevelRead = true;

    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvalin", 0x2001F) != ERROR_SUCCESS)
        return;
    // Room for two digits: anything longer is not a level this module knows.
    wchar_t text[3] = {};
    if (ReadRegistryString(key.Get(), L"MsiLogging", text, 3) != ERROR_SUCCESS)
        return;
    const int level = ParseLeadingDigits(text);
    g_nLoggingLevel = (level == 2 || level == 4) ? level : 1;
}

void SendToInstaller(MSIHANDLE hInstall, const wchar_t* text)
{
    const MSIHANDLE record = MsiCreateRecord(0);
    if (!record)
        return;
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

} // namespace

void LogMessage(MSIHANDLE hInstall, int level, const wchar_t* format, ...)
{
    ReadLoggingLevel();

    const wchar_t* prefix = level == LOG_LEVEL_ERROR ? L"KRVL (Error): " : L"KRVL: ";
    const size_t formatCapacity = wcslen(format) + 17;
    std::unique_ptr<wchar_t[]> prefixed(new (std::nothrow) wchar_t[formatCapacity]);
    if (!prefixed)
        return;
    wcscpy(prefixed.get(), prefix);
    wcscat(prefixed.get(), format);

    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[kOutputCapacity]);
    if (!text)
        return;
    va_list args;
    va_start(args, format);
    srLib::FormatWV(text.get(), kOutputCapacity, prefixed.get(), args);
    va_end(args);

    if (level > g_nLoggingLevel)
        return;

    if (hInstall != 0)
        SendToInstaller(hInstall, text.get());

    CDebugLog debugLog;
    debugLog.Write(L"%s", text.get());
}

} // namespace InstallToolBox
