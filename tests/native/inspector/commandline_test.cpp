// The command line shared by every command: help, usage errors, and the built executable's exit
// statuses and output streams.
#include <sstream>

#include "exports/version.h"
#include "inspector.h"
#include "support.h"

using namespace inspecttest;

namespace {

size_t Occurrences(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

class CommandLineTest : public CScratchTest
{
};

} // namespace

TEST_F(CommandLineTest, HelpExplainsEveryCommandWithAnExample)
{
    for (const char* request : {"--help", "-h", "help"}) {
        SCOPED_TRACE(request);
        const SResult result = Inspect({request});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("  scd       decode the submission control file SCD.xml"), std::string::npos);
        EXPECT_NE(result.out.find("  records   list the records of a framework record file"), std::string::npos);
        EXPECT_NE(result.out.find("usage: submca-inspect scd FILE [-o OUT | --in-place]\n"
                                  "       submca-inspect scd --encipher FILE (-o OUT | --in-place)\n"),
                  std::string::npos);
        EXPECT_NE(result.out.find("usage: submca-inspect records FILE [--force]\n"), std::string::npos);
        EXPECT_NE(result.out.find("  submca-inspect scd SCD.xml > plain.xml\n"), std::string::npos);
        EXPECT_NE(result.out.find("  submca-inspect records %TEMP%\\SUB_PR_Action.dat\n"), std::string::npos);
        EXPECT_NE(result.out.find("  check     check a control file SCD.xml"), std::string::npos);
        EXPECT_EQ(Occurrences(result.out, "\nExample"), 4u);
        EXPECT_NE(result.out.find("  --force         list what can be read even when the digest does not match\n"),
                  std::string::npos);
        EXPECT_NE(result.out.find("  3  a file could not be read or written\n"), std::string::npos);
    }

    const SResult scd = Inspect({"help", "scd"});
    EXPECT_EQ(scd.status, 0);
    EXPECT_EQ(scd.out.rfind("usage: submca-inspect scd FILE", 0), 0u);
    EXPECT_EQ(scd.out.find("records FILE"), std::string::npos);
    for (const std::vector<std::string>& same :
         {std::vector<std::string>{"scd", "--help"}, {"scd", "FILE", "-h"}, {"scd", "--encipher", "--help"}}) {
        const SResult result = Inspect(same);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, scd.out);
    }
    // "help help" answers with the overview, which says how to ask for help.
    const SResult helpHelp = Inspect({"help", "help"});
    EXPECT_EQ(helpHelp.status, 0);
    EXPECT_NE(helpHelp.out.find("       submca-inspect help [COMMAND]\n"), std::string::npos);
    EXPECT_EQ(helpHelp.out.find("usage: submca-inspect scd FILE"), std::string::npos);

    const SResult records = Inspect({"records", "-h"});
    EXPECT_EQ(records.status, 0);
    EXPECT_EQ(records.out.rfind("usage: submca-inspect records FILE [--force]\n", 0), 0u);
}

TEST_F(CommandLineTest, UsageErrorsAreOneLineAndStatusTwo)
{
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "no command given (see 'submca-inspect --help')"},
        {{"inspect"}, "unknown command 'inspect' (see 'submca-inspect --help')"},
        {{"help", "inspect"}, "help: unknown command 'inspect' (see 'submca-inspect --help')"},
        {{"help", "scd", "records"}, "help takes one command name (see 'submca-inspect --help')"},
        {{"--version", "scd"}, "--version takes no argument (see 'submca-inspect --help')"},
        {{"records"}, "records: FILE missing (see 'submca-inspect records --help')"},
        {{"records", "a", "b"}, "records: unexpected argument 'b' (see 'submca-inspect records --help')"},
        {{"records", "a", "--verbose"}, "unknown option '--verbose' for records (see 'submca-inspect records --help')"},
        {{"records", "a", "-o", "b"}, "unknown option '-o' for records (see 'submca-inspect records --help')"},
        {{"records", "a", "--force", "--force"}, "option '--force' given twice (see 'submca-inspect records --help')"},
        {{"scd", "a", "-o"}, "option '-o' needs OUT (see 'submca-inspect scd --help')"},
        {{"scd", "--help=yes"}, "unknown option '--help=yes' for scd (see 'submca-inspect scd --help')"},
    };
    for (const auto& c : cases) {
        const SResult result = Inspect(c.arguments);
        EXPECT_EQ(result.status, 2) << c.message;
        EXPECT_EQ(result.err, "submca-inspect: " + c.message + "\n");
        EXPECT_EQ(result.out, "");
    }

    // After "--" everything is a file name, and "-" alone is one too.
    SResult result = Inspect({"records", "--", "--force"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "submca-inspect: --force: no such file\n");
    result = Inspect({"scd", "-"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "submca-inspect: -: no such file\n");
}

// The executable: its exit statuses, and the decoded content alone on standard output.
TEST_F(CommandLineTest, ExecutableExitStatusesAndStreams)
{
    const std::string plain = "<?xml version=\"1.0\"?>\r\n<scd>\t\xFF</scd>\n";
    const std::string container = Write("SCD.xml", EncodeContainerFor(plain, Bytes(16, 0x42)));
    SResult result = InspectProcess({"scd", container});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_NE(result.err.find("form:            enciphered container\n"), std::string::npos);

    result = InspectProcess({"scd", container, "-o", PathOf("plain.xml")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("content:         " + std::to_string(plain.size()) + " bytes of plain text written to "),
              std::string::npos);
    EXPECT_EQ(Read("plain.xml"), Bytes(plain.begin(), plain.end()));

    const std::string records =
        Write("SUB_PR_Action.dat",
              EncodeRecordFile(2, {DwordRecord("COND1:SUB_PR_Action", 1), DwordRecord("COND1:Probe", 0)}));
    result = InspectProcess({"records", records});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("[2] offset 76, 32-bit value: COND1:Probe = 0 (0x00000000)\n"
                              "    -> condition false at scheduling: \"Probe\" is skipped in the later phases "
                              "(installing)\n"),
              std::string::npos);

    Bytes damaged = EncodeRecordFile(1, {DwordRecord("Install", 1)});
    damaged.back() ^= 1;
    result = InspectProcess({"records", Write("bad.dat", damaged)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Lines(result.err).size(), 1u);

    result = InspectProcess({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "submca-inspect: no command given (see 'submca-inspect --help')\n");

    result = InspectProcess({"records", PathOf("absent.dat")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");

    result = InspectProcess({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, Inspect({"--help"}).out);

    // The version the module's resources carry, so a support engineer can match the two.
    result = InspectProcess({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "submca-inspect " SUBMCA_VERSION_TEXT " (Linux)\n");
    EXPECT_EQ(result.err, "");
}

// Output that cannot be written (a full disk behind a redirection) is a failure, not success.
TEST_F(CommandLineTest, UnwritableStandardOutputFails)
{
    const std::string records = Write("SUB_PR_Action.dat", EncodeRecordFile(1, {DwordRecord("Install", 1)}));
    const std::string container = Write("SCD.xml", EncodeContainerFor("<scd/>", Bytes(16, 1)));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"records", records}, {"scd", container}, {"--help"}}) {
        std::ostream broken(nullptr);
        std::ostringstream err;
        inspector::SConsole console{broken, err};
        EXPECT_EQ(inspector::Run(arguments, console), 3) << arguments[0];
        EXPECT_EQ(Lines(err.str()).back(), "submca-inspect: standard output cannot be written");
    }
}
