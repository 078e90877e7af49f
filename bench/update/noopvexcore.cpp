// The no-op engine as a component the module loads in place of "vexcore.dll", so that UpdateQSN
// runs through its export without an engine's cost. Besides the two exports of every
// shared-runtime component it exports GetEngineCounts, through which the benchmark sets what the
// engine lists as stored and reads what it was asked to do.
#include "bench/update/noopengine.h"

#include <cstring>
#include <new>

namespace {

updatebench::CEngineCounts g_counts;

bool Same(const KRVGUID& left, const KRVGUID& right)
{
    return std::memcmp(&left, &right, sizeof(KRVGUID)) == 0;
}

class CFactory final : public IKrvFactory {
public:
    CFactory() { ++g_counts.liveObjects; }

    KRVRESULT QueryInterface(const KRVGUID&, void** object) override { return *object = nullptr, KRV_E_NOINTERFACE; }
    unsigned long AddRef() override { return ++m_nRefs; }
    unsigned long Release() override
    {
        const unsigned long left = --m_nRefs;
        if (left == 0) {
            --g_counts.liveObjects;
            delete this;
        }
        return left;
    }
    KRVRESULT CreateInstance(const KRVGUID& interfaceId, void** object) override
    {
        *object = Same(interfaceId, clfs::svc::IID_ConfigManager) ? updatebench::NewNoopEngine(g_counts) : nullptr;
        return *object ? KRV_S_OK : KRV_E_NOINTERFACE;
    }

private:
    unsigned long m_nRefs = 1;
};

} // namespace

extern "C" KRVRESULT __stdcall GetFactory(const KRVGUID& objectId, IKrvFactory** factory)
{
    *factory = Same(objectId, clfs::svc::IID_ConfigManager) ? new (std::nothrow) CFactory : nullptr;
    return *factory ? KRV_S_OK : KRV_E_NOINTERFACE;
}

extern "C" long __stdcall GetObjectCount()
{
    return g_counts.liveObjects;
}

extern "C" updatebench::CEngineCounts* __stdcall GetEngineCounts()
{
    return &g_counts;
}
