#include "support/debugoptions.h"

#include "support/catchconvention.h"
#include "support/debugoutput.h"
#include "support/formatstring.h"
#include "support/registry.h"
#include "support/trace.h"

namespace srKrv {
namespace {

const srLib::CCatchSite kLoadSite = {L"int __thiscall srKrv::CDebugOptions::Load(const wchar_t *) throw()",
                                     L"srKrv::CDebugOptions::Load(191)"};

// The value-name buffer of the module enumeration; a longer name ends the load.
const DWORD kModuleNameCapacity = 260;

// A 32-bit process on 64-bit Windows reads the 64-bit view, where the options are kept.
REGSAM OptionsAccess() noexcept
{
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        return KEY_READ | KEY_WOW64_64KEY;
    return KEY_READ;
}

bool BuildRegPath(std::wstring& path, const wchar_t* baseKey, const wchar_t* name)
{
    if (srLib::AppendFormat(path, L"%s\\%s", baseKey, name))
        return true;
    TraceError(L"CDebugOptions::BuildRegPath() : CStringConvert::Format() == false\n");
    return false;
}

void ReadNumber(srLib::CRegistry& reg, const wchar_t* name, DWORD& option) noexcept
{
    unsigned long number = 0;
    if (reg.GetNumber(name, number))
        option = number;
}

} // namespace

void CDebugOptions::Reset() noexcept
{
    m_dwDebugType = 0;
    m_strDirectory.clear();
    m_dwOutputToDebugger = 1;
    m_dwOutputToFile = 0;
    m_dwAppendProcessIdToFile = 1;
    m_dwPrependThreadId = 1;
    m_dwPrependProcessId = 1;
    m_dwPrependDateTime = 1;
    m_dwPrependModuleName = 1;
    m_dwAppendNewLine = 1;
    m_dwPrependType = 1;
    m_dwExclusiveModules = 0;
    m_mapModules.clear();
}

int CDebugOptions::Load(const wchar_t* baseKey) noexcept
{
    srLib::CExceptionInfo info;
    return srLib::RunWithCatchConvention(kLoadSite, info, 0, [&] { return LoadFrom(baseKey); });
}

int CDebugOptions::LoadFrom(const wchar_t* baseKey)
{
    Reset();
    std::wstring path;
    if (!BuildRegPath(path, baseKey, L"DebugOutput")) {
        TraceError(L"CDebugOptions::Load() : BuildRegPath() == FALSE\n");
        return 0;
    }
    srLib::CRegistry reg;
    if (!reg.Open(HKEY_LOCAL_MACHINE, path.c_str(), OptionsAccess(), FALSE))
        return 1;
    ReadValues(reg);
    srLib::CRegistry mapReg;
    if (!mapReg.Open(reg.GetKey(), L"Modules", KEY_READ, FALSE))
        return 1;
    return LoadModules(mapReg);
}

void CDebugOptions::ReadValues(srLib::CRegistry& reg)
{
    ReadNumber(reg, L"DebugType", m_dwDebugType);
    std::wstring directory;
    if (reg.GetString(L"Directory", directory))
        m_strDirectory.swap(directory);
    ReadNumber(reg, L"OutputToDebugger", m_dwOutputToDebugger);
    ReadNumber(reg, L"OutputToFile", m_dwOutputToFile);
    ReadNumber(reg, L"AppendProcessIdToFile", m_dwAppendProcessIdToFile);
    ReadNumber(reg, L"PrependThreadId", m_dwPrependThreadId);
    ReadNumber(reg, L"PrependProcessId", m_dwPrependProcessId);
    ReadNumber(reg, L"PrependDateTime", m_dwPrependDateTime);
    ReadNumber(reg, L"PrependModuleName", m_dwPrependModuleName);
    ReadNumber(reg, L"AppendNewLine", m_dwAppendNewLine);
    ReadNumber(reg, L"PrependType", m_dwPrependType);
    ReadNumber(reg, L"ExclusiveModules", m_dwExclusiveModules);
}

int CDebugOptions::LoadModules(srLib::CRegistry& mapReg)
{
    m_mapModules.clear();
    for (DWORD index = 0;; ++index) {
        wchar_t name[kModuleNameCapacity];
        unsigned long nameLength = kModuleNameCapacity;
        const LONG result = mapReg.EnumValue(index, name, &nameLength);
        if (result == ERROR_NO_MORE_ITEMS)
            return 1;
        if (result != ERROR_SUCCESS) {
            TraceError(L"CDebugOptions::Load() : mapReg.EnumValue() != ERROR_SUCCESS\n");
            return 0;
        }
        unsigned long number = 0;
        if (!mapReg.GetNumber(name, number)) {
            TraceError(L"CDebugOptions::Load() : mapReg.GetNumber() == FALSE\n");
            return 0;
        }
        m_mapModules[name] = number;
    }
}

int CDebugOptions::Apply(srLib::CDebugOutput* target) noexcept
{
    if (!target)
        return 0;
    target->SetLevel(static_cast<int>(m_dwDebugType));
    target->SetOutputToDebugger(static_cast<int>(m_dwOutputToDebugger));
    target->SetOutputToFile(static_cast<int>(m_dwOutputToFile));
    target->SetAppendProcessIdToFile(static_cast<int>(m_dwAppendProcessIdToFile));
    target->SetPrependThreadId(static_cast<int>(m_dwPrependThreadId));
    target->SetPrependProcessId(static_cast<int>(m_dwPrependProcessId));
    target->SetPrependDateTime(static_cast<int>(m_dwPrependDateTime));
    target->SetPrependModuleName(static_cast<int>(m_dwPrependModuleName));
    target->SetPrependType(static_cast<int>(m_dwPrependType));
    target->SetAppendNewLine(static_cast<int>(m_dwAppendNewLine));
    const bool directorySet = m_strDirectory.empty() || target->SetDirectory(m_strDirectory.c_str());
    SelectModule(*target);
    return directorySet ? 1 : 0;
}

void CDebugOptions::SelectModule(srLib::CDebugOutput& target) const noexcept
{
    if (m_dwExclusiveModules != 0 && !m_mapModules.empty())
        target.SetLevel(0);
    const wchar_t* moduleName = target.GetModuleName();
    for (const auto& module : m_mapModules) {
        if (CompareStringOrdinal(module.first.c_str(), -1, moduleName, -1, TRUE) == CSTR_EQUAL) {
            target.SetLevel(module.second != 0 ? static_cast<int>(m_dwDebugType) : 0);
            return;
        }
    }
}

} // namespace srKrv
