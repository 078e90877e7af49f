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
#include "service/srinterfaces.h"
#include "standins/common/standin.h"
#include "support/stringimpl.h"

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
    const std::wstring text = standin::FromUtf8(standin::ReadFileText(standin::BesideModule(kServicesFile)));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
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

    KRVRESULT GetPath(sr::IString** path) override
    {
        return HandOut(L"GetPath", path, true, m_module.path);
    }

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

class CModuleCollection final : public standin::CObject<srService::IModuleCollection> {
public:
    CModuleCollection(const std::wstring& configName, const std::vector<Module>& modules)
        : CObject(L"IModuleCollection[" + configName + L"]"), m_sConfigName(configName), m_modules(modules)
    {
    }

    unsigned long GetCount() override
    {
        standin::Journal(Subject() + L".GetCount() -> " + std::to_wstring(m_modules.size()));
        return static_cast<unsigned long>(m_modules.size());
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

    bool GetItem(unsigned long index, srService::IServiceModule** module) override
    {
        const std::wstring call = Subject() + L".GetItem(" + std::to_wstring(index) + L")";
        unsigned long ignored = 0;
        bool found =
            module && index < m_modules.size() && !standin::Planted(L"IModuleCollection.GetItem", call, ignored);
        if (module)
            *module = found ? new (std::nothrow)
                                  CServiceModule(m_sConfigName + L"/" + std::to_wstring(index), m_modules[index])
                            : nullptr;
        found = found && *module;
        standin::Journal(call + (found ? L" -> true" : L" -> false"));
        return found;
    }

private:
    std::wstring m_sConfigName;
    std::vector<Module> m_modules;
};

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
            else if (!(*modules = new (std::nothrow) CModuleCollection(m_sName, config->modules)))
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

class CServiceConfigCollection final : public standin::CObject<srService::IServiceConfigCollection> {
public:
    explicit CServiceConfigCollection(std::vector<std::wstring> names)
        : CObject(L"IServiceConfigCollection"), m_names(std::move(names))
    {
    }

    unsigned long GetCount() override
    {
        standin::Journal(Subject() + L".GetCount() -> " + std::to_wstring(m_names.size()));
        return static_cast<unsigned long>(m_names.size());
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

    bool GetItem(unsigned long index, srService::IServiceConfig** config) override
    {
        const std::wstring call = Subject() + L".GetItem(" + std::to_wstring(index) + L")";
        unsigned long ignored = 0;
        bool found =
            config && index < m_names.size() && !standin::Planted(L"IServiceConfigCollection.GetItem", call, ignored);
        if (config)
            *config = found ? new (std::nothrow) CServiceConfig(m_names[index]) : nullptr;
        found = found && *config;
        standin::Journal(call + (found ? L" -> true, [" + m_names[index] + L"]" : L" -> false"));
        return found;
    }

private:
    std::vector<std::wstring> m_names;
};

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
            if (!(*configs = new (std::nothrow) CServiceConfigCollection(std::move(names))))
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
