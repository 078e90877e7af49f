// The command table, the shared command-line parser and the help texts.
#include <cstring>
#include <exception>
#include <new>

#include "command.h"
#include "exports/version.h"
#include "framework/recordstore.h"
#include "platform.h"
#include "text.h"
#include "xmlreader.h"

namespace inspector {

namespace {

const char PROGRAM[] = "submca-inspect";

// One entry per command, in the order the help lists them.
const SCommand* const g_apCommands[] = {
    &g_scdCommand,
    &g_recordsCommand,
    &g_checkCommand,
    &g_logCommand,
};

const char OVERVIEW[] = "submca-inspect reads the files that the submca installer module leaves on a machine and\n"
                        "explains them: the submission control file SCD.xml in the engine's data folder (plain XML,\n"
                        "or the enciphered container it becomes after the update) and the framework's record files\n"
                        "in the temporary folder between installer phases (the per-sequence data file\n"
                        "SUB_PR_Action.dat and the shared property file krvlprop.dat).\n";

const char EXIT_STATUSES[] = "Exit status, for every command:\n"
                             "  0  the module reads the file as shown, or the command did its work\n"
                             "  1  the module would refuse the file or treat it as missing (damaged, cut short,\n"
                             "     wrong kind of file); one line on standard error says why\n"
                             "  2  the command line is wrong\n"
                             "  3  a file could not be read or written\n"
                             "  4  the file is beyond a limit of this tool (below); no verdict on it\n"
                             "  5  (log) the installation failed because of the module\n";

#if defined(_WIN64)
const char BUILD[] = "64-bit Windows";
#elif defined(_WIN32)
const char BUILD[] = "32-bit Windows";
#elif defined(__linux__)
const char BUILD[] = "Linux";
#else
const char BUILD[] = "native";
#endif

const SCommand* FindCommand(const std::string& name)
{
    for (const SCommand* command : g_apCommands) {
        if (name == command->pszName)
            return command;
    }
    return nullptr;
}

const SOption* FindOption(const SCommand& command, const std::string& name)
{
    for (const SOption& option : command.options) {
        if (name == option.pszName)
            return &option;
    }
    return nullptr;
}

bool IsHelpRequest(const std::string& argument)
{
    return argument == "--help" || argument == "-h";
}

void WriteCommandHelp(std::ostream& out, const SCommand& command)
{
    out << "usage:";
    const char* line = command.pszSynopsis;
    while (*line != '\0') {
        const char* end = std::strchr(line, '\n');
        const size_t length = end ? size_t(end - line) : std::strlen(line);
        out << (line == command.pszSynopsis ? " " : "       ") << PROGRAM << ' ';
        out.write(line, std::streamsize(length));
        out << '\n';
        line += length + (end ? 1 : 0);
    }
    out << '\n' << command.pszDescription;
    if (!command.options.empty()) {
        out << "\nOptions:\n";
        for (const SOption& option : command.options) {
            std::string name = option.pszName;
            if (option.pszValueName != nullptr)
                name += std::string(" ") + option.pszValueName;
            name.resize(name.size() < 16 ? 16 : name.size() + 1, ' ');
            out << "  " << name << option.pszHelp << '\n';
        }
    }
}

std::string MiB(uint64_t bytes)
{
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

// The tool's own bounds, told apart from the module's: a file beyond one gets exit status 4,
// since the module may well read it.
void WriteLimits(std::ostream& out)
{
    out << "Limits of this tool, not of the module:\n"
        << "  scd, check  read control files of at most " << MiB(MAX_CONTROL_FILE) << "\n"
        << "  check       reads XML of at most " << MiB(xml::MAX_DOCUMENT_SIZE) << ", nested at most "
        << xml::MAX_NESTING_DEPTH << " levels deep, with at most\n"
        << "              " << xml::MAX_NODES << " elements and attributes and without a document type declaration;\n"
        << "              MSXML, which the update uses, may read more\n"
        << "  records     lists record files of at most " << MiB(MAX_RECORD_FILE) << ", even with --force; the module\n"
        << "              itself treats every record file over " << InstallToolBox::RECORD_MAX_FILE_SIZE
        << " bytes as missing (status 1)\n"
        << "  scd         tells from the bytes alone only what is certain: an empty file, a damaged\n"
        << "              container, text that cannot be XML. Whether the update accepts the XML,\n"
        << "              and whether an enciphered body was altered (the container carries no\n"
        << "              checksum of its content), only check can tell\n";
}

void WriteOverview(std::ostream& out)
{
    out << OVERVIEW << "\nusage: " << PROGRAM << " COMMAND [OPTIONS] FILE\n       " << PROGRAM
        << " help [COMMAND]\n       " << PROGRAM << " --version\n\nCommands:\n";
    for (const SCommand* command : g_apCommands) {
        std::string name = command->pszName;
        name.resize(10, ' ');
        out << "  " << name << command->pszSummary << '\n';
    }
    out << '\n' << EXIT_STATUSES << '\n';
    WriteLimits(out);
}

void WriteFullHelp(std::ostream& out)
{
    WriteOverview(out);
    for (const SCommand* command : g_apCommands) {
        out << "\n" << std::string(72, '-') << "\n";
        WriteCommandHelp(out, *command);
    }
}

int UsageError(SConsole& console, const std::string& message, const SCommand* command)
{
    const std::string hint =
        command ? std::string(PROGRAM) + " " + command->pszName + " --help" : std::string(PROGRAM) + " --help";
    return Fail(console, INSPECT_USAGE, "", message + " (see '" + hint + "')");
}

// Splits the arguments after the command name into options and operands; "--" ends the options.
int Parse(const SCommand& command, const std::vector<std::string>& arguments, SInvocation& invocation,
          SConsole& console)
{
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            invocation.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const SOption* option = FindOption(command, argument);
        if (option == nullptr)
            return UsageError(console, "unknown option '" + argument + "' for " + command.pszName, &command);
        if (invocation.Has(option->pszName))
            return UsageError(console, "option '" + argument + "' given twice", &command);
        std::string value;
        if (option->pszValueName != nullptr) {
            if (i + 1 == arguments.size())
                return UsageError(console, "option '" + argument + "' needs " + option->pszValueName, &command);
            value = arguments[++i];
        }
        invocation.options[option->pszName] = value;
    }
    const size_t count = invocation.operands.size();
    if (count < command.cMinOperands)
        return UsageError(console, std::string(command.pszName) + ": FILE missing", &command);
    if (count > command.cMaxOperands)
        return UsageError(console,
                          std::string(command.pszName) + ": unexpected argument '" +
                              invocation.operands[command.cMaxOperands] + "'",
                          &command);
    return INSPECT_OK;
}

// Reports a failure that escaped a command; the report itself must not throw again.
int FailWithoutThrowing(SConsole& console, const char* what) noexcept
{
    try {
        console.err << PROGRAM << ": " << what << '\n';
    } catch (...) {
    }
    return INSPECT_IO_ERROR;
}

int RunCommandLine(const std::vector<std::string>& arguments, SConsole& console)
{
    if (arguments.empty())
        return UsageError(console, "no command given", nullptr);
    const std::string& first = arguments[0];
    if (first == "--version") {
        if (arguments.size() > 1)
            return UsageError(console, "--version takes no argument", nullptr);
        console.out << PROGRAM << ' ' << SUBMCA_VERSION_TEXT << " (" << BUILD << ")\n";
        return INSPECT_OK;
    }
    if (IsHelpRequest(first) || first == "help") {
        if (arguments.size() == 1) {
            WriteFullHelp(console.out);
            return INSPECT_OK;
        }
        if (arguments.size() > 2)
            return UsageError(console, "help takes one command name", nullptr);
        // "help help" asks how to ask for help: the overview answers that.
        if (arguments[1] == "help") {
            WriteOverview(console.out);
            return INSPECT_OK;
        }
        const SCommand* command = FindCommand(arguments[1]);
        if (command == nullptr)
            return UsageError(console, "help: unknown command '" + arguments[1] + "'", nullptr);
        WriteCommandHelp(console.out, *command);
        return INSPECT_OK;
    }
    const SCommand* command = FindCommand(first);
    if (command == nullptr)
        return UsageError(console, "unknown command '" + first + "'", nullptr);
    for (size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
        if (IsHelpRequest(arguments[i])) {
            WriteCommandHelp(console.out, *command);
            return INSPECT_OK;
        }
    }
    SInvocation invocation;
    const int status = Parse(*command, arguments, invocation, console);
    if (status != INSPECT_OK)
        return status;
    return command->pfnRun(invocation, console);
}

} // namespace

const std::string* SInvocation::Value(const char* option) const
{
    const auto found = options.find(option);
    return found == options.end() ? nullptr : &found->second;
}

int Fail(SConsole& console, int status, const std::string& subject, const std::string& message)
{
    // On a console the report written so far comes before the message.
    console.out.flush();
    console.err << PROGRAM << ": ";
    // A customer's file may come with a name that a terminal would act on.
    if (!subject.empty())
        console.err << Escape(subject) << ": ";
    console.err << message << '\n';
    return status;
}

bool ReadInputFile(SConsole& console, const std::string& path, uint64_t maxSize, std::vector<uint8_t>& bytes,
                   int& status)
{
    std::string reason;
    bool tooLarge = false;
    if (ReadWholeFile(path, maxSize, bytes, reason, &tooLarge))
        return true;
    status = tooLarge
                 ? Fail(console, INSPECT_TOOL_LIMIT, path,
                        reason + ": a limit of this tool, not a verdict of the module (see '" + PROGRAM + " --help')")
                 : Fail(console, INSPECT_IO_ERROR, path, reason);
    return false;
}

int Run(const std::vector<std::string>& arguments, SConsole& console) noexcept
{
    try {
        const int status = RunCommandLine(arguments, console);
        // A report that did not reach its reader (a full disk behind a redirection) is a failure.
        if (!console.out.flush() && status != INSPECT_IO_ERROR)
            return FailWithoutThrowing(console, "standard output cannot be written");
        return status;
    } catch (const std::bad_alloc&) {
        return FailWithoutThrowing(console, "out of memory");
    } catch (const std::exception& exception) {
        return FailWithoutThrowing(console, exception.what());
    }
}

} // namespace inspector
