#include "recordmeaning.h"

#include <cstring>

#include "framework/recordstore.h"
#include "text.h"

namespace inspector {

namespace {

using InstallToolBox::RECORD_TYPE_DWORD;
using InstallToolBox::RECORD_TYPE_STRING;

// The longest property name kept under its own name; longer ones go through the index.
constexpr size_t MAX_SHORT_PROPERTY_NAME = 30;

// A decimal number of at most nine digits at the start of text; returns the characters used.
size_t ParseNumber(const std::string& text, size_t start, uint32_t& number)
{
    size_t end = start;
    number = 0;
    while (end < text.size() && end - start < 9 && text[end] >= '0' && text[end] <= '9')
        number = number * 10 + uint32_t(text[end++] - '0');
    return end - start;
}

std::string ExplainInstall(const SRecordFacts& record)
{
    if (record.type != RECORD_TYPE_DWORD)
        return "not a 32-bit value: the driver finds no \"Install\" and takes the removal side in the later phases";
    if (record.value == 0)
        return "not installing (removal, repair or change): the later phases call the uninstall operations";
    if (record.value == 1)
        return "installing: the product was not installed when the sequence was scheduled";
    return "installing: the driver takes any value but 0 as installing (it writes only 1)";
}

std::string ExplainCondition(const SRecordFacts& record, uint32_t direction, const std::string& action,
                             const SFileFacts& file)
{
    const std::string quoted = Quoted(action);
    std::string side = direction == 1   ? "installing"
                       : direction == 0 ? "not installing"
                                        : "direction " + std::to_string(direction) + ", which the driver never writes";
    std::string text;
    if (record.type != RECORD_TYPE_DWORD)
        text = "not a 32-bit value: the driver finds no outcome for " + quoted + " and runs it (" + side + ")";
    else if (record.value == 0)
        text = "condition false at scheduling: " + quoted + " is skipped in the later phases (" + side + ")";
    else
        text = "condition held at scheduling: " + quoted + " runs in the later phases (" + side + ")";
    if (!action.empty() && action == file.sequenceName)
        text += "; " + quoted + " is the sequence's own clean-up action";
    return text;
}

std::string ExplainUseCount(const SRecordFacts& record)
{
    if (record.type != RECORD_TYPE_DWORD)
        return "not a 32-bit value: read as 0, so the next rollback or commit step deletes the file";
    if (record.value == 0)
        return "no scheduled action needs the file any more: the next rollback or commit step deletes it";
    if (record.value == 1)
        return "1 scheduled action still needs this property file: its rollback or commit step deletes the file";
    return std::to_string(record.value) +
           " scheduled actions still need this property file: the last rollback or commit step deletes it";
}

std::string ExplainMarker(const SRecordFacts& record)
{
    if (record.type != RECORD_TYPE_STRING)
        return "marker of an action with properties, but not a string (the framework writes \"1\")";
    if (record.text == "1")
        return "an action with properties prepared this file in its scheduling phase";
    return "marker of an action with properties (the framework writes \"1\")";
}

std::string ExplainLongCount(const SRecordFacts& record)
{
    if (record.type != RECORD_TYPE_DWORD)
        return "not a 32-bit value: the framework finds no long-named property";
    if (record.value == 0)
        return "long-named properties: entry 0 is in use";
    return "long-named properties: entries 0 to " + std::to_string(record.value) + " are in use";
}

std::string ExplainLongName(const SRecordFacts& record, uint32_t index)
{
    const std::string entry = "entry " + std::to_string(index);
    if (record.type != RECORD_TYPE_STRING)
        return "not a string: the property of long-named " + entry + " cannot be found by its name";
    return "full name of the long-named property in " + entry;
}

std::string ExplainLongValue(const SRecordFacts& record, uint32_t index, const SFileFacts& file)
{
    const auto name = file.longNames.find(index);
    const std::string owner = name != file.longNames.end()
                                  ? "the long-named property " + Quoted(name->second)
                                  : "long-named entry " + std::to_string(index) + ", whose name record is missing";
    if (record.type != RECORD_TYPE_STRING)
        return "not a string: " + owner + " reads as not found";
    return "value of " + owner;
}

} // namespace

bool ParseConditionKey(const std::string& name, uint32_t& direction, std::string& action)
{
    if (name.compare(0, 4, "COND") != 0)
        return false;
    const size_t digits = ParseNumber(name, 4, direction);
    if (digits == 0 || 4 + digits >= name.size() || name[4 + digits] != ':')
        return false;
    action = name.substr(5 + digits);
    return true;
}

bool ParseLongPropertyKey(const std::string& name, const char* suffix, uint32_t& index)
{
    const size_t prefix = std::strlen("LongProp");
    if (name.compare(0, prefix, "LongProp") != 0)
        return false;
    const size_t digits = ParseNumber(name, prefix, index);
    return digits != 0 && name.compare(prefix + digits, std::string::npos, std::string(":") + suffix) == 0;
}

bool IsSequenceEntry(const std::string& name)
{
    uint32_t direction = 0;
    std::string action;
    return name == "Install" || ParseConditionKey(name, direction, action);
}

bool IsPropertyFileEntry(const std::string& name)
{
    uint32_t index = 0;
    return name == "UC:PROP_COUNT" || name == "CAWPROP" || name == "LongProp:Count" ||
           ParseLongPropertyKey(name, "Name", index) || ParseLongPropertyKey(name, "Value", index);
}

std::string ExplainRecord(const SRecordFacts& record, const SFileFacts& file)
{
    uint32_t number = 0;
    std::string action;
    if (record.name == "Install")
        return ExplainInstall(record);
    if (ParseConditionKey(record.name, number, action))
        return ExplainCondition(record, number, action, file);
    if (record.name == "UC:PROP_COUNT")
        return ExplainUseCount(record);
    if (record.name == "CAWPROP")
        return ExplainMarker(record);
    if (record.name == "LongProp:Count")
        return ExplainLongCount(record);
    if (ParseLongPropertyKey(record.name, "Name", number))
        return ExplainLongName(record, number);
    if (ParseLongPropertyKey(record.name, "Value", number))
        return ExplainLongValue(record, number, file);
    if (file.propertyFile && record.type == RECORD_TYPE_STRING && record.name.size() <= MAX_SHORT_PROPERTY_NAME)
        return "installer property kept for the deferred, rollback and commit phases";
    return std::string();
}

} // namespace inspector
