#include "update/update.h"

#include "service/clfsboundary.h"
#include "update/configkeys.h"
#include "service/tracesite.h"

namespace clfs::update {
namespace {

using utils::CKrvRef;

const utils::CTraceSite kSetDefaults(L"long __thiscall clfs::update::CUpdate::SetDefaults(unsigned long,unsigned "
                                     L"long,unsigned long,bool) throw()");

// One engine-wide number with its two trace lines.
struct CDefaultValue {
    unsigned long key;
    DWORD value;
    const wchar_t* setting;
    const wchar_t* failed;
};

} // namespace

long CUpdate::SetDefaults(DWORD startupDelay, DWORD maxSubmissionAge, DWORD maxDataStoreSize, bool overwrite) noexcept
{
    if (!m_pConfigManager) {
        kSetDefaults.Error(L"m_pConfigManager == NULL");
        return E_POINTER;
    }
    CKrvRef<clfs::svc::IConfig> config;
    long got = m_pConfigManager->GetEngineConfig(config.Receive());
    got = utils::HandedOut(got, config.Get());
    if (got < 0) {
        kSetDefaults.Error(L"Failed to get engine config: 0x%08X", got);
        return got;
    }
    CKrvRef<sr::IKeyValueCollection> values;
    long result = config->GetData(values.Receive());
    result = utils::HandedOut(result, values.Get());
    if (result < 0) {
        kSetDefaults.Error(L"Failed to get config data: 0x%08X", result);
        return result;
    }
    const CDefaultValue defaults[] = {
        {CFG_STARTUP_DELAY, startupDelay, L"Setting engine startup delay to %d", L"Failed to set delay"},
        {CFG_MAX_SUBMISSION_AGE, maxSubmissionAge, L"Setting engine max submission age to %d",
         L"Failed to set max age"},
        {CFG_MAX_DATA_STORE_SIZE, maxDataStoreSize, L"Setting engine max data store size to %d",
         L"Failed to set max size"},
    };
    bool changed = false;
    for (const CDefaultValue& entry : defaults) {
        if (!overwrite && values->HasValue(entry.key))
            continue;
        kSetDefaults.Info(entry.setting, entry.value);
        if (values->SetDwordValue(entry.key, entry.value))
            changed = true;
        else
            kSetDefaults.Error(entry.failed);
    }
    if (changed) {
        kSetDefaults.Info(L"Updating engine config...");
        const DWORD saved = config->Save(1000);
        if (saved != 0)
            kSetDefaults.Error(L"Failed to save config: %d", saved);
        else
            kSetDefaults.Info(L"Success");
    }
    return result;
}

} // namespace clfs::update
