#include "loganalysis.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "text.h"

namespace inspector {

namespace {

// Bounds that keep memory flat whatever the log holds; what is not kept is counted.
constexpr size_t MAX_CALLS = 1000;
constexpr size_t MAX_KEPT_LINES = 5000;
constexpr size_t MAX_SHOWN_LENGTH = 400;
constexpr size_t MAX_DISTINCT = 100;
constexpr size_t MAX_PROBLEMS = 100;

const char* const EXPORTS[] = {"UnloadSubmissionService", "UpdateQSN", "RegisterPR", "WriteInstalledAppsKey"};
const char DRIVER_ACTION[] = "SubmissionEnginePatchRelay";
const char DRIVER_SEQUENCE[] = "SUB_PR_Action";

// The installer's own actions around the ones it runs; their failure follows another's.
const char* const WRAPPERS[] = {"INSTALL", "ExecuteAction", "InstallFinalize", "InstallExecute", "InstallExecuteAgain"};
const char* const SCRIPT_RUNNERS[] = {"InstallFinalize", "InstallExecute", "InstallExecuteAgain"};

const struct {
    const char* pszDriverPhase;
    const char* pszPhase;
} PHASES[] = {{"Scheduling", "immediate"}, {"Deferred", "deferred"}, {"Rollback", "rollback"}, {"Commit", "commit"}};

bool StartsWith(const std::string& text, const char* prefix, size_t at = 0)
{
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

template <size_t N> bool IsOneOf(const std::string& name, const char* const (&names)[N])
{
    return std::any_of(names, names + N, [&](const char* n) { return name == n; });
}

// The export an installer action of that name calls, as packages name them ("RegisterPR_Deferred").
std::string ExportByName(const std::string& name)
{
    for (const char* exported : EXPORTS) {
        const size_t length = std::strlen(exported);
        if (name.size() >= length && EqualsIgnoringCase(name.substr(0, length), exported) &&
            (name.size() == length || !std::isalnum(static_cast<unsigned char>(name[length]))))
            return exported;
    }
    return std::string();
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

// "<text>" up to the first of the stop characters.
std::string Field(const std::string& line, size_t from, const char* stops)
{
    const size_t end = line.find_first_of(stops, from);
    return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// "Action start HH:MM:SS: Name." and "Action ended HH:MM:SS: Name. Return value N."
bool ParseActionLine(const std::string& line, bool& start, std::string& name, int& returnValue)
{
    start = StartsWith(line, "Action start ");
    if (!start && !StartsWith(line, "Action ended "))
        return false;
    const size_t colon = line.find(": ", 13);
    if (colon == std::string::npos)
        return false;
    std::string rest = line.substr(colon + 2);
    returnValue = -1;
    if (!start) {
        const size_t at = rest.rfind(". Return value ");
        if (at == std::string::npos)
            return false;
        returnValue = std::atoi(rest.c_str() + at + 15);
        rest.resize(at);
    } else if (!rest.empty() && rest.back() == '.') {
        rest.pop_back();
    }
    name = rest;
    return !name.empty();
}

// A trace line starts with its date and time "2026-12-04-05-04-25-123 : " or names the module.
bool LooksLikeTrace(const std::string& line)
{
    static const char shape[] = "dddd-dd-dd-dd-dd-dd-ddd : ";
    bool dated = line.size() >= sizeof(shape) - 1;
    for (size_t i = 0; dated && i + 1 < sizeof(shape); ++i)
        dated = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    return dated || line.find(" : submca : ") != std::string::npos;
}

std::string Shown(const std::string& text)
{
    const std::string escaped =
        Escape(reinterpret_cast<const uint8_t*>(text.data()), std::min(text.size(), MAX_SHOWN_LENGTH));
    return text.size() > MAX_SHOWN_LENGTH ? escaped + "..." : escaped;
}

// The table's texts are Markdown for the README; on a console the code marks are noise.
std::string Plain(const char* text)
{
    std::string plain = text;
    plain.erase(std::remove(plain.begin(), plain.end(), '`'), plain.end());
    return plain;
}

} // namespace

CLogAnalysis::CLogAnalysis() = default;

void CLogAnalysis::Add(const std::string& line)
{
    if (m_kind == ELogKind::Unknown)
        DetectKind(line);
    if (m_kind == ELogKind::Trace) {
        AddTraceLine(line);
        return;
    }
    const size_t krvl = line.find("KRVL");
    if (krvl != std::string::npos && (StartsWith(line, "KRVL: ", krvl) || StartsWith(line, "KRVL (Error): ", krvl))) {
        AddModuleLine(line.substr(krvl));
        return;
    }
    if (StartsWith(line, "CoCreateInstance failed: ") || StartsWith(line, "RegisterProduct") ||
        StartsWith(line, "SetProperty(")) {
        AddUpdaterLine(line);
        return;
    }
    AddInstallerLine(line);
}

void CLogAnalysis::DetectKind(const std::string& line)
{
    if (StartsWith(line, "Log started at "))
        m_kind = ELogKind::DebugLog;
    else if (LooksLikeTrace(line))
        m_kind = ELogKind::Trace;
    else if (StartsWith(line, "=== ") || StartsWith(line, "Action start ") || StartsWith(line, "Action ended ") ||
             StartsWith(line, "MSI ("))
        m_kind = ELogKind::InstallerLog;
}

void CLogAnalysis::AddInstallerLine(const std::string& line)
{
    bool start = false;
    std::string name;
    int returnValue = -1;
    if (ParseActionLine(line, start, name, returnValue)) {
        if (start)
            OpenAction(name, false);
        else
            EndAction(name, returnValue);
        return;
    }
    if (StartsWith(line, "MSI ("))
        m_windows = true;
    size_t at = line.find("MainEngineThread is returning ");
    if (at != std::string::npos) {
        m_engineResult = line.substr(at);
        return;
    }
    at = line.find("Product: ");
    if (at != std::string::npos && line.find(" -- ", at) != std::string::npos) {
        m_productResult = line.substr(at);
        return;
    }
    at = line.find("Executing op: ActionStart(Name=");
    if (at != std::string::npos) {
        OpenAction(Field(line, at + 31, ",)"), true);
        return;
    }
    for (const char* op :
         {"CustomActionSchedule(Action=", "CustomActionRollback(Action=", "CustomActionCommit(Action="}) {
        at = line.find(op);
        if (at == std::string::npos || m_scriptCall < 0)
            continue;
        SCall& call = m_calls[size_t(m_scriptCall)];
        const size_t type = line.find("ActionType=", at);
        const int bits = type == std::string::npos ? 0 : std::atoi(line.c_str() + type + 11);
        call.phase = (bits & 256) ? "rollback" : (bits & 512) ? "commit" : "deferred";
        const size_t target = line.find("Target=", at);
        if (target != std::string::npos && call.exportName.empty())
            call.exportName = ExportByName(Field(line, target + 7, ",)"));
        return;
    }
    at = line.find("Invoking remote custom action. DLL: ");
    if (at != std::string::npos) {
        const size_t entry = line.find("Entrypoint: ", at);
        if (entry != std::string::npos && !m_frames.empty()) {
            const std::string exported = ExportByName(line.substr(entry + 12));
            SCall& call = CurrentCall();
            if (call.exportName.empty())
                call.exportName = exported;
        }
        return;
    }
    at = line.find("CustomAction ");
    const size_t returned = line.find(" returned actual error code ");
    if (at != std::string::npos && returned != std::string::npos && m_failedReported.name.empty()) {
        const std::string name = line.substr(at + 13, returned - at - 13);
        const bool ours = m_scriptCall >= 0 && m_calls[size_t(m_scriptCall)].installerAction == name;
        m_failedReported = {name, ours ? m_scriptCall : -1, m_events++};
    }
}

void CLogAnalysis::OpenAction(const std::string& name, bool scriptOp)
{
    if (scriptOp && m_scriptCall >= 0)
        CloseCall(m_scriptCall);
    m_scriptCall = -1;
    // Wine runs the rollback script after the installation's own action has ended.
    const bool inScript = scriptOp || m_scriptDepth > 0 || m_installReturn >= 0;
    long index = -1;
    const std::string exported = ExportByName(name);
    if (!exported.empty()) {
        if (m_calls.size() < MAX_CALLS) {
            SCall call;
            call.installerAction = name;
            call.exportName = exported;
            call.inScript = inScript;
            call.afterFailure =
                !m_failedZero.name.empty() || !m_failedThree.name.empty() || !m_failedReported.name.empty();
            m_calls.push_back(call);
            index = long(m_calls.size() - 1);
        } else {
            ++m_callsNotKept;
        }
    }
    // The installer lists a deferred action once where it queues it and again where the script
    // runs it; only the second is a call of the module.
    for (size_t earlier = index < 0 ? m_calls.size() : size_t(index); earlier-- > 0;) {
        SCall& call = m_calls[earlier];
        if (call.installerAction == name && !call.inScript && call.lines.empty() && call.linesNotKept == 0) {
            call.scheduleOnly = true;
            break;
        }
    }
    if (scriptOp) {
        m_scriptCall = index;
        return;
    }
    if (IsOneOf(name, SCRIPT_RUNNERS))
        ++m_scriptDepth;
    m_frames.push_back({name, index});
}

void CLogAnalysis::EndAction(const std::string& name, int returnValue)
{
    const auto frame =
        std::find_if(m_frames.rbegin(), m_frames.rend(), [&](const SFrame& f) { return f.name == name; });
    if (frame == m_frames.rend())
        return;
    const long endedCall = frame->call;
    if (m_scriptCall >= 0) {
        CloseCall(m_scriptCall);
        m_scriptCall = -1;
    }
    // Actions the log opened inside this one and never ended are closed with it.
    while (!m_frames.empty()) {
        const SFrame inner = m_frames.back();
        m_frames.pop_back();
        if (IsOneOf(inner.name, SCRIPT_RUNNERS))
            --m_scriptDepth;
        const bool ended = inner.name == name;
        if (inner.call >= 0) {
            if (ended)
                m_calls[size_t(inner.call)].returnValue = returnValue;
            CloseCall(inner.call);
        }
        if (ended)
            break;
    }
    // A call of RegisterPR always writes the driver's lines; without them the installer only
    // queued the action for a script that may never run.
    if (endedCall >= 0) {
        SCall& call = m_calls[size_t(endedCall)];
        if (call.exportName == "RegisterPR" && !call.inScript && call.lines.empty())
            call.scheduleOnly = true;
    }
    if (name == "INSTALL" && m_frames.empty())
        m_installReturn = returnValue;
    // Wine records a failure as 0, Windows as 3; which one wrote the log is clear only at its end.
    if ((returnValue == 0 || returnValue == 3) && !IsOneOf(name, WRAPPERS)) {
        SFailed& failed = returnValue == 3 ? m_failedThree : m_failedZero;
        if (failed.name.empty())
            failed = {name, endedCall, m_events};
    }
    ++m_events;
}

CLogAnalysis::SCall& CLogAnalysis::CurrentCall()
{
    if (m_scriptCall >= 0)
        return m_calls[size_t(m_scriptCall)];
    if (m_frames.empty())
        return m_outside;
    SFrame& frame = m_frames.back();
    if (frame.call < 0 && m_calls.size() < MAX_CALLS) {
        SCall call;
        call.installerAction = frame.name;
        call.inScript = m_scriptDepth > 0 && !IsOneOf(frame.name, SCRIPT_RUNNERS);
        m_calls.push_back(call);
        frame.call = long(m_calls.size() - 1);
    }
    return frame.call < 0 ? m_outside : m_calls[size_t(frame.call)];
}

void CLogAnalysis::AddModuleLine(const std::string& text)
{
    ++m_moduleLines;
    if (m_kind == ELogKind::Unknown)
        m_kind = ELogKind::InstallerLog;
    SCall& call = CurrentCall();
    if (call.exportName.empty())
        call.exportName = ExportByLine(text);
    const SLineMeaning* meaning = FindMeaning(ELineSource::InstallerLog, text);
    if (m_keptLines < MAX_KEPT_LINES) {
        call.lines.push_back({text.substr(0, MAX_SHOWN_LENGTH + 1), meaning});
        ++m_keptLines;
    } else {
        ++call.linesNotKept;
    }
    if (meaning != nullptr && meaning->bProblem)
        NoteProblem(Shown(text));

    // The driver's lines: "<Phase> (Begin): <name>", "<Phase> (End): <name>", "<name>: (condition is false)",
    // "Failure in <name>, returning ERROR_INSTALL_FAILURE.".
    const std::string body = text.substr(text.find(": ") + 2);
    for (const auto& phase : PHASES) {
        const std::string begin = std::string(phase.pszDriverPhase) + " (Begin): ";
        const std::string end = std::string(phase.pszDriverPhase) + " (End): ";
        if (StartsWith(body, begin.c_str())) {
            if (call.phase.empty())
                call.phase = phase.pszPhase;
            call.begun.push_back(body);
            call.ran.push_back(body.substr(begin.size()));
        } else if (StartsWith(body, end.c_str())) {
            const std::string begun = begin + body.substr(end.size());
            const auto found = std::find(call.begun.begin(), call.begun.end(), begun);
            if (found != call.begun.end())
                call.begun.erase(found);
        }
    }
    const char conditionFalse[] = ": (condition is false)";
    if (body.size() > sizeof(conditionFalse) &&
        body.compare(body.size() - sizeof(conditionFalse) + 1, std::string::npos, conditionFalse) == 0)
        call.falseConditions.push_back(body.substr(0, body.size() - sizeof(conditionFalse) + 1));
    const char failure[] = "Failure in ";
    const size_t returning = body.find(", returning ERROR_INSTALL_FAILURE.");
    if (StartsWith(body, failure) && returning != std::string::npos && call.failedDriverAction.empty())
        call.failedDriverAction = body.substr(sizeof(failure) - 1, returning - sizeof(failure) + 1);
}

void CLogAnalysis::AddUpdaterLine(const std::string& line)
{
    if (m_kind == ELogKind::Unknown)
        m_kind = ELogKind::DebugLog;
    const std::string key = line.substr(0, MAX_SHOWN_LENGTH);
    if (m_updaterLines.count(key) != 0 || m_updaterLines.size() < MAX_DISTINCT)
        ++m_updaterLines[key];
    ++m_updaterLineCount;
    if (StartsWith(line, "CoCreateInstance failed: "))
        ++m_createFailures;
    const SLineMeaning* meaning = FindMeaning(ELineSource::DebugLog, line);
    if (meaning != nullptr && meaning->bProblem && !StartsWith(line, "CoCreateInstance failed: "))
        NoteProblem(Shown(line));
}

void CLogAnalysis::AddTraceLine(const std::string& line)
{
    ++m_traceLines;
    const size_t error = line.find(" : Error : ");
    const SLineMeaning* meaning = FindMeaning(ELineSource::Trace, line);
    if (error == std::string::npos && meaning == nullptr)
        return;
    const std::string message = error == std::string::npos ? line : line.substr(error + 11);
    const std::string key = message.substr(0, MAX_SHOWN_LENGTH);
    if (m_traceErrors.count(key) != 0 || m_traceErrors.size() < MAX_DISTINCT)
        ++m_traceErrors[key];
    NoteProblem("trace: " + Shown(message));
}

void CLogAnalysis::NoteProblem(const std::string& problem)
{
    ++m_problemCount;
    if (m_problems.size() < MAX_PROBLEMS)
        m_problems.push_back(problem);
}

// Checks what only the whole call shows: phases left open, and decisions of the scheduling call
// that a later call did not find.
void CLogAnalysis::CloseCall(long index)
{
    SCall& call = index < 0 ? m_outside : m_calls[size_t(index)];
    for (const std::string& begun : call.begun) {
        const std::string where = call.exportName.empty() ? std::string() : " (" + call.exportName + ")";
        if (call.openAtEnd) {
            m_signs.push_back("the log ends inside \"" + Shown(begun) + "\"" + where +
                              ": the rest of the call is not in it");
        } else {
            call.abnormalEnd = true;
            m_signs.push_back("\"" + Shown(begun) + "\" without its (End)" + where +
                              ": the call ended abnormally (a crash, or memory running out)");
            NoteProblem(m_signs.back());
        }
    }
    if (call.phase == "immediate") {
        m_falseAtScheduling.insert(m_falseAtScheduling.end(), call.falseConditions.begin(), call.falseConditions.end());
    } else {
        for (const std::string& ran : call.ran) {
            if (std::find(m_falseAtScheduling.begin(), m_falseAtScheduling.end(), ran) == m_falseAtScheduling.end())
                continue;
            m_signs.push_back("\"" + Shown(ran) + "\" had a false condition in the scheduling call but ran in the " +
                              call.phase + " call: the data file " + DRIVER_SEQUENCE +
                              ".dat was lost or damaged between the phases, and the later calls took the removal "
                              "side");
            NoteProblem(m_signs.back());
        }
    }
}

void CLogAnalysis::Finish()
{
    if (m_scriptCall >= 0) {
        m_calls[size_t(m_scriptCall)].openAtEnd = true;
        CloseCall(m_scriptCall);
        m_scriptCall = -1;
    }
    for (auto frame = m_frames.rbegin(); frame != m_frames.rend(); ++frame) {
        if (frame->call >= 0) {
            m_calls[size_t(frame->call)].openAtEnd = true;
            CloseCall(frame->call);
        }
    }
    m_frames.clear();
    CloseCall(-1);

    for (const SFailed* failed : m_windows ? std::vector<const SFailed*>{&m_failedThree, &m_failedReported}
                                           : std::vector<const SFailed*>{&m_failedZero, &m_failedThree}) {
        if (!failed->name.empty() && (m_firstFailed.name.empty() || failed->order < m_firstFailed.order))
            m_firstFailed = *failed;
    }

    if (m_createFailures >= 2) {
        m_signs.push_back(std::to_string(m_createFailures) +
                          " failed attempts to create the updater's objects (\"CoCreateInstance failed\"): the "
                          "updater is absent or broken");
        NoteProblem(m_signs.back());
    }

    // Why the module failed the installation, if it did: its failure line, or its call is the
    // action that failed, or it ended abnormally in a run that failed without naming an action.
    for (const SCall& call : m_calls) {
        if (!call.failedDriverAction.empty() && m_failedByModule.empty())
            m_failedByModule = call.failedDriverAction == DRIVER_ACTION
                                   ? "RegisterPR could not reach the updater in its deferred call"
                                   : "the driver's action \"" + Shown(call.failedDriverAction) + "\" failed";
    }
    if (!m_outside.failedDriverAction.empty() && m_failedByModule.empty())
        m_failedByModule = m_outside.failedDriverAction == DRIVER_ACTION
                               ? "RegisterPR could not reach the updater in its deferred call"
                               : "the driver's action \"" + Shown(m_outside.failedDriverAction) + "\" failed";
    if (m_failedByModule.empty() && m_firstFailed.call >= 0) {
        const SCall& call = m_calls[size_t(m_firstFailed.call)];
        if (!call.exportName.empty())
            m_failedByModule = call.exportName + " (action \"" + Shown(call.installerAction) + "\") failed" +
                               (call.abnormalEnd ? " after ending abnormally" : "");
    }
    if (m_failedByModule.empty() && m_firstFailed.name.empty() && OverallFailed()) {
        for (const SCall& call : m_calls) {
            if (call.abnormalEnd && m_failedByModule.empty())
                m_failedByModule = (call.exportName.empty() ? "a call of the module" : call.exportName) +
                                   " ended abnormally in its " + call.phase + " call";
        }
    }
}

bool CLogAnalysis::HasModule() const
{
    const bool calls = std::any_of(m_calls.begin(), m_calls.end(), [](const SCall& c) { return !c.scheduleOnly; });
    return calls || m_moduleLines > 0 || m_updaterLineCount > 0 || !m_traceErrors.empty() ||
           (m_kind == ELogKind::Trace && m_traceLines > 0);
}

EVerdict CLogAnalysis::Verdict() const
{
    if (!HasModule())
        return EVerdict::NothingOfTheModule;
    if (!m_failedByModule.empty())
        return EVerdict::FailedByModule;
    return m_problemCount > 0 ? EVerdict::ModuleReportedProblems : EVerdict::NothingWrong;
}

bool CLogAnalysis::OverallFailed() const
{
    if (!m_engineResult.empty()) {
        const long code = std::atol(m_engineResult.c_str() + 30);
        return code != 0 && code != 3010 && code != 1641;
    }
    if (!m_productResult.empty())
        return m_productResult.find("failed") != std::string::npos;
    return IsFailure(m_installReturn);
}

std::string CLogAnalysis::OverallText() const
{
    if (!m_engineResult.empty())
        return (OverallFailed() ? "failed (" : "succeeded (") + Shown(m_engineResult) + ")";
    if (!m_productResult.empty())
        return (OverallFailed() ? "failed (" : "succeeded (") + Shown(m_productResult) + ")";
    if (m_installReturn >= 0)
        return (OverallFailed() ? "failed" : "succeeded") + std::string(" (INSTALL: Return value ") +
               std::to_string(m_installReturn) + ")";
    return "not in the log";
}

bool CLogAnalysis::IsFailure(int returnValue) const
{
    return returnValue == 3 || (returnValue == 0 && !m_windows);
}

std::string CLogAnalysis::ResultText(int returnValue) const
{
    std::string meaning;
    switch (returnValue) {
    case 1:
        meaning = "succeeded";
        break;
    case 2:
        meaning = "cancelled";
        break;
    case 3:
        meaning = "failed";
        break;
    case 0:
        meaning = m_windows ? "not run" : "failed";
        break;
    default:
        meaning = "unknown";
    }
    return "Return value " + std::to_string(returnValue) + " (" + meaning + ")";
}

std::string CLogAnalysis::DescribeCall(const SCall& call) const
{
    std::string text = call.exportName.empty() ? "an action of the framework's driver" : call.exportName;
    if (!call.installerAction.empty())
        text += ": action \"" + Shown(call.installerAction) + "\"";
    text += ", ";
    if (!call.phase.empty())
        text += call.phase;
    else if (call.inScript)
        text += call.afterFailure ? "rollback" : "deferred or commit";
    else if (call.installerAction.empty())
        text += "phase not in the log";
    else
        text += "immediate";
    text += ", ";
    if (call.returnValue >= 0)
        text += ResultText(call.returnValue);
    else if (call.openAtEnd)
        text += "the log ends inside the call";
    else
        text += "no Return value in the log";
    return text;
}

void CLogAnalysis::WriteLines(std::ostream& out, const std::vector<SModuleLine>& lines, uint64_t notKept,
                              std::vector<const SLineMeaning*>& explained) const
{
    for (const SModuleLine& line : lines) {
        out << "    " << Shown(line.text) << '\n';
        Explain(out, line.meaning, explained);
    }
    if (notKept > 0)
        out << "    (" << notKept << " more lines of the module not shown)\n";
}

// A row's meaning, under the first line of the report that has it.
void CLogAnalysis::Explain(std::ostream& out, const SLineMeaning* meaning, std::vector<const SLineMeaning*>& explained)
{
    if (meaning == nullptr || std::find(explained.begin(), explained.end(), meaning) != explained.end())
        return;
    explained.push_back(meaning);
    out << "        means: " << Plain(meaning->pszMeaning) << '\n';
    out << "        check: " << Plain(meaning->pszCheck) << '\n';
}

void CLogAnalysis::WriteReport(std::ostream& out) const
{
    if (m_kind == ELogKind::InstallerLog) {
        WriteField(out, "installation", OverallText());
        if (!m_firstFailed.name.empty())
            WriteField(out, "failed action",
                       "\"" + Shown(m_firstFailed.name) + "\"" +
                           (m_firstFailed.call >= 0 ? " (the module's)" : " (not the module's)"));
    }
    std::vector<const SCall*> calls;
    for (const SCall& call : m_calls) {
        if (!call.scheduleOnly)
            calls.push_back(&call);
    }
    if (m_kind == ELogKind::InstallerLog || !calls.empty())
        WriteField(out, "calls",
                   std::to_string(calls.size() + m_callsNotKept) + " of the module's actions" +
                       (m_callsNotKept > 0 ? " (" + std::to_string(calls.size()) + " shown)" : ""));

    std::vector<const SLineMeaning*> explained;
    size_t number = 0;
    for (const SCall* call : calls) {
        out << "\n[" << ++number << "] " << DescribeCall(*call) << '\n';
        WriteLines(out, call->lines, call->linesNotKept, explained);
    }
    if (!m_outside.lines.empty() || m_outside.linesNotKept > 0) {
        out << "\n"
            << (m_kind == ELogKind::InstallerLog ? "lines of the module outside the installer's actions:"
                                                 : "lines of the module:")
            << '\n';
        WriteLines(out, m_outside.lines, m_outside.linesNotKept, explained);
    }
    if (!m_updaterLines.empty()) {
        out << "\nlines of the updater client (RegisterPR), each with its count:\n";
        for (const auto& entry : m_updaterLines) {
            out << "    " << entry.second << " x " << Shown(entry.first) << '\n';
            Explain(out, FindMeaning(ELineSource::DebugLog, entry.first), explained);
        }
    }
    if (!m_traceErrors.empty()) {
        out << "\nerror lines of the trace, each with its count:\n";
        for (const auto& entry : m_traceErrors) {
            out << "    " << entry.second << " x " << Shown(entry.first) << '\n';
            Explain(out, FindMeaning(ELineSource::Trace, entry.first), explained);
        }
    }
    out << '\n';
    for (const std::string& sign : m_signs)
        out << "sign: " << sign << '\n';

    std::string verdict;
    switch (Verdict()) {
    case EVerdict::FailedByModule:
        verdict = "the installation failed because of the module: " + m_failedByModule;
        break;
    case EVerdict::ModuleReportedProblems:
        verdict = "the module reported problems (" + std::to_string(m_problemCount) + "): " + m_problems.front();
        break;
    case EVerdict::NothingWrong:
    case EVerdict::NothingOfTheModule:
        verdict = "nothing wrong found";
        break;
    }
    if (Verdict() != EVerdict::FailedByModule && OverallFailed())
        verdict += m_firstFailed.name.empty() ? "; the installation failed, and no line shows that the module failed it"
                                              : "; the installation failed in \"" + Shown(m_firstFailed.name) +
                                                    "\", not because of the module";
    out << "verdict: " << verdict << '\n';
}

} // namespace inspector
