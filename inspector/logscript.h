// Windows' installation script as a verbose log shows its operations ("Executing op: ..."): the
// forward script, where a rollback or commit action is only queued and a deferred one runs; the
// commit actions after the script's End, which the log shows only by their remote call; and the
// rollback script after a failure, where the queued rollback actions run.
#pragma once

#include <deque>
#include <string>

#include "logcalls.h"
#include "logforms.h"

namespace inspector {

class CScript {
public:
    enum class EMode {
        Outside,  // no script is running
        Forward,  // the script of the installation, in InstallExecute or InstallFinalize
        AfterEnd, // the forward script is through; its commit actions run
        Rollback, // the rollback script
    };

    // What an operation or a remote call means for the module's calls.
    struct SStep {
        bool call = false; // runs an action of the module
        EPhase phase = EPhase::Unknown;
        std::string action;
        std::string exportName;
    };

    // An action that runs the script began or ended (InstallExecute, InstallFinalize, ...).
    void RunnerStarted();
    void RunnerEnded();
    // "Action 10:00:00: Rollback."
    void RollbackStarted() { m_mode = EMode::Rollback; }

    // An "Executing op: ..." line. Operations outside the actions that run the script belong to
    // the rollback script when an action has failed or was cancelled, else to a script whose
    // start the log does not hold (an excerpt).
    SStep Operation(const SInstallerLine& line, bool afterFailure);
    // A remote call of the export with no operation of its own: a commit action after End, named
    // by the queue of commit actions.
    SStep RemoteCall(const std::string& exportName);

    EMode Mode() const noexcept { return m_mode; }
    // The action the last "ActionStart" operation named.
    const std::string& Action() const noexcept { return m_action; }

private:
    struct SQueued {
        std::string action;
        std::string exportName;
    };

    EMode m_mode = EMode::Outside;
    std::string m_action;
    std::deque<SQueued> m_commits; // bounded; the oldest is dropped
};

} // namespace inspector
