// The lines of the module and of its collaborators that tell a support engineer something: what
// each means and what to check next. The one table behind both "submca-inspect log" and the
// README's "When things go wrong" section (a test keeps the README's copy equal to it).
#pragma once

#include <string>
#include <vector>

namespace inspector {

enum class ELineSource {
    InstallerLog, // "KRVL: " and "KRVL (Error): " lines, also mirrored into the install debug log
    DebugLog,     // the updater client's lines in KRVMSI<pid>.log
    Trace,        // the message part of a trace line in submca.log
};

struct SLineMeaning {
    ELineSource source;
    const char* pszWriter; // the action or part that writes the line
    // The line: literal text, where "{hex}" stands for "0x" and hex digits, "{n}" for a decimal
    // number and "{text}" for any text. The first row that matches a line is its meaning, so a
    // line with a specific code comes before the row with "{hex}".
    const char* pszPattern;
    const char* pszMeaning;
    const char* pszCheck; // what to check next
    bool bProblem;        // false for a line that is only worth knowing
};

const std::vector<SLineMeaning>& LineMeanings();

// The first row of source that matches text, or null.
const SLineMeaning* FindMeaning(ELineSource source, const std::string& text);

// The pattern as the README shows it: "{hex}" as "0x...", "{n}" as "N", "{text}" as "...".
std::string ShownPattern(const SLineMeaning& meaning);

// The README's table of the rows, as Markdown lines.
std::string MeaningsAsMarkdown();

} // namespace inspector
