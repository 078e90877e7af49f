// The command table of submca-inspect. A command is one SCommand object in its own unit and one
// entry in the table of commands.cpp; the shared parser checks its options and operands before
// its run function is called.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "inspector.h"

namespace inspector {

struct SOption {
    const char* pszName;      // as typed: "-o", "--force"
    const char* pszValueName; // null for a flag; else the placeholder shown in the help ("OUT")
    const char* pszHelp;
};

// A parsed command line: the operands in order and each option given (a flag maps to "").
struct SInvocation {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;

    bool Has(const char* option) const { return options.count(option) != 0; }
    // Null when the option was not given.
    const std::string* Value(const char* option) const;
};

struct SCommand {
    const char* pszName;
    const char* pszSummary;     // one line for the overview
    const char* pszSynopsis;    // the usage forms, one per line, each starting with the name
    const char* pszDescription; // what it reads and reports, and at least one example
    std::vector<SOption> options;
    size_t cMinOperands;
    size_t cMaxOperands;
    // Called with a command line that passed the option and operand checks.
    int (*pfnRun)(const SInvocation& invocation, SConsole& console);
};

// The largest control file that scd and check read: far beyond any real SCD.xml.
constexpr uint64_t MAX_CONTROL_FILE = 64 * 1024 * 1024;
// The largest record file that records lists: far beyond the largest one the module verifies.
constexpr uint64_t MAX_RECORD_FILE = 4 * 1024 * 1024;

extern const SCommand g_scdCommand;
extern const SCommand g_recordsCommand;
extern const SCommand g_checkCommand;
extern const SCommand g_logCommand;

// Writes "submca-inspect: <subject>: <message>" (or without the subject when it is empty) as
// one line to err, after flushing out, and returns status.
int Fail(SConsole& console, int status, const std::string& subject, const std::string& message);

// Reads a command's input file whole. False after the one-line message, with status 3 when the
// file cannot be read, or 4 when it is larger than maxSize: a limit of this tool, not a verdict
// of the module.
bool ReadInputFile(SConsole& console, const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes,
                   int& status);

} // namespace inspector
