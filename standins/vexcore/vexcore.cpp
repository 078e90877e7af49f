// Stand-in for the submission engine "vexcore.dll": its configuration manager, the submission
// configurations and the engine-wide configuration, each holding typed values under numeric keys.
//
// The store is vexcore-configs.txt beside the DLL (UTF-8), so it outlives the DLL being freed
// and loaded again: a section "[engine]" or "[config N]" per configuration, then one line per
// value, "key=dword:30", "key=string:text" (with %, CR, LF and other control characters written
// as %XX), "key=guid:{...}" or "key=bool:true". A configuration reaches the store only through
// its Save; RemoveConfig takes it out of the store at once. Every call is journaled to
// vexcore-journal.txt.
//
// A test makes a call fail with values under HKLM\Software\KorvalinStandins\vexcore: "FailCall"
// names the call as the journal does without the bracketed part ("IConfigManager.NewConfig",
// "IConfig.Save", "IKeyValueCollection.SetDwordValue"), "FailMatch" (optional) is a part of the
// journaled call ("[engine]", "(257,"), "FailResult" (optional DWORD) what the call returns:
// the HRESULT (E_FAIL by default), the number Save returns (1 by default), the KRVRESULT of
// GetFactory and CreateInstance (0x8001FFFF by default). A failing value operation answers
// false and changes nothing.
#include "standins/common/standin.h"
#include "support/srinterfaces.h"
#include "update/engineinterfaces.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

struct Value {
    enum Kind { eDword, eString, eGuid, eBool };
    Kind kind = eDword;
    DWORD dword = 0;
    std::wstring text;
    GUID guid = {};
    bool flag = false;
};

using Values = std::map<unsigned long, Value>;

// Configuration number 0 is the engine-wide configuration.
const unsigned long kEngine = 0;

struct Store {
    std::map<unsigned long, Values> configs;
};

const wchar_t kStoreFile[] = L"vexcore-configs.txt";

std::wstring GuidText(const GUID& guid)
{
    KRVGUID krv;
    static_assert(sizeof(krv) == sizeof(guid), "KRVGUID has the GUID layout");
    std::memcpy(&krv, &guid, sizeof(krv));
    return standin::GuidText(krv);
}

std::wstring ValueText(const Value& value)
{
    switch (value.kind) {
    case Value::eDword:
        return L"dword:" + std::to_wstring(value.dword);
    case Value::eString:
        return L"string:" + standin::Escape(value.text);
    case Value::eGuid:
        return L"guid:" + GuidText(value.guid);
    case Value::eBool:
        return value.flag ? L"bool:true" : L"bool:false";
    }
    return std::wstring();
}

bool ParseValue(const std::wstring& text, Value& value)
{
    const size_t colon = text.find(L':');
    if (colon == std::wstring::npos)
        return false;
    const std::wstring kind = text.substr(0, colon);
    const std::wstring data = text.substr(colon + 1);
    if (kind == L"dword") {
        value.kind = Value::eDword;
        value.dword = static_cast<DWORD>(std::wcstoul(data.c_str(), nullptr, 10));
    } else if (kind == L"string") {
        value.kind = Value::eString;
        value.text = standin::Unescape(data);
    } else if (kind == L"guid") {
        value.kind = Value::eGuid;
        return SUCCEEDED(IIDFromString(data.c_str(), &value.guid));
    } else if (kind == L"bool") {
        value.kind = Value::eBool;
        value.flag = data == L"true";
    } else {
        return false;
    }
    return true;
}

Store LoadStore()
{
    Store store;
    Values* section = nullptr;
    for (const std::wstring& line : standin::ReadLinesBesideModule(kStoreFile)) {
        if (line == L"[engine]") {
            section = &store.configs[kEngine];
        } else if (line.size() > 9 && line.compare(0, 8, L"[config ") == 0 && line.back() == L']') {
            const unsigned long id = std::wcstoul(line.c_str() + 8, nullptr, 10);
            section = id != kEngine ? &store.configs[id] : nullptr;
        } else if (section && line.find(L'=') != std::wstring::npos) {
            Value value;
            const size_t equals = line.find(L'=');
            if (ParseValue(line.substr(equals + 1), value))
                (*section)[std::wcstoul(line.c_str(), nullptr, 10)] = value;
        }
    }
    return store;
}

bool SaveStore(const Store& store)
{
    std::wstring text;
    for (const auto& config : store.configs) {
        text += config.first == kEngine ? std::wstring(L"[engine]\n")
                                        : L"[config " + std::to_wstring(config.first) + L"]\n";
        for (const auto& value : config.second)
            text += std::to_wstring(value.first) + L"=" + ValueText(value.second) + L"\n";
    }
    return standin::WriteFileText(standin::BesideModule(kStoreFile), standin::Utf8(text));
}

std::wstring ConfigName(unsigned long id)
{
    return id == kEngine ? std::wstring(L"engine") : L"config " + std::to_wstring(id);
}

// For calls that return an HRESULT: the planted result (E_FAIL unless "FailResult" says
// otherwise) with planted set, or S_OK.
HRESULT PlantedHresult(const wchar_t* call, const std::wstring& text, bool& planted)
{
    unsigned long result = static_cast<unsigned long>(E_FAIL);
    planted = standin::Planted(call, text, result);
    return planted ? static_cast<HRESULT>(result) : S_OK;
}

HRESULT Journaled(const std::wstring& call, HRESULT result, const std::wstring& detail = std::wstring())
{
    standin::JournalResult(call, static_cast<unsigned long>(result), detail);
    return result;
}

class CConfig final : public standin::CObject<clfs::svc::IConfig> {
public:
    CConfig(unsigned long id, Values values)
        : CObject(L"IConfig[" + ConfigName(id) + L"]"), m_nId(id), m_values(std::move(values))
    {
    }

    DWORD Save(DWORD argument) override
    {
        const std::wstring call = Subject() + L".Save(" + std::to_wstring(argument) + L")";
        unsigned long result = 1;
        if (!standin::Planted(L"IConfig.Save", call, result)) {
            Store store = LoadStore();
            store.configs[m_nId] = m_values;
            result = SaveStore(store) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
        }
        standin::Journal(call + L" -> " + std::to_wstring(result));
        return result;
    }

    STANDIN_RESERVED_SLOT(4)
    STANDIN_RESERVED_SLOT(5)

    HRESULT GetData(sr::IKeyValueCollection** values) override;

    unsigned long Id() const { return m_nId; }
    Values& ValuesHeld() { return m_values; }

private:
    unsigned long m_nId;
    Values m_values;
};

// The values of one configuration; holds a reference to it.
class CKeyValueCollection final : public standin::CObject<sr::IKeyValueCollection> {
public:
    explicit CKeyValueCollection(CConfig* config)
        : CObject(L"IKeyValueCollection[" + ConfigName(config->Id()) + L"]"), m_pConfig(config)
    {
        m_pConfig->AddRef();
    }
    ~CKeyValueCollection() override { m_pConfig->Release(); }

    STANDIN_RESERVED_SLOT(3)

    bool HasValue(unsigned long key) override
    {
        const std::wstring call = Call(L"HasValue", key) + L")";
        unsigned long ignored = 0;
        const bool present = m_pConfig->ValuesHeld().count(key) != 0 &&
                             !standin::Planted(L"IKeyValueCollection.HasValue", call, ignored);
        standin::Journal(call + (present ? L" -> true" : L" -> false"));
        return present;
    }

    STANDIN_RESERVED_SLOT(5)
    STANDIN_RESERVED_SLOT(6)
    STANDIN_RESERVED_SLOT(7)
    STANDIN_RESERVED_SLOT(8)
    STANDIN_RESERVED_SLOT(9)
    STANDIN_RESERVED_SLOT(10)
    STANDIN_RESERVED_SLOT(11)
    STANDIN_RESERVED_SLOT(12)
    STANDIN_RESERVED_SLOT(13)
    STANDIN_RESERVED_SLOT(14)
    STANDIN_RESERVED_SLOT(15)
    STANDIN_RESERVED_SLOT(16)
    STANDIN_RESERVED_SLOT(17)
    STANDIN_RESERVED_SLOT(18)
    STANDIN_RESERVED_SLOT(19)
    STANDIN_RESERVED_SLOT(20)
    STANDIN_RESERVED_SLOT(21)
    STANDIN_RESERVED_SLOT(22)
    STANDIN_RESERVED_SLOT(23)
    STANDIN_RESERVED_SLOT(24)
    STANDIN_RESERVED_SLOT(25)

    bool GetDwordValue(unsigned long key, DWORD& value) override
    {
        const std::wstring call = Call(L"GetDwordValue", key) + L")";
        unsigned long ignored = 0;
        const auto found = m_pConfig->ValuesHeld().find(key);
        const bool read = found != m_pConfig->ValuesHeld().end() && found->second.kind == Value::eDword &&
                          !standin::Planted(L"IKeyValueCollection.GetDwordValue", call, ignored);
        if (read)
            value = found->second.dword;
        standin::Journal(call + (read ? L" -> true, " + std::to_wstring(value) : L" -> false"));
        return read;
    }

    STANDIN_RESERVED_SLOT(27)
    STANDIN_RESERVED_SLOT(28)
    STANDIN_RESERVED_SLOT(29)
    STANDIN_RESERVED_SLOT(30)
    STANDIN_RESERVED_SLOT(31)
    STANDIN_RESERVED_SLOT(32)

    bool SetStringValue(unsigned long key, sr::IString* text) override
    {
        Value value;
        value.kind = Value::eString;
        if (text)
            value.text = text->GetStringW();
        const std::wstring shown = text ? standin::Quoted(value.text.c_str()) : std::wstring(L"null");
        return Set(L"SetStringValue", key, shown, text ? &value : nullptr);
    }

    STANDIN_RESERVED_SLOT(34)
    STANDIN_RESERVED_SLOT(35)
    STANDIN_RESERVED_SLOT(36)
    STANDIN_RESERVED_SLOT(37)
    STANDIN_RESERVED_SLOT(38)

    bool SetGuidValue(unsigned long key, const GUID& guid) override
    {
        Value value;
        value.kind = Value::eGuid;
        value.guid = guid;
        return Set(L"SetGuidValue", key, GuidText(guid), &value);
    }

    STANDIN_RESERVED_SLOT(40)
    STANDIN_RESERVED_SLOT(41)
    STANDIN_RESERVED_SLOT(42)

    bool SetDwordValue(unsigned long key, DWORD dword) override
    {
        Value value;
        value.kind = Value::eDword;
        value.dword = dword;
        return Set(L"SetDwordValue", key, std::to_wstring(dword), &value);
    }

    STANDIN_RESERVED_SLOT(44)
    STANDIN_RESERVED_SLOT(45)
    STANDIN_RESERVED_SLOT(46)
    STANDIN_RESERVED_SLOT(47)
    STANDIN_RESERVED_SLOT(48)

    bool SetBoolValue(unsigned long key, bool flag) override
    {
        Value value;
        value.kind = Value::eBool;
        value.flag = flag;
        return Set(L"SetBoolValue", key, flag ? L"true" : L"false", &value);
    }

private:
    std::wstring Call(const wchar_t* operation, unsigned long key) const
    {
        return Subject() + L"." + operation + L"(" + std::to_wstring(key);
    }

    // Stores value under key unless it is null or a test planted a failure.
    bool Set(const wchar_t* operation, unsigned long key, const std::wstring& shown, const Value* value)
    {
        const std::wstring call = Call(operation, key) + L", " + shown + L")";
        unsigned long ignored = 0;
        const bool stored =
            value && !standin::Planted((std::wstring(L"IKeyValueCollection.") + operation).c_str(), call, ignored);
        if (stored)
            m_pConfig->ValuesHeld()[key] = *value;
        standin::Journal(call + (stored ? L" -> true" : L" -> false"));
        return stored;
    }

    CConfig* m_pConfig;
};

HRESULT CConfig::GetData(sr::IKeyValueCollection** values)
{
    const std::wstring call = Subject() + L".GetData()";
    if (!values)
        return Journaled(call, E_POINTER);
    *values = nullptr;
    bool planted = false;
    const HRESULT result = PlantedHresult(L"IConfig.GetData", call, planted);
    if (planted)
        return Journaled(call, result);
    *values = new (std::nothrow) CKeyValueCollection(this);
    return Journaled(call, *values ? S_OK : E_OUTOFMEMORY);
}

class CConfigManager final : public standin::CObject<clfs::svc::IConfigManager> {
public:
    CConfigManager() : CObject(L"IConfigManager") {}
    ~CConfigManager() override { ReleaseLoaded(); }

    HRESULT LoadConfigs() override
    {
        const std::wstring call = Subject() + L".LoadConfigs()";
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.LoadConfigs", call, planted);
        if (planted)
            return Journaled(call, result);
        ReleaseLoaded();
        for (auto& config : LoadStore().configs) {
            if (config.first == kEngine)
                continue;
            CConfig* loaded = new (std::nothrow) CConfig(config.first, std::move(config.second));
            if (!loaded)
                return Journaled(call, E_OUTOFMEMORY);
            m_loaded.push_back(loaded);
            m_nLastId = std::max(m_nLastId, config.first);
        }
        return Journaled(call, S_OK, std::to_wstring(m_loaded.size()) + L" configurations");
    }

    HRESULT GetConfigCount(DWORD* count) override
    {
        const std::wstring call = Subject() + L".GetConfigCount()";
        if (!count)
            return Journaled(call, E_POINTER);
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.GetConfigCount", call, planted);
        if (planted)
            return Journaled(call, result);
        *count = static_cast<DWORD>(m_loaded.size());
        return Journaled(call, S_OK, std::to_wstring(*count));
    }

    HRESULT GetConfigAt(DWORD index, clfs::svc::IConfig** config) override
    {
        const std::wstring call = Subject() + L".GetConfigAt(" + std::to_wstring(index) + L")";
        if (!config)
            return Journaled(call, E_POINTER);
        *config = nullptr;
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.GetConfigAt", call, planted);
        if (planted)
            return Journaled(call, result);
        if (index >= m_loaded.size())
            return Journaled(call, E_INVALIDARG);
        m_loaded[index]->AddRef();
        *config = m_loaded[index];
        return Journaled(call, S_OK, ConfigName(m_loaded[index]->Id()));
    }

    HRESULT NewConfig(clfs::svc::IConfig** config) override
    {
        const std::wstring call = Subject() + L".NewConfig()";
        if (!config)
            return Journaled(call, E_POINTER);
        *config = nullptr;
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.NewConfig", call, planted);
        if (planted)
            return Journaled(call, result);
        const Store store = LoadStore();
        if (!store.configs.empty())
            m_nLastId = std::max(m_nLastId, store.configs.rbegin()->first);
        CConfig* created = new (std::nothrow) CConfig(++m_nLastId, Values());
        if (!created)
            return Journaled(call, E_OUTOFMEMORY);
        *config = created;
        return Journaled(call, S_OK, ConfigName(created->Id()));
    }

    HRESULT RemoveConfig(clfs::svc::IConfig* config) override
    {
        CConfig* removed = static_cast<CConfig*>(config);
        const std::wstring call =
            Subject() + L".RemoveConfig(" + (removed ? ConfigName(removed->Id()) : std::wstring(L"null")) + L")";
        if (!removed)
            return Journaled(call, E_POINTER);
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.RemoveConfig", call, planted);
        if (planted)
            return Journaled(call, result);
        if (removed->Id() == kEngine)
            return Journaled(call, E_INVALIDARG);
        Store store = LoadStore();
        if (store.configs.erase(removed->Id()) == 0)
            return Journaled(call, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
        return Journaled(call, SaveStore(store) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
    }

    HRESULT GetEngineConfig(clfs::svc::IConfig** config) override
    {
        const std::wstring call = Subject() + L".GetEngineConfig()";
        if (!config)
            return Journaled(call, E_POINTER);
        *config = nullptr;
        bool planted = false;
        const HRESULT result = PlantedHresult(L"IConfigManager.GetEngineConfig", call, planted);
        if (planted)
            return Journaled(call, result);
        *config = new (std::nothrow) CConfig(kEngine, LoadStore().configs[kEngine]);
        return Journaled(call, *config ? S_OK : E_OUTOFMEMORY, ConfigName(kEngine));
    }

private:
    void ReleaseLoaded()
    {
        for (CConfig* config : m_loaded)
            config->Release();
        m_loaded.clear();
    }

    std::vector<CConfig*> m_loaded;
    // The highest configuration number this manager has seen: a new configuration never takes
    // the number of one removed while the manager still lists it.
    unsigned long m_nLastId = 0;
};

void* CreateConfigManager()
{
    return static_cast<clfs::svc::IConfigManager*>(new (std::nothrow) CConfigManager());
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    standin::OnDllEvent(instance, reason, reserved, L"vexcore", L"vexcore");
    return TRUE;
}

extern "C" KRVRESULT __stdcall GetFactory(const KRVGUID& objectId, IKrvFactory** factory)
{
    return standin::ServeFactory(objectId, factory, clfs::svc::IID_ConfigManager, CreateConfigManager);
}

extern "C" long __stdcall GetObjectCount()
{
    return standin::LiveObjects();
}
