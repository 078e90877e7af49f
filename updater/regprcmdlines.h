#pragma once
#include "updater/patchrelayaction.h"

#include <string>

// The sample-submission component's two products at the updater: the submission engine and its
// control data.
class CRegPRCmdLines : public InstallToolBox::CPatchRelayAction {
public:
    CRegPRCmdLines(MSIHANDLE hInstall, const wchar_t* name, const wchar_t* installCondition,
                   const wchar_t* uninstallCondition);

    BOOL AddProducts(UINT& result) override;
};

// A string of the module's string table, looked up language-neutrally; empty when missing.
std::wstring LoadModuleString(HMODULE module, UINT id);

// The module that holds this code (the DLL, or the program it is linked into).
HMODULE ThisModule();
