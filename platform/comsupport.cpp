// The COM support functions that comutil.h and comdef.h declare and MinGW does not implement.
#include <windows.h>

#include <comdef.h>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* source)
{
    if (!source)
        return nullptr;
    const int chars = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
    if (chars == 0)
        _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(chars - 1));
    if (!text)
        _com_issue_error(E_OUTOFMEMORY);
    MultiByteToWideChar(CP_ACP, 0, source, -1, text, chars);
    return text;
}

// The text is allocated with new[], as _bstr_t releases it.
char* WINAPI ConvertBSTRToString(BSTR source)
{
    if (!source)
        return nullptr;
    const int chars = static_cast<int>(SysStringLen(source)) + 1;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, source, chars, nullptr, 0, nullptr, nullptr);
    if (bytes == 0)
        _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    char* text = new char[static_cast<size_t>(bytes)];
    WideCharToMultiByte(CP_ACP, 0, source, chars, text, bytes, nullptr, nullptr);
    return text;
}

} // namespace _com_util

// Raises hr with the error information the object left for that interface, when it offers any.
void WINAPI _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID interfaceId)
{
    IErrorInfo* info = nullptr;
    ISupportErrorInfo* support = nullptr;
    if (object && SUCCEEDED(object->QueryInterface(__uuidof(ISupportErrorInfo), reinterpret_cast<void**>(&support)))) {
        if (support->InterfaceSupportsErrorInfo(interfaceId) == S_OK && GetErrorInfo(0, &info) != S_OK)
            info = nullptr;
        support->Release();
    }
    __mingw_com_error_handler(hr, info);
}
