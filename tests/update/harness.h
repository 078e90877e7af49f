#pragma once
#include "update/update.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace updatetest {

using Lines = std::vector<std::string>;

// What a fake engine was told and what it answers. Configurations are numbered in creation
// order from 1; 0 is the engine-wide one. Journal lines: "NewConfig #n", "GetEngineConfig",
// "#n GetData", "#n Set <key> <value>" (text, decimal number, {GUID} or true/false),
// "#n GetDword <key>", "#n HasValue <key>", "#n Save <argument>".
struct CEngineState {
    Lines journal;
    int liveObjects = 0;
    int configsMade = 0;
    std::map<int, long> newConfigResults;
    std::map<int, long> getDataResults;
    std::map<int, DWORD> saveResults;
    // Keys whose setters answer false, and the numbers a configuration starts with, by number;
    // the engine-wide configuration's numbers are kept in presets[0].
    std::map<int, std::set<unsigned long>> failingKeys;
    std::map<int, std::map<unsigned long, DWORD>> presets;
    long engineConfigResult = S_OK;

    // A new manager object holding one reference.
    clfs::svc::IConfigManager* NewManager();
    // The journal lines of one configuration, without their "#n " prefix.
    Lines LinesOf(int config) const;
};

// CUpdate with its fields reachable, for the steps that Initialize would otherwise prepare.
class CTestUpdate : public clfs::update::CUpdate {
public:
    explicit CTestUpdate(const std::wstring& file = std::wstring()) { m_strFile = file; }
    void UseManager(clfs::svc::IConfigManager* manager) { m_pConfigManager = clfs::utils::CKrvRef(manager); }
    std::set<ConfigRec>& Records() { return m_records; }
};

bool Contains(const Lines& lines, const std::string& line);

} // namespace updatetest
