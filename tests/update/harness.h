#pragma once
#include "update/update.h"

#include <set>
#include <string>

namespace updatetest {

// CUpdate with its fields reachable, for the steps that Initialize would otherwise prepare.
class CTestUpdate : public clfs::update::CUpdate {
public:
    explicit CTestUpdate(const std::wstring& file = std::wstring()) { m_strFile = file; }
    void UseManager(clfs::svc::IConfigManager* manager) { m_pConfigManager = clfs::utils::CKrvRef(manager); }
    std::set<ConfigRec>& Records() { return m_records; }
};

} // namespace updatetest
