#include "standins/common/standin.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace standin {

namespace {

HMODULE g_hModule = nullptr;
std::wstring g_sFileStem;
std::wstring g_sSwitchKey;
LONG g_nLiveObjects = 0;

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return -1;
}

std::wstring SwitchKey()
{
    return L"Software\\KorvalinStandins\\" + g_sSwitchKey;
}

} // namespace

void Attach(HMODULE module, const wchar_t* fileStem, const wchar_t* switchKey)
{
    g_hModule = module;
    g_sFileStem = fileStem;
    g_sSwitchKey = switchKey;
}

std::wstring BesideModule(const std::wstring& fileName)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_hModule, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\') + 1);
    return folder + fileName;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), size, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), size, &out[0], chars);
    return out;
}

std::string ReadFileText(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

std::vector<std::wstring> ReadLinesBesideModule(const wchar_t* fileName)
{
    const std::wstring text = FromUtf8(ReadFileText(BesideModule(fileName)));
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

bool WriteFileText(const std::wstring& path, const std::string& text)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool done =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(file);
    return done;
}

void Journal(const std::wstring& line)
{
    const HANDLE file =
        CreateFileW(BesideModule(g_sFileStem + L"-journal.txt").c_str(), FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = Utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring ReadSwitch(const wchar_t* name)
{
    wchar_t value[512] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SwitchKey().c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    return value;
}

bool Planted(const wchar_t* call, const std::wstring& text, unsigned long& result)
{
    if (ReadSwitch(L"FailCall") != call)
        return false;
    const std::wstring match = ReadSwitch(L"FailMatch");
    if (!match.empty() && text.find(match) == std::wstring::npos)
        return false;
    DWORD planted = 0;
    DWORD bytes = sizeof(planted);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SwitchKey().c_str(), L"FailResult", RRF_RT_REG_DWORD, nullptr, &planted,
                     &bytes) == ERROR_SUCCESS)
        result = planted;
    return true;
}

KRVRESULT PlantedResult(const wchar_t* call, const std::wstring& text, bool& planted)
{
    unsigned long result = KRV_E_UNEXPECTED;
    planted = Planted(call, text, result);
    return planted ? result : KRV_S_OK;
}

void JournalResult(const std::wstring& text, unsigned long result, const std::wstring& detail)
{
    Journal(text + L" -> " + Hex(result) + (detail.empty() ? L"" : L", " + detail));
}

std::wstring Hex(unsigned long value)
{
    wchar_t text[16];
    _snwprintf(text, 16, L"0x%08lX", value);
    text[15] = L'\0';
    return text;
}

std::wstring GuidText(const KRVGUID& guid)
{
    wchar_t text[40];
    _snwprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
               guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
               guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    text[39] = L'\0';
    return text;
}

std::wstring Escape(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L'%' || c < 0x20) {
            wchar_t code[4];
            _snwprintf(code, 4, L"%%%02X", static_cast<unsigned>(c));
            code[3] = L'\0';
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring Unescape(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == L'%' && i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<wchar_t>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::wstring Quoted(const wchar_t* text)
{
    return text ? L"\"" + Escape(text) + L"\"" : std::wstring(L"null");
}

bool SameGuid(const KRVGUID& left, const KRVGUID& right)
{
    return std::memcmp(&left, &right, sizeof(KRVGUID)) == 0;
}

bool SameName(const std::wstring& left, const std::wstring& right)
{
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

long LiveObjects()
{
    return InterlockedCompareExchange(&g_nLiveObjects, 0, 0);
}

void CountObject(bool created)
{
    if (created)
        InterlockedIncrement(&g_nLiveObjects);
    else
        InterlockedDecrement(&g_nLiveObjects);
}

KRVRESULT CFactory::CreateInstance(const KRVGUID& interfaceId, void** object)
{
    const std::wstring call = Subject() + L".CreateInstance(" + GuidText(interfaceId) + L")";
    KRVRESULT result = KRV_E_INVALIDARG;
    if (object) {
        *object = nullptr;
        bool planted = false;
        result = PlantedResult(L"IKrvFactory.CreateInstance", call, planted);
        if (!planted && !SameGuid(interfaceId, m_served))
            result = KRV_E_NOINTERFACE;
        else if (!planted)
            result = (*object = m_create()) ? KRV_S_OK : KRV_E_OUTOFMEMORY;
    }
    JournalResult(call, result);
    return result;
}

KRVRESULT ServeFactory(const KRVGUID& objectId, IKrvFactory** factory, const KRVGUID& served, CFactory::Create create)
{
    const std::wstring call = L"GetFactory(" + GuidText(objectId) + L")";
    KRVRESULT result = KRV_E_INVALIDARG;
    if (factory) {
        *factory = nullptr;
        bool planted = false;
        result = PlantedResult(L"GetFactory", call, planted);
        if (!planted && !SameGuid(objectId, served))
            result = KRV_E_NOINTERFACE;
        else if (!planted)
            result = (*factory = new (std::nothrow) CFactory(served, create)) ? KRV_S_OK : KRV_E_OUTOFMEMORY;
    }
    JournalResult(call, result);
    return result;
}

void OnDllEvent(HMODULE module, DWORD reason, void* reserved, const wchar_t* fileStem, const wchar_t* switchKey)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Attach(module, fileStem, switchKey);
        Journal(L"load");
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        Journal(L"unload (live objects " + std::to_wstring(LiveObjects()) + L")");
    }
}

} // namespace standin
