#include "updater/regprcmdlines.h"

namespace {

const UINT kEngineDescriptionId = 1000;
const UINT kControlDataDescriptionId = 1001;

} // namespace

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// String tables are stored sixteen strings to a block, each a length-prefixed text.
std::wstring LoadModuleString(HMODULE module, UINT id)
{
    const HRSRC block =
        FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (!block)
        return std::wstring();
    const HGLOBAL loaded = LoadResource(module, block);
    const WORD* entry = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!entry)
        return std::wstring();
    const WORD* end = entry + SizeofResource(module, block) / sizeof(WORD);
    for (UINT slot = 0; slot < id % 16 && entry < end; ++slot)
        entry += 1 + *entry;
    if (entry >= end || entry + 1 + *entry > end)
        return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(entry + 1), *entry);
}

CRegPRCmdLines::CRegPRCmdLines(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                               const wchar_t* uninstallCondition)
    : CPatchRelayAction(hInstall, name, installCondition, uninstallCondition)
{
}

BOOL CRegPRCmdLines::AddProducts(UINT& result)
{
    result = 0;
    const HMODULE module = ThisModule();
    const std::wstring engineDescription = LoadModuleString(module, kEngineDescriptionId);
    const std::wstring controlDataDescription = LoadModuleString(module, kControlDataDescriptionId);
    m_patchRelay.AddProduct(L"{5D7B2E90-4C18-4A3F-8E61-B02F9D4C7A13}", L"ORB Submission Engine", L"11.0",
                            L"KrvAllLanguages", engineDescription.c_str(), FALSE, FALSE);
    m_patchRelay.AddProduct(L"{3B6E0A2F-91C7-4d5e-A2B4-7F1C8E0D5962}", L"QELM Submission Control Data", L"11.0",
                            L"KrvAllLanguages", controlDataDescription.c_str(), TRUE, TRUE);
    return TRUE;
}
