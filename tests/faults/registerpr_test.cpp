// RegisterPR in the real msiexec against the updater stand-in: a product's installation, removal,
// rollback and repair, an updater whose calls fail one at a time, and the sequence's data file
// damaged before the rollback. Only an updater that cannot be created during the installation's
// registration fails it.
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kPackage[] = L"registerpr";
const char kRefused[] = "RegisterProduct or SetProperty failed: 0x80004005";
const std::string kEngine = "{5D7B2E90-4C18-4A3F-8E61-B02F9D4C7A13}";
const std::string kControlData = "{3B6E0A2F-91C7-4d5e-A2B4-7F1C8E0D5962}";
const std::string kDescription = "DescriptiveName=Korvalin Security Software Update\n";

size_t Count(const Lines& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

Lines DebugLogLines()
{
    std::string text;
    for (const std::wstring& path : DebugLogFiles())
        text += ReadTextFile(path) + "\n";
    return SplitLines(text);
}

// RegisterPR's phase lines: the action and its sequence, each begun and ended, in every phase.
Lines PhaseLines(std::initializer_list<const char*> phases)
{
    Lines lines;
    for (const std::string phase : phases)
        for (const char* action : {"SubmissionEnginePatchRelay", "SUB_PR_Action"})
            for (const char* end : {" (Begin): ", " (End): "})
                lines.push_back("KRVL: " + phase + end + action);
    return lines;
}

std::string Product(const std::string& guid, const char* name, const std::string& properties)
{
    return "[" + guid + "]\nProductName=" + name + "\nVersion=11.0\nLanguage=KrvAllLanguages\n" + properties;
}

const std::string kControlDataProduct = Product(kControlData, "QELM Submission Control Data",
                                                kDescription + "AUTOPATCHRELAY=YES\nAUTOPATCHRELAYTYPE=SILENT\n");
const std::string kRegisteredProducts =
    Product(kEngine, "ORB Submission Engine", kDescription + "AUTOPATCHRELAY=NO\nAUTOPATCHRELAYTYPE=NOISY\n") +
    kControlDataProduct;

// Two calls that create and release both updater objects, around what happens in between.
Lines AroundTwoSteps(const Lines& firstStep)
{
    return Concat({{"create ProductRegistry", "create GroupRegistry"},
                   firstStep,
                   {"release ProductRegistry", "release GroupRegistry", "create ProductRegistry",
                    "create GroupRegistry", "release ProductRegistry", "release GroupRegistry"}});
}

const Lines kRegistrationCalls = AroundTwoSteps({
    "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, \"\", " + kEngine + ")",
    "SetProperty(" + kEngine + ", DescriptiveName, Korvalin Security Software Update)",
    "SetProperty(" + kEngine + ", AUTOPATCHRELAY, NO)",
    "SetProperty(" + kEngine + ", AUTOPATCHRELAYTYPE, NOISY)",
    "RegisterProduct(QELM Submission Control Data, 11.0, KrvAllLanguages, \"\", " + kControlData + ")",
    "SetProperty(" + kControlData + ", DescriptiveName, Korvalin Security Software Update)",
    "SetProperty(" + kControlData + ", AUTOPATCHRELAY, YES)",
    "SetProperty(" + kControlData + ", AUTOPATCHRELAYTYPE, SILENT)",
});
const Lines kRemovalCalls =
    AroundTwoSteps({"UnregisterProduct(" + kEngine + ")", "UnregisterProduct(" + kControlData + ")"});

class RegisterPRTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        SetDword(kKorvalinKey, L"DebugLog", 1);
        DeleteDebugLogs();
    }
    // A case that stopped early must not leave the product installed for the next one.
    void TearDown() override
    {
        m_updater.Fail(L"");
        RunMsiexec(L"/x", kPackage);
        DeleteKeyTree(kKorvalinKey);
        DeleteDebugLogs();
    }

    // The run ends as expected, shows the lines of its calls and leaves no data file.
    static void ExpectRun(const InstallerRun& run, unsigned long exitCode, const Lines& lines)
    {
        EXPECT_EQ(exitCode, run.exitCode) << Describe(run);
        EXPECT_FALSE(ShowsCrash(run)) << Describe(run);
        EXPECT_EQ(lines, run.KrvlLines());
        EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat"));
        EXPECT_FALSE(FileExists(TempFolder() + L"\\krvlprop.dat"));
    }

    UpdaterStandIn m_updater;
};

// The install condition holds (the updater's component is installed locally): the deferred call
// registers, a rollback unregisters; removal and repair unregister in the scheduling call only,
// so a repaired product is no longer known to the updater.
TEST_F(RegisterPRTest, InstallationRemovalRollbackAndRepair)
{
    struct Step {
        const wchar_t* action;
        const wchar_t* properties;
        unsigned long exitCode;
        const char* laterPhase;
        Lines journal;
        std::string products;
        std::string verdict; // the last line of `submca-inspect log`; empty: not asked
    };
    const std::vector<Step> steps = {
        {L"/i", L"", 0, "Commit", kRegistrationCalls, kRegisteredProducts, "verdict: nothing wrong found"},
        {L"/x", L"", 0, "Commit", kRemovalCalls, "", ""},
        {L"/i", L"FORCEFAIL=1", ERROR_INSTALL_FAILURE, "Rollback", Concat({kRegistrationCalls, kRemovalCalls}), "",
         "verdict: nothing wrong found; the installation failed in \"ForceFail\", not because of the module"},
        {L"/i", L"", 0, "Commit", kRegistrationCalls, kRegisteredProducts, ""},
        {L"/i", kRepair, 0, "Commit", kRemovalCalls, "", ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(Narrow(s.action) + " " + Narrow(s.properties));
        const InstallerRun run = RunMsiexec(s.action, kPackage, s.properties);
        ExpectRun(run, s.exitCode, PhaseLines({"Scheduling", "Deferred", s.laterPhase}));
        EXPECT_EQ(s.journal, m_updater.Journal());
        EXPECT_EQ(s.products, m_updater.Products());
        if (!s.verdict.empty()) {
            EXPECT_EQ(std::make_pair(0ul, s.verdict), InspectLog(run));
        }
    }
}

// The updater's messages in the install debug log name each product asked for and each refusal.
TEST_F(RegisterPRTest, RefusedRegistrationsAndPropertiesDoNotFailTheInstallation)
{
    struct Case {
        const wchar_t* call;
        std::wstring match;
        std::string products;
        size_t refusals;
    };
    const std::vector<Case> cases = {
        {L"RegisterProduct", Widen(kEngine), kControlDataProduct, 1},
        // The rest of a product is skipped after a refused description.
        {L"SetProperty", L"DescriptiveName",
         Product(kEngine, "ORB Submission Engine", "") + Product(kControlData, "QELM Submission Control Data", ""), 2},
        // Refused relay properties are not looked at: nothing is logged.
        {L"SetProperty", L"AUTOPATCHRELAY",
         Product(kEngine, "ORB Submission Engine", kDescription) +
             Product(kControlData, "QELM Submission Control Data", kDescription),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.call) + " " + Narrow(c.match));
        m_updater.Fail(c.call, c.match.c_str());
        ExpectRun(RunMsiexec(L"/i", kPackage), 0, PhaseLines({"Scheduling", "Deferred", "Commit"}));
        EXPECT_EQ(c.products, m_updater.Products());
        const Lines debug = DebugLogLines();
        EXPECT_EQ(c.refusals, Count(debug, kRefused));
        EXPECT_EQ(1u, Count(debug, "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, " + kEngine + ")"));
        EXPECT_EQ(1u, Count(debug, "RegisterProduct(QELM Submission Control Data, 11.0, KrvAllLanguages, " +
                                       kControlData + ")"));
        EXPECT_EQ(1u, Count(debug, "SetProperty(" + kControlData + ", DescName = Korvalin Security Software Update)"));
        m_updater.Fail(L"");
        EXPECT_TRUE(Succeeded(RunMsiexec(L"/x", kPackage)));
        DeleteDebugLogs();
    }
}

// Twenty attempts half a second apart in the deferred call and twenty in the rollback, then 1603.
TEST_F(RegisterPRTest, UpdaterThatCannotBeCreatedFailsTheInstallationAndRegistersNothing)
{
    struct Case {
        const wchar_t* failCall; // null: the updater's classes are not registered
        const char* code;
    };
    for (const Case& c : {Case{nullptr, "0x80040154"}, Case{L"CreateGroupRegistry", "0x80004005"}}) {
        SCOPED_TRACE(c.code);
        UpdaterStandIn updater;
        if (c.failCall)
            updater.Fail(c.failCall);
        else
            updater.Unregister();
        const InstallerRun install = RunMsiexec(L"/i", kPackage);
        ExpectRun(install, ERROR_INSTALL_FAILURE,
                  Concat({PhaseLines({"Scheduling"}),
                          {"KRVL: Deferred (Begin): SubmissionEnginePatchRelay",
                           "KRVL: Deferred (End): SubmissionEnginePatchRelay",
                           "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE."},
                          PhaseLines({"Rollback"})}));
        EXPECT_EQ(std::make_pair(5ul, std::string("verdict: the installation failed because of the module: RegisterPR "
                                                  "could not reach the updater in its deferred call")),
                  InspectLog(install));
        EXPECT_EQ("", updater.Products());
        EXPECT_EQ(40u, Count(DebugLogLines(), std::string("CoCreateInstance failed: ") + c.code));
        EXPECT_EQ(0u, Count(DebugLogLines(), kRefused));
        DeleteDebugLogs();
    }
}

// A removal never fails for the updater, unreachable or refusing to forget the products, and a
// rolled-back installation whose updater refuses leaves them too. If the sequence's data file lost
// "Install" before the rollback, the rollback takes itself for that of a removal and registers
// them again.
TEST_F(RegisterPRTest, ProductsTheUpdaterCannotForgetStayRegistered)
{
    struct Case {
        const wchar_t* failCall;
        const wchar_t* damage;
        bool removal;  // else a rolled-back installation
        Lines journal; // empty: twenty attempts to create the updater, none answered
    };
    const std::vector<Case> cases = {
        {L"CreateProductRegistry", L"", true, {}},
        {L"UnregisterProduct", L"", true, kRemovalCalls},
        {L"UnregisterProduct", L"", false, Concat({kRegistrationCalls, kRemovalCalls})},
        {L"", L"cut", false, Concat({kRegistrationCalls, kRegistrationCalls})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.failCall) + Narrow(c.damage) + (c.removal ? " removal" : " rollback"));
        UpdaterStandIn updater;
        if (c.removal) {
            ASSERT_TRUE(Succeeded(RunMsiexec(L"/i", kPackage)));
            updater.Journal();
            DeleteDebugLogs();
        }
        updater.Fail(c.failCall);
        const RecordDamage damage(L"SUB_PR_Action.dat", c.damage);
        ExpectRun(RunMsiexec(c.removal ? L"/x" : L"/i", kPackage, c.removal ? L"" : L"DAMAGELATER=1 FORCEFAIL=1"),
                  c.removal ? 0 : ERROR_INSTALL_FAILURE,
                  PhaseLines({"Scheduling", "Deferred", c.removal ? "Commit" : "Rollback"}));
        if (c.journal.empty())
            EXPECT_EQ(20u, Count(DebugLogLines(), "CoCreateInstance failed: 0x80004005"));
        else
            EXPECT_EQ(c.journal, updater.Journal());
        EXPECT_EQ(kRegisteredProducts, updater.Products()) << "the updater could not be told";
    }
}

} // namespace
