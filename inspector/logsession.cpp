#include "logsession.h"

#include <algorithm>
#include <cstring>

namespace inspector {

namespace {

// Bounds that keep memory flat whatever a session holds; what is not kept is counted.
constexpr size_t MAX_CALLS = 200;
constexpr size_t CALLS_RESERVED = 8;
constexpr size_t MAX_KEPT_LINES = 1000;
constexpr size_t MAX_FRAMES = 64;
constexpr size_t MAX_SIGNS = 20;
constexpr size_t MAX_PROBLEMS = 20;
constexpr size_t MAX_SKIPPED = 8;
constexpr size_t MAX_FALSE_AT_SCHEDULING = 1024;
// How far back an error line looks for the call it names.
constexpr size_t MAX_LOOK_BACK = 16;

// The installer's own actions around the ones it runs; their failure follows another's.
const char* const WRAPPERS[] = {"INSTALL", "ExecuteAction", "InstallFinalize", "InstallExecute", "InstallExecuteAgain"};
const char* const SCRIPT_RUNNERS[] = {"InstallFinalize", "InstallExecute", "InstallExecuteAgain"};

template <size_t N> bool IsOneOf(const std::string& name, const char* const (&names)[N])
{
    return std::any_of(names, names + N, [&](const char* n) { return name == n; });
}

// The export that writes a module line, by its text.
std::string ExportByLine(const std::string& text)
{
    static const struct {
        const char* pszPart;
        const char* pszExport;
    } parts[] = {
        {"submission service", "UnloadSubmissionService"},
        {"svc Control", "UnloadSubmissionService"},
        {"QSN config", "UpdateQSN"},
        {"InstalledApps Key", "UpdateQSN"},
        {"engine config defaults", "UpdateQSN"},
        {"long path name", "WriteInstalledAppsKey"},
        {"reg key", "WriteInstalledAppsKey"},
        {"short path name", "WriteInstalledAppsKey"},
        {DRIVER_ACTION, "RegisterPR"},
        {DRIVER_SEQUENCE, "RegisterPR"},
    };
    for (const auto& part : parts) {
        if (text.find(part.pszPart) != std::string::npos)
            return part.pszExport;
    }
    return std::string();
}

// The installer's status codes that mean success: done, done with a restart needed or started.
bool StatusSucceeded(long status)
{
    return status == 0 || status == 3010 || status == 1641;
}

EOutcome OutcomeOfStatus(long status)
{
    if (StatusSucceeded(status))
        return EOutcome::Succeeded;
    return status == 1602 ? EOutcome::Cancelled : EOutcome::Failed;
}

} // namespace

CLogSession::CLogSession(uint64_t firstLineNumber, const std::string& headerLine)
    : firstLine(firstLineNumber), header(headerLine), m_falseAtScheduling(MAX_FALSE_AT_SCHEDULING)
{
}

void CLogSession::Add(std::string_view raw, const SInstallerLine& line)
{
    if (line.side != 0)
        windows = true;
    switch (line.form) {
    case EForm::DoingAction:
        m_doing = line.name;
        m_pendingCall = -1;
        break;
    case EForm::ActionStart:
        StartAction(line.name);
        break;
    case EForm::ActionEnded:
        if (line.number == 3 && wrapperFailed.empty() && IsOneOf(line.name, WRAPPERS))
            wrapperFailed = std::string(raw.substr(line.at));
        EndAction(line.name, int(line.number));
        break;
    case EForm::RollbackStart:
        CloseScriptCall(false);
        m_script.RollbackStarted();
        break;
    case EForm::Skipped:
        if (!ExportByName(line.name).empty()) {
            if (skipped.size() < MAX_SKIPPED)
                skipped.push_back(line.name);
            else
                ++skippedNotKept;
        }
        break;
    case EForm::ScriptHeader:
    case EForm::ScriptActionStart:
    case EForm::ScriptSchedule:
    case EForm::ScriptRollback:
    case EForm::ScriptCommit:
    case EForm::ScriptEnd:
    case EForm::ScriptOp:
        ScriptLine(line);
        break;
    case EForm::Invoking:
        RemoteCall(line.target);
        break;
    case EForm::ActionError:
    case EForm::ActionErrorIgnored:
        ActionError(line);
        break;
    case EForm::ActionNote:
        NoteFailure(line.name, CallOf(line.name));
        break;
    case EForm::ProductResult:
    case EForm::InstallerResult:
    case EForm::EngineResult:
    case EForm::BackFromServer:
        Result(raw, line);
        break;
    case EForm::Property:
        if (line.name == "REINSTALL" && !line.text.empty())
            reinstall = true;
        if (line.name == "REMOVE" && line.text == "ALL")
            removeAll = true;
        break;
    case EForm::ModuleLine:
        ModuleLine(line.text);
        break;
    case EForm::SessionStart:
    case EForm::ProductError:
    case EForm::None:
        break;
    }
}

void CLogSession::AddModuleLine(const std::string& text)
{
    ModuleLine(text);
}

long CLogSession::OpenCall(const std::string& action, const std::string& exportName, EPhase phase)
{
    if (calls.size() >= MAX_CALLS) {
        ++callsNotKept;
        return -1;
    }
    // Room for a run's usual calls at once: growing moves every call held so far.
    if (calls.empty())
        calls.reserve(CALLS_RESERVED);
    CCall call;
    call.installerAction = action;
    call.exportName = exportName;
    call.phase = phase;
    // Wine runs the rollback script after the installation's own action has ended.
    call.inScript = m_runnerDepth > 0 || installReturn >= 0 || phase == EPhase::Deferred || phase == EPhase::Rollback ||
                    phase == EPhase::Commit;
    call.afterFailure = Failing();
    calls.push_back(std::move(call));
    return long(calls.size() - 1);
}

void CLogSession::StartAction(const std::string& name)
{
    CloseScriptCall(false);
    const bool runner = IsOneOf(name, SCRIPT_RUNNERS);
    // Windows logs an immediate action's remote call before its start.
    long index = m_pendingCall >= 0 && calls[size_t(m_pendingCall)].installerAction == name ? m_pendingCall : -1;
    m_pendingCall = -1;
    // Wine names no entry point: an action is the module's by its name. Windows names it in the
    // remote call, or the module's own lines show it.
    const std::string exported = windows ? std::string() : ExportByName(name);
    if (!exported.empty() && index < 0) {
        index = OpenCall(name, exported, EPhase::Unknown);
        // The installer lists a deferred action once where it queues it and again where the
        // script runs it; only the second is a call of the module.
        const size_t end = index < 0 ? calls.size() : size_t(index);
        for (size_t earlier = end, looked = 0; earlier-- > 0 && looked < MAX_CALLS; ++looked) {
            CCall& call = calls[earlier];
            if (call.installerAction == name && !call.inScript && !call.HasLines()) {
                call.scheduleOnly = true;
                break;
            }
        }
    }
    if (runner) {
        ++m_runnerDepth;
        m_script.RunnerStarted();
    }
    if (m_frames.size() < MAX_FRAMES)
        m_frames.push_back({name, index, runner});
    else
        ++m_framesNotKept;
}

void CLogSession::EndAction(const std::string& name, int returnValue)
{
    CloseScriptCall(returnValue == 1);
    const auto frame =
        std::find_if(m_frames.rbegin(), m_frames.rend(), [&](const SFrame& f) { return f.name == name; });
    long endedCall = -1;
    if (frame != m_frames.rend()) {
        endedCall = frame->call;
        // Actions the log opened inside this one and never ended are closed with it.
        while (!m_frames.empty()) {
            const SFrame inner = m_frames.back();
            m_frames.pop_back();
            if (inner.runner)
                --m_runnerDepth;
            const bool ended = inner.name == name;
            if (inner.call >= 0) {
                if (ended)
                    calls[size_t(inner.call)].returnValue = returnValue;
                CloseCall(inner.call);
            }
            if (ended)
                break;
        }
    }
    // A call of RegisterPR always writes the driver's lines; without them the installer only
    // queued the action for a script that may never run.
    if (endedCall >= 0) {
        CCall& call = calls[size_t(endedCall)];
        if (!windows && call.exportName == "RegisterPR" && !call.inScript && !call.HasLines())
            call.scheduleOnly = true;
    }
    // An excerpt may hold the end of the action that runs the script without its start.
    if (IsOneOf(name, SCRIPT_RUNNERS))
        m_script.RunnerEnded();
    if (name == "INSTALL" && m_frames.empty())
        installReturn = returnValue;
    if (IsOneOf(name, WRAPPERS))
        return;
    // Wine records a failure as 0; Windows uses 0 for an action that did not run.
    if (returnValue == 3 || (returnValue == 0 && !windows))
        NoteFailure(name, endedCall);
    else if (returnValue == 2 && cancelledIn.name.empty())
        cancelledIn = {name, endedCall};
}

void CLogSession::ScriptLine(const SInstallerLine& line)
{
    CloseScriptCall(true);
    const CScript::SStep step = m_script.Operation(line, Failing() || !cancelledIn.name.empty());
    if (step.call)
        m_scriptCall = OpenCall(step.action, step.exportName, step.phase);
}

void CLogSession::RemoteCall(const std::string& entryPoint)
{
    const std::string exported = ExportByEntryPoint(entryPoint);
    // One remote call per operation; a second one is the next commit action's.
    if (m_scriptCall >= 0 && m_scriptCallInvoked)
        CloseScriptCall(true);
    if (m_scriptCall >= 0) {
        m_scriptCallInvoked = true;
        CCall& call = calls[size_t(m_scriptCall)];
        if (call.exportName.empty())
            call.exportName = exported;
        return;
    }
    if (exported.empty())
        return; // another DLL's action
    const CScript::EMode mode = m_script.Mode();
    if (mode == CScript::EMode::AfterEnd) {
        const CScript::SStep step = m_script.RemoteCall(exported);
        m_scriptCall = OpenCall(step.action, step.exportName, step.phase);
        m_scriptCallInvoked = true;
        return;
    }
    if (mode == CScript::EMode::Rollback || mode == CScript::EMode::Forward) {
        m_scriptCall = OpenCall(m_script.Action(), exported,
                                mode == CScript::EMode::Rollback ? EPhase::Rollback : EPhase::Deferred);
        m_scriptCallInvoked = true;
        return;
    }
    // The action that "Doing action" named, before its start; else the one running.
    if (!m_doing.empty() && (m_frames.empty() || m_frames.back().name != m_doing)) {
        m_pendingCall = OpenCall(m_doing, exported, EPhase::Immediate);
        m_doing.clear();
        return;
    }
    if (m_frames.empty())
        return;
    SFrame& frame = m_frames.back();
    if (frame.call < 0)
        frame.call = OpenCall(frame.name, exported, EPhase::Immediate);
    else if (calls[size_t(frame.call)].exportName.empty())
        calls[size_t(frame.call)].exportName = exported;
}

// "CustomAction NAME returned actual error code N": the call of that name, the installer's
// reason for its failure, unless continue marking turns it into success.
void CLogSession::ActionError(const SInstallerLine& line)
{
    const long index = CallOf(line.name);
    const bool ignored = line.form == EForm::ActionErrorIgnored;
    if (index >= 0) {
        CCall& call = calls[size_t(index)];
        call.errorCode = line.number;
        call.errorIgnored = ignored;
    }
    if (!ignored && line.number != 0)
        NoteFailure(line.name, index);
}

// The call of the named action that is running or has just run.
long CLogSession::CallOf(const std::string& action) const
{
    if (m_scriptCall >= 0 && calls[size_t(m_scriptCall)].installerAction == action)
        return m_scriptCall;
    for (auto frame = m_frames.rbegin(); frame != m_frames.rend(); ++frame) {
        if (frame->call >= 0 && frame->name == action)
            return frame->call;
    }
    for (size_t index = calls.size(), looked = 0; index-- > 0 && looked < MAX_LOOK_BACK; ++looked) {
        if (calls[index].installerAction == action)
            return long(index);
    }
    return -1;
}

void CLogSession::ModuleLine(const std::string& text)
{
    ++moduleLines;
    long index = m_scriptCall;
    const CScript::EMode mode = m_script.Mode();
    if (index < 0 && mode == CScript::EMode::AfterEnd) {
        const CScript::SStep step = m_script.RemoteCall(ExportByLine(text));
        index = m_scriptCall = OpenCall(step.action, step.exportName, step.phase);
    } else if (index < 0 && windows && (mode == CScript::EMode::Rollback || mode == CScript::EMode::Forward)) {
        index = m_scriptCall = OpenCall(m_script.Action(), ExportByLine(text),
                                        mode == CScript::EMode::Rollback ? EPhase::Rollback : EPhase::Deferred);
    } else if (index < 0 && m_pendingCall >= 0) {
        index = m_pendingCall;
    } else if (index < 0 && !m_frames.empty()) {
        SFrame& frame = m_frames.back();
        if (frame.call < 0) {
            frame.call = OpenCall(frame.runner ? std::string() : frame.name, ExportByLine(text),
                                  frame.runner || !windows ? EPhase::Unknown : EPhase::Immediate);
        }
        index = frame.call;
    }
    CCall& call = index < 0 ? outside : calls[size_t(index)];
    if (call.exportName.empty())
        call.exportName = ExportByLine(text);
    const bool keep = m_keptLines < MAX_KEPT_LINES;
    m_keptLines += keep ? 1 : 0;
    const SLineMeaning* meaning = call.AddLine(text, keep);
    if (meaning != nullptr && meaning->bProblem)
        NoteProblem(Shown(text));
}

void CLogSession::NoteFailure(const std::string& name, long call)
{
    if (firstFailed.name.empty())
        firstFailed = {name, call};
}

void CLogSession::Result(std::string_view raw, const SInstallerLine& line)
{
    // The run reports its result once the script and its commit actions are through.
    CloseScriptCall(true);
    const std::string text(raw.substr(line.at));
    switch (line.form) {
    case EForm::InstallerResult:
        installerResult = text;
        installerStatus = line.number;
        installerVerb = line.name;
        break;
    case EForm::EngineResult:
        // The server's line comes first; the client's repeats it.
        if (engineResult.empty() || line.side == 's') {
            engineResult = text;
            engineStatus = line.number;
        }
        break;
    case EForm::ProductResult:
        productResult = text;
        productStatus = line.number;
        productKind = line.name;
        break;
    case EForm::BackFromServer:
        serverStatus = line.number;
        break;
    default:
        break;
    }
}

void CLogSession::CloseScriptCall(bool wentOn)
{
    m_scriptCallInvoked = false;
    if (m_scriptCall < 0)
        return;
    calls[size_t(m_scriptCall)].scriptWentOn = wentOn;
    CloseCall(m_scriptCall);
    m_scriptCall = -1;
}

void CLogSession::NoteProblem(const std::string& problem)
{
    ++problemCount;
    if (problems.size() < MAX_PROBLEMS)
        problems.push_back(problem);
}

void CLogSession::AddSign(const std::string& sign, bool problem)
{
    if (signs.size() < MAX_SIGNS)
        signs.push_back(sign);
    else
        ++signsNotKept;
    if (problem)
        NoteProblem(sign);
}

// Checks what only the whole call shows: phases left open, and decisions of the scheduling call
// that a later call did not find.
void CLogSession::CloseCall(long index)
{
    CCall& call = index < 0 ? outside : calls[size_t(index)];
    const std::string where = call.exportName.empty() ? std::string() : " (" + call.exportName + ")";
    for (const auto& begun : call.begun.Held()) {
        if (call.openAtEnd) {
            AddSign("the log ends inside \"" + Shown(begun.first) + "\"" + where +
                        ": the rest of the call is not in it",
                    false);
        } else {
            call.abnormalEnd = true;
            AddSign("\"" + Shown(begun.first) + "\" without its (End)" + where +
                        ": the call ended abnormally (a crash, or memory running out)",
                    true);
        }
    }
    if (call.phase == EPhase::Immediate) {
        for (const auto& name : call.falseConditions.Held())
            m_falseAtScheduling.Add(name.first);
        return;
    }
    for (const auto& ran : call.ran.Held()) {
        if (!m_falseAtScheduling.Holds(ran.first))
            continue;
        AddSign("\"" + Shown(ran.first) + "\" had a false condition in the scheduling call but ran in the " +
                    PhaseText(call.phase) + " call: the data file " + DRIVER_SEQUENCE +
                    ".dat was lost or damaged between the phases, and the later calls took the removal side",
                true);
    }
}

void CLogSession::Finish()
{
    if (m_scriptCall >= 0) {
        calls[size_t(m_scriptCall)].openAtEnd = true;
        CloseScriptCall(false);
    }
    for (auto frame = m_frames.rbegin(); frame != m_frames.rend(); ++frame) {
        if (frame->call >= 0) {
            calls[size_t(frame->call)].openAtEnd = true;
            CloseCall(frame->call);
        }
    }
    m_frames.clear();
    CloseCall(-1);
}

bool CLogSession::HasModule() const
{
    return moduleLines > 0 || std::any_of(calls.begin(), calls.end(), [](const CCall& c) { return !c.scheduleOnly; });
}

EOutcome CLogSession::Outcome() const
{
    if (installerStatus >= 0)
        return OutcomeOfStatus(installerStatus);
    if (engineStatus >= 0)
        return OutcomeOfStatus(engineStatus);
    if (productStatus >= 0)
        return OutcomeOfStatus(productStatus);
    if (serverStatus >= 0)
        return OutcomeOfStatus(serverStatus);
    if (installReturn < 0)
        return Failing() || !wrapperFailed.empty() ? EOutcome::Failed : EOutcome::Unknown;
    if (installReturn == 2)
        return EOutcome::Cancelled;
    return installReturn == 3 || (installReturn == 0 && !windows) ? EOutcome::Failed : EOutcome::Succeeded;
}

std::string CLogSession::Kind() const
{
    const bool reconfigured = installerVerb == "reconfigured" || productKind == "Configuration";
    if (installerVerb == "removed" || productKind == "Removal" || (removeAll && !reconfigured))
        return "removal";
    if (reinstall)
        return "repair";
    return reconfigured ? "reconfiguration" : "installation";
}

std::string CLogSession::ResultText() const
{
    const char* outcome = "";
    switch (Outcome()) {
    case EOutcome::Succeeded:
        outcome = "succeeded";
        break;
    case EOutcome::Failed:
        outcome = "failed";
        break;
    case EOutcome::Cancelled:
        outcome = "cancelled";
        break;
    case EOutcome::Unknown:
        return "not in the log";
    }
    std::string source;
    if (installerStatus >= 0)
        source = installerResult;
    else if (engineStatus >= 0)
        source = engineResult;
    else if (productStatus >= 0)
        source = productResult;
    else if (serverStatus >= 0)
        source = "Back from server. Return value: " + std::to_string(serverStatus);
    else if (installReturn >= 0)
        source = "INSTALL: Return value " + std::to_string(installReturn);
    else if (!wrapperFailed.empty())
        source = wrapperFailed;
    else
        return std::string(outcome) + " (no result line; an action failed)";
    return std::string(outcome) + " (" + Shown(source) + ")";
}

} // namespace inspector
