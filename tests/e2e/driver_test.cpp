#include "framework/instoptsdat.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/e2e/msiexec.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kPackage[] = L"driver";
const std::string kLong = "ProbeActionWithAVeryLongName";
const std::wstring kProperties = L"PROBEVALUE=hello PROBE_PROPERTY_WITH_A_VERY_LONG_NAME=world ";
const std::string kCarried = "PROBEVALUE=hello LONG=world";
// The commit and rollback steps give up the property file before the actions run: the
// sequence's own action, its last user, comes first there.
const std::string kGone = "PROBEVALUE=<none> LONG=<none>";
const Lines kNames = {"Probe", kLong, "PropProbe", "ProbeSeq"};

std::wstring Temp(const wchar_t* name)
{
    return TempFolder() + L"\\" + name;
}

// The phase lines of the named actions; "NAME: (condition is false)" stands as it is.
Lines Phase(const std::string& phase, const Lines& names)
{
    Lines lines;
    for (const std::string& name : names) {
        if (name.find(": (condition is false)") != std::string::npos) {
            lines.push_back("KRVL: " + name);
            continue;
        }
        lines.push_back("KRVL: " + phase + " (Begin): " + name);
        lines.push_back("KRVL: " + phase + " (End): " + name);
    }
    return lines;
}

// The probes' journal lines of one operation: both plain probes, then the property probe.
Lines Calls(const std::string& operation, const std::string& properties)
{
    return {"Probe " + operation, kLong + " " + operation, "PropProbe " + operation + " " + properties};
}

Lines Journal()
{
    const Lines lines = SplitLines(ReadTextFile(Temp(L"submca-probe-journal.txt")));
    DeleteFileIfAny(Temp(L"submca-probe-journal.txt"));
    return lines;
}

void ExpectNoDataFilesLeft()
{
    EXPECT_FALSE(FileExists(Temp(L"ProbeSeq.dat"))) << "the sequence's data file goes with its last call";
    EXPECT_FALSE(FileExists(Temp(L"krvlprop.dat"))) << "the property file goes with its last user";
}

// Each row installs with its properties (and its damage to the sequence's data file between the
// scheduling and the later calls), then removes what was installed. The removal runs every
// action, without conditions, whatever the installation did.
TEST(DriverTest, EveryPhaseOfAnInstallationAndItsRemoval)
{
    const std::string probeFalse = "Probe: (condition is false)";
    const Lines scheduled = Calls("InstallScheduling", "CAWPROP=1");
    const Lines committed = Concat({Phase("Scheduling", kNames), Phase("Deferred", kNames), Phase("Commit", kNames)});
    const Lines laterFalse = {probeFalse, kLong, "PropProbe", "ProbeSeq"};
    const Lines scheduledFalse =
        Phase("Scheduling", {probeFalse, kLong + ": (condition is false)", "PropProbe", "ProbeSeq"});
    const Lines deferred = Calls("InstallDeferred", kCarried);
    // Without "Install" the later calls cannot tell a damaged file from a lost one and run the
    // removal side; "cut" loses "Install", the file's last record, and keeps the conditions.
    const Lines removalSide =
        Concat({{scheduled.back()}, Calls("UninstallDeferred", kCarried), Calls("UninstallCommit", kGone)});
    const Lines journalFalse = {scheduled.back(), kLong + " InstallDeferred", deferred.back(), kLong + " InstallCommit",
                                "PropProbe InstallCommit " + kGone};
    const Lines rolledBack = Concat({scheduled, deferred, Calls("InstallRollback", kGone)});
    struct Case {
        const char* what;
        std::wstring properties;
        const wchar_t* damage;
        unsigned long exitCode;
        Lines lines;
        Lines journal;
        int probeCondition; // "COND1:Probe" as the deferred call found it; -1: not looked at
    };
    const std::vector<Case> cases = {
        {"conditions hold", L"PROBECOND=1", L"", 0, committed,
         Concat({scheduled, deferred, Calls("InstallCommit", kGone)}), 1},
        // A condition key of 32 characters or more is not kept: the long-named action runs later.
        {"conditions false", L"PROBECOND=0", L"", 0,
         Concat({scheduledFalse, Phase("Deferred", laterFalse), Phase("Commit", laterFalse)}), journalFalse, 0},
        {"installation failing later", L"PROBECOND=1 FORCEFAIL=1", L"", ERROR_INSTALL_FAILURE,
         Concat({Phase("Scheduling", kNames), Phase("Deferred", kNames), Phase("Rollback", kNames)}), rolledBack, 1},
        // The failing action stops its call: the sequence's own action, which would delete the data
        // file, does not run in it; the rollback call runs every action and deletes it.
        {"deferred action failing", L"PROBECOND=1 PROBEFAIL=1", L"", ERROR_INSTALL_FAILURE,
         Concat({Phase("Scheduling", kNames),
                 Phase("Deferred", {"Probe", kLong, "PropProbe"}),
                 {"KRVL (Error): Failure in PropProbe, returning ERROR_INSTALL_FAILURE."},
                 Phase("Rollback", kNames)}),
         rolledBack, 1},
        {"data file missing", L"PROBECOND=0", L"missing", 0,
         Concat({scheduledFalse, Phase("Deferred", kNames), Phase("Commit", kNames)}), removalSide, -1},
    };
    std::vector<Case> all = cases;
    for (const wchar_t* kind : {L"truncated", L"digest", L"cut"}) {
        all.push_back(cases.back());
        all.back().damage = kind;
    }
    for (const Case& c : all) {
        SCOPED_TRACE(std::string(c.what) + " " + Narrow(c.damage));
        for (const wchar_t* name :
             {L"submca-probe-journal.txt", L"ProbeSeq.dat", L"ProbeSeq-deferred.dat", L"krvlprop.dat"})
            DeleteFileIfAny(Temp(name));
        const InstallerRun install = [&] {
            const RecordDamage damage(L"ProbeSeq.dat", c.damage);
            return RunMsiexec(L"/i", kPackage, kProperties + c.properties);
        }();
        EXPECT_EQ(c.exitCode, install.exitCode) << Describe(install);
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(c.lines, install.KrvlLines());
        EXPECT_EQ(c.journal, Journal());
        if (c.probeCondition >= 0) {
            InstallToolBox::CInstoptsDat snapshot(0, Temp(L"ProbeSeq-deferred.dat").c_str(), TRUE);
            DWORD value = 99;
            EXPECT_TRUE(snapshot.GetDword("Install", &value, 99) && value == 1);
            EXPECT_TRUE(snapshot.GetDword("COND1:Probe", &value, 99));
            EXPECT_EQ(static_cast<DWORD>(c.probeCondition), value);
            EXPECT_FALSE(snapshot.GetDword(("COND1:" + kLong).c_str(), &value, 99));
        }
        ExpectNoDataFilesLeft();
        if (c.exitCode != 0)
            continue;
        const InstallerRun remove = RunMsiexec(L"/x", kPackage, kProperties);
        EXPECT_TRUE(Succeeded(remove));
        EXPECT_EQ(committed, remove.KrvlLines());
        EXPECT_EQ(Concat({Calls("UninstallScheduling", "CAWPROP=1"), Calls("UninstallDeferred", kCarried),
                          Calls("UninstallCommit", kGone)}),
                  Journal());
        ExpectNoDataFilesLeft();
    }
}

// Wine's installer ends a faulting custom action as if it had succeeded; the tests must still see
// the fault.
TEST(DriverTest, CustomActionThatFaultsIsSeenThoughTheInstallationSucceeds)
{
    if (GetEnvironmentVariableW(L"SUBMCA_WINE_ERRORS", nullptr, 0) == 0)
        GTEST_SKIP() << "Wine's error output is not kept (SUBMCA_WINE_ERRORS)";
    const InstallerRun install = RunMsiexec(L"/i", kPackage, kProperties + L"PROBECRASH=1");
    EXPECT_TRUE(ShowsCrash(install)) << install.wineOutput;
    EXPECT_NE(std::string::npos, install.wineOutput.find("CrashInstall")) << install.wineOutput;
    EXPECT_TRUE(Succeeded(RunMsiexec(L"/x", kPackage)));
}

} // namespace
