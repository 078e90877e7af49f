// Stand-in for the updater (PatchRelay): an in-process COM server with the product and group
// registry classes. It keeps the registered products in patchrelay-products.txt and journals
// every call to patchrelay-journal.txt, both beside the DLL, as UTF-8 text.
//
// A test makes a call fail with values under HKLM\Software\KorvalinStandins\PatchRelay:
// "FailCall" names the call (CreateProductRegistry, CreateGroupRegistry, RegisterProduct,
// UnregisterProduct, SetProperty), "FailMatch" (optional) limits it to calls whose first text
// argument or property name contains that text, "FailResult" (optional DWORD) is the HRESULT
// returned (E_FAIL by default).
#include "updater/patchrelayinterfaces.h"

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <fstream>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

using namespace InstallToolBox;

namespace {

HMODULE g_hModule = nullptr;
LONG g_nObjects = 0;
LONG g_nLocks = 0;

std::wstring BesideModule(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_hModule, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.rfind(L'\\') + 1);
    return folder + name;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring Text(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring(L"<null>");
}

void Journal(const std::wstring& line)
{
    std::ofstream out(BesideModule(L"patchrelay-journal.txt").c_str(), std::ios::app | std::ios::binary);
    out << Utf8(line) << "\n";
}

std::wstring ReadSwitch(const wchar_t* name)
{
    wchar_t value[256] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\KorvalinStandins\\PatchRelay", name, RRF_RT_REG_SZ, nullptr, value,
                     &bytes) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

// The failure a test asked for, or S_OK.
HRESULT Planted(const wchar_t* call, const std::wstring& argument)
{
    if (ReadSwitch(L"FailCall") != call)
        return S_OK;
    const std::wstring match = ReadSwitch(L"FailMatch");
    if (!match.empty() && argument.find(match) == std::wstring::npos)
        return S_OK;
    DWORD result = static_cast<DWORD>(E_FAIL);
    DWORD bytes = sizeof(result);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\KorvalinStandins\\PatchRelay", L"FailResult", RRF_RT_REG_DWORD,
                 nullptr, &result, &bytes);
    return static_cast<HRESULT>(result);
}

// Products by identifier, each with its named values, in the order they were first seen.
using Product = std::vector<std::pair<std::string, std::string>>;
using Products = std::vector<std::pair<std::string, Product>>;

Products LoadProducts()
{
    Products products;
    std::ifstream in(BesideModule(L"patchrelay-products.txt").c_str(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            products.emplace_back(line.substr(1, line.size() - 2), Product());
        else if (!products.empty() && line.find('=') != std::string::npos)
            products.back().second.emplace_back(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
    return products;
}

void SaveProducts(const Products& products)
{
    std::ofstream out(BesideModule(L"patchrelay-products.txt").c_str(), std::ios::trunc | std::ios::binary);
    for (const auto& product : products) {
        out << "[" << product.first << "]\n";
        for (const auto& value : product.second)
            out << value.first << "=" << value.second << "\n";
    }
}

Products::iterator Find(Products& products, const std::string& id)
{
    for (auto it = products.begin(); it != products.end(); ++it)
        if (it->first == id)
            return it;
    return products.end();
}

void SetValue(Product& product, const std::string& name, const std::string& value)
{
    for (auto& entry : product)
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    product.emplace_back(name, value);
}

template <class Interface> class CObject : public Interface {
public:
    CObject(const IID& iid, const wchar_t* name) : m_iid(iid), m_szName(name)
    {
        InterlockedIncrement(&g_nObjects);
        Journal(std::wstring(L"create ") + m_szName);
    }
    virtual ~CObject()
    {
        Journal(std::wstring(L"release ") + m_szName);
        InterlockedDecrement(&g_nObjects);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == m_iid) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_nRefs);
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

private:
    LONG m_nRefs = 1;
    IID m_iid;
    const wchar_t* m_szName;
};

class CProductRegistry final : public CObject<IPatchRelayProductRegistry> {
public:
    CProductRegistry() : CObject(IID_IPatchRelayProductRegistry, L"ProductRegistry") {}

    HRESULT STDMETHODCALLTYPE RegisterProduct(BSTR productName, BSTR version, BSTR language, BSTR reserved,
                                              VARIANT* productId) override
    {
        const bool isText = productId && productId->vt == VT_BSTR;
        const std::wstring id = isText ? Text(productId->bstrVal) : std::wstring(L"<not VT_BSTR>");
        Journal(L"RegisterProduct(" + Text(productName) + L", " + Text(version) + L", " + Text(language) + L", \"" +
                Text(reserved) + L"\", " + id + L")");
        const HRESULT planted = Planted(L"RegisterProduct", id);
        if (FAILED(planted) || !isText)
            return isText ? planted : E_INVALIDARG;
        Products products = LoadProducts();
        auto product = Find(products, Utf8(id));
        if (product == products.end())
            product = products.emplace(products.end(), Utf8(id), Product());
        SetValue(product->second, "ProductName", Utf8(Text(productName)));
        SetValue(product->second, "Version", Utf8(Text(version)));
        SetValue(product->second, "Language", Utf8(Text(language)));
        SaveProducts(products);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE UnregisterProduct(BSTR productId) override
    {
        const std::wstring id = Text(productId);
        Journal(L"UnregisterProduct(" + id + L")");
        const HRESULT planted = Planted(L"UnregisterProduct", id);
        if (FAILED(planted))
            return planted;
        Products products = LoadProducts();
        const auto product = Find(products, Utf8(id));
        if (product == products.end())
            return S_FALSE;
        products.erase(product);
        SaveProducts(products);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetProperty(BSTR productId, BSTR name, BSTR value) override
    {
        const std::wstring id = Text(productId);
        Journal(L"SetProperty(" + id + L", " + Text(name) + L", " + Text(value) + L")");
        const HRESULT planted = Planted(L"SetProperty", Text(name));
        if (FAILED(planted))
            return planted;
        Products products = LoadProducts();
        const auto product = Find(products, Utf8(id));
        if (product == products.end())
            return E_INVALIDARG;
        SetValue(product->second, Utf8(Text(name)), Utf8(Text(value)));
        SaveProducts(products);
        return S_OK;
    }
};

class CGroupRegistry final : public CObject<IPatchRelayGroupRegistry> {
public:
    CGroupRegistry() : CObject(IID_IPatchRelayGroupRegistry, L"GroupRegistry") {}
};

class CFactory final : public IClassFactory {
public:
    explicit CFactory(bool products) : m_bProducts(products) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        const HRESULT planted = Planted(m_bProducts ? L"CreateProductRegistry" : L"CreateGroupRegistry", L"");
        if (FAILED(planted))
            return planted;
        IUnknown* created = m_bProducts ? static_cast<IUnknown*>(new (std::nothrow) CProductRegistry())
                                        : static_cast<IUnknown*>(new (std::nothrow) CGroupRegistry());
        if (!created)
            return E_OUTOFMEMORY;
        const HRESULT result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock ? InterlockedIncrement(&g_nLocks) : InterlockedDecrement(&g_nLocks);
        return S_OK;
    }

private:
    bool m_bProducts;
};

CFactory g_productFactory(true);
CFactory g_groupFactory(false);

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[64];
    StringFromGUID2(guid, text, 64);
    return text;
}

LONG SetKeyValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClass(const CLSID& clsid, const wchar_t* description)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_hModule, path, MAX_PATH);
    const std::wstring key = L"CLSID\\" + GuidText(clsid);
    if (SetKeyValue(key, nullptr, description) != ERROR_SUCCESS ||
        SetKeyValue(key + L"\\InprocServer32", nullptr, path) != ERROR_SUCCESS ||
        SetKeyValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_hModule = instance;
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (clsid == CLSID_PatchRelayProductRegistry)
        return g_productFactory.QueryInterface(iid, object);
    if (clsid == CLSID_PatchRelayGroupRegistry)
        return g_groupFactory.QueryInterface(iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow()
{
    return (g_nObjects == 0 && g_nLocks == 0) ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer()
{
    const HRESULT products = RegisterClass(CLSID_PatchRelayProductRegistry, L"PatchRelay product registry");
    return FAILED(products) ? products : RegisterClass(CLSID_PatchRelayGroupRegistry, L"PatchRelay group registry");
}

extern "C" HRESULT __stdcall DllUnregisterServer()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_PatchRelayProductRegistry)).c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_PatchRelayProductRegistry)).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_PatchRelayGroupRegistry)).c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_PatchRelayGroupRegistry)).c_str());
    return S_OK;
}
