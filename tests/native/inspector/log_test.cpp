// "log": excerpts of installer logs as Wine's and Windows' installers write them, in each text
// form the reader accepts, the inputs it must refuse with one line, and the README's copy of the
// table of lines.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "logforms.h"
#include "logmeaning.h"
#include "support.h"

using namespace inspecttest;

namespace {

const std::string kFailure = "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE.";

// What Wine's msiexec writes around one call of an action.
std::string Action(const std::string& name, const std::string& body, int returnValue = 1)
{
    return "Action start 10:00:00: " + name + ".\n" + body + "Action ended 10:00:01: " + name + ". Return value " +
           std::to_string(returnValue) + ".\n";
}

std::string Phase(const std::string& phase, const std::string& end = "End")
{
    return "KRVL: " + phase + " (Begin): SubmissionEnginePatchRelay\nKRVL: " + phase + " (" + end +
           "): SubmissionEnginePatchRelay\nKRVL: " + phase + " (Begin): SUB_PR_Action\nKRVL: " + phase +
           " (End): SUB_PR_Action\n";
}

// An installation with RegisterPR in all four places, the deferred call's lines given.
std::string Installation(const std::string& deferred, int deferredReturn, const std::string& after, int result)
{
    return "=== Verbose logging started ===\n" + Action("CostInitialize", "") + "Action start 10:00:00: INSTALL.\n" +
           Action("RegisterPR", Phase("Scheduling")) + Action("RegisterPR_Rollback", "") +
           Action("RegisterPR_Deferred", "") + Action("RegisterPR_Commit", "") +
           "Action start 10:00:02: InstallFinalize.\n" + Action("RegisterPR_Deferred", deferred, deferredReturn) +
           after + "Action ended 10:00:03: InstallFinalize. Return value " + std::to_string(result) +
           ".\nAction ended 10:00:03: INSTALL. Return value " + std::to_string(result) + ".\n" +
           "Property(S): ProductName = Test\n";
}

std::string Utf16(const std::string& text, bool mark)
{
    std::string wide = mark ? "\xFF\xFE" : "";
    for (char c : text)
        wide += std::string(1, c) + '\0';
    return wide;
}

class LogTest : public CScratchTest {
protected:
    SResult Explain(const std::string& content) { return Inspect({"log", Write("install.log", ToBytes(content))}); }
};

} // namespace

TEST_F(LogTest, ScenariosGetTheirVerdictAndStatus)
{
    const std::string success = Installation(Phase("Deferred"), 1, Action("RegisterPR_Commit", Phase("Commit")), 1);
    const std::string updaterAbsent =
        Installation("KRVL: Deferred (Begin): SubmissionEnginePatchRelay\nKRVL: Deferred (End): "
                     "SubmissionEnginePatchRelay\n" +
                         kFailure + "\n",
                     0, "", 0) +
        Action("RegisterPR_Rollback", Phase("Rollback"));
    const std::string otherFailure = Installation(Phase("Deferred"), 1, Action("ForceFail", "", 0), 0) +
                                     Action("RegisterPR_Rollback", Phase("Rollback"));
    const std::string falseCondition =
        Action("RegisterPR", "KRVL: SubmissionEnginePatchRelay: (condition is false)\n"
                             "KRVL: Scheduling (Begin): SUB_PR_Action\nKRVL: Scheduling (End): SUB_PR_Action\n") +
        "Action start 10:00:02: InstallFinalize.\n" + Action("RegisterPR_Deferred", Phase("Deferred")) +
        "Action ended 10:00:03: InstallFinalize. Return value 1.\n";
    const std::string windowsFailure =
        "MSI (s) (F4:A8) [10:00:00:000]: Doing action: InstallFinalize\nAction start 10:00:00: InstallFinalize.\n"
        "MSI (s) (F4:A8) [10:00:00:001]: Executing op: ActionStart(Name=RegisterPR_Deferred,,)\n"
        "MSI (s) (F4:A8) [10:00:00:002]: Executing op: "
        "CustomActionSchedule(Action=RegisterPR_Deferred,ActionType=1025,Source=BinaryData,Target=RegisterPR,)\n" +
        Phase("Deferred") + kFailure +
        "\nCustomAction RegisterPR_Deferred returned actual error code 1603 (note this may not be 100% accurate)\n"
        "Action ended 10:00:10: InstallFinalize. Return value 3.\n";
    const std::string engineFailed = "MSI (s) (F4:A8) [10:00:11:000]: MainEngineThread is returning 1603\n";
    const std::string windows = windowsFailure + engineFailed;
    // Another product's rollback action that fails in the rollback script, after the module's failure.
    const std::string laterRollbackFailure =
        windowsFailure +
        "MSI (s) (F4:A8) [10:00:10:100]: Executing op: Header(Signature=1397708873,Version=500,Timestamp=1,LangId="
        "1033,Platform=0,ScriptType=2,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)\n"
        "MSI (s) (F4:A8) [10:00:10:101]: Executing op: ActionStart(Name=RollbackServiceConfig,,)\n"
        "MSI (s) (F4:A8) [10:00:10:102]: Executing op: CustomActionRollback(Action=RollbackServiceConfig,ActionType="
        "1281,Source=BinaryData,Target=RollbackServiceConfig,)\n"
        "MSI (s) (F4:B0) [10:00:10:103]: Invoking remote custom action. DLL: C:\\Windows\\Installer\\MSI1A.tmp, "
        "Entrypoint: RollbackServiceConfig\n"
        "CustomAction RollbackServiceConfig returned actual error code 1603 (note this may not be 100% accurate)\n" +
        engineFailed;
    const std::string trace = "2026-12-04-05-04-25-123 : submca : 0x0A3C : 0x0B10 : Error : long __thiscall "
                              "clfs::update::CUpdate::Initialize(const wchar_t *) : Failed to get cfg mgr: sr = "
                              "0x8000FFFF, hr = 0x8007007E\n";
    const struct {
        std::string log;
        int status;
        std::string part; // of the report, or of the one line of status 3; "verdict..." is the last line
    } cases[] = {
        {success, 0, "verdict: nothing wrong found"},
        {updaterAbsent, 5,
         "verdict: the installation failed because of the module: RegisterPR could not reach the "
         "updater in its deferred call"},
        {otherFailure, 0,
         "verdict: nothing wrong found; the installation failed in \"ForceFail\", not because of "
         "the module"},
        {Action("UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070570\n"), 1,
         "        check: submca-inspect scd SCD.xml says what is damaged"},
        {Installation("KRVL: Deferred (Begin): SubmissionEnginePatchRelay\n", 0, "", 0), 5,
         "verdict: the installation failed because of the module: RegisterPR (action \"RegisterPR_Deferred\") "
         "failed after ending abnormally"},
        {falseCondition, 1,
         "sign: \"SubmissionEnginePatchRelay\" had a false condition in the scheduling call but "
         "ran in the deferred call: the data file SUB_PR_Action.dat was lost"},
        {windows, 5, "installation:    failed (MainEngineThread is returning 1603)\n"},
        {laterRollbackFailure, 5, "failed action:   \"RegisterPR_Deferred\" (the module's)\n"},
        {"", 3, "empty file: there is no log to explain"},
        {std::string("MZ\x90\0\x03\0", 6), 3, "not a text log: the file starts with binary content"},
        {"=== Verbose logging started ===\n" + Action("InstallFiles", "") +
             Action("CostInitialize", std::string(200000, 'x') + "\n"),
         3, "no line of the submca module: the log of another product, or of a run in which the module's actions"},
        {"shopping list\nmilk\n", 3, "no line of the submca module, and not an installer log, install debug log"},
        {trace, 1, "kind:            trace file (submca.log)"},
        {Action("RegisterPR", Phase("Scheduling")) + Action("RegisterPR_Rollback", Phase("Scheduling")), 1,
         "sign: \"RegisterPR_Rollback\" ran as an immediate action, a second scheduling call of RegisterPR: its type "
         "lacks the rollback or commit bit (1281, 1537; wixl writes such actions as immediate ones), so it never ran "
         "in its phase, and each run leaves the record files SUB_PR_Action.dat and krvlprop.dat behind in the "
         "temporary folder\n"},
        {"=== Verbose logging started ===\n" + Action("RegisterPR", Phase("Scheduling")) +
             "Property(S): REINSTALL = ALL\n",
         1,
         "sign: this repair ran RegisterPR's immediate call on the installed product, which removes both products "
         "from the updater"},
        {"=== Verbose logging started ===\n" +
             Action("UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070570\n") + updaterAbsent,
         5,
         "verdict: the installation failed because of the module: RegisterPR could not reach the updater in its "
         "deferred call (session 2 of 2)"},
        // Windows Installer 2.0 ran DLL actions without logging a remote call.
        {"MSI (s) (A0:4C): Doing action: InstallFinalize\nAction start 10:00:00: InstallFinalize.\n"
         "MSI (s) (A0:4C): Executing op: ActionStart(Name=RegisterPR_Commit,,)\n"
         "MSI (s) (A0:4C): Executing op: CustomActionSchedule(Action=RegisterPR_Commit,ActionType=1537,Source="
         "BinaryData,Target=RegisterPR,)\n"
         "MSI (s) (A0:4C): Executing op: End(Checksum=0,ProgressTotal=0)\n" +
             Phase("Commit") + "Action ended 10:00:01: InstallFinalize. Return value 1.\n",
         0, "[1] RegisterPR: action \"RegisterPR_Commit\", commit, succeeded (the script went on)\n"},
        {otherFailure + success, 0, "verdict: nothing wrong found (session 2 of 2)"},
        // Wine writes the start line of one run twice, the second after the top-level action's start.
        {"=== Logging started: 12/7/2026  4:01:30 ===\nAction 4:01:30: INSTALL. \nAction start 4:01:30: INSTALL.\n" +
             updaterAbsent,
         5,
         "verdict: the installation failed because of the module: RegisterPR could not reach the updater in its "
         "deferred call"},
    };
    for (const auto& c : cases) {
        const SResult result = Explain(c.log);
        EXPECT_EQ(result.status, c.status) << c.part;
        if (c.status == 3)
            EXPECT_TRUE(result.out.empty() && Contains(result.err, ": " + c.part)) << result.err;
        else if (c.part.rfind("verdict", 0) == 0)
            EXPECT_EQ(Lines(result.out).back(), c.part) << result.out;
        else
            EXPECT_TRUE(Contains(result.out, c.part)) << c.part << "\n---\n" << result.out;
    }
}

TEST_F(LogTest, EveryTextFormGivesTheSameReport)
{
    const std::string log = Action("UpdateQSN", "KRVL (Error): Failed to update QSN config: 0x80070002\n");
    const std::string body = Explain(log).out.substr(Explain(log).out.find("\ninstallation:"));
    const struct {
        std::string bytes;
        std::string part;
    } cases[] = {
        {std::regex_replace(log, std::regex("\n"), "\r\n"), "kind:            verbose installer log, 8-bit text"},
        {Utf16(log, true), "kind:            verbose installer log, UTF-16LE with a byte-order mark"},
        {Utf16(log, false), "kind:            verbose installer log, UTF-16LE\n"},
        {log.substr(0, log.size() - 1), "the log ends in the middle of a line; its last line is read as it stands\n"},
        {Utf16(log, true).substr(0, Utf16(log, true).size() - 1), "the half character is dropped\n"},
    };
    for (const auto& c : cases) {
        const SResult result = Explain(c.bytes);
        EXPECT_EQ(result.status, 1) << c.part;
        EXPECT_TRUE(Contains(result.out, c.part)) << result.out;
        EXPECT_EQ(result.out.substr(result.out.find("\ninstallation:")), body);
    }
}

// Logs that Windows' own msiexec wrote: every real log of another product has no line of the
// module, and every case built from one (the module's calls inserted as Windows logs a DLL action)
// gives its status, its verdict and its calls, per session where a file holds several.
TEST(WindowsLogTest, RealLogsAndCasesGetTheirStatusVerdictAndCalls)
{
    const std::string folder = SUBMCA_WINDOWS_LOGS;
    size_t realLogs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".log")
            continue;
        ++realLogs;
        const SResult result = Inspect({"log", entry.path().string()});
        EXPECT_EQ(result.status, 3) << entry.path() << "\n" << result.out;
        EXPECT_TRUE(Contains(result.err, ": no line of the submca module: the log of another product")) << result.err;
    }
    EXPECT_GE(realLogs, 15u);

    const std::string immediate = "[1] RegisterPR: action \"RegisterPR\", immediate, Return value 1 (succeeded)";
    const std::string unload = "[2] UnloadSubmissionService: action \"UnloadSubmissionService\", deferred, succeeded "
                               "(the script went on)";
    const std::string write = "[3] WriteInstalledAppsKey: action \"WriteInstalledAppsKey\", deferred, succeeded (the "
                              "script went on)";
    const std::string update = "[4] UpdateQSN: action \"UpdateQSN\", deferred, succeeded (the script went on)";
    const std::string deferred = "RegisterPR: action \"RegisterPR_Deferred\", deferred, ";
    const std::string commit = "RegisterPR: action \"RegisterPR_Commit\", commit, succeeded (the script went on)";
    const std::string rollback = "RegisterPR: action \"RegisterPR_Rollback\", rollback, succeeded (the script went on)";
    const std::vector<std::string> good = {
        immediate, unload, write, update, "[5] " + deferred + "succeeded (the script went on)", "[6] " + commit};
    const std::string failedImmediate =
        "[1] RegisterPR: action \"RegisterPR\", immediate, Return value 3 (failed), error code 1603";
    const std::string unreachable = "the installation failed because of the module: RegisterPR could not reach the "
                                    "updater in its deferred call";
    auto with = [](std::vector<std::string> lines, const std::vector<std::string>& more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    const std::vector<std::string> goodThenFailed = {
        immediate, unload, write, update, "[5] " + deferred + "failed, error code 1603", "[6] " + rollback};
    const struct {
        const char* file;
        int status;
        std::string verdict;            // the last line, after "verdict: "
        std::vector<std::string> calls; // the call lines, and per session its verdict line
    } cases[] = {
        {"icls-install-success-all-actions.log", 0, "nothing wrong found", good},
        {"icls-install-success-invoking-after-action-start.log", 0, "nothing wrong found", good},
        {"icls-install-deferred-registerpr-fails-rollback.log", 5, unreachable, goodThenFailed},
        {"icls-install-deferred-registerpr-fails-rollback-utf16le.log", 5, unreachable, goodThenFailed},
        {"icls-install-immediate-registerpr-fails.log",
         5,
         "the installation failed because of the module: RegisterPR (action \"RegisterPR\") failed",
         {failedImmediate}},
        {"icls-install-fails-in-other-action-after-module.log",
         1,
         "the module reported problems (1): KRVL (Error): Failed to update QSN config: 0x80070002; the installation "
         "failed in \"ExecServiceConfig\", not because of the module",
         {immediate, unload, write, update, "[5] " + deferred + "succeeded (the script went on)", "[6] " + rollback}},
        {"icls-repair-success.log", 1,
         "the module reported problems (1): this reconfiguration ran RegisterPR's immediate call on the installed "
         "product, which removes both products from the updater; the module offers no call that registers them "
         "again, so the updater no longer knows them",
         good},
        {"icls-install-user-cancel-1602.log",
         0,
         "nothing wrong found; the installation was cancelled",
         {immediate, unload, write, update, "[5] " + deferred + "no Return value in the log", "[6] " + rollback}},
        {"icls-appended-failed-then-good.log", 5,
         "the installation failed because of the module: RegisterPR (action \"RegisterPR\") failed (session 1 of 2)",
         with({failedImmediate,
               "session verdict: the installation failed because of the module: RegisterPR (action \"RegisterPR\") "
               "failed"},
              with(good, {"session verdict: nothing wrong found"}))},
        {"icls-install-registerpr-continue-marked.log",
         1,
         "the module reported problems (1): KRVL (Error): Failure in SubmissionEnginePatchRelay, returning "
         "ERROR_INSTALL_FAILURE.",
         {immediate, unload, write, update,
          "[5] " + deferred +
              "succeeded (the script went on), error code 1603 translated to success by continue marking",
          "[6] " + commit}},
        {"icls-install-success-module-error-lines.log", 1,
         "the module reported problems (1): KRVL (Error): Could not find reg key, Error val = 2", good},
        {"icls-install-cut-in-deferred-call.log",
         0,
         "nothing wrong found",
         {immediate, unload, write, update, "[5] " + deferred + "the log ends inside the call"}},
        {"icls-install-registerpr-condition-false.log", 1,
         "the module reported problems (3): KRVL: SubmissionEnginePatchRelay: (condition is false)", good},
        {"wix-removal-fails-1926-after-module.log",
         0,
         "nothing wrong found; the removal failed, and no line shows that the module failed it",
         {"[1] UnloadSubmissionService: action \"UnloadSubmissionService\", deferred, succeeded (the script went on)",
          "[2] " + deferred + "succeeded (the script went on)", "[3] " + rollback}},
        {"wix-removal-success.log",
         0,
         "nothing wrong found",
         {"[1] UnloadSubmissionService: action \"UnloadSubmissionService\", deferred, succeeded (the script went on)",
          "[2] " + deferred + "succeeded (the script went on)", "[3] " + commit}},
        {"fr-install-deferred-registerpr-fails.log",
         5,
         unreachable,
         {"[1] " + deferred + "failed, error code 1603", "[2] " + rollback}},
        {"hlk-indented-other-deferred-action-fails-after-module.log",
         0,
         "nothing wrong found; the installation failed in \"CreateStandaloneEnterprise\", not because of the module",
         {"[1] " + deferred + "succeeded (the script went on)"}},
    };
    for (const auto& c : cases) {
        const SResult result = Inspect({"log", folder + "/cases/" + c.file});
        EXPECT_EQ(result.status, c.status) << c.file << "\n" << result.out;
        const std::vector<std::string> lines = Lines(result.out);
        std::vector<std::string> calls;
        for (const std::string& line : lines) {
            if (line.rfind("[", 0) == 0 || line.rfind("session verdict: ", 0) == 0)
                calls.push_back(line);
        }
        EXPECT_EQ(calls, with(c.calls, {})) << c.file;
        ASSERT_FALSE(lines.empty()) << c.file;
        EXPECT_EQ(lines.back(), "verdict: " + c.verdict) << c.file;
    }
}

// Each form of the installer's lines, as Windows wrote it in the collected logs (or as the cases
// model it), read into its event and fields; lines that only look like a form are no event.
TEST(LogFormsTest, EachFormIsReadIntoItsEvent)
{
    using inspector::EForm;
    const std::string s = "MSI (s) (08:18) [22:48:49:312]: ";
    const struct {
        std::string line;
        EForm form;
        std::string name;
        std::string target;
        long number;
    } rows[] = {
        {"=== Verbose logging started: 04/03/2025  13:45:54  Build type: SHIP UNICODE 5.00.10011.00  Calling process: "
         "C:\\WINDOWS\\system32\\msiexec.exe ===",
         EForm::SessionStart, "", "", -1},
        {"=== Logging started: 8/16/2022  11:42:52 ===", EForm::SessionStart, "", "", -1},
        {s + "Doing action: PublishProduct", EForm::DoingAction, "PublishProduct", "", -1},
        {"MSI (c) (A0:4C): Doing action: INSTALL", EForm::DoingAction, "INSTALL", "", -1},
        {"Action start 22:48:49: PublishFeatures.", EForm::ActionStart, "PublishFeatures", "", -1},
        {"Action ended 22:48:49: PublishFeatures. Return value 1.", EForm::ActionEnded, "PublishFeatures", "", 1},
        {"    Action ended 18:58:30: InstallFinalize. Return value 3", EForm::ActionEnded, "InstallFinalize", "", 3},
        {"Action 22:48:49: Rollback. Rolling back action:", EForm::RollbackStart, "", "", -1},
        {"Action 14:20:44: FatalError. ", EForm::None, "", "", -1},
        {s + "Skipping action: DeleteTask.B7CF4EA4_7FB9_41F3_BE44_1100DFE4993C (condition is false)", EForm::Skipped,
         "DeleteTask.B7CF4EA4_7FB9_41F3_BE44_1100DFE4993C", "", -1},
        {s + "Executing op: Header(Signature=1397708873,Version=500,Timestamp=1360770585,LangId=1033,Platform=589824,"
             "ScriptType=1,ScriptMajorVersion=21,ScriptMinorVersion=4,ScriptAttributes=1)",
         EForm::ScriptHeader, "", "", 1},
        {"    MSI (s) (F4:74) [18:58:28:170]: Executing op: ActionStart(Name=RegisterPR_Rollback,,)",
         EForm::ScriptActionStart, "RegisterPR_Rollback", "", -1},
        {s + "Executing op: CustomActionSchedule(Action=ExecSecureObjects,ActionType=3073,Source=BinaryData,Target="
             "ExecSecureObjects,CustomActionData=C:\\ProgramData\\Intel\\)",
         EForm::ScriptSchedule, "ExecSecureObjects", "ExecSecureObjects", 3073},
        {s + "Executing op: CustomActionRollback(Action=RegisterPR_Rollback,ActionType=1281,Source=BinaryData,Target="
             "RegisterPR,)",
         EForm::ScriptRollback, "RegisterPR_Rollback", "RegisterPR", 1281},
        {s + "Executing op: CustomActionCommit(Action=RegisterPR_Commit,ActionType=1537,Source=BinaryData,Target="
             "RegisterPR,)",
         EForm::ScriptCommit, "RegisterPR_Commit", "RegisterPR", 1537},
        {s + "Executing op: End(Checksum=0,ProgressTotalHDWord=0,ProgressTotalLDWord=42658792)", EForm::ScriptEnd, "",
         "", -1},
        {s + "Executing op: ProgressTotal(Total=1,Type=1,ByteEquivalent=175000)", EForm::ScriptOp, "", "", -1},
        {"MSI (s) (08:9C) [22:48:49:577]: Invoking remote custom action. DLL: C:\\Windows\\Installer\\MSI1C59.tmp, "
         "Entrypoint: ExecSecureObjects",
         EForm::Invoking, "", "ExecSecureObjects", -1},
        {"CustomAction InvokeTestPS1 returned actual error code 1603 (note this may not be 100% accurate if "
         "translation happened inside sandbox)",
         EForm::ActionError, "InvokeTestPS1", "", 1603},
        {"CustomAction DeleteTask.199BDD9A_24A6_4823_97EE_2CE1ACDA55D5 returned actual error code 1 but will be "
         "translated to success due to continue marking",
         EForm::ActionErrorIgnored, "DeleteTask.199BDD9A_24A6_4823_97EE_2CE1ACDA55D5", "", 1},
        {"MSI (s) (88:68) [10:01:33:093]: Note: 1: 1721 2: InstallVSIX 3: C:\\Users\\sergueik\\AppData\\Local\\Temp"
         "\\VSIX\\ 4: \"C:\\code.cmd\"",
         EForm::ActionNote, "InstallVSIX", "", 1721},
        {s + "Note: 1: 2205 2:  3: ActionText ", EForm::None, "", "", -1},
        {s + "Product: Dummy Application Installer -- Removal failed.", EForm::ProductResult, "Removal", "", 1603},
        {s + "Product: Intel\xC2\xAE Trusted Connect Service Client -- Installation completed successfully.",
         EForm::ProductResult, "Installation", "", 0},
        {s + "Product: Dummy Application Installer -- Error 1926. Could not set file security for file "
             "'F:\\Config.Msi\\'. Error: 3.",
         EForm::ProductError, "", "", 1926},
        {"Produit : Cyber Protect Agent -- L\xE2\x80\x99installation a \xC3\xA9"
         "chou\xC3\xA9.",
         EForm::None, "", "", -1},
        {s + "Windows Installer removed the product. Product Name: Dummy Application Installer. Product Version: "
             "1.0.0.0. Product Language: 1033. Manufacturer: My Company. Removal success or error status: 1603.",
         EForm::InstallerResult, "removed", "", 1603},
        {"MSI (c) (68:00) [22:48:50:233]: MainEngineThread is returning 0", EForm::EngineResult, "", "", 0},
        {"MSI (c) (54:BC) [16:28:12:046]: Back from server. Return value: 1603", EForm::BackFromServer, "", "", 1603},
        {"MSI (c) (54:BC) [16:28:12:046]: Back from server. Return value:  ", EForm::BackFromServer, "", "", 0},
        {"Property(S): REINSTALL = ALL", EForm::Property, "REINSTALL", "", -1},
        {s + "PROPERTY CHANGE: Adding REMOVE property. Its value is 'ALL'.", EForm::Property, "REMOVE", "", -1},
        {"KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE.", EForm::ModuleLine, "",
         "", -1},
        {"MSI (s) (CC!40) [11:03:22:299]: Creating MSIHANDLE (13311) of type 790531 for thread 39744", EForm::None, "",
         "", -1},
        {"MSI (", EForm::None, "", "", -1},
    };
    for (const auto& row : rows) {
        // Read alone, and where the reader hands it out: in the middle of a piece, the next line's
        // number right behind it.
        const std::string piece = row.line + "\n1722 2: x\n";
        for (const std::string_view line :
             {std::string_view(row.line), std::string_view(piece).substr(0, row.line.size())}) {
            const inspector::SInstallerLine read = inspector::ReadInstallerLine(line);
            EXPECT_EQ(int(read.form), int(row.form)) << row.line;
            EXPECT_EQ(read.name, row.name) << row.line;
            EXPECT_EQ(read.target, row.target) << row.line;
            EXPECT_EQ(read.number, row.number) << row.line;
        }
    }
}

// A line finds the first row of its source that matches it: a specific code before "{hex}",
// letters in any case, "{text}" as short as the rest allows.
TEST(LogMeaningsTest, EachLineFindsItsRow)
{
    using inspector::ELineSource;
    const std::string t = "2026-12-04-05-04-25-123 : submca : 0x0A3C : 0x0B10 : ";
    const struct {
        ELineSource source;
        std::string line;
        const char* pattern; // null: no row
    } rows[] = {
        {ELineSource::InstallerLog, "KRVL (Error): Failed to update QSN config: 0x80070002",
         "KRVL (Error): Failed to update QSN config: 0x80070002"},
        {ELineSource::InstallerLog, "KRVL (Error): Failed to update QSN config: 0x80070003",
         "KRVL (Error): Failed to update QSN config: {hex}"},
        {ELineSource::InstallerLog, "krvl (error): failed to update qsn config: 0x8007007e",
         "KRVL (Error): Failed to update QSN config: 0x8007007E"},
        {ELineSource::InstallerLog, "KRVL (Error): Could not find reg key, Error val = 23",
         "KRVL (Error): Could not find reg key, Error val = {n}"},
        {ELineSource::InstallerLog, "KRVL (Error): Failed to get long path name",
         "KRVL (Error): Failed to get long path name"},
        {ELineSource::InstallerLog, "KRVL (Error): Failed to get long path", "KRVL (Error): {text}"},
        {ELineSource::InstallerLog, "KRVL: Deferred (Begin): SubmissionEnginePatchRelay", nullptr},
        {ELineSource::Trace, t + "Error : Could not get file attrib for C:\\a: b: 0x80070002",
         "{text}Could not get file attrib for {text}: {hex}"},
        {ELineSource::Trace, t + "Info : fAILED TO GET CFG MGR: SR = 0x1, HR = 0x80004005",
         "{text}Failed to get cfg mgr: sr = {hex}, hr = {hex}"},
        {ELineSource::Trace, t + "Warn : foo :  CCCATCH : bar", nullptr},
        {ELineSource::Trace, t + "Warn : foo : CCCATCH : bar", "{text} : CCCATCH : {text}"},
        {ELineSource::DebugLog, "CoCreateInstance failed: 0x80040154", "CoCreateInstance failed: 0x80040154"},
        {ELineSource::DebugLog, "CoCreateInstance failed: 0x80040155", "CoCreateInstance failed: {hex}"},
    };
    for (const auto& row : rows) {
        const inspector::SLineMeaning* meaning = inspector::FindMeaning(row.source, row.line);
        EXPECT_STREQ(meaning == nullptr ? nullptr : meaning->pszPattern, row.pattern) << row.line;
    }
}

// The README's table is the command's table, and every line the README's fault table sends a
// support engineer to is one the command explains.
TEST(LogReadmeTest, ReadmeShowsTheCommandsTable)
{
    std::ifstream in(SUBMCA_README);
    const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string heading = "### Every line, what it means and what to check next\n\n";
    const size_t at = readme.find(heading);
    ASSERT_NE(at, std::string::npos);
    const std::string table = inspector::MeaningsAsMarkdown();
    EXPECT_EQ(readme.substr(at + heading.size(), table.size()), table) << "The README's table should read:\n" << table;

    const size_t section = readme.find("## When things go wrong");
    const std::string faults = readme.substr(section, at - section);
    const std::regex quoted("`((KRVL \\(Error\\): |CoCreateInstance|RegisterProduct or)[^`]+)`");
    size_t checked = 0;
    for (auto match = std::sregex_iterator(faults.begin(), faults.end(), quoted); match != std::sregex_iterator();
         ++match, ++checked) {
        std::string line = std::regex_replace((*match)[1].str(), std::regex("0x\\.\\.\\.|0x8\\.\\.\\."), "0x80000000");
        line = std::regex_replace(line, std::regex(" N$"), " 7");
        const auto source =
            line.rfind("KRVL", 0) == 0 ? inspector::ELineSource::InstallerLog : inspector::ELineSource::DebugLog;
        const inspector::SLineMeaning* meaning = inspector::FindMeaning(source, line);
        ASSERT_NE(meaning, nullptr) << line;
        EXPECT_STRNE(meaning->pszMeaning, "an error line this tool does not know") << line;
    }
    EXPECT_GT(checked, 10u) << "the fault table quotes the lines it sends a reader to";
}
