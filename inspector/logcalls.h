// One call of the module's actions as a log shows it: which export, under which installer action,
// in which phase, with which result, and the module's own lines in it, read for the framework
// driver's phase, condition and failure lines. Everything kept is bounded; the rest is counted.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "logmeaning.h"

namespace inspector {

// The module's four exports, or empty: by an entry point as the installer names it, exactly.
std::string ExportByEntryPoint(const std::string& entryPoint);
// By an installer action's name, as packages name them ("RegisterPR_Deferred").
std::string ExportByName(const std::string& name);

extern const char DRIVER_ACTION[];   // RegisterPR's one action of the framework's driver
extern const char DRIVER_SEQUENCE[]; // its sequence, and the name of its data file

enum class EPhase { Unknown, Immediate, Deferred, Rollback, Commit };

const char* PhaseText(EPhase phase);

// Text of a log as the report shows it: through the one escaping function, cut at a length that
// keeps a report readable ("..." marks the cut).
std::string Shown(const std::string& text);
constexpr size_t MAX_SHOWN_LENGTH = 400;

// Names with how often each is held, at most `limit` distinct ones; what does not fit is counted.
class CBoundedNames {
public:
    explicit CBoundedNames(size_t limit) : m_limit(limit) {}
    void Add(const std::string& name);
    // Takes one of name away; false when it was not held.
    bool Take(const std::string& name);
    bool Holds(const std::string& name) const { return m_counts.count(name) != 0; }
    const std::unordered_map<std::string, uint32_t>& Held() const noexcept { return m_counts; }
    uint64_t NotKept() const noexcept { return m_notKept; }

private:
    size_t m_limit;
    std::unordered_map<std::string, uint32_t> m_counts;
    uint64_t m_notKept = 0;
};

struct SModuleLine {
    std::string text; // cut at the length shown
    const SLineMeaning* meaning;
};

class CCall {
public:
    CCall();

    std::string installerAction; // the installer's name for the call, empty outside its actions
    std::string exportName;      // the module's action, empty while unknown
    EPhase phase = EPhase::Unknown;
    bool inScript = false;          // Wine: run while the installation script ran
    bool afterFailure = false;      // Wine: opened after an action had failed, so in the rollback
    bool scheduleOnly = false;      // only queued for the script, where its call is listed
    bool openAtEnd = false;         // the log ends inside the call
    bool scriptWentOn = false;      // Windows: a script call that the script went on from
    int returnValue = -1;           // "Action ended ... Return value N"
    long errorCode = -1;            // "CustomAction ... returned actual error code N"
    bool errorIgnored = false;      // ... "translated to success due to continue marking"
    bool abnormalEnd = false;       // a driver phase began and never ended before the call did
    std::string failedDriverAction; // "Failure in NAME, returning ERROR_INSTALL_FAILURE."

    std::vector<SModuleLine> lines;
    uint64_t linesNotKept = 0;
    CBoundedNames begun;           // driver phases "<Phase> (Begin): NAME" without their end
    CBoundedNames ran;             // the names the driver began in this call
    CBoundedNames falseConditions; // "NAME: (condition is false)"

    bool HasLines() const noexcept { return !lines.empty() || linesNotKept > 0; }
    // Takes a module line ("KRVL: ..."); returns its meaning, if the table has one.
    const SLineMeaning* AddLine(const std::string& text, bool keep);
    // "RegisterPR: action "RegisterPR_Deferred", deferred, Return value 1 (succeeded)"
    std::string Describe(bool windows) const;
    // Whether the installer counts the call as failed.
    bool Failed(bool windows) const;
};

} // namespace inspector
