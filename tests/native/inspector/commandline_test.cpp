// The command line shared by every command: help, usage errors, and the built executable's exit
// statuses and output streams.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "exports/version.h"
#include "support.h"

extern char** environ;

using namespace inspecttest;

namespace {

class CommandLineTest : public CScratchTest {
protected:
    // The built executable, its streams captured apart in the scratch folder.
    SResult InspectProcess(std::vector<std::string> arguments)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, PathOf("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, PathOf("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        arguments.insert(arguments.begin(), SUBMCA_INSPECT_EXECUTABLE);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        pid_t child = 0;
        int waitStatus = -1;
        if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0)
            waitpid(child, &waitStatus, 0);
        posix_spawn_file_actions_destroy(&actions);
        return {WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1, ReadText("stdout"), ReadText("stderr")};
    }
};

} // namespace

TEST_F(CommandLineTest, HelpAndUsageErrors)
{
    const SResult help = Inspect({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"usage: submca-inspect scd FILE [-o OUT | --in-place]\n", "  records   list the records",
                             "  check     check a control file", "  3  a file could not be read or written\n"})
        EXPECT_TRUE(Contains(help.out, part)) << part;
    const SResult scd = Inspect({"help", "scd"});
    EXPECT_EQ(scd.out.rfind("usage: submca-inspect scd FILE", 0), 0u);
    EXPECT_EQ(Inspect({"scd", "FILE", "-h"}).out, scd.out);

    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "no command given (see 'submca-inspect --help')"},
        {{"inspect"}, "unknown command 'inspect' (see 'submca-inspect --help')"},
        {{"--version", "scd"}, "--version takes no argument (see 'submca-inspect --help')"},
        {{"records"}, "records: FILE missing (see 'submca-inspect records --help')"},
        {{"records", "a", "-o", "b"}, "unknown option '-o' for records (see 'submca-inspect records --help')"},
        {{"records", "a", "--force", "--force"}, "option '--force' given twice (see 'submca-inspect records --help')"},
        {{"scd", "a", "-o"}, "option '-o' needs OUT (see 'submca-inspect scd --help')"},
    };
    for (const auto& c : cases) {
        const SResult result = Inspect(c.arguments);
        EXPECT_EQ(result.status, 2) << c.message;
        EXPECT_EQ(result.err, "submca-inspect: " + c.message + "\n");
        EXPECT_EQ(result.out, "");
    }
    // After "--" everything is a file name; one that is not there cannot be read.
    const SResult absent = Inspect({"records", "--", "--force"});
    EXPECT_EQ(absent.status, 3);
    EXPECT_EQ(absent.err, "submca-inspect: --force: no such file\n");
}

// The executable: the command's status as its exit status (the statuses themselves are the
// commands' tests), the decoded content alone on standard output, and the version the module's
// resources carry, so a support engineer can match the two.
TEST_F(CommandLineTest, ExecutableExitStatusesAndStreams)
{
    const std::string plain = "<?xml version=\"1.0\"?>\r\n<scd>\t\xFF</scd>\n";
    const std::string failing =
        "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE.\n";
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out; // "*": anything
        std::string err; // a part
    } cases[] = {
        {{"scd", Write("SCD.xml", EncodeContainerFor(plain, Bytes(16, 0x42)))},
         0,
         plain,
         "form:            enciphered container\n"},
        {{}, 2, "", "no command given"},
        {{"log", Write("fail.log", ToBytes(failing))}, 5, "*", ""},
        {{"--version"}, 0, "submca-inspect " SUBMCA_VERSION_TEXT " (Linux)\n", ""},
    };
    for (const auto& c : cases) {
        const SResult result = InspectProcess(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.err << result.err;
        if (c.out != "*")
            EXPECT_EQ(result.out, c.out);
        EXPECT_TRUE(c.err.empty() ? result.err.empty() : Contains(result.err, c.err)) << result.err;
    }
}

// Every command that reads a file refuses what is not a regular file before reading from it: a
// FIFO without a writer would keep it waiting for ever, and a device never ends.
TEST_F(CommandLineTest, InputThatIsNotARegularFileIsRefused)
{
    ASSERT_EQ(mkfifo(PathOf("SCD.xml").c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string reason;
    } inputs[] = {
        {PathOf("SCD.xml"), "is a FIFO or a pipe, not a regular file"},
        {"/dev/zero", "is a device, not a regular file"},
        {"/dev/null", "is a device, not a regular file"},
        {m_folder, "is a folder"},
    };
    for (const char* command : {"scd", "records", "check", "log"}) {
        for (const auto& input : inputs) {
            const SResult result = Inspect({command, input.path});
            EXPECT_EQ(result.status, 3) << command << " " << input.path;
            EXPECT_EQ(result.out, "") << command << " " << input.path;
            EXPECT_EQ(result.err, "submca-inspect: " + input.path + ": " + input.reason + "\n") << command;
        }
    }
}

// Output that cannot be written (a full disk behind a redirection) is a failure, not success.
TEST_F(CommandLineTest, UnwritableStandardOutputFails)
{
    const std::string container = Write("SCD.xml", EncodeContainerFor("<scd/>", Bytes(16, 1)));
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"scd", container}, {"--help"}}) {
        std::ostream broken(nullptr);
        std::ostringstream err;
        inspector::SConsole console{broken, err};
        EXPECT_EQ(inspector::Run(arguments, console), 3) << arguments[0];
        EXPECT_EQ(Lines(err.str()).back(), "submca-inspect: standard output cannot be written");
    }
}
