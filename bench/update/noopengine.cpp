#include "bench/update/noopengine.h"

#include "support/stringimpl.h"

#include <cstdio>
#include <cstdlib>

namespace updatebench {
namespace {

// A slot the update has no business calling: the figures of such a run would mean nothing.
[[noreturn]] void Unexpected(int slot)
{
    std::fprintf(stderr, "update_bench: the update called reserved engine slot %d\n", slot);
    std::exit(2);
}

#define NOOP_RESERVED(slot)                                                                                            \
    void Reserved##slot() override                                                                                     \
    {                                                                                                                  \
        Unexpected(slot);                                                                                              \
    }

// Counted among the live objects until the last reference goes.
class CCounted {
protected:
    explicit CCounted(CEngineCounts& counts) : m_counts(counts) { ++m_counts.liveObjects; }
    virtual ~CCounted() { --m_counts.liveObjects; }
    unsigned long Add() { return ++m_nRefs; }
    unsigned long Drop()
    {
        const unsigned long left = --m_nRefs;
        if (left == 0)
            delete this;
        return left;
    }

    CEngineCounts& m_counts;

private:
    unsigned long m_nRefs = 1;
};

// One configuration and its values in one object; values are counted, not kept, so every read
// finds nothing, as in a new configuration.
class CNoopConfig final : public clfs::svc::IConfig, public sr::IKeyValueCollection, private CCounted {
public:
    // saves counts this configuration's Saves.
    CNoopConfig(CEngineCounts& counts, unsigned long& saves) : CCounted(counts), m_saves(saves) {}

    KRVRESULT QueryInterface(const KRVGUID&, void** object) override { return *object = nullptr, KRV_E_NOINTERFACE; }
    unsigned long AddRef() override { return Add(); }
    unsigned long Release() override { return Drop(); }

    DWORD Save(DWORD) override { return ++m_saves, 0; }
    HRESULT GetData(sr::IKeyValueCollection** values) override
    {
        AddRef();
        *values = this;
        return S_OK;
    }
    bool HasValue(unsigned long) override { return false; }
    bool GetDwordValue(unsigned long, DWORD&) override { return false; }
    // The engine copies the text; reading it is the least a real one does.
    bool SetStringValue(unsigned long, sr::IString* value) override { return value->GetStringW() != nullptr; }
    bool SetGuidValue(unsigned long, const GUID&) override { return true; }
    bool SetDwordValue(unsigned long, DWORD) override { return true; }
    bool SetBoolValue(unsigned long, bool) override { return true; }

    // The reserved slots of both interfaces.
    NOOP_RESERVED(3)
    NOOP_RESERVED(4)
    NOOP_RESERVED(5)
    NOOP_RESERVED(6)
    NOOP_RESERVED(7)
    NOOP_RESERVED(8)
    NOOP_RESERVED(9)
    NOOP_RESERVED(10)
    NOOP_RESERVED(11)
    NOOP_RESERVED(12)
    NOOP_RESERVED(13)
    NOOP_RESERVED(14)
    NOOP_RESERVED(15)
    NOOP_RESERVED(16)
    NOOP_RESERVED(17)
    NOOP_RESERVED(18)
    NOOP_RESERVED(19)
    NOOP_RESERVED(20)
    NOOP_RESERVED(21)
    NOOP_RESERVED(22)
    NOOP_RESERVED(23)
    NOOP_RESERVED(24)
    NOOP_RESERVED(25)
    NOOP_RESERVED(27)
    NOOP_RESERVED(28)
    NOOP_RESERVED(29)
    NOOP_RESERVED(30)
    NOOP_RESERVED(31)
    NOOP_RESERVED(32)
    NOOP_RESERVED(34)
    NOOP_RESERVED(35)
    NOOP_RESERVED(36)
    NOOP_RESERVED(37)
    NOOP_RESERVED(38)
    NOOP_RESERVED(40)
    NOOP_RESERVED(41)
    NOOP_RESERVED(42)
    NOOP_RESERVED(44)
    NOOP_RESERVED(45)
    NOOP_RESERVED(46)
    NOOP_RESERVED(47)
    NOOP_RESERVED(48)

private:
    unsigned long& m_saves;
};

class CNoopManager final : public clfs::svc::IConfigManager, private CCounted {
public:
    explicit CNoopManager(CEngineCounts& counts) : CCounted(counts) {}

    KRVRESULT QueryInterface(const KRVGUID&, void** object) override { return *object = nullptr, KRV_E_NOINTERFACE; }
    unsigned long AddRef() override { return Add(); }
    unsigned long Release() override { return Drop(); }

    HRESULT LoadConfigs() override { return S_OK; }
    HRESULT GetConfigCount(DWORD* count) override { return *count = m_counts.existing, S_OK; }
    HRESULT GetConfigAt(DWORD index, clfs::svc::IConfig** config) override
    {
        if (index >= m_counts.existing)
            return *config = nullptr, E_INVALIDARG;
        *config = new CNoopConfig(m_counts, m_counts.configsSaved);
        return S_OK;
    }
    HRESULT NewConfig(clfs::svc::IConfig** config) override
    {
        ++m_counts.configsMade;
        *config = new CNoopConfig(m_counts, m_counts.configsSaved);
        return S_OK;
    }
    HRESULT RemoveConfig(clfs::svc::IConfig*) override { return ++m_counts.configsRemoved, S_OK; }
    HRESULT GetEngineConfig(clfs::svc::IConfig** config) override
    {
        *config = new CNoopConfig(m_counts, m_counts.engineSaves);
        return S_OK;
    }
};

} // namespace

clfs::svc::IConfigManager* NewNoopEngine(CEngineCounts& counts)
{
    return new CNoopManager(counts);
}

} // namespace updatebench
