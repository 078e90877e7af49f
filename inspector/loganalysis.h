// What a log says about the module, gathered line by line in bounded memory: tells the kind of
// log, splits a verbose installer log into its sessions, keeps the updater client's lines of the
// install debug log and the error lines of the trace, and writes the report with one verdict.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "logmeaning.h"
#include "logsession.h"
#include "logverdict.h"

namespace inspector {

enum class ELogKind { Unknown, InstallerLog, DebugLog, Trace };

class CLogAnalysis {
public:
    CLogAnalysis();
    ~CLogAnalysis();

    void Add(std::string_view line);
    // Closes what the log left open. Call once, after the last line.
    void Finish();

    ELogKind Kind() const noexcept { return m_kind; }
    EVerdict Verdict() const;
    // Everything after the file's own facts: per session the result, the calls and the signs,
    // then the verdict line.
    void WriteReport(std::ostream& out) const;

private:
    struct SKept {
        uint64_t number; // 1 for the first session
        std::unique_ptr<CLogSession> session;
        bool onlyAsLast; // kept only while no later session is closed
    };

    void DetectKind(std::string_view line);
    void StartSession(std::string_view header);
    void CloseSession();
    void AddUpdaterLine(const std::string& line);
    void AddTraceLine(std::string_view line);
    // The session whose verdict is the log's: the first the module failed, else the first with
    // problems, else the last.
    const SKept* Deciding() const;
    void WriteSession(std::ostream& out, const CLogSession& session, bool alone,
                      std::vector<const SLineMeaning*>& explained) const;
    void WriteCommonLines(std::ostream& out, std::vector<const SLineMeaning*>& explained) const;

    ELogKind m_kind = ELogKind::Unknown;
    uint64_t m_lines = 0;
    std::unique_ptr<CLogSession> m_session;
    uint64_t m_sessions = 0;
    std::vector<SKept> m_kept; // in order: the first ones, the deciding ones and the last
    uint64_t m_failedByModule = 0;
    uint64_t m_withProblems = 0;
    uint64_t m_withoutModule = 0;
    uint64_t m_problemCount = 0;

    std::map<std::string, uint64_t> m_updaterLines;
    std::map<std::string, uint64_t> m_traceErrors;
    uint64_t m_updaterLineCount = 0;
    uint64_t m_createFailures = 0;
    uint64_t m_traceLines = 0;
};

} // namespace inspector
