#pragma once
#include "platform/msxml.h"
#include "service/servicecontrol.h"
#include "update/engineinterfaces.h"
#include "support/krvref.h"
#include "update/scdfile.h"

#include <windows.h>

#include <set>
#include <string>

namespace clfs::update {

// The update action's object: reads the control file "SCD.xml" into records, replaces the
// engine's submission configurations with one per record and writes the engine-wide defaults.
// Functions declared throw(class _com_error) in their trace signatures raise a failing HRESULT
// as _com_error; the noexcept ones turn what they catch into their result.
class CUpdate {
public:
    // One control record: a control element of the file with its product and the file's
    // sequence. The set of records is ordered and kept free of duplicates by the key (type,
    // product, productversion, component, componentversion); see operator<. A copy shares the
    // configuration.
    class ConfigRec {
    public:
        // Makes the record's configuration and writes its values, unless its type has no row in
        // the submission-type table (then it stays without one and 0 is returned). Does not save.
        // On failure m_pConfig may already be set.
        long Construct(clfs::svc::IConfigManager* manager) noexcept;
        // Sets the magic (key 264) from the probability; always 0.
        long SetMagicNumber(sr::IKeyValueCollection* values) noexcept;
        // "[type] product productversion, component componentversion" when tracing is enabled
        // at error level (forError) or information level, else the empty text.
        std::wstring GetDescription(bool forError) const;

        // Exact, case-sensitive, field by field in key order.
        bool operator<(const ConfigRec& other) const noexcept;

        _bstr_t m_bstrType;
        _bstr_t m_bstrComponent;
        _bstr_t m_bstrServer;
        _bstr_t m_bstrProduct;
        _bstr_t m_bstrProductVersion;
        _bstr_t m_bstrComponentVersion;
        _bstr_t m_bstrSequence;
        _bstr_t m_bstrProto;
        unsigned long m_dwProbability = 0;
        unsigned long m_dwDailyLimit = 0;
        unsigned long m_dwRetryLimitDays = 0;
        // Seconds.
        unsigned long m_dwRetryFrequency = 0;
        unsigned long m_dwPort = 0;
        utils::CKrvRef<clfs::svc::IConfig> m_pConfig;
    };

    CUpdate() = default;
    CUpdate(const CUpdate&) = delete;
    CUpdate& operator=(const CUpdate&) = delete;
    // The records and the manager are released before the control file is enciphered and
    // closed; the service control, restarting the engine when asked to, goes last.
    ~CUpdate()
    {
        m_records.clear();
        m_pConfigManager.Release();
    }

    long Initialize(const wchar_t* path) noexcept;
    long ProcessFile() noexcept;
    // Writes the three engine-wide numbers (keys 262, 384, 385) where they are absent, or
    // always with overwrite. Failed writes and a failed save are traced, not returned.
    long SetDefaults(DWORD startupDelay, DWORD maxSubmissionAge, DWORD maxDataStoreSize, bool overwrite) noexcept;

    // Opens the control file (to be enciphered on close) and reads one record per control
    // element into m_records. Records inserted before a failure stay.
    long LoadXml();
    long LoadSequence(IXMLDOMDocument2* document, _bstr_t& sequence);
    // True when the node's "scdVersion" is exactly "1.0".
    bool CheckNodeVersion(IXMLDOMNode* node) noexcept;
    long LoadRecord(IXMLDOMNode* control, ConfigRec& record);
    // value is the empty string unless the non-empty attribute was read.
    long GetAttribute(IXMLDOMNode* node, const wchar_t* name, _bstr_t& value);
    // The typed value of the first child element of that name; a missing child fails with
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
    long GetNodeValue(IXMLDOMNode* node, const wchar_t* childName, _variant_t& value);
    long GetDword(IXMLDOMNode* node, const wchar_t* childName, unsigned long& value);
    long GetString(IXMLDOMNode* node, const wchar_t* childName, _bstr_t& value);
    long GetChildNodeAttribute(IXMLDOMNode* node, const wchar_t* childName, const wchar_t* attributeName,
                               _bstr_t& value) noexcept;

    // Constructs a configuration for every record that has none; a record that fails stays
    // without one.
    long CreateConfig();
    // Constructs, then saves every record's configuration in set order.
    long Save();

protected:
    CServiceControl m_ServiceControl;
    std::wstring m_strFile;
    utils::CKrvRef<clfs::svc::IConfigManager> m_pConfigManager;
    std::set<ConfigRec> m_records;
    CSCDFile m_scdFile;

private:
    // Step of LoadXml: the records of one product element.
    void LoadProduct(IXMLDOMNode* product, const _bstr_t& sequence);
};

} // namespace clfs::update
