#pragma once
#include <windows.h>

#include "framework/debuglog.h"
#include "updater/patchrelayinterfaces.h"

#include <vector>

namespace InstallToolBox {

struct ProductEntry {
    wchar_t ProductGuid[260];
    wchar_t ProductName[260];
    wchar_t Version[260];
    wchar_t Language[260];
    wchar_t DescriptiveName[260];
    DWORD AutoUpdate;
    DWORD Silent;
};

// Owns one reference to a COM interface; released when replaced or destroyed.
template <class Interface> class CInterfacePtr {
public:
    CInterfacePtr() = default;
    CInterfacePtr(const CInterfacePtr&) = delete;
    CInterfacePtr& operator=(const CInterfacePtr&) = delete;
    ~CInterfacePtr() { Release(); }

    void Release()
    {
        if (m_p) {
            m_p->Release();
            m_p = nullptr;
        }
    }
    // Releases what is held and hands out the slot for a creation call to fill.
    void** ReceiveInto()
    {
        Release();
        return reinterpret_cast<void**>(&m_p);
    }
    Interface* operator->() const { return m_p; }
    Interface* Get() const { return m_p; }

private:
    Interface* m_p = nullptr;
};

// Registers the listed products with the updater (PatchRelay) and removes them again. Its
// messages go to its own install debug log, held open for the object's life.
class CPatchRelay {
public:
    CPatchRelay() = default;
    virtual ~CPatchRelay();
    CPatchRelay(const CPatchRelay&) = delete;
    CPatchRelay& operator=(const CPatchRelay&) = delete;

    // Text beyond 259 characters is cut. A null descriptive name stands for the product name.
    int AddProduct(const wchar_t* productGuid, const wchar_t* productName, const wchar_t* version,
                   const wchar_t* language, const wchar_t* descriptiveName, DWORD autoUpdate, DWORD silent);

    // Both return S_OK unless the updater's objects cannot be created: a product the updater
    // refuses is logged and skipped. Memory running out for the strings raises std::bad_alloc.
    HRESULT Register();
    HRESULT Unregister();

    HRESULT RegisterProducts(bool registering);
    HRESULT RegisterGroups(bool registering);

    const std::vector<ProductEntry>& Products() const { return m_products; }

private:
    HRESULT CreateObjects();
    HRESULT RegisterProduct(const ProductEntry& product);
    void SetAutoPatchRelay(BSTR productGuid, DWORD autoUpdate, DWORD silent);
    void ReleaseObjects();

    CDebugLog m_log;
    CInterfacePtr<IPatchRelayProductRegistry> m_pProductRegistry;
    CInterfacePtr<IPatchRelayGroupRegistry> m_pGroupRegistry;
    std::vector<ProductEntry> m_products;
};

} // namespace InstallToolBox
