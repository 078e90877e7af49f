#include "update/update.h"

#include "support/stringimpl.h"
#include "support/trace.h"
#include "update/bstr.h"
#include "service/clfsboundary.h"
#include "update/configkeys.h"

#include <cstdlib>
#include <new>

namespace clfs::update {
namespace {

using utils::CKrvRef;
using utils::CTraceSite;
using utils::Text;

const CTraceSite
    kConstruct(L"long __thiscall clfs::update::CUpdate::ConfigRec::Construct(class clfs::svc::IConfigManager *)");
const CTraceSite kSetMagicNumber(
    L"long __thiscall clfs::update::CUpdate::ConfigRec::SetMagicNumber(class sr::IKeyValueCollection *)");
const CTraceSite kCreateConfig(L"long __thiscall clfs::update::CUpdate::CreateConfig(void) throw(class _com_error)");
const CTraceSite kSave(L"long __thiscall clfs::update::CUpdate::Save(void) throw(class _com_error)");

// The fixed values of one kind of submission.
struct SubmissionTypeInfo {
    const wchar_t* szDisplayName;
    const wchar_t* szUrlPath;
    const wchar_t* szConnectionModule;
    const wchar_t* szTypeName;
    const wchar_t* szTypeId;
    DWORD dwLimit;
    DWORD dwDelay;
    bool bFlag;
};

const SubmissionTypeInfo kSubmissionTypes[] = {
    {L"QSN Sample Submission", L"/MUSE/postSuspectSample", L"Vexlink.dll", L"Submission",
     L"{9C47B2E8-3D15-4a60-8F7E-A2D9105C3B64}", 0x00A00000, 0, true},
    {L"QSN Detection Ping", L"/postDetectionEvent", L"Vexlink.dll", L"Detection",
     L"{6E18D0F3-8A27-4b95-B3C6-5F04E71A92D8}", 0x00A00000, 0, false},
};

// The first row whose type name is exactly typeName, or null.
const SubmissionTypeInfo* FindSubmissionType(const _bstr_t& typeName) noexcept
{
    for (const SubmissionTypeInfo& row : kSubmissionTypes) {
        if (utils::IsExactly(typeName, row.szTypeName))
            return &row;
    }
    return nullptr;
}

// A setter that answers false fails the construction; what was written stays.
void Check(bool written)
{
    if (!written)
        throw _com_error(E_FAIL);
}

void SetString(sr::IKeyValueCollection& values, unsigned long key, const wchar_t* text)
{
    CKrvRef<srKrv::CStringImpl> value(srKrv::CStringImpl::CreateStringImpl(text));
    if (!value)
        throw std::bad_alloc();
    Check(values.SetStringValue(key, value.Get()));
}

void SetString(sr::IKeyValueCollection& values, unsigned long key, const _bstr_t& text)
{
    SetString(values, key, Text(text));
}

void SetDword(sr::IKeyValueCollection& values, unsigned long key, DWORD value)
{
    Check(values.SetDwordValue(key, value));
}

GUID ParseTypeId(const wchar_t* text) noexcept
{
    GUID typeId = {};
    if (FAILED(IIDFromString(text, &typeId)))
        typeId = GUID{};
    return typeId;
}

// Every value but the magic's draw and the probability, in the order the engine receives them.
void WriteValues(sr::IKeyValueCollection& values, const CUpdate::ConfigRec& record, const SubmissionTypeInfo& row)
{
    const GUID typeId = ParseTypeId(row.szTypeId);
    SetString(values, CFG_COMPONENT, record.m_bstrComponent);
    SetString(values, CFG_COMPONENT_VERSION, record.m_bstrComponentVersion);
    SetString(values, CFG_PRODUCT, record.m_bstrProduct);
    SetString(values, CFG_PRODUCT_VERSION, record.m_bstrProductVersion);
    SetDword(values, CFG_UNNAMED_271, 0);
    SetDword(values, CFG_STARTUP_DELAY, row.dwDelay);
    SetString(values, CFG_SERVER, record.m_bstrServer);
    SetString(values, CFG_CONNECTION_MODULE, row.szConnectionModule);
    SetDword(values, CFG_MAGIC, 0);
    SetString(values, CFG_TYPE_NAME, record.m_bstrType);
    SetDword(values, CFG_RETRY_LIMIT_DAYS, record.m_dwRetryLimitDays);
    SetDword(values, CFG_TYPE_LIMIT, row.dwLimit);
    SetDword(values, CFG_DAILY_LIMIT, record.m_dwDailyLimit);
    Check(values.SetGuidValue(CFG_TYPE_ID, typeId));
    SetDword(values, CFG_PORT, record.m_dwPort);
    SetString(values, CFG_PROTOCOL, record.m_bstrProto);
    SetDword(values, CFG_RETRY_FREQUENCY, record.m_dwRetryFrequency);
    SetString(values, CFG_FRIENDLY_NAME, row.szDisplayName);
    SetString(values, CFG_URL_PATH, row.szUrlPath);
    Check(values.SetBoolValue(CFG_TYPE_FLAG, row.bFlag));
    SetString(values, CFG_SEQUENCE, record.m_bstrSequence);
}

} // namespace

bool CUpdate::ConfigRec::operator<(const ConfigRec& other) const noexcept
{
    const _bstr_t ConfigRec::*const keyFields[] = {&ConfigRec::m_bstrType, &ConfigRec::m_bstrProduct,
                                                   &ConfigRec::m_bstrProductVersion, &ConfigRec::m_bstrComponent,
                                                   &ConfigRec::m_bstrComponentVersion};
    for (const auto field : keyFields) {
        const int order = utils::CompareText(this->*field, other.*field);
        if (order != 0)
            return order < 0;
    }
    return false;
}

std::wstring CUpdate::ConfigRec::GetDescription(bool forError) const
{
    std::wstring description;
    if (!g_DebugOutput.IsEnabled(forError ? srLib::CDebugOutput::eError : srLib::CDebugOutput::eInformation))
        return description;
    description.append(L"[").append(Text(m_bstrType)).append(L"] ").append(Text(m_bstrProduct)).append(L" ");
    description.append(Text(m_bstrProductVersion)).append(L", ").append(Text(m_bstrComponent)).append(L" ");
    description.append(Text(m_bstrComponentVersion));
    return description;
}

long CUpdate::ConfigRec::Construct(clfs::svc::IConfigManager* manager) noexcept
{
    return utils::RunClfsBoundary(kConstruct, [&]() -> long {
        const SubmissionTypeInfo* row = FindSubmissionType(m_bstrType);
        if (!row) {
            kConstruct.Error(L"Failed to get default config %s", GetDescription(true).c_str());
            return S_OK;
        }
        if (!manager)
            throw _com_error(E_POINTER);
        const long created = manager->NewConfig(m_pConfig.Receive());
        utils::ThrowIfFailed(utils::HandedOut(created, m_pConfig.Get()));
        CKrvRef<sr::IKeyValueCollection> values;
        const long got = m_pConfig->GetData(values.Receive());
        utils::ThrowIfFailed(utils::HandedOut(got, values.Get()));
        WriteValues(*values.Get(), *this, *row);
        SetMagicNumber(values.Get());
        SetDword(*values.Get(), CFG_PROBABILITY, m_dwProbability);
        kConstruct.Info(L"Created config %s", GetDescription(false).c_str());
        return S_OK;
    });
}

long CUpdate::ConfigRec::SetMagicNumber(sr::IKeyValueCollection* values) noexcept
{
    const DWORD probability = m_dwProbability;
    DWORD storedProbability = 0;
    DWORD storedMagic = 0;
    values->GetDwordValue(CFG_PROBABILITY, storedProbability);
    values->GetDwordValue(CFG_MAGIC, storedMagic);
    if (probability < 2) {
        kSetMagicNumber.Info(L"prob < 2, setting magic to 0 (prob=%d)", probability);
        values->SetDwordValue(CFG_MAGIC, 0);
        return S_OK;
    }
    if (storedProbability != 0 && storedProbability <= probability) {
        kSetMagicNumber.Warning(L"Not resetting magic: prob=%d, newprob=%d, magic=%d", storedProbability, probability,
                                storedMagic);
        return S_OK;
    }
    // The C run-time generator of the calling thread, never seeded by the module.
    const DWORD magic = static_cast<DWORD>(std::rand()) % (probability - 1);
    values->SetDwordValue(CFG_MAGIC, magic);
    kSetMagicNumber.Info(L"reset prob to %d", magic);
    return S_OK;
}

long CUpdate::CreateConfig()
{
    for (const ConfigRec& entry : m_records) {
        // The configuration takes no part in the set's ordering.
        ConfigRec& record = const_cast<ConfigRec&>(entry);
        if (record.m_pConfig)
            continue;
        const long hr = record.Construct(m_pConfigManager.Get());
        if (hr < 0) {
            kCreateConfig.Error(L"Failed to construct config %s : 0x%08X", record.GetDescription(true).c_str(), hr);
            record.m_pConfig.Release();
        }
    }
    return S_OK;
}

long CUpdate::Save()
{
    CreateConfig();
    for (const ConfigRec& record : m_records) {
        if (record.m_pConfig && record.m_pConfig->Save(1000) != 0) {
            kSave.Error(L"Failed to save config");
            throw _com_error(E_FAIL);
        }
    }
    return S_OK;
}

} // namespace clfs::update
