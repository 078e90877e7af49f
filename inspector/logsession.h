// One session of a verbose installer log: from one "=== Verbose logging started" (or "=== Logging
// started") to the next, the client's and the server's part of one msiexec run. Follows the
// installer's actions and Windows' script to find the module's calls, and keeps the run's result
// and the first action that failed, each bounded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logcalls.h"
#include "logforms.h"
#include "logscript.h"

namespace inspector {

enum class EOutcome { Unknown, Succeeded, Failed, Cancelled };

class CLogSession {
public:
    CLogSession(uint64_t firstLine, const std::string& header);

    // A line of a verbose installer log, read by ReadInstallerLine.
    void Add(std::string_view raw, const SInstallerLine& line);
    // A module line outside any session's form (the install debug log, the trace).
    void AddModuleLine(const std::string& text);
    // Closes what the log left open. Call once, after the session's last line.
    void Finish();

    void NoteProblem(const std::string& problem);
    void AddSign(const std::string& sign, bool problem);

    uint64_t firstLine;
    std::string header;   // the line that began the session, empty for the first without one
    bool windows = false; // lines of Windows' own installer ("MSI (s) ...") were seen

    std::vector<CCall> calls;
    uint64_t callsNotKept = 0;
    CCall outside; // module lines outside any action of the installer
    uint64_t moduleLines = 0;

    // The run's result, by the installer's own lines, as the line said it ("" when absent).
    std::string installerResult; // "Windows Installer installed the product. ... status: N."
    long installerStatus = -1;
    std::string installerVerb; // "installed", "removed", "reconfigured"
    std::string engineResult;  // "MainEngineThread is returning N"
    long engineStatus = -1;
    std::string productResult; // "Product: P -- Installation failed." and the like
    long productStatus = -1;
    std::string productKind;   // "Installation", "Removal", "Configuration"
    long serverStatus = -1;    // "Back from server. Return value: N"
    int installReturn = -1;    // Wine: the top-level action INSTALL
    std::string wrapperFailed; // "Action ended ...: InstallFinalize. Return value 3." in an excerpt
    bool reinstall = false;    // REINSTALL was set: a repair
    bool removeAll = false;    // REMOVE=ALL: a removal

    struct SAction {
        std::string name;
        long call = -1; // index into calls, or -1 for an action that is not the module's
    };
    SAction firstFailed;              // the first action that failed, not counting the installer's around it
    SAction cancelledIn;              // the action in which the user cancelled
    std::vector<std::string> skipped; // the module's actions skipped for a false condition
    uint64_t skippedNotKept = 0;

    std::vector<std::string> signs;
    uint64_t signsNotKept = 0;
    std::vector<std::string> problems;
    uint64_t problemCount = 0;
    std::string failedByModule; // why the module failed the run, empty if it did not

    bool HasModule() const;
    EOutcome Outcome() const;
    // "installation", "removal", "repair" or "reconfiguration".
    std::string Kind() const;
    // The result as the report shows it: "failed (MainEngineThread is returning 1603)".
    std::string ResultText() const;

private:
    struct SFrame {
        std::string name;
        long call;   // index into calls, or -1
        bool runner; // runs the installation script
    };

    void StartAction(const std::string& name);
    void EndAction(const std::string& name, int returnValue);
    void ScriptLine(const SInstallerLine& line);
    void RemoteCall(const std::string& entryPoint);
    void ActionError(const SInstallerLine& line);
    void ModuleLine(const std::string& text);
    void NoteFailure(const std::string& name, long call);
    void Result(std::string_view raw, const SInstallerLine& line);
    long OpenCall(const std::string& action, const std::string& exportName, EPhase phase);
    long CallOf(const std::string& action) const;
    void CloseScriptCall(bool wentOn);
    void CloseCall(long index);
    bool Failing() const { return !firstFailed.name.empty(); }

    std::vector<SFrame> m_frames;
    uint64_t m_framesNotKept = 0;
    CScript m_script;
    long m_scriptCall = -1;           // the call a script operation opened, until the next operation
    std::string m_doing;              // the action "Doing action" named last
    long m_pendingCall = -1;          // a remote call of the module before its action's start
    bool m_scriptCallInvoked = false; // the script call's remote call was seen
    int m_runnerDepth = 0;
    uint64_t m_keptLines = 0;
    CBoundedNames m_falseAtScheduling;
};

} // namespace inspector
