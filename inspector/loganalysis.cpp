#include "loganalysis.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "logforms.h"
#include "text.h"

namespace inspector {

namespace {

// Bounds that keep memory flat whatever the log holds; what is not kept is counted.
constexpr size_t MAX_DISTINCT = 100;
// Sessions shown in full: the first ones, the first the module failed, the first with problems
// and the last; the others are counted.
constexpr uint64_t MAX_FIRST_SESSIONS = 8;

// A trace line starts with its date and time "2026-12-04-05-04-25-123 : " or names the module.
bool LooksLikeTrace(std::string_view line)
{
    static const char shape[] = "dddd-dd-dd-dd-dd-dd-ddd : ";
    bool dated = line.size() >= sizeof(shape) - 1;
    for (size_t i = 0; dated && i + 1 < sizeof(shape); ++i)
        dated = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    return dated || line.find(" : submca : ") != std::string::npos;
}

// The table's texts are Markdown for the README; on a console the code marks are noise.
std::string Plain(const char* text)
{
    std::string plain = text;
    plain.erase(std::remove(plain.begin(), plain.end(), '`'), plain.end());
    return plain;
}

// A row's meaning, under the first line of the report that has it.
void Explain(std::ostream& out, const SLineMeaning* meaning, std::vector<const SLineMeaning*>& explained)
{
    if (meaning == nullptr || std::find(explained.begin(), explained.end(), meaning) != explained.end())
        return;
    explained.push_back(meaning);
    out << "        means: " << Plain(meaning->pszMeaning) << '\n';
    out << "        check: " << Plain(meaning->pszCheck) << '\n';
}

void WriteLines(std::ostream& out, const CCall& call, std::vector<const SLineMeaning*>& explained)
{
    for (const SModuleLine& line : call.lines) {
        out << "    " << Shown(line.text) << '\n';
        Explain(out, line.meaning, explained);
    }
    if (call.linesNotKept > 0)
        out << "    (" << call.linesNotKept << " more lines of the module not shown)\n";
}

std::string Count(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

CLogAnalysis::CLogAnalysis() : m_session(new CLogSession(1, std::string())) {}

CLogAnalysis::~CLogAnalysis() = default;

void CLogAnalysis::Add(std::string_view line)
{
    ++m_lines;
    if (m_kind == ELogKind::Unknown)
        DetectKind(line);
    if (m_kind == ELogKind::Trace) {
        AddTraceLine(line);
        return;
    }
    if (m_kind != ELogKind::InstallerLog && (StartsWith(line, "CoCreateInstance failed: ") ||
                                             StartsWith(line, "RegisterProduct") || StartsWith(line, "SetProperty("))) {
        AddUpdaterLine(std::string(line));
        return;
    }
    const SInstallerLine read = ReadInstallerLine(line);
    if (read.form == EForm::ModuleLine && m_kind == ELogKind::Unknown)
        m_kind = ELogKind::InstallerLog;
    if (read.form == EForm::SessionStart && m_kind == ELogKind::InstallerLog)
        StartSession(line);
    else
        m_session->Add(line, read);
}

void CLogAnalysis::DetectKind(std::string_view whole)
{
    // Lines copied into a message or a ticket are often indented.
    const std::string_view line = whole.substr(std::min(whole.find_first_not_of(" \t"), whole.size()));
    if (StartsWith(line, "Log started at "))
        m_kind = ELogKind::DebugLog;
    else if (LooksLikeTrace(line))
        m_kind = ELogKind::Trace;
    else if (StartsWith(line, "=== ") || StartsWith(line, "Action start ") || StartsWith(line, "Action ended ") ||
             StartsWith(line, "MSI ("))
        m_kind = ELogKind::InstallerLog;
}

// A new session begins; the first one's header only names it. A session that has shown nothing
// yet is not ended by a start line: Wine's installer writes its start line twice in one run, the
// second after the top-level action's start.
void CLogAnalysis::StartSession(std::string_view header)
{
    const CLogSession& current = *m_session;
    if (current.calls.empty() && current.moduleLines == 0 && current.firstFailed.name.empty() &&
        current.Outcome() == EOutcome::Unknown) {
        if (current.header.empty())
            m_session.reset(new CLogSession(m_lines, std::string(header)));
        return;
    }
    CloseSession();
    m_session.reset(new CLogSession(m_lines, std::string(header)));
}

void CLogAnalysis::CloseSession()
{
    CLogSession& session = *m_session;
    session.Finish();
    if (m_kind != ELogKind::InstallerLog && m_createFailures >= 2)
        session.AddSign(std::to_string(m_createFailures) +
                            " failed attempts to create the updater's objects (\"CoCreateInstance failed\"): the "
                            "updater is absent or broken",
                        true);
    Judge(session);
    const uint64_t number = ++m_sessions;
    const EVerdict verdict = VerdictOf(session);
    const bool firstFailed = verdict == EVerdict::FailedByModule && m_failedByModule++ == 0;
    const bool firstProblems = verdict == EVerdict::ModuleReportedProblems && m_withProblems++ == 0;
    m_withoutModule += verdict == EVerdict::NothingOfTheModule ? 1 : 0;
    m_problemCount += session.problemCount;
    if (!m_kept.empty() && m_kept.back().onlyAsLast)
        m_kept.pop_back();
    const bool shown = number <= MAX_FIRST_SESSIONS || firstFailed || firstProblems;
    m_kept.push_back({number, std::move(m_session), !shown});
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
        m_session->NoteProblem(Shown(line));
}

void CLogAnalysis::AddTraceLine(std::string_view text)
{
    ++m_traceLines;
    // The table's patterns are matched on text that ends where the line ends.
    const std::string line(text);
    const size_t error = line.find(" : Error : ");
    const SLineMeaning* meaning = FindMeaning(ELineSource::Trace, line);
    if (error == std::string::npos && meaning == nullptr)
        return;
    const std::string message = error == std::string::npos ? line : line.substr(error + 11);
    const std::string key = message.substr(0, MAX_SHOWN_LENGTH);
    if (m_traceErrors.count(key) != 0 || m_traceErrors.size() < MAX_DISTINCT)
        ++m_traceErrors[key];
    m_session->NoteProblem("trace: " + Shown(message));
}

void CLogAnalysis::Finish()
{
    CloseSession();
}

const CLogAnalysis::SKept* CLogAnalysis::Deciding() const
{
    for (EVerdict wanted : {EVerdict::FailedByModule, EVerdict::ModuleReportedProblems}) {
        for (const SKept& kept : m_kept) {
            if (VerdictOf(*kept.session) == wanted)
                return &kept;
        }
    }
    return m_kept.empty() ? nullptr : &m_kept.back();
}

EVerdict CLogAnalysis::Verdict() const
{
    const bool module = m_withoutModule < m_sessions || m_updaterLineCount > 0 || !m_traceErrors.empty() ||
                        (m_kind == ELogKind::Trace && m_traceLines > 0);
    if (!module)
        return EVerdict::NothingOfTheModule;
    if (m_failedByModule > 0)
        return EVerdict::FailedByModule;
    return m_problemCount > 0 ? EVerdict::ModuleReportedProblems : EVerdict::NothingWrong;
}

void CLogAnalysis::WriteSession(std::ostream& out, const CLogSession& session, bool alone,
                                std::vector<const SLineMeaning*>& explained) const
{
    if (m_kind == ELogKind::InstallerLog) {
        const std::string kind = session.Kind();
        WriteField(out, kind.c_str(), session.ResultText());
        if (!session.firstFailed.name.empty())
            WriteField(out, "failed action",
                       "\"" + Shown(session.firstFailed.name) + "\"" +
                           (session.firstFailed.call >= 0 ? " (the module's)" : " (not the module's)"));
        if (!session.cancelledIn.name.empty() && session.Outcome() == EOutcome::Cancelled)
            WriteField(out, "cancelled in", "\"" + Shown(session.cancelledIn.name) + "\"");
        if (!session.skipped.empty()) {
            std::string names;
            for (const std::string& name : session.skipped)
                names += (names.empty() ? "\"" : ", \"") + Shown(name) + "\"";
            if (session.skippedNotKept > 0)
                names += " and " + std::to_string(session.skippedNotKept) + " more";
            WriteField(out, "skipped", names + " (condition is false)");
        }
    }
    std::vector<const CCall*> calls;
    for (const CCall& call : session.calls) {
        if (!call.scheduleOnly)
            calls.push_back(&call);
    }
    if (m_kind == ELogKind::InstallerLog || !calls.empty())
        WriteField(out, "calls",
                   std::to_string(calls.size() + session.callsNotKept) + " of the module's actions" +
                       (session.callsNotKept > 0 ? " (" + std::to_string(calls.size()) + " shown)" : ""));
    size_t number = 0;
    for (const CCall* call : calls) {
        out << "\n[" << ++number << "] " << call->Describe(session.windows) << '\n';
        WriteLines(out, *call, explained);
    }
    if (session.outside.HasLines()) {
        out << "\n"
            << (m_kind == ELogKind::InstallerLog ? "lines of the module outside the installer's actions:"
                                                 : "lines of the module:")
            << '\n';
        WriteLines(out, session.outside, explained);
    }
    if (alone)
        return;
    out << '\n';
    for (const std::string& sign : session.signs)
        out << "sign: " << sign << '\n';
    if (session.signsNotKept > 0)
        out << "sign: (" << session.signsNotKept << " more signs not shown)\n";
    out << "session verdict: " << VerdictText(session) << '\n';
}

void CLogAnalysis::WriteCommonLines(std::ostream& out, std::vector<const SLineMeaning*>& explained) const
{
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
}

void CLogAnalysis::WriteReport(std::ostream& out) const
{
    std::vector<const SLineMeaning*> explained;
    const SKept* deciding = Deciding();
    if (m_sessions <= 1 && deciding != nullptr) {
        const CLogSession& session = *deciding->session;
        WriteSession(out, session, true, explained);
        WriteCommonLines(out, explained);
        out << '\n';
        for (const std::string& sign : session.signs)
            out << "sign: " << sign << '\n';
        if (session.signsNotKept > 0)
            out << "sign: (" << session.signsNotKept << " more signs not shown)\n";
        out << "verdict: " << VerdictText(session) << '\n';
        return;
    }
    std::string summary = std::to_string(m_sessions) + ", each reported on its own";
    std::vector<std::string> counts;
    if (m_failedByModule > 0)
        counts.push_back(std::to_string(m_failedByModule) + " failed because of the module");
    if (m_withProblems > 0)
        counts.push_back(std::to_string(m_withProblems) + " with problems of the module");
    if (m_withoutModule > 0)
        counts.push_back(std::to_string(m_withoutModule) + " without a line of the module");
    for (size_t i = 0; i < counts.size(); ++i)
        summary += (i == 0 ? " (" : ", ") + counts[i] + (i + 1 == counts.size() ? ")" : "");
    if (m_kept.size() < m_sessions)
        summary += "; " + std::to_string(m_kept.size()) + " shown";
    WriteField(out, "sessions", summary);
    uint64_t previous = 0;
    for (const SKept& kept : m_kept) {
        if (kept.number > previous + 1)
            out << "\n(" << Count(kept.number - previous - 1, "session", "sessions") << " not shown)\n";
        previous = kept.number;
        out << "\n== session " << kept.number << " of " << m_sessions << ", from line " << kept.session->firstLine
            << (kept.session->header.empty() ? std::string() : ": " + Shown(kept.session->header)) << '\n';
        WriteSession(out, *kept.session, false, explained);
    }
    WriteCommonLines(out, explained);
    out << "\nverdict: " << VerdictText(*deciding->session) << " (session " << deciding->number << " of " << m_sessions
        << ")\n";
}

} // namespace inspector
