// The forms of the lines the installer itself writes into a verbose log, as Windows (client "MSI
// (c)", server "MSI (s)", nested "MSI (N)") and Wine write them: one table row per form, each
// turning a line into one event with its fields. A form the installer adds is one more row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace inspector {

enum class EForm {
    None,               // any other line
    SessionStart,       // "=== Verbose logging started: ..." or "=== Logging started: ..."
    DoingAction,        // "Doing action: NAME": Windows names an action before its remote call and its start
    ActionStart,        // "Action start 10:00:00: NAME."
    ActionEnded,        // "Action ended 10:00:00: NAME. Return value N."
    RollbackStart,      // "Action 10:00:00: Rollback. Rolling back action:"
    Skipped,            // "Skipping action: NAME (condition is false)"
    ScriptHeader,       // "Executing op: Header(...,ScriptType=N,...)": 1 installation, 2 rollback
    ScriptActionStart,  // "Executing op: ActionStart(Name=NAME,...)"
    ScriptSchedule,     // "Executing op: CustomActionSchedule(Action=NAME,ActionType=N,...,Target=T,...)"
    ScriptRollback,     // "Executing op: CustomActionRollback(...)", the same fields
    ScriptCommit,       // "Executing op: CustomActionCommit(...)", the same fields
    ScriptEnd,          // "Executing op: End(...)": the script is through; commit actions follow
    ScriptOp,           // any other "Executing op: ..."
    Invoking,           // "Invoking remote custom action. DLL: PATH, Entrypoint: T"
    ActionError,        // "CustomAction NAME returned actual error code N (note ...)"
    ActionErrorIgnored, // "CustomAction NAME returned actual error code N but will be translated to success
                        // due to continue marking"
    ActionNote,         // "Note: 1: 1722 2: NAME ..." (1720, 1721, 1723): a script or program action failed
    ProductResult,      // "Product: P -- Installation failed." / "... completed successfully." / Removal,
                        // Configuration
    ProductError,       // "Product: P -- Error 1722. ...": an error message, not the result
    InstallerResult,    // "Windows Installer installed|removed|reconfigured the product. ... status: N."
    EngineResult,       // "MainEngineThread is returning N"
    BackFromServer,     // "Back from server. Return value: N"
    Property,           // "Property(S): NAME = VALUE", "PROPERTY CHANGE: Adding NAME property. Its value is
                        // 'VALUE'."
    ModuleLine,         // "KRVL: ..." or "KRVL (Error): ..."
};

struct SInstallerLine {
    EForm form = EForm::None;
    char side = 0;      // 'c', 's' or 'N' of Windows' "MSI (x)" prefix, 0 without one
    size_t at = 0;      // where the form starts, after that prefix
    std::string name;   // the action, the property, or the kind of run ("Installation", "installed")
    std::string target; // a script operation's or a remote call's entry point
    long number = -1;   // the Return value, the action type, the error code or the status
    std::string text;   // a module line from its "KRVL" on; a property's value
};

// What one line of a verbose installer log is, indented or not. Costs a few comparisons at the
// line's start and one scan for "KRVL".
SInstallerLine ReadInstallerLine(std::string_view line);

// The installer's action types: the bits that queue a script action for the rollback or the
// commit instead of running it.
constexpr long ACTION_TYPE_ROLLBACK = 0x100;
constexpr long ACTION_TYPE_COMMIT = 0x200;
// The script type of the rollback script.
constexpr long SCRIPT_TYPE_ROLLBACK = 2;

} // namespace inspector
