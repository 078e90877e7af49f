// Stand-in for the shared service host's module "srSvc.dll": its service manager lists the
// running service configurations and the modules loaded in each, and loads and unloads modules.
//
// The configurations live in srsvc-services.txt beside the DLL (UTF-8): a line "[name]" opens a
// configuration, each following line is one loaded module, "path" or "path|name". Every call is
// journaled to srsvc-journal.txt; the strings handed out are counted but not journaled.
//
// A test makes a call fail with values under HKLM\Software\KorvalinStandins\srSvc: "FailCall"
// names the call as the journal does without the bracketed part ("IServiceConfig.UnloadModule"),
// "FailMatch" (optional) is a part of the journaled call ("[Antivirus]", "(1)"), "FailResult"
// (optional DWORD) the KRVRESULT returned, 0x8001FFFF by default. A failing GetItem answers false.
#include "standins/common/standin.h"
#include "support/srinterfaces.h"

#include <new>
#include <string>
#include <vector>

namespace {

struct Module {
    std::wstring path;
    bool hasName = false;
    std::wstring name;
};

struct Config {
    std::wstring name;
    std::vector<Module> modules;
};

using Services = std::vector<Config>;

const wchar_t kServicesFile[] = L"srsvc-services.txt";

Services LoadServices()
{
    Services services;
    for (const std::wstring& line : standin::ReadLinesBesideModule(kServicesFile)) {
        if (line.empty())
            continue;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            services.push_back(Config{line.substr(1, line.size() - 2), {}});
            continue;
        }
        if (services.empty())
            continue;
        Module module;
        const size_t bar = line.find(L'|');
        module.path = line.substr(0, bar);
        if (bar != std::wstring::npos) {
            module.hasName = true;
            module.name = line.substr(bar + 1);
        }
        services.back().modules.push_back(module);
    }
    return services;
}

bool SaveServices(const Services& services)
{
    std::wstring text;
    for (const Config& config : services) {
        text += L"[" + config.name + L"]\n";
        for (const Module& module : config.modules)
            text += module.hasName ? module.path + L"|" + module.name + L"\n" : module.path + L"\n";
    }
    return standin::WriteFileText(standin::BesideModule(kServicesFile), standin::Utf8(text));
}

Config* FindConfig(Services& services, const std::wstring& name)
{
    for (Config& config : services)
        if (config.name == name)
            return &config;
    return nullptr;
}

// The host's text objects: wide text as set, converted to 8-bit text with the ANSI code page on
// request.
class CString final : public standin::CObject<sr::IString> {
public:
    explicit CString(const std::wstring& text) : CObject(std::wstring()), m_sText(text) {}

    void Clear() override
    {
        m_sText.clear();
        m_eType = eNone;
    }
    long GetStringType() const override { return m_eType; }
    size_t GetLength() const override { return m_sText.size(); }
    const char* GetStringA() const override
    {
        m_sAnsi.clear();
        const int chars = static_cast<int>(m_sText.size());
        const int bytes = WideCharToMultiByte(CP_ACP, 0, m_sText.c_str(), chars, nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            m_sAnsi.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_ACP, 0, m_sText.c_str(), chars, &m_sAnsi[0], bytes, nullptr, nullptr);
        }
        return m_sAnsi.c_str();
    }
    bool SetStringA(const char* text) override
    {
        Clear();
        const std::string ansi = text ? text : "";
        const int bytes = static_cast<int>(ansi.size());
        const int chars = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), bytes, nullptr, 0);
        if (chars > 0) {
            m_sText.resize(static_cast<size_t>(chars));
            MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), bytes, &m_sText[0], chars);
        }
        m_eType = eAnsi;
        return true;
    }
    bool SetString(const wchar_t* text) override { return SetStringW(text); }
    bool SetString(const char* text) override { return SetStringA(text); }
    const wchar_t* GetStringW() const override { return m_sText.c_str(); }
    bool SetStringW(const wchar_t* text) override
    {
        m_sText = text ? text : L"";
        m_eType = eWide;
        return true;
    }

private:
    std::wstring m_sText;
    long m_eType = eWide;
    mutable std::string m_sAnsi;
};

class CServiceModule final : public standin::CObject<srService::IServiceModule> {
public:
    CServiceModule(const std::wstring& tag, const Module& module)
        : CObject(L"IServiceModule[" + tag + L"]"), m_module(module)
    {
    }

    STANDIN_RESERVED_SLOT(3)
    STANDIN_RESERVED_SLOT(5)

    KRVRESULT GetPath(sr::IString** path) override { return HandOut(L"GetPath", path, true, m_module.path); }

    KRVRESULT GetName(sr::IString** name) override
    {
        return HandOut(L"GetName", name, m_module.hasName, m_module.name);
    }

private:
    KRVRESULT HandOut(const wchar_t* operation, sr::IString** out, bool present, const std::wstring& text)
    {
        const std::wstring call = Subject() + L"." + operation + L"()";
        if (!out) {
            standin::JournalResult(call, KRV_E_INVALIDARG);
            return KRV_E_INVALIDARG;
        }
        *out = nullptr;
        bool planted = false;
        const std::wstring name = std::wstring(L"IServiceModule.") + operation;
        const KRVRESULT result = standin::PlantedResult(name.c_str(), call, planted);
        if (planted) {
            standin::JournalResult(call, result);
            return result;
        }
        if (!present) {
            standin::JournalResult(call, KRV_S_FALSE, L"null");
            return KRV_S_FALSE;
        }
        *out = new (std::nothrow) CString(text);
        const KRVRESULT created = *out ? KRV_S_OK : KRV_E_OUTOFMEMORY;
        standin::JournalResult(call, created, standin::Quoted(text.c_str()));
        return created;
    }

    Module m_module;
};

// The host's collections of configurations and of modules: a count, and the item at an index
// made into an object by make each time GetItem asks for it; the journal adds detail(item) to a
// GetItem that found one.
template <class Interface, class ItemInterface, class Item>
class CCollection final : public standin::CObject<Interface> {
public:
    using Make = ItemInterface* (*)(const std::wstring& owner, unsigned long index, const Item& item);
    using Detail = std::wstring (*)(const Item& item);
    using standin::CObject<Interface>::Subject;

    // owner: the configuration a module collection belongs to, or empty.
    CCollection(const std::wstring& interfaceName, const std::wstring& owner, std::vector<Item> items, Make make,
                Detail detail)
        : standin::CObject<Interface>(owner.empty() ? interfaceName : interfaceName + L"[" + owner + L"]"),
          m_sPlantedName(interfaceName + L".GetItem"), m_sOwner(owner), m_items(std::move(items)), m_make(make),
          m_detail(detail)
    {
    }

    unsigned long GetCount() override
    {
        standin::Journal(Subject() + L".GetCount() -> " + std::to_wstring(m_items.size()));
        return static_cast<unsigned long>(m_items.size());
    }

    STANDIN_RESERVED_SLOT(4)
    STANDIN_RESERVED_SLOT(5)
    STANDIN_RESERVED_SLOT(6)
    STANDIN_RESERVED_SLOT(7)
    STANDIN_RESERVED_SLOT(8)
    STANDIN_RESERVED_SLOT(9)
    STANDIN_RESERVED_SLOT(10)
    STANDIN_RESERVED_SLOT(11)
    STANDIN_RESERVED_SLOT(12)

    bool GetItem(unsigned long index, ItemInterface** item) override
    {
        const std::wstring call = Subject() + L".GetItem(" + std::to_wstring(index) + L")";
        unsigned long ignored = 0;
        bool found = item && index < m_items.size() && !standin::Planted(m_sPlantedName.c_str(), call, ignored);
        if (item)
            *item = found ? m_make(m_sOwner, index, m_items[index]) : nullptr;
        found = found && *item;
        standin::Journal(call + (found ? L" -> true" + m_detail(m_items[index]) : L" -> false"));
        return found;
    }

private:
    std::wstring m_sPlantedName;
    std::wstring m_sOwner;
    std::vector<Item> m_items;
    Make m_make;
    Detail m_detail;
};

srService::IServiceModule* MakeModule(const std::wstring& config, unsigned long index, const Module& module)
{
    return new (std::nothrow) CServiceModule(config + L"/" + std::to_wstring(index), module);
}

std::wstring NoDetail(const Module&)
{
    return std::wstring();
}

using CModuleCollection = CCollection<srService::IModuleCollection, srService::IServiceModule, Module>;

class CServiceConfig final : public standin::CObject<srService::IServiceConfig> {
public:
    explicit CServiceConfig(const std::wstring& name) : CObject(L"IServiceConfig[" + name + L"]"), m_sName(name) {}

    KRVRESULT GetLoadedModules(srService::IModuleCollection** modules) override
    {
        const std::wstring call = Subject() + L".GetLoadedModules()";
        if (!modules) {
            standin::JournalResult(call, KRV_E_INVALIDARG);
            return KRV_E_INVALIDARG;
        }
        *modules = nullptr;
        bool planted = false;
        KRVRESULT result = standin::PlantedResult(L"IServiceConfig.GetLoadedModules", call, planted);
        if (!planted) {
            Services services = LoadServices();
            const Config* config = FindConfig(services, m_sName);
            if (!config)
                result = KRV_E_NOTFOUND;
            else if (!(*modules = new (std::nothrow)
                           CModuleCollection(L"IModuleCollection", m_sName, config->modules, MakeModule, NoDetail)))
                result = KRV_E_OUTOFMEMORY;
        }
        standin::JournalResult(call, result);
        return result;
    }

    // A module already loaded from path stays as it is and gives KRV_S_FALSE.
    KRVRESULT LoadModule(const wchar_t* path, const wchar_t* name) override
    {
        const std::wstring call =
            Subject() + L".LoadModule(" + standin::Quoted(path) + L", " + standin::Quoted(name) + L")";
        const KRVRESULT result = Change(L"IServiceConfig.LoadModule", call, path, [&](Config& config) {
            for (const Module& module : config.modules)
                if (standin::SameName(module.path, path))
                    return KRV_S_FALSE;
            config.modules.push_back(Module{path, name != nullptr, name ? name : L""});
            return KRV_S_OK;
        });
        standin::JournalResult(call, result);
        return result;
    }

    KRVRESULT UnloadModule(const wchar_t* path) override
    {
        const std::wstring call = Subject() + L".UnloadModule(" + standin::Quoted(path) + L")";
        const KRVRESULT result = Change(L"IServiceConfig.UnloadModule", call, path, [&](Config& config) {
            for (auto it = config.modules.begin(); it != config.modules.end(); ++it)
                if (standin::SameName(it->path, path)) {
                    config.modules.erase(it);
                    return KRV_S_OK;
                }
            return KRV_E_NOTFOUND;
        });
        standin::JournalResult(call, result);
        return result;
    }

private:
    // Applies edit to this configuration in the stored services and stores them again.
    template <class Edit>
    KRVRESULT Change(const wchar_t* name, const std::wstring& call, const wchar_t* path, Edit edit)
    {
        if (!path)
            return KRV_E_INVALIDARG;
        bool planted = false;
        const KRVRESULT result = standin::PlantedResult(name, call, planted);
        if (planted)
            return result;
        Services services = LoadServices();
        Config* config = FindConfig(services, m_sName);
        if (!config)
            return KRV_E_NOTFOUND;
        const KRVRESULT edited = edit(*config);
        if (edited == KRV_S_OK && !SaveServices(services))
            return KRV_E_ACCESSDENIED;
        return edited;
    }

    std::wstring m_sName;
};

srService::IServiceConfig* MakeConfig(const std::wstring&, unsigned long, const std::wstring& name)
{
    return new (std::nothrow) CServiceConfig(name);
}

std::wstring ConfigDetail(const std::wstring& name)
{
    return L", [" + name + L"]";
}

using CServiceConfigCollection =
    CCollection<srService::IServiceConfigCollection, srService::IServiceConfig, std::wstring>;

class CServiceManager final : public standin::CObject<srService::IServiceManager> {
public:
    CServiceManager() : CObject(L"IServiceManager") {}

    STANDIN_RESERVED_SLOT(3)
    STANDIN_RESERVED_SLOT(4)
    STANDIN_RESERVED_SLOT(5)
    STANDIN_RESERVED_SLOT(6)
    STANDIN_RESERVED_SLOT(7)
    STANDIN_RESERVED_SLOT(8)
    STANDIN_RESERVED_SLOT(9)

    KRVRESULT GetRunningServices(srService::IServiceConfigCollection** configs) override
    {
        const std::wstring call = Subject() + L".GetRunningServices()";
        if (!configs) {
            standin::JournalResult(call, KRV_E_INVALIDARG);
            return KRV_E_INVALIDARG;
        }
        *configs = nullptr;
        bool planted = false;
        KRVRESULT result = standin::PlantedResult(L"IServiceManager.GetRunningServices", call, planted);
        if (!planted) {
            std::vector<std::wstring> names;
            for (const Config& config : LoadServices())
                names.push_back(config.name);
            if (!(*configs = new (std::nothrow) CServiceConfigCollection(L"IServiceConfigCollection", std::wstring(),
                                                                         std::move(names), MakeConfig, ConfigDetail)))
                result = KRV_E_OUTOFMEMORY;
        }
        standin::JournalResult(call, result);
        return result;
    }
};

void* CreateServiceManager()
{
    return static_cast<srService::IServiceManager*>(new (std::nothrow) CServiceManager());
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    standin::OnDllEvent(instance, reason, reserved, L"srsvc", L"srSvc");
    return TRUE;
}

extern "C" KRVRESULT __stdcall GetFactory(const KRVGUID& objectId, IKrvFactory** factory)
{
    return standin::ServeFactory(objectId, factory, srService::IID_ServiceManager, CreateServiceManager);
}

extern "C" long __stdcall GetObjectCount()
{
    return standin::LiveObjects();
}
