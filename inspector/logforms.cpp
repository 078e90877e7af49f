#include "logforms.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "text.h"

namespace inspector {

namespace {

// Where "KRVL" first occurs in the line, or npos.
size_t FindModuleMark(std::string_view line)
{
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    for (const char* at = begin; end - at >= 4;) {
        const char* k = static_cast<const char*>(std::memchr(at, 'K', size_t(end - at - 3)));
        if (k == nullptr)
            break;
        if (std::memcmp(k + 1, "RVL", 3) == 0)
            return size_t(k - begin);
        at = k + 1;
    }
    return std::string::npos;
}

// The number at `at` as strtol reads it; the line lies in the middle of the piece read, with no
// terminating NUL, so strtol gets a copy of the number's characters alone.
long Number(std::string_view text, size_t at)
{
    if (at >= text.size())
        return -1;
    size_t end = at;
    while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])))
        ++end;
    if (end < text.size() && (text[end] == '+' || text[end] == '-'))
        ++end;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
        ++end;
    return std::strtol(std::string(text.substr(at, end - at)).c_str(), nullptr, 10);
}

// The text from `at` up to the first of the stop characters (or the end); stops holds one or two.
std::string Until(std::string_view text, size_t at, const char* stops)
{
    if (at >= text.size())
        return std::string();
    const char first = stops[0];
    const char second = stops[1] != '\0' ? stops[1] : first;
    size_t end = at;
    while (end < text.size() && text[end] != first && text[end] != second)
        ++end;
    return std::string(text.substr(at, end - at));
}

// "NAME=VALUE" of a script operation's fields, from `at` on.
std::string OpField(std::string_view body, size_t at, const char* name)
{
    const size_t field = body.find(name, at);
    return field == std::string::npos ? std::string() : Until(body, field + std::strlen(name), ",)");
}

using Parser = bool (*)(std::string_view body, size_t at, SInstallerLine& line);

// "Action start 10:00:00: NAME." and "Action ended 10:00:00: NAME. Return value N."
bool ActionLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const size_t colon = body.find(": ", at);
    if (colon == std::string::npos)
        return false;
    std::string name(body.substr(colon + 2));
    if (line.form == EForm::ActionEnded) {
        const size_t value = name.rfind(". Return value ");
        if (value == std::string::npos)
            return false;
        line.number = Number(name, value + 15);
        name.resize(value);
    } else if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    line.name = name;
    return !name.empty();
}

// "Action 10:00:00: Rollback. Rolling back action:"
bool RollbackLine(std::string_view body, size_t at, SInstallerLine&)
{
    const size_t colon = body.find(": ", at);
    return colon != std::string::npos && colon - at <= 12 && StartsWith(body, "Rollback.", colon + 2);
}

bool NameLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = body.substr(at);
    return !line.name.empty();
}

bool ScriptHeaderLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const std::string type = OpField(body, at, "ScriptType=");
    line.number = type.empty() ? -1 : std::strtol(type.c_str(), nullptr, 10);
    return true;
}

bool SkippedLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = Until(body, at, " ");
    return !line.name.empty();
}

bool ScriptActionStartLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = Until(body, at, ",)");
    return !line.name.empty();
}

// "Action=NAME,ActionType=N,Source=BinaryData,Target=T,..."
bool ScriptCustomActionLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = Until(body, at, ",)");
    const std::string type = OpField(body, at, "ActionType=");
    line.number = type.empty() ? -1 : std::strtol(type.c_str(), nullptr, 10);
    line.target = OpField(body, at, "Target=");
    return !line.name.empty();
}

bool AnyLine(std::string_view, size_t, SInstallerLine&)
{
    return true;
}

// "... DLL: PATH, Entrypoint: T"
bool InvokingLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const size_t entry = body.find(", Entrypoint: ", at);
    if (entry == std::string::npos)
        return false;
    line.target = body.substr(entry + 14);
    return true;
}

// "NAME returned actual error code N (note ...)" or "... N but will be translated to success
// due to continue marking".
bool ActionErrorLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const size_t returned = body.find(" returned actual error code ", at);
    if (returned == std::string::npos)
        return false;
    line.name = body.substr(at, returned - at);
    line.number = Number(body, returned + 28);
    if (body.find("translated to success due to continue marking", returned) != std::string::npos)
        line.form = EForm::ActionErrorIgnored;
    return !line.name.empty();
}

// "1722 2: NAME 3: ..." after "Note: 1: "; the errors of a failed script or program action.
bool NoteLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const long error = Number(body, at);
    if ((error < 1720 || error > 1723) || !StartsWith(body, " 2: ", at + 4))
        return false;
    line.number = error;
    line.name = Until(body, at + 8, " ");
    return !line.name.empty();
}

// "P -- Installation failed." and the like, or "P -- Error NNNN. ..."
bool ProductLine(std::string_view body, size_t at, SInstallerLine& line)
{
    const size_t dash = body.find(" -- ", at);
    if (dash == std::string::npos)
        return false;
    const size_t what = dash + 4;
    if (StartsWith(body, "Error ", what) || StartsWith(body, "Warning ", what)) {
        line.form = EForm::ProductError;
        line.number = Number(body, what + 6);
        return true;
    }
    for (const char* kind : {"Installation", "Removal", "Configuration"}) {
        if (!StartsWith(body, kind, what))
            continue;
        line.name = kind;
        const bool completed = body.find("completed successfully", what) != std::string::npos;
        if (!completed && body.find("failed", what) == std::string::npos)
            return false;
        line.number = completed ? 0 : 1603;
        return true;
    }
    return false;
}

// "installed the product. Product Name: ... success or error status: N."
bool InstallerResultLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = Until(body, at, " ");
    const size_t status = body.find("success or error status: ", at);
    if (status == std::string::npos || !StartsWith(body, " the product", at + line.name.size()))
        return false;
    line.number = Number(body, status + 25);
    return line.name == "installed" || line.name == "removed" || line.name == "reconfigured";
}

bool NumberLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.number = Number(body, at);
    return line.number >= 0;
}

// "Property(S): NAME = VALUE"; only the properties that say what kind of run it is (REINSTALL,
// REMOVE): a log dumps hundreds of others.
bool PropertyLine(std::string_view body, size_t at, SInstallerLine& line)
{
    if (!StartsWith(body, "RE", at))
        return false;
    const size_t equals = body.find(" = ", at);
    if (equals == std::string::npos)
        return false;
    line.name = body.substr(at, equals - at);
    line.text = body.substr(equals + 3);
    return true;
}

// "NAME property. Its value is 'VALUE'." after "PROPERTY CHANGE: Adding " or "Modifying ".
bool PropertyChangeLine(std::string_view body, size_t at, SInstallerLine& line)
{
    line.name = Until(body, at, " ");
    const size_t value = body.find("Its value is '", at);
    if (value == std::string::npos)
        return false;
    line.text = Until(body, value + 14, "'");
    return true;
}

const struct {
    const char* pszStart; // the form's text at the start of the line, after any "MSI (x) ..." prefix
    EForm form;
    Parser parse; // reads the fields from the text after pszStart
} FORMS[] = {
    {"=== Verbose logging started", EForm::SessionStart, AnyLine},
    {"=== Logging started", EForm::SessionStart, AnyLine},
    {"Doing action: ", EForm::DoingAction, NameLine},
    {"Action start ", EForm::ActionStart, ActionLine},
    {"Action ended ", EForm::ActionEnded, ActionLine},
    {"Action ", EForm::RollbackStart, RollbackLine},
    {"Skipping action: ", EForm::Skipped, SkippedLine},
    {"Executing op: Header(", EForm::ScriptHeader, ScriptHeaderLine},
    {"Executing op: ActionStart(Name=", EForm::ScriptActionStart, ScriptActionStartLine},
    {"Executing op: CustomActionSchedule(Action=", EForm::ScriptSchedule, ScriptCustomActionLine},
    {"Executing op: CustomActionRollback(Action=", EForm::ScriptRollback, ScriptCustomActionLine},
    {"Executing op: CustomActionCommit(Action=", EForm::ScriptCommit, ScriptCustomActionLine},
    {"Executing op: End(", EForm::ScriptEnd, AnyLine},
    {"Executing op: ", EForm::ScriptOp, AnyLine},
    {"Invoking remote custom action. DLL: ", EForm::Invoking, InvokingLine},
    {"CustomAction ", EForm::ActionError, ActionErrorLine},
    {"Note: 1: ", EForm::ActionNote, NoteLine},
    {"Product: ", EForm::ProductResult, ProductLine},
    {"Windows Installer ", EForm::InstallerResult, InstallerResultLine},
    {"MainEngineThread is returning ", EForm::EngineResult, NumberLine},
    {"Back from server. Return value: ", EForm::BackFromServer, NumberLine},
    {"Property(S): ", EForm::Property, PropertyLine},
    {"Property(C): ", EForm::Property, PropertyLine},
    {"Property(N): ", EForm::Property, PropertyLine},
    {"PROPERTY CHANGE: Adding ", EForm::Property, PropertyChangeLine},
    {"PROPERTY CHANGE: Modifying ", EForm::Property, PropertyChangeLine},
};

// The rows whose form starts with each character, with the length of that start: a line is
// compared with the few rows of its first character, and most lines with none.
struct SFormIndex {
    std::vector<std::pair<size_t, size_t>> rows[256]; // index into FORMS, length of pszStart
};

const SFormIndex& Index()
{
    static const SFormIndex index = [] {
        SFormIndex built;
        for (size_t row = 0; row < sizeof(FORMS) / sizeof(FORMS[0]); ++row)
            built.rows[static_cast<unsigned char>(FORMS[row].pszStart[0])].push_back(
                {row, std::strlen(FORMS[row].pszStart)});
        return built;
    }();
    return index;
}

// Whether the line has a row's start at `at`. The rows that share a first character mostly differ
// in their last ones ("Property(S): ", "Property(C): "): those eight are compared first, inline.
bool HasStart(std::string_view line, size_t at, const char* start, size_t length)
{
    if (line.size() - at < length)
        return false;
    const char* const text = line.data() + at;
    if (length >= 8 && std::memcmp(text + length - 8, start + length - 8, 8) != 0)
        return false;
    return std::memcmp(text, start, length) == 0;
}

// Where the line's text starts after the blanks and Windows' prefix "MSI (s) (F4:A8)
// [10:00:00:001]: " (without the time in Windows Installer 2.0's logs).
size_t TextStart(std::string_view line, char& side)
{
    size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    if (!StartsWith(line, "MSI (", start) || !StartsWith(line, ") (", start + 6))
        return start;
    const size_t threads = line.find(')', start + 9);
    if (threads == std::string::npos || threads > start + 24)
        return start;
    size_t end = threads + 1;
    if (StartsWith(line, " [", end)) {
        end = line.find(']', end);
        if (end == std::string::npos || end > start + 64)
            return start;
        ++end;
    }
    if (!StartsWith(line, ": ", end))
        return start;
    side = line[start + 5];
    return end + 2;
}

} // namespace

SInstallerLine ReadInstallerLine(std::string_view line)
{
    SInstallerLine read;
    const size_t krvl = FindModuleMark(line);
    if (krvl != std::string::npos && (StartsWith(line, "KRVL: ", krvl) || StartsWith(line, "KRVL (Error): ", krvl))) {
        read.form = EForm::ModuleLine;
        read.text = line.substr(krvl);
        return read;
    }
    const size_t at = TextStart(line, read.side);
    read.at = at;
    if (at >= line.size())
        return read;
    for (const auto& row : Index().rows[static_cast<unsigned char>(line[at])]) {
        const auto& form = FORMS[row.first];
        if (!HasStart(line, at, form.pszStart, row.second))
            continue;
        read.form = form.form;
        if (form.parse(line, at + row.second, read))
            return read;
        // A row whose start fits but whose fields do not: the line is read afresh by the next row.
        read.form = EForm::None;
        read.name.clear();
        read.target.clear();
        read.text.clear();
        read.number = -1;
    }
    return read;
}

} // namespace inspector
