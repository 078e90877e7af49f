// What a log says about the module, gathered line by line in bounded memory: the calls of its
// actions with their lines, the installation's result, and the signs of trouble that need no line
// of the module. Knows the verbose installer log (as Wine and Windows write it), the install debug
// log and the trace file.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "inspector.h"
#include "logmeaning.h"

namespace inspector {

enum class ELogKind { Unknown, InstallerLog, DebugLog, Trace };

// The command's verdicts, each as its exit status.
enum class EVerdict {
    NothingWrong = INSPECT_OK,
    ModuleReportedProblems = INSPECT_REJECTED,
    NothingOfTheModule = INSPECT_IO_ERROR,
    FailedByModule = INSPECT_FAILED_BY_MODULE,
};

class CLogAnalysis {
public:
    CLogAnalysis();

    void Add(const std::string& line);
    // Closes what the log left open. Call once, after the last line.
    void Finish();

    ELogKind Kind() const noexcept { return m_kind; }
    EVerdict Verdict() const;
    // Everything after the file's own facts: the result, the calls, the signs and the verdict line.
    void WriteReport(std::ostream& out) const;

private:
    struct SModuleLine {
        std::string text;
        const SLineMeaning* meaning;
    };

    struct SCall {
        std::string installerAction; // the installer's name for the call, empty outside its actions
        std::string exportName;      // the module's action, empty while unknown
        std::string phase;           // "immediate", "deferred", "rollback", "commit", or empty
        bool inScript = false;       // run from the installation script
        bool afterFailure = false;   // opened after an action had failed: the script is the rollback
        bool scheduleOnly = false;   // only queued for the script; the script's call is listed
        bool openAtEnd = false;
        int returnValue = -1;
        std::vector<SModuleLine> lines;
        uint64_t linesNotKept = 0;
        std::vector<std::string> begun; // driver phase lines "<Phase> (Begin): <name>" without their end
        std::vector<std::string> ran;   // the names the driver began in this call
        bool abnormalEnd = false;
        std::vector<std::string> falseConditions;
        bool failureLine = false;
        std::string failedDriverAction;
    };

    struct SFrame {
        std::string name;
        long call; // index into m_calls, or -1 for an action that is not the module's
    };

    void DetectKind(const std::string& line);
    void AddInstallerLine(const std::string& line);
    void AddModuleLine(const std::string& text);
    void AddUpdaterLine(const std::string& line);
    void AddTraceLine(const std::string& line);
    void OpenAction(const std::string& name, bool scriptOp);
    void EndAction(const std::string& name, int returnValue);
    void CloseCall(long index);
    SCall& CurrentCall();
    void NoteProblem(const std::string& problem);
    bool IsFailure(int returnValue) const;
    std::string ResultText(int returnValue) const;
    std::string DescribeCall(const SCall& call) const;
    bool OverallFailed() const;
    std::string OverallText() const;
    bool HasModule() const;
    void WriteLines(std::ostream& out, const std::vector<SModuleLine>& lines, uint64_t notKept,
                    std::vector<const SLineMeaning*>& explained) const;
    static void Explain(std::ostream& out, const SLineMeaning* meaning, std::vector<const SLineMeaning*>& explained);

    ELogKind m_kind = ELogKind::Unknown;
    bool m_windows = false; // lines of Windows' own installer ("MSI (s) ...") were seen
    std::vector<SCall> m_calls;
    uint64_t m_callsNotKept = 0;
    SCall m_outside; // module lines outside any action of the installer
    std::vector<SFrame> m_frames;
    int m_scriptDepth = 0;
    long m_scriptCall = -1; // the call a Windows script op opened, until the next op
    std::vector<std::string> m_falseAtScheduling;

    // The installation's result, by the installer's own lines.
    std::string m_engineResult;  // "MainEngineThread is returning N"
    std::string m_productResult; // "Product: ... -- Installation failed." and the like
    int m_installReturn = -1;    // the top-level action INSTALL
    // The first action that failed, not counting the installer's actions around it: as Wine
    // records it, as Windows records it, and as Windows reports a script action's error code.
    struct SFailed {
        std::string name;
        long call = -1;
        uint64_t order = 0;
    };
    SFailed m_failedZero;
    SFailed m_failedThree;
    SFailed m_failedReported;
    SFailed m_firstFailed; // the one that counts, chosen at the end
    uint64_t m_events = 0;
    std::string m_failedByModule; // why the module failed the installation, empty if it did not

    std::map<std::string, uint64_t> m_updaterLines;
    std::map<std::string, uint64_t> m_traceErrors;
    uint64_t m_updaterLineCount = 0;
    uint64_t m_createFailures = 0;
    uint64_t m_keptLines = 0;
    uint64_t m_problemCount = 0;
    uint64_t m_traceLines = 0;
    uint64_t m_moduleLines = 0;

    std::vector<std::string> m_signs;
    std::vector<std::string> m_problems;
};

} // namespace inspector
