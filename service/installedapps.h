#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace srKrv {

// The folders the maker's components record under HKLM\Software\Korvalin\InstalledApps.
class CInstalledApps {
public:
    // Registry view of the lookup: the process's default, the 64-bit or the 32-bit view.
    enum View {
        eDefaultView = 0,
        e64BitView = 1,
        e32BitView = 2,
    };

    // The folder in the string value name, trailing backslashes removed. False, with folder
    // untouched, when the key or value is missing, unreadable or empty.
    static bool GetInstAppsDirectory(const wchar_t* name, std::wstring& folder, int view = eDefaultView) noexcept;
    // The shared runtime directory: the value "Shared Runtime", else GetKrvSharedDirectory.
    static bool GetSRDirectory(std::wstring& folder) noexcept;
    // "<common program files>\Korvalin Shared".
    static bool GetKrvSharedDirectory(std::wstring& folder) noexcept;

    // How the common program-files folder is asked for, shaped like SHGetSpecialFolderPathW.
    using SpecialFolderQuery = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
    // Replaces the platform's query, for failures the platform cannot produce on demand;
    // returns the query in force before.
    static SpecialFolderQuery SetSpecialFolderQuery(SpecialFolderQuery query) noexcept;
};

// Where shared-runtime components are looked for: the shared runtime directory.
class CSRPathProvider {
public:
    // Copies the directory with its terminator into buffer when size (bytes) holds it, and sets
    // size to the bytes it needs, (characters + 1) * 2. False when there is no directory (size
    // then 0) or it does not fit (size then above what was given).
    static bool GetPath(wchar_t* buffer, size_t* size) noexcept;
};

} // namespace srKrv
