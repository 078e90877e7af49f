#include "framework/systeminfo.h"

#include "framework/debuglog.h"
#include "framework/regkey.h"
#include "support/library.h"

#include <cstring>
#include <cwchar>
#include <string_view>
#include <vector>

namespace InstallToolBox {
namespace {

// WTS_INFO_CLASS and WTS_CONNECTSTATE_CLASS values; wtsapi32 is looked up at run time because
// the systems this runs on may not have it.
const int kWtsConnectState = 8;
const int kWtsClientProtocolType = 16;
const int kWtsActive = 0;
const USHORT kProtocolConsole = 0;
const USHORT kProtocolRdp = 2;

bool g_bGathered = false;
CSystemInfo::Facts g_facts;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
bool ReadVersion(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExW(&info) != FALSE;
}

bool ReadExtendedVersion(OSVERSIONINFOEXW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
}
#pragma GCC diagnostic pop

// The system folder's own wtsapi32.dll, by its full path: a bare name would let the host
// program's folder, which its installer or a user may write, supply the library. The full path
// needs no search-path support from the loader, so it holds on Windows 7 without the update that
// brought LOAD_LIBRARY_SEARCH_SYSTEM32; its own dependencies are searched for from there.
bool LoadSystemLibrary(sr::CLibrary& library, const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || length + 1 + wcslen(name) >= MAX_PATH)
        return false;
    wcscat(path, L"\\");
    wcscat(path, name);
    return library.Load(path);
}

bool SuiteIncludesTerminalServer()
{
    using VerSetConditionMaskFn = ULONGLONG(WINAPI*)(ULONGLONG, DWORD, BYTE);
    using VerifyVersionInfoAFn = BOOL(WINAPI*)(LPOSVERSIONINFOEXA, DWORD, DWORDLONG);
    const auto setConditionMask = reinterpret_cast<VerSetConditionMaskFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "VerSetConditionMask")));
    const auto verifyVersionInfo = reinterpret_cast<VerifyVersionInfoAFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"KERNEL32.DLL"), "VerifyVersionInfoA")));
    if (!setConditionMask || !verifyVersionInfo)
        return false;
    OSVERSIONINFOEXA wanted = {};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.wSuiteMask = VER_SUITE_TERMINAL;
    const ULONGLONG mask = setConditionMask(0, VER_SUITENAME, VER_AND);
    return verifyVersionInfo(&wanted, VER_SUITENAME, mask) != FALSE;
}

bool ProductSuiteNamesTerminalServer()
{
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\ProductOptions", KEY_READ) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), L"ProductSuite", nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || bytes == 0)
        return false;
    std::vector<wchar_t> suites(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.Get(), L"ProductSuite", nullptr, &type, reinterpret_cast<BYTE*>(suites.data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    return MultiStringNames(suites.data(), bytes / sizeof(wchar_t), L"Terminal Server");
}

bool TerminalServicesInstalled(const CSystemInfo::Facts& facts)
{
    if (!(facts.dwPlatformFlags & CSystemInfo::kNT))
        return false;
    const DWORD version = GetVersion();
    const DWORD major = LOBYTE(LOWORD(version));
    const DWORD minor = HIBYTE(LOWORD(version));
    if (major >= 5 && minor != 0)
        return true;
    if (major == 5 || major == 6)
        return SuiteIncludesTerminalServer();
    if (major < 5)
        return ProductSuiteNamesTerminalServer();
    return false;
}

bool InActiveSession(const CSystemInfo::Facts& facts)
{
    if (!(facts.dwPlatformFlags & CSystemInfo::kNT) || !facts.bTerminalServices)
        return true;
    sr::CLibrary wtsapi;
    if (!LoadSystemLibrary(wtsapi, L"wtsapi32.dll"))
        return true;
    using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, int, LPSTR*, DWORD*);
    using FreeFn = void(WINAPI*)(PVOID);
    const auto query = wtsapi.Export<QueryFn>("WTSQuerySessionInformationA");
    const auto release = wtsapi.Export<FreeFn>("WTSFreeMemory");
    if (!query || !release)
        return false;

    const HANDLE currentServer = nullptr;
    const DWORD currentSession = static_cast<DWORD>(-1);
    LPSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!query(currentServer, currentSession, kWtsClientProtocolType, &buffer, &bytes))
        return false;
    const USHORT protocol = (buffer && bytes >= sizeof(USHORT)) ? *reinterpret_cast<USHORT*>(buffer) : 0xFFFF;
    release(buffer);
    if (protocol != kProtocolConsole && protocol != kProtocolRdp)
        return false;

    buffer = nullptr;
    bytes = 0;
    if (!query(currentServer, currentSession, kWtsConnectState, &buffer, &bytes))
        return false;
    const bool active = buffer && bytes >= sizeof(int) && *reinterpret_cast<int*>(buffer) == kWtsActive;
    release(buffer);
    return active;
}

bool IsAdministrator(const CSystemInfo::Facts& facts)
{
    if (!(facts.dwPlatformFlags & CSystemInfo::kNT))
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    alignas(TOKEN_GROUPS) BYTE groupsBuffer[4096];
    DWORD bytes = 0;
    const BOOL read = GetTokenInformation(token, TokenGroups, groupsBuffer, sizeof(groupsBuffer), &bytes);
    CloseHandle(token);
    if (!read)
        return false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupsBuffer);
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, administrators) != FALSE;
    FreeSid(administrators);
    return found;
}

void Gather(CSystemInfo::Facts& facts)
{
    OSVERSIONINFOW version;
    if (ReadVersion(version)) {
        facts.dwMajorVersion = version.dwMajorVersion;
        facts.dwMinorVersion = version.dwMinorVersion;
        facts.dwPlatformFlags = PlatformFlags(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
    }
    facts.bTerminalServices = TerminalServicesInstalled(facts);
    facts.bActiveSession = InActiveSession(facts);
    facts.bAdministrator = IsAdministrator(facts);
    OSVERSIONINFOEXW extended;
    if (facts.dwPlatformFlags >= (CSystemInfo::kNT | CSystemInfo::kNT4OrWin98) && ReadExtendedVersion(extended)) {
        facts.wServicePackMajor = extended.wServicePackMajor;
        facts.wServicePackMinor = extended.wServicePackMinor;
        facts.bServer = extended.wProductType != VER_NT_WORKSTATION;
    }
}

} // namespace

DWORD PlatformFlags(DWORD platformId, DWORD major, DWORD minor)
{
    struct VersionBit {
        DWORD major;
        DWORD minor;
        DWORD bit;
    };
    static const VersionBit kNTVersions[] = {
        {3, 51, CSystemInfo::kNT351OrWin95}, {4, 0, CSystemInfo::kNT4OrWin98}, {5, 0, CSystemInfo::kWin2000OrMe},
        {5, 1, CSystemInfo::kWinXP},         {5, 2, CSystemInfo::kServer2003}, {6, 0, CSystemInfo::kVista},
    };
    static const VersionBit k9xVersions[] = {
        {4, 0, CSystemInfo::kNT351OrWin95},
        {4, 10, CSystemInfo::kNT4OrWin98},
        {4, 90, CSystemInfo::kWin2000OrMe},
    };
    DWORD flags = 0;
    const VersionBit* begin = nullptr;
    const VersionBit* end = nullptr;
    if (platformId == VER_PLATFORM_WIN32_NT) {
        flags = CSystemInfo::kNT;
        begin = std::begin(kNTVersions);
        end = std::end(kNTVersions);
    } else if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        flags = CSystemInfo::kWin9x;
        begin = std::begin(k9xVersions);
        end = std::end(k9xVersions);
    }
    for (const VersionBit* entry = begin; entry != end; ++entry)
        if (entry->major == major && entry->minor == minor)
            flags |= entry->bit;
    return flags;
}

bool MultiStringNames(const wchar_t* data, size_t chars, const wchar_t* name)
{
    for (size_t at = 0; at < chars;) {
        const size_t length = wcsnlen(data + at, chars - at);
        if (length == 0)
            return false;
        if (std::wstring_view(data + at, length) == name)
            return true;
        at += length + 1;
    }
    return false;
}

void WriteSystemReport(CDebugLog& log, const CSystemInfo::Facts& facts)
{
    const bool nt = (facts.dwPlatformFlags & CSystemInfo::kNT) != 0;
    log.Write(L"OS Info: %s %d.%d (%x)", nt ? L"NT" : L"9x", static_cast<int>(facts.dwMajorVersion),
              static_cast<int>(facts.dwMinorVersion), static_cast<unsigned>(facts.dwPlatformFlags));
    if (facts.bServer)
        log.Write(L"NT Server");
    if (facts.wServicePackMajor != 0 || facts.wServicePackMinor != 0)
        log.Write(L"Service Pack: %d.%d", facts.wServicePackMajor, facts.wServicePackMinor);
    if (facts.bTerminalServices) {
        log.Write(L"Terminal Services are installed");
        if (facts.bActiveSession)
            log.Write(L"In Active Session");
    }
    if (nt && facts.bAdministrator)
        log.Write(L"Current User is Administrator");
}

CSystemInfo::CSystemInfo()
{
    if (g_bGathered)
        return;
    Gather(g_facts);
    g_bGathered = true;
    CDebugLog log;
    WriteSystemReport(log, g_facts);
}

bool CSystemInfo::IsNT() const
{
    return (g_facts.dwPlatformFlags & kNT) != 0;
}

const CSystemInfo::Facts& CSystemInfo::Get() const
{
    return g_facts;
}

} // namespace InstallToolBox
