#pragma once
#include <windows.h>

#include <map>
#include <string>

namespace srLib {
class CDebugOutput;
class CRegistry;
} // namespace srLib

namespace srKrv {

// The trace options as stored under HKEY_LOCAL_MACHINE\<base key>\DebugOutput (numbers as
// REG_DWORD, the directory as a string) with the per-module switches in its "Modules" subkey.
// A missing key or value, or a value of another type, leaves the default.
class CDebugOptions {
public:
    CDebugOptions() noexcept { Reset(); }

    // 1 when the options were read (also when there are none); 0 when the module switches could
    // not be read or the record could not be filled.
    int Load(const wchar_t* baseKey) noexcept;
    // Sets every option on target, then lets the module switches decide its level. 0 for a null
    // target or when the directory could not be set.
    int Apply(srLib::CDebugOutput* target) noexcept;

    DWORD m_dwDebugType;
    std::wstring m_strDirectory;
    DWORD m_dwOutputToDebugger;
    DWORD m_dwOutputToFile;
    DWORD m_dwAppendProcessIdToFile;
    DWORD m_dwPrependThreadId;
    DWORD m_dwPrependProcessId;
    DWORD m_dwPrependDateTime;
    DWORD m_dwPrependModuleName;
    DWORD m_dwAppendNewLine;
    DWORD m_dwPrependType;
    DWORD m_dwExclusiveModules;
    // Module name to switch, in name order.
    std::map<std::wstring, DWORD> m_mapModules;

private:
    void Reset() noexcept;
    int LoadFrom(const wchar_t* baseKey);
    void ReadValues(srLib::CRegistry& reg);
    int LoadModules(srLib::CRegistry& mapReg);
    void SelectModule(srLib::CDebugOutput& target) const noexcept;
};

} // namespace srKrv
