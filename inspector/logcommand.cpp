// "log": explains what the module wrote into a customer's installer log (or the install debug log,
// or the trace) for a support engineer, reading the log once from start to end.
#include "command.h"
#include "loganalysis.h"
#include "logreader.h"
#include "platform.h"
#include "text.h"

namespace inspector {

namespace {

std::string KindText(ELogKind kind, const SReaderFacts& facts)
{
    std::string text;
    switch (kind) {
    case ELogKind::InstallerLog:
        text = "verbose installer log";
        break;
    case ELogKind::DebugLog:
        text = "install debug log (KRVMSI<pid>.log)";
        break;
    case ELogKind::Trace:
        text = "trace file (submca.log)";
        break;
    case ELogKind::Unknown:
        text = "text that is no installer log, install debug log or trace";
        break;
    }
    text += facts.form == ETextForm::Utf16Le ? ", UTF-16LE" : ", 8-bit text";
    return text + (facts.byteOrderMark ? " with a byte-order mark" : "");
}

// The one line for a file that holds nothing to explain, or empty when it holds something.
std::string NothingToExplain(const SReaderFacts& facts, const CLogAnalysis& analysis)
{
    if (facts.bytes == 0)
        return "empty file: there is no log to explain";
    if (facts.form == ETextForm::Binary)
        return "not a text log: the file starts with binary content";
    if (facts.lines == 0)
        return "holds no text: there is no log to explain";
    if (analysis.Verdict() != EVerdict::NothingOfTheModule)
        return std::string();
    if (analysis.Kind() == ELogKind::Unknown)
        return "no line of the submca module, and not an installer log, install debug log or trace";
    return "no line of the submca module: the log of another product, or of a run in which the module's actions "
           "did not run";
}

int RunLog(const SInvocation& invocation, SConsole& console)
{
    const std::string& path = invocation.operands[0];
    CLogAnalysis analysis;
    CLineReader reader([&analysis](std::string_view line) { analysis.Add(line); });
    std::string reason;
    if (!ReadFileInPieces(
            path, [&reader](const uint8_t* data, size_t size) { return reader.Feed(data, size); }, reason))
        return Fail(console, INSPECT_IO_ERROR, path, reason);
    reader.Finish();
    analysis.Finish();

    const SReaderFacts& facts = reader.Facts();
    const std::string nothing = NothingToExplain(facts, analysis);
    if (!nothing.empty())
        return Fail(console, INSPECT_IO_ERROR, path, nothing);

    std::ostream& out = console.out;
    WriteField(out, "file", path + " (" + Bytes(facts.bytes) + ", " + std::to_string(facts.lines) + " lines)");
    WriteField(out, "kind", KindText(analysis.Kind(), facts));
    if (facts.cutCharacter)
        WriteField(out, "note", "the log ends in the middle of a UTF-16 character; the half character is dropped");
    if (facts.cutLine)
        WriteField(out, "note", "the log ends in the middle of a line; its last line is read as it stands");
    if (facts.longLines > 0)
        WriteField(out, "note",
                   std::to_string(facts.longLines) + " lines longer than " + std::to_string(CLineReader::MAX_LINE) +
                       " bytes are read cut at that length");
    analysis.WriteReport(out);
    return int(analysis.Verdict());
}

} // namespace

const SCommand g_logCommand = {
    "log",
    "explain what the module wrote into an installer log",
    "log FILE",
    "Reads a verbose installer log (msiexec /l*v, 8-bit or UTF-16LE, as Windows or Wine wrote it),\n"
    "the install debug log KRVMSI<pid>.log or the trace file submca.log, tells which one it is from\n"
    "its content, and explains what it says about the module:\n"
    "  - each session on its own: every \"=== Verbose logging started\" (or \"=== Logging\n"
    "    started\") begins one, so a file that /l*v+ or the logging policy appended to is read\n"
    "    run by run; the run's kind (installation, removal, repair, reconfiguration) and result;\n"
    "  - each call of the module's four actions in order: the module's action, the installer's\n"
    "    action name, its phase (immediate, deferred, rollback, commit) and its result, with the\n"
    "    module's KRVL lines. On Windows a call is an action whose remote call or script operation\n"
    "    names one of the four entry points, never another DLL's; a rollback or commit action\n"
    "    that the script only queues is no call, the commit call after the script's End is;\n"
    "  - under each error line, what it means and what to check next;\n"
    "  - the first action that failed; continue marking is no failure, a user's cancel (1602)\n"
    "    is a cancel;\n"
    "  - \"sign:\" lines for what needs no line of the module: a phase's \"(Begin)\" without its\n"
    "    \"(End)\" (the call ended abnormally), repeated \"CoCreateInstance failed\" lines (the\n"
    "    updater is absent or broken), a condition that was false when scheduled but not in a\n"
    "    later call (the data file SUB_PR_Action.dat was lost between the phases), a repair that\n"
    "    removed both products from the updater, a rollback or commit action of RegisterPR run as\n"
    "    an immediate one (its type was not fixed);\n"
    "  - one \"verdict:\" line at the end; with several sessions it names the session it is about.\n"
    "The log is read once, piece by piece, in bounded memory: its size does not matter.\n"
    "\n"
    "Exit status of log:\n"
    "  0  nothing wrong found              (verdict: nothing wrong found)\n"
    "  1  the module reported problems     (verdict: the module reported problems (N): ...)\n"
    "  2  the command line is wrong\n"
    "  3  nothing to explain: the file cannot be read, is a folder, is empty or binary, or has no\n"
    "     line of the module (another product's log); one line on standard error says which\n"
    "  5  the installation (or removal, repair) failed because of the module\n"
    "                                      (verdict: the installation failed because of the module: ...)\n"
    "\n"
    "Example:\n"
    "  submca-inspect log C:\\Users\\jo\\AppData\\Local\\Temp\\install.log\n",
    {},
    1,
    1,
    RunLog,
};

} // namespace inspector
