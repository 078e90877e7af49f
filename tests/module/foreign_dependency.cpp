// A DLL that is not part of Windows, for the module-shape check to catch as an import.
extern "C" __declspec(dllexport) int ForeignHelper()
{
    return 1;
}
