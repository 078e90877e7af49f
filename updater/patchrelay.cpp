#include "updater/patchrelay.h"

#include <oleauto.h>

#include <cwchar>
#include <new>

namespace InstallToolBox {
namespace {

const int kCreateAttempts = 20;
const DWORD kCreateRetryMs = 500;
const DWORD kInprocContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Memory running out while the strings for the updater are made is raised, not logged: it ends
// the action's call with a failure, where a product the updater refuses is only skipped.
BSTR AllocateBstr(const wchar_t* text)
{
    const BSTR bstr = SysAllocString(text);
    if (!bstr)
        throw std::bad_alloc();
    return bstr;
}

// Owns one BSTR.
class CBstr {
public:
    explicit CBstr(const wchar_t* text) : m_bstr(AllocateBstr(text)) {}
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { SysFreeString(m_bstr); }
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// A VARIANT of type VT_BSTR holding its own copy of a text; always cleared.
class CBstrVariant {
public:
    explicit CBstrVariant(const wchar_t* text)
    {
        VariantInit(&m_variant);
        m_variant.bstrVal = AllocateBstr(text);
        m_variant.vt = VT_BSTR;
    }
    CBstrVariant(const CBstrVariant&) = delete;
    CBstrVariant& operator=(const CBstrVariant&) = delete;
    ~CBstrVariant() { VariantClear(&m_variant); }
    VARIANT* Get() { return &m_variant; }

private:
    VARIANT m_variant;
};

void CopyField(wchar_t (&field)[260], const wchar_t* text)
{
    field[0] = L'\0';
    if (text)
        wcsncat(field, text, 259);
}

} // namespace

CPatchRelay::~CPatchRelay()
{
    m_products.clear();
    m_pGroupRegistry.Release();
    m_pProductRegistry.Release();
}

int CPatchRelay::AddProduct(const wchar_t* productGuid, const wchar_t* productName, const wchar_t* version,
                            const wchar_t* language, const wchar_t* descriptiveName, DWORD autoUpdate, DWORD silent)
{
    ProductEntry entry = {};
    CopyField(entry.ProductGuid, productGuid);
    CopyField(entry.ProductName, productName);
    CopyField(entry.Version, version);
    CopyField(entry.Language, language);
    CopyField(entry.DescriptiveName, descriptiveName ? descriptiveName : productName);
    entry.AutoUpdate = autoUpdate;
    entry.Silent = silent;
    m_products.push_back(entry);
    return 0;
}

void CPatchRelay::ReleaseObjects()
{
    m_pProductRegistry.Release();
    m_pGroupRegistry.Release();
}

// The updater may still be starting while the installation runs, hence the patient retries.
// Whatever one failed attempt created is released by the next attempt, and after the last one.
HRESULT CPatchRelay::CreateObjects()
{
    HRESULT result = E_FAIL;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        result = CoCreateInstance(CLSID_PatchRelayProductRegistry, nullptr, kInprocContext,
                                  IID_IPatchRelayProductRegistry, m_pProductRegistry.ReceiveInto());
        if (SUCCEEDED(result))
            result = CoCreateInstance(CLSID_PatchRelayGroupRegistry, nullptr, kInprocContext,
                                      IID_IPatchRelayGroupRegistry, m_pGroupRegistry.ReceiveInto());
        if (SUCCEEDED(result))
            return result;
        m_log.Write(L"CoCreateInstance failed: 0x%x", static_cast<unsigned>(result));
        ReleaseObjects();
        Sleep(kCreateRetryMs);
    }
    return result;
}

HRESULT CPatchRelay::RegisterProduct(const ProductEntry& product)
{
    const CBstr guid(product.ProductGuid);
    const CBstr name(product.ProductName);
    const CBstr version(product.Version);
    const CBstr language(product.Language);
    const CBstr reserved(L"");
    const CBstr descriptiveNameKey(L"DescriptiveName");
    const CBstr descriptiveName(product.DescriptiveName);
    CBstrVariant productId(product.ProductGuid);

    m_log.Write(L"RegisterProduct(%s, %s, %s, %s)", product.ProductName, product.Version, product.Language,
                product.ProductGuid);
    HRESULT result =
        m_pProductRegistry->RegisterProduct(name.Get(), version.Get(), language.Get(), reserved.Get(), productId.Get());
    if (FAILED(result))
        return result;
    m_log.Write(L"SetProperty(%s, DescName = %s)", product.ProductGuid, product.DescriptiveName);
    result = m_pProductRegistry->SetProperty(guid.Get(), descriptiveNameKey.Get(), descriptiveName.Get());
    if (FAILED(result))
        return result;
    SetAutoPatchRelay(guid.Get(), product.AutoUpdate, product.Silent);
    return S_OK;
}

void CPatchRelay::SetAutoPatchRelay(BSTR productGuid, DWORD autoUpdate, DWORD silent)
{
    const CBstr autoKey(L"AUTOPATCHRELAY");
    const CBstr typeKey(L"AUTOPATCHRELAYTYPE");
    const CBstr autoValue(autoUpdate ? L"YES" : L"NO");
    const CBstr typeValue(autoUpdate && silent ? L"SILENT" : L"NOISY");
    m_pProductRegistry->SetProperty(productGuid, autoKey.Get(), autoValue.Get());
    m_pProductRegistry->SetProperty(productGuid, typeKey.Get(), typeValue.Get());
}

HRESULT CPatchRelay::RegisterProducts(bool registering)
{
    const HRESULT created = CreateObjects();
    if (FAILED(created))
        return created;
    for (const ProductEntry& product : m_products) {
        if (!registering) {
            const CBstr guid(product.ProductGuid);
            m_pProductRegistry->UnregisterProduct(guid.Get());
            continue;
        }
        const HRESULT result = RegisterProduct(product);
        if (FAILED(result))
            m_log.Write(L"RegisterProduct or SetProperty failed: 0x%x", static_cast<unsigned>(result));
    }
    ReleaseObjects();
    return S_OK;
}

// No groups are registered: the step only proves that both classes can be created again.
HRESULT CPatchRelay::RegisterGroups(bool)
{
    const HRESULT created = CreateObjects();
    if (FAILED(created))
        return created;
    ReleaseObjects();
    return S_OK;
}

HRESULT CPatchRelay::Register()
{
    if (RegisterProducts(true) != S_OK)
        return E_FAIL;
    return RegisterGroups(true);
}

HRESULT CPatchRelay::Unregister()
{
    if (RegisterProducts(false) != S_OK)
        return E_FAIL;
    return RegisterGroups(false);
}

} // namespace InstallToolBox
