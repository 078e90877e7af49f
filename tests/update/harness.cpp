#include "tests/update/harness.h"

#include "support/stringimpl.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace updatetest {
namespace {

#define FAKE_RESERVED(slot)                                                                                            \
    void Reserved##slot() override                                                                                     \
    {                                                                                                                  \
        ADD_FAILURE() << "reserved slot " #slot " called";                                                             \
    }

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow += static_cast<char>(*text);
    return narrow;
}

// Counted among the state's live objects; the IKrvBase overrides serve every interface listed.
template <class... Interfaces>
class CFakeObject : public Interfaces... {
public:
    explicit CFakeObject(CEngineState& state) : m_state(state) { ++m_state.liveObjects; }
    virtual ~CFakeObject() { --m_state.liveObjects; }
    KRVRESULT QueryInterface(const KRVGUID&, void** object) override { return *object = nullptr, KRV_E_NOINTERFACE; }
    unsigned long AddRef() override { return ++m_nRefs; }
    unsigned long Release() override
    {
        const unsigned long left = --m_nRefs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    CEngineState& m_state;

private:
    unsigned long m_nRefs = 1;
};

// One configuration and its values in one object.
class CFakeConfig final : public CFakeObject<clfs::svc::IConfig, sr::IKeyValueCollection> {
public:
    CFakeConfig(CEngineState& state, int number)
        : CFakeObject(state), m_nNumber(number), m_own(state.presets[number]),
          m_numbers(number == 0 ? state.presets[0] : m_own)
    {
    }

    DWORD Save(DWORD argument) override { return Log("Save " + std::to_string(argument)), m_state.saveResults[m_nNumber]; }
    HRESULT GetData(sr::IKeyValueCollection** values) override
    {
        Log("GetData");
        const long hr = m_state.getDataResults[m_nNumber];
        *values = hr < 0 ? nullptr : (AddRef(), static_cast<sr::IKeyValueCollection*>(this));
        return hr;
    }
    bool HasValue(unsigned long key) override { return Log("HasValue " + std::to_string(key)), m_numbers.count(key); }
    bool GetDwordValue(unsigned long key, DWORD& value) override
    {
        Log("GetDword " + std::to_string(key));
        const auto found = m_numbers.find(key);
        return found != m_numbers.end() && (value = found->second, true);
    }
    bool SetStringValue(unsigned long key, sr::IString* value) override { return Set(key, Narrow(value->GetStringW())); }
    bool SetGuidValue(unsigned long key, const GUID& value) override
    {
        wchar_t text[40] = {};
        StringFromGUID2(value, text, 40);
        return Set(key, Narrow(text));
    }
    bool SetDwordValue(unsigned long key, DWORD value) override
    {
        return Set(key, std::to_string(value)) && (m_numbers[key] = value, true);
    }
    bool SetBoolValue(unsigned long key, bool value) override { return Set(key, value ? "true" : "false"); }

    FAKE_RESERVED(3) FAKE_RESERVED(4) FAKE_RESERVED(5) FAKE_RESERVED(6) FAKE_RESERVED(7) FAKE_RESERVED(8)
    FAKE_RESERVED(9) FAKE_RESERVED(10) FAKE_RESERVED(11) FAKE_RESERVED(12) FAKE_RESERVED(13) FAKE_RESERVED(14)
    FAKE_RESERVED(15) FAKE_RESERVED(16) FAKE_RESERVED(17) FAKE_RESERVED(18) FAKE_RESERVED(19) FAKE_RESERVED(20)
    FAKE_RESERVED(21) FAKE_RESERVED(22) FAKE_RESERVED(23) FAKE_RESERVED(24) FAKE_RESERVED(25) FAKE_RESERVED(27)
    FAKE_RESERVED(28) FAKE_RESERVED(29) FAKE_RESERVED(30) FAKE_RESERVED(31) FAKE_RESERVED(32) FAKE_RESERVED(34)
    FAKE_RESERVED(35) FAKE_RESERVED(36) FAKE_RESERVED(37) FAKE_RESERVED(38) FAKE_RESERVED(40) FAKE_RESERVED(41)
    FAKE_RESERVED(42) FAKE_RESERVED(44) FAKE_RESERVED(45) FAKE_RESERVED(46) FAKE_RESERVED(47) FAKE_RESERVED(48)

private:
    void Log(const std::string& line) { m_state.journal.push_back("#" + std::to_string(m_nNumber) + " " + line); }
    bool Set(unsigned long key, const std::string& value)
    {
        Log("Set " + std::to_string(key) + " " + value);
        return m_state.failingKeys[m_nNumber].count(key) == 0;
    }

    int m_nNumber;
    std::map<unsigned long, DWORD> m_own;
    std::map<unsigned long, DWORD>& m_numbers;
};

class CFakeManager final : public CFakeObject<clfs::svc::IConfigManager> {
public:
    using CFakeObject::CFakeObject;
    HRESULT NewConfig(clfs::svc::IConfig** config) override
    {
        const int number = ++m_state.configsMade;
        m_state.journal.push_back("NewConfig #" + std::to_string(number));
        return Hand(m_state.newConfigResults[number], number, config);
    }
    HRESULT GetEngineConfig(clfs::svc::IConfig** config) override
    {
        m_state.journal.push_back("GetEngineConfig");
        return Hand(m_state.engineConfigResult, 0, config);
    }
    // The update's own steps do not call these.
    HRESULT LoadConfigs() override { return E_NOTIMPL; }
    HRESULT GetConfigCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT GetConfigAt(DWORD, clfs::svc::IConfig**) override { return E_NOTIMPL; }
    HRESULT RemoveConfig(clfs::svc::IConfig*) override { return E_NOTIMPL; }

private:
    HRESULT Hand(long hr, int number, clfs::svc::IConfig** config)
    {
        *config = hr < 0 ? nullptr : new CFakeConfig(m_state, number);
        return hr;
    }
};

} // namespace

clfs::svc::IConfigManager* CEngineState::NewManager()
{
    return new CFakeManager(*this);
}

Lines CEngineState::LinesOf(int config) const
{
    const std::string prefix = "#" + std::to_string(config) + " ";
    Lines lines;
    for (const std::string& line : journal) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(prefix.size()));
    }
    return lines;
}

bool Contains(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace updatetest
