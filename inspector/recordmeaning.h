// What the framework's own record names mean: the driver's decisions in a per-sequence data
// file ("Install", "COND%d:%s") and the entries of the shared property file ("UC:PROP_COUNT",
// "CAWPROP", "LongProp:Count", "LongProp%d:Name", "LongProp%d:Value", property names).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace inspector {

// One record as the explanations see it; names and texts are the raw 8-bit bytes up to their
// terminator.
struct SRecordFacts {
    std::string name;
    uint32_t type = 0;
    uint32_t value = 0; // a 32-bit value's number
    std::string text;   // a string's characters
};

// What the whole file tells about each record.
struct SFileFacts {
    std::string sequenceName;                  // the action named by the newest condition record
    std::map<uint32_t, std::string> longNames; // the "LongProp%d:Name" strings by index
    bool propertyFile = false;                 // the file holds property-file entries
};

// "COND<direction>:<action>"; false for any other name.
bool ParseConditionKey(const std::string& name, uint32_t& direction, std::string& action);
// "LongProp<index>:<suffix>"; false for any other name.
bool ParseLongPropertyKey(const std::string& name, const char* suffix, uint32_t& index);

// Whether the name is one the driver keeps in a per-sequence data file, or one of the property
// file's own entries.
bool IsSequenceEntry(const std::string& name);
bool IsPropertyFileEntry(const std::string& name);

// One line on what the record means to the framework; empty for a name it does not use.
std::string ExplainRecord(const SRecordFacts& record, const SFileFacts& file);

} // namespace inspector
