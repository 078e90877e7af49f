#include "logverdict.h"

namespace inspector {

namespace {

std::string DriverFailure(const std::string& driverAction)
{
    return driverAction == DRIVER_ACTION ? "RegisterPR could not reach the updater in its deferred call"
                                         : "the driver's action \"" + Shown(driverAction) + "\" failed";
}

// Why the module failed the run: its failure line (unless continue marking let the run go on),
// or its call is the action that failed, or it ended abnormally in a run that failed without
// naming an action.
std::string WhyTheModuleFailed(const CLogSession& session)
{
    for (const CCall& call : session.calls) {
        if (!call.failedDriverAction.empty() && !call.errorIgnored)
            return DriverFailure(call.failedDriverAction);
    }
    if (!session.outside.failedDriverAction.empty())
        return DriverFailure(session.outside.failedDriverAction);
    if (session.firstFailed.call >= 0) {
        const CCall& call = session.calls[size_t(session.firstFailed.call)];
        if (!call.exportName.empty())
            return call.exportName + " (action \"" + Shown(call.installerAction) + "\") failed" +
                   (call.abnormalEnd ? " after ending abnormally" : "");
    }
    if (session.firstFailed.name.empty() && session.Outcome() == EOutcome::Failed) {
        for (const CCall& call : session.calls) {
            if (call.abnormalEnd)
                return (call.exportName.empty() ? "a call of the module" : call.exportName) +
                       " ended abnormally in its " + PhaseText(call.phase) + " call";
        }
    }
    return std::string();
}

// RegisterPR takes the removal side whenever the product is installed: a repair or a change
// removes both products from the updater, and nothing of the module registers them again.
void SignRegistrationLost(CLogSession& session)
{
    const std::string kind = session.Kind();
    if (kind != "repair" && kind != "reconfiguration")
        return;
    for (const CCall& call : session.calls) {
        if (call.exportName == "RegisterPR" && call.phase == EPhase::Immediate && call.ran.Holds(DRIVER_ACTION)) {
            session.AddSign("this " + kind +
                                " ran RegisterPR's immediate call on the installed product, which removes "
                                "both products from the updater; the module offers no call that registers them "
                                "again, so the updater no longer knows them",
                            true);
            return;
        }
    }
}

// A rollback or commit action of RegisterPR whose type lacks its bit runs at once, as a second
// scheduling call: it never runs in its phase, and each run leaves the record files behind.
void SignImmediateRollbackOrCommit(CLogSession& session)
{
    const CCall* first = nullptr;
    for (const CCall& call : session.calls) {
        if (call.exportName != "RegisterPR" || call.phase != EPhase::Immediate || call.scheduleOnly)
            continue;
        if (first == nullptr) {
            first = &call;
        } else if (call.installerAction != first->installerAction) {
            session.AddSign("\"" + Shown(call.installerAction) +
                                "\" ran as an immediate action, a second scheduling call of RegisterPR: its type "
                                "lacks the rollback or commit bit (1281, 1537; wixl writes such actions as immediate "
                                "ones), so it never ran in its phase, and each run leaves the record files " +
                                std::string(DRIVER_SEQUENCE) + ".dat and krvlprop.dat behind in the temporary folder",
                            true);
        }
    }
}

} // namespace

void Judge(CLogSession& session)
{
    SignRegistrationLost(session);
    SignImmediateRollbackOrCommit(session);
    session.failedByModule = WhyTheModuleFailed(session);
}

EVerdict VerdictOf(const CLogSession& session)
{
    if (!session.HasModule() && session.problemCount == 0)
        return EVerdict::NothingOfTheModule;
    if (!session.failedByModule.empty())
        return EVerdict::FailedByModule;
    return session.problemCount > 0 ? EVerdict::ModuleReportedProblems : EVerdict::NothingWrong;
}

std::string VerdictText(const CLogSession& session)
{
    std::string verdict;
    switch (VerdictOf(session)) {
    case EVerdict::FailedByModule:
        return "the " + session.Kind() + " failed because of the module: " + session.failedByModule;
    case EVerdict::ModuleReportedProblems:
        verdict =
            "the module reported problems (" + std::to_string(session.problemCount) + "): " + session.problems.front();
        break;
    case EVerdict::NothingWrong:
    case EVerdict::NothingOfTheModule:
        verdict = "nothing wrong found";
        break;
    }
    switch (session.Outcome()) {
    case EOutcome::Failed:
        verdict += session.firstFailed.name.empty()
                       ? "; the " + session.Kind() + " failed, and no line shows that the module failed it"
                       : "; the " + session.Kind() + " failed in \"" + Shown(session.firstFailed.name) +
                             "\", not because of the module";
        break;
    case EOutcome::Cancelled:
        verdict += "; the " + session.Kind() + " was cancelled" +
                   (session.cancelledIn.name.empty() ? "" : " in \"" + Shown(session.cancelledIn.name) + "\"");
        break;
    case EOutcome::Succeeded:
    case EOutcome::Unknown:
        break;
    }
    return verdict;
}

} // namespace inspector
