// A module with one action too many and an import from a non-system DLL.
#include <windows.h>

extern "C" __declspec(dllimport) int ForeignHelper();

extern "C" UINT __stdcall WriteInstalledAppsKey(unsigned long)
{
    return 0;
}

extern "C" UINT __stdcall UnexpectedAction(unsigned long)
{
    return static_cast<UINT>(ForeignHelper());
}
