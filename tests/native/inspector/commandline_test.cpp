// The command line shared by every command: help, usage errors, and the built executable's exit
// statuses and output streams.
#include <sstream>

#include "exports/version.h"
#include "inspector.h"
#include "support.h"

using namespace inspecttest;

namespace {

class CommandLineTest : public CScratchTest
{
};

} // namespace

TEST_F(CommandLineTest, HelpAndUsageErrors)
{
    const SResult help = Inspect({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"usage: submca-inspect scd FILE [-o OUT | --in-place]\n", "  records   list the records",
                             "  check     check a control file", "  3  a file could not be read or written\n"})
        EXPECT_TRUE(Contains(help.out, part)) << part;
    EXPECT_EQ(Inspect({"help"}).out, help.out);
    const SResult scd = Inspect({"help", "scd"});
    EXPECT_EQ(scd.out.rfind("usage: submca-inspect scd FILE", 0), 0u);
    EXPECT_FALSE(Contains(scd.out, "records FILE"));
    EXPECT_EQ(Inspect({"scd", "FILE", "-h"}).out, scd.out);

    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "no command given (see 'submca-inspect --help')"},
        {{"inspect"}, "unknown command 'inspect' (see 'submca-inspect --help')"},
        {{"help", "inspect"}, "help: unknown command 'inspect' (see 'submca-inspect --help')"},
        {{"--version", "scd"}, "--version takes no argument (see 'submca-inspect --help')"},
        {{"records"}, "records: FILE missing (see 'submca-inspect records --help')"},
        {{"records", "a", "b"}, "records: unexpected argument 'b' (see 'submca-inspect records --help')"},
        {{"records", "a", "-o", "b"}, "unknown option '-o' for records (see 'submca-inspect records --help')"},
        {{"records", "a", "--force", "--force"}, "option '--force' given twice (see 'submca-inspect records --help')"},
        {{"scd", "a", "-o"}, "option '-o' needs OUT (see 'submca-inspect scd --help')"},
        {{"check", "--force", "a.xml"}, "unknown option '--force' for check (see 'submca-inspect check --help')"},
    };
    for (const auto& c : cases) {
        const SResult result = Inspect(c.arguments);
        EXPECT_EQ(result.status, 2) << c.message;
        EXPECT_EQ(result.err, "submca-inspect: " + c.message + "\n");
        EXPECT_EQ(result.out, "");
    }
    // After "--" everything is a file name.
    EXPECT_EQ(Inspect({"records", "--", "--force"}).err, "submca-inspect: --force: no such file\n");
}

// The executable: its exit statuses, the decoded content alone on standard output, and the
// version the module's resources carry, so a support engineer can match the two.
TEST_F(CommandLineTest, ExecutableExitStatusesAndStreams)
{
    const std::string plain = "<?xml version=\"1.0\"?>\r\n<scd>\t\xFF</scd>\n";
    const std::string container = Write("SCD.xml", EncodeContainerFor(plain, Bytes(16, 0x42)));
    SResult result = InspectProcess({"scd", container});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_TRUE(Contains(result.err, "form:            enciphered container\n"));

    Bytes damaged = EncodeRecordFile(1, {DwordRecord("Install", 1)});
    damaged.back() ^= 1;
    result = InspectProcess({"records", Write("bad.dat", damaged)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Lines(result.err).size(), 1u);

    EXPECT_EQ(InspectProcess({}).status, 2);
    result = InspectProcess({"records", PathOf("absent.dat")});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");

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
