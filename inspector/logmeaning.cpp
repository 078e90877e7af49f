#include "logmeaning.h"

#include <cctype>
#include <cstring>

namespace inspector {

namespace {

using S = ELineSource;

const std::vector<SLineMeaning> g_meanings = {
    // UpdateQSN
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to read InstalledApps Key ORBSubmissionEngineData",
     "the engine's data folder is not recorded: `ORBSubmissionEngineData` is missing, empty or not a string; "
     "nothing was touched",
     "the value under `HKLM\\Software\\Korvalin\\InstalledApps` (the 32-bit view, `WOW6432Node`, on 64-bit "
     "Windows) and the package's Registry table that writes it",
     true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070002",
     "`SCD.xml` is missing from the engine's data folder, or is a folder (also when the data folder value is only "
     "backslashes); the engine is untouched",
     "that `SCD.xml` is in the folder that `ORBSubmissionEngineData` names and that the package installs it "
     "there",
     true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070490",
     "`SCD.xml` has no `product`, no `controlSettings`, no usable control, or a `server` without a port; the "
     "earlier configurations are kept",
     "`submca-inspect check SCD.xml` names what is missing", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80004005",
     "`SCD.xml` is not well-formed XML (or not text, or nested too deep), or the engine refused a call (load, "
     "count, remove, save); what was removed before stays removed",
     "`submca-inspect check SCD.xml`; if it accepts the file, the engine refused a call and the trace names it", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80020005",
     "a number in `SCD.xml` is not a number; the earlier configurations are kept",
     "`submca-inspect check SCD.xml` names the element", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x800700E8",
     "`SCD.xml` is empty, or an enciphered file with no body; it is left as it is",
     "`submca-inspect scd SCD.xml`; replace the file with the package's", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070570",
     "`SCD.xml` is a damaged enciphered file; it is left byte for byte",
     "`submca-inspect scd SCD.xml` says what is damaged; replace the file with the package's", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070020",
     "another program held `SCD.xml` open; the file is left as it is",
     "which program holds the file (an editor, a backup or scanning tool), then run the installation again", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x8007007E",
     "a module could not be loaded: the trust verifier `srVrTrst.dll` is absent, or the engine `vexcore.dll` is "
     "not where `ORBSubmissionEngine` says; the engine's configurations are untouched",
     "the `InstalledApps` values `ORBSubmissionEngine` and `Shared Runtime` and the files there; the trace line "
     "\"Failed to get cfg mgr\" has the loader's own code",
     true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80004003",
     "the engine answered success but handed out no configuration; treated as a refused call",
     "the engine's version and state; the trace", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to update QSN config: {hex}",
     "the update stopped with this code: the engine or its trust check refused it (often an unrelated "
     "0x800700B7 from a failing trust verifier), or the file could not be read; the engine's configurations are "
     "untouched",
     "the `InstalledApps` values `ORBSubmissionEngine` and `Shared Runtime`; the trace line \"Failed to get cfg "
     "mgr\" or the file's own error line",
     true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to set engine config defaults: 0x80004003",
     "the engine handed out no engine-wide configuration; the submission configurations were still updated",
     "the engine's version and state; the trace", true},
    {S::InstallerLog, "UpdateQSN", "KRVL (Error): Failed to set engine config defaults: {hex}",
     "the engine refused the engine-wide configuration (startup delay, maximum submission age, data store "
     "size); the submission configurations were still updated",
     "the trace lines \"Failed to get engine config\" or \"Failed to save config\"", true},
    // UnloadSubmissionService
    {S::InstallerLog, "UnloadSubmissionService",
     "KRVL (Error): Failed to initialize svc Control.  Submission Service not running. hr = {hex}",
     "the service control could not be set up; nothing was unloaded, so the engine's files may still be in use",
     "the service host `srSvc.dll` in the `Shared Runtime` folder and the trust verifier; the trace", true},
    {S::InstallerLog, "UnloadSubmissionService", "KRVL (Error): Failed to stop the submission service: {hex}",
     "the service host refused to unload the engine (the host's code); the engine kept running",
     "the service host's state; restarting the host frees the engine's files", true},
    // WriteInstalledAppsKey
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to get long path name",
     "the key `HKLM\\Software\\Korvalin\\InstalledApps` is missing or cannot be opened for reading and writing; "
     "nothing changed",
     "the key (32-bit view on 64-bit Windows); the action must run deferred without impersonation after "
     "`WriteRegistryValues`",
     true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Could not find reg key, Error val = 2",
     "the value `ORBSubmissionEngineData` is missing; nothing changed",
     "that the package writes the value and that the action runs after `WriteRegistryValues`", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Could not find reg key, Error val = 234",
     "the value `ORBSubmissionEngineData` is longer than a path; nothing changed", "the value's content", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Could not find reg key, Error val = 13",
     "the value `ORBSubmissionEngineData` is not a string or is malformed; nothing changed",
     "the value's type (`REG_SZ`) and content", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Could not find reg key, Error val = {n}",
     "the value `ORBSubmissionEngineData` could not be read (the registry's error code); nothing changed",
     "the value and the account's rights on the key", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to convert to short path name, Error Val = 2",
     "the folder in `ORBSubmissionEngineData` does not exist; the value is unchanged",
     "that the folder exists when the action runs (after the package has created it)", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to convert to short path name, Error Val = 5",
     "access to the folder in `ORBSubmissionEngineData` was denied; the value is unchanged",
     "the folder's permissions for the account that runs the action", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to convert to short path name, Error Val = 206",
     "the folder's short form would not fit 260 characters; the value is unchanged",
     "the folder's depth; a shorter data folder", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to convert to short path name, Error Val = {n}",
     "the folder has no short form (the system's error code); the value is unchanged",
     "whether short names are switched off on that volume (`fsutil 8dot3name query`)", true},
    {S::InstallerLog, "WriteInstalledAppsKey", "KRVL (Error): Failed to write short path name",
     "the registry refused the write; the value is unchanged", "the account's rights on the `InstalledApps` key", true},
    // RegisterPR, through the framework's driver
    {S::InstallerLog, "RegisterPR",
     "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE.",
     "`RegisterPR` could not reach the updater (PatchRelay) in the deferred registration of an installation: "
     "its COM classes could not be created in 20 attempts. The installation fails (1603) and is rolled back",
     "the updater's installation and its classes {8E2A4C61-5B3D-11D2-A7F0-00A0C93E5B21} and "
     "{4B91D7C3-6E2A-11D2-9C5B-0060B82F4A17}; with `DebugLog` 1 the install debug log says why "
     "(\"CoCreateInstance failed: 0x...\")",
     true},
    {S::InstallerLog, "the framework's driver", "KRVL (Error): Failure in {text}, returning ERROR_INSTALL_FAILURE.",
     "an action run by the framework's driver failed its scheduling or deferred call; the installation fails "
     "(1603)",
     "the action's own lines before this one", true},
    {S::InstallerLog, "RegisterPR", "KRVL: SubmissionEnginePatchRelay: (condition is false)",
     "`RegisterPR`'s install condition did not hold: the updater's component "
     "`vex_refresh.exe.6C1E93A7_B54F_4E28_9D3A_F07B2C61D48E` is not installed locally, so nothing is registered "
     "with the updater",
     "that the package holds that component and installs it locally", true},
    {S::InstallerLog, "any module action", "KRVL (Error): {text}", "an error line this tool does not know",
     "the module's version; the trace", true},
    // The updater client, in the install debug log
    {S::DebugLog, "RegisterPR (updater client)", "CoCreateInstance failed: 0x80040154",
     "the updater's COM classes are not registered: the updater is absent. `RegisterPR` tries 20 times, half a "
     "second apart, in each call that needs the updater",
     "install or repair the updater (PatchRelay); in an installation's deferred call this fails the installation",
     true},
    {S::DebugLog, "RegisterPR (updater client)", "CoCreateInstance failed: {hex}",
     "an updater COM class could not be created: the updater is broken",
     "the updater's registration (the `InprocServer32` of its two classes) and its files", true},
    {S::DebugLog, "RegisterPR (updater client)", "RegisterProduct or SetProperty failed: {hex}",
     "the updater refused one product or one of its properties; the other product is still registered",
     "the updater's own log", true},
    // The trace
    {S::Trace, "UpdateQSN", "{text}Failed to get cfg mgr: sr = {hex}, hr = {hex}",
     "the engine's configuration manager could not be created: `vexcore.dll` is not in the `ORBSubmissionEngine` "
     "folder, the trust check refused it, or the trust verifier `srVrTrst.dll` is absent (sr is the loader's "
     "code)",
     "the `InstalledApps` values `ORBSubmissionEngine` and `Shared Runtime` and the files there", true},
    {S::Trace, "UnloadSubmissionService, UpdateQSN", "{text}Failed to create svc manager: {hex}",
     "the service host `srSvc.dll` is absent or refused by the trust check: the engine counts as not running, "
     "nothing is unloaded and `UpdateQSN` updates while the engine runs",
     "the `Shared Runtime` value and `srSvc.dll` there", true},
    {S::Trace, "UpdateQSN", "{text}Could not get file attrib for {text}: {hex}",
     "`SCD.xml` could not be found where the update looked", "the path in the line", true},
    {S::Trace, "any", "{text} : CCCATCH : {text}",
     "a call stopped on an exception (for example memory running out); the line names the function",
     "the machine's free memory; run the installation again", true},
};

bool IsHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// How many characters of text one element of the pattern takes ("{hex}", "{n}" or a literal
// character), or 0 when it does not match; `element` gets the element's length in the pattern.
size_t Take(const char* pattern, const char* text, size_t& element)
{
    if (*pattern == '{' && std::strncmp(pattern, "{hex}", 5) == 0) {
        element = 5;
        if (text[0] != '0' || text[1] != 'x' || !IsHexDigit(text[2]))
            return 0;
        size_t taken = 2;
        while (IsHexDigit(text[taken]))
            ++taken;
        return taken;
    }
    if (*pattern == '{' && std::strncmp(pattern, "{n}", 3) == 0) {
        element = 3;
        size_t taken = text[0] == '-' ? 1 : 0;
        if (!IsDigit(text[taken]))
            return 0;
        while (IsDigit(text[taken]))
            ++taken;
        return taken;
    }
    element = 1;
    // The updater writes its codes in lower case.
    return *text != '\0' && Lower(*pattern) == Lower(*text) ? 1 : 0;
}

// Whether text matches pattern from here to the end of both. "{text}" takes as little as it can:
// on a mismatch the last "{text}" takes one more character and the rest of the pattern is tried
// again from there. Every other element matches without a choice, so a line costs at most its
// length times the pattern's, however often it repeats a part of the pattern.
bool Matches(const char* pattern, const char* text)
{
    const char* afterAny = nullptr;
    const char* anyEnd = nullptr;
    while (*pattern != '\0' || *text != '\0') {
        if (*pattern == '{' && std::strncmp(pattern, "{text}", 6) == 0) {
            pattern += 6;
            afterAny = pattern;
            anyEnd = text;
            continue;
        }
        size_t element = 0;
        const size_t taken = *pattern == '\0' ? 0 : Take(pattern, text, element);
        if (taken > 0) {
            pattern += element;
            text += taken;
            continue;
        }
        if (afterAny == nullptr || *anyEnd == '\0')
            return false;
        pattern = afterAny;
        ++anyEnd;
        // Where a literal character follows "{text}", the places that do not have it fail at once:
        // skipped in one pass, which makes a long line of a trace cheap.
        if (*afterAny != '\0' && *afterAny != '{') {
            const char wanted = Lower(*afterAny);
            while (*anyEnd != '\0' && Lower(*anyEnd) != wanted)
                ++anyEnd;
        }
        text = anyEnd;
    }
    return true;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A row's pattern up to its first "{": each of these characters takes exactly one character of
// a matching line, so a line shorter than that, or with another character at one of its places,
// cannot match. Checking two places spares the full match on almost every row a line does not have.
struct SLiteralStart {
    size_t length;
    size_t middle;
};

const std::vector<SLiteralStart>& LiteralStarts()
{
    static const std::vector<SLiteralStart> starts = [] {
        std::vector<SLiteralStart> built;
        for (const SLineMeaning& meaning : g_meanings) {
            const char* brace = std::strchr(meaning.pszPattern, '{');
            const size_t length = brace ? size_t(brace - meaning.pszPattern) : std::strlen(meaning.pszPattern);
            built.push_back({length, length / 2});
        }
        return built;
    }();
    return starts;
}

bool CannotMatch(const SLineMeaning& meaning, const SLiteralStart& start, const std::string& text)
{
    if (start.length == 0)
        return false;
    if (text.size() < start.length)
        return true;
    return Lower(text[start.length - 1]) != Lower(meaning.pszPattern[start.length - 1]) ||
           Lower(text[start.middle]) != Lower(meaning.pszPattern[start.middle]);
}

const char* SourceName(ELineSource source)
{
    switch (source) {
    case ELineSource::InstallerLog:
        return "installer log";
    case ELineSource::DebugLog:
        return "install debug log";
    case ELineSource::Trace:
        return "trace";
    }
    return "";
}

} // namespace

const std::vector<SLineMeaning>& LineMeanings()
{
    return g_meanings;
}

const SLineMeaning* FindMeaning(ELineSource source, const std::string& text)
{
    // Most rows start with a literal that most lines do not: their first character decides.
    const char first = text.empty() ? '\0' : Lower(text[0]);
    const std::vector<SLiteralStart>& starts = LiteralStarts();
    for (size_t row = 0; row < g_meanings.size(); ++row) {
        const SLineMeaning& meaning = g_meanings[row];
        const char start = meaning.pszPattern[0];
        if (meaning.source != source || (start != '{' && Lower(start) != first) ||
            CannotMatch(meaning, starts[row], text))
            continue;
        if (Matches(meaning.pszPattern, text.c_str()))
            return &meaning;
    }
    return nullptr;
}

std::string ShownPattern(const SLineMeaning& meaning)
{
    return ReplaceAll(ReplaceAll(ReplaceAll(meaning.pszPattern, "{hex}", "0x..."), "{n}", "N"), "{text}", "...");
}

std::string MeaningsAsMarkdown()
{
    std::string table = "| Line | Where | Written by | Means | Check next |\n|---|---|---|---|---|\n";
    for (const SLineMeaning& meaning : g_meanings) {
        table += "| `" + ShownPattern(meaning) + "` | " + SourceName(meaning.source) + " | " + meaning.pszWriter +
                 " | " + meaning.pszMeaning + " | " + meaning.pszCheck + " |\n";
    }
    return table;
}

} // namespace inspector
