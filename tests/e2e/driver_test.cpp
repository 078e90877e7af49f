#include "framework/instoptsdat.h"
#include "framework/recordstore.h"

#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/recorddamage.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <msiquery.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

const wchar_t kPackage[] = L"driver";
const char kLong[] = "ProbeActionWithAVeryLongName";
const std::wstring kProperties =
    L"PROBEVALUE=hello PROBE_PROPERTY_WITH_A_VERY_LONG_NAME=world";

std::wstring Temp(const wchar_t* name)
{
    return TempFolder() + L"\\" + name;
}

std::vector<std::string> Phase(const std::string& phase, const std::vector<std::string>& names)
{
    std::vector<std::string> lines;
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

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class DriverTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : {L"submca-probe-journal.txt", L"ProbeSeq.dat", L"ProbeSeq-deferred.dat", L"krvlprop.dat"})
            DeleteFileIfAny(Temp(name));
    }

    std::vector<std::string> Journal()
    {
        const std::vector<std::string> lines = SplitLines(ReadTextFile(Temp(L"submca-probe-journal.txt")));
        DeleteFileIfAny(Temp(L"submca-probe-journal.txt"));
        return lines;
    }

    // The sequence's data as the deferred call found it.
    DWORD StoredValue(const char* name, bool& found)
    {
        InstallToolBox::CInstoptsDat snapshot(0, Temp(L"ProbeSeq-deferred.dat").c_str(), TRUE);
        DWORD value = 99;
        found = snapshot.GetDword(name, &value, 99) != FALSE;
        return value;
    }

    void ExpectNoDataFilesLeft()
    {
        EXPECT_FALSE(FileExists(Temp(L"ProbeSeq.dat"))) << "the sequence's data file goes with its last call";
        EXPECT_FALSE(FileExists(Temp(L"krvlprop.dat"))) << "the property file goes with its last user";
    }
};

TEST_F(DriverTest, InstallRunsEveryActionThroughSchedulingDeferredAndCommit)
{
    const InstallerRun install = Install(kPackage, kProperties + L" PROBECOND=1");
    ASSERT_TRUE(Succeeded(install));
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    const std::vector<std::string> names = {"Probe", kLong, "PropProbe", "ProbeSeq"};
    EXPECT_EQ(Concat({Phase("Scheduling", names), Phase("Deferred", names), Phase("Commit", names)}),
              install.KrvlLines());
    EXPECT_EQ((std::vector<std::string>{
                  "Probe InstallScheduling", std::string(kLong) + " InstallScheduling",
                  "PropProbe InstallScheduling CAWPROP=1", "Probe InstallDeferred", std::string(kLong) + " InstallDeferred",
                  "PropProbe InstallDeferred PROBEVALUE=hello LONG=world", "Probe InstallCommit",
                  std::string(kLong) + " InstallCommit",
                  // The commit step gives up the property file before the action runs: it was the last user.
                  "PropProbe InstallCommit PROBEVALUE=<none> LONG=<none>"}),
              Journal());

    bool found = false;
    EXPECT_EQ(1u, StoredValue("Install", found));
    EXPECT_TRUE(found);
    for (const char* key : {"COND1:Probe", "COND1:PropProbe", "COND1:ProbeSeq"}) {
        EXPECT_EQ(1u, StoredValue(key, found)) << key;
        EXPECT_TRUE(found) << key;
    }
    StoredValue("COND1:ProbeActionWithAVeryLongName", found);
    EXPECT_FALSE(found) << "a condition key of 32 characters or more is not kept";
    ExpectNoDataFilesLeft();

    const InstallerRun remove = Uninstall(kPackage, kProperties);
    ASSERT_TRUE(Succeeded(remove));
    EXPECT_EQ(Concat({Phase("Scheduling", names), Phase("Deferred", names), Phase("Commit", names)}),
              remove.KrvlLines());
    const std::vector<std::string> journal = Journal();
    ASSERT_EQ(9u, journal.size());
    EXPECT_EQ("Probe UninstallScheduling", journal[0]);
    EXPECT_EQ("PropProbe UninstallDeferred PROBEVALUE=hello LONG=world", journal[5]);
    EXPECT_EQ("Probe UninstallCommit", journal[6]);
    ExpectNoDataFilesLeft();
}

TEST_F(DriverTest, FalseConditionIsKeptForTheLaterCallsWhenItsKeyFits)
{
    const InstallerRun install = Install(kPackage, kProperties + L" PROBECOND=0");
    ASSERT_TRUE(Succeeded(install));
    const std::string probeFalse = "Probe: (condition is false)";
    const std::string longFalse = std::string(kLong) + ": (condition is false)";
    EXPECT_EQ(Concat({Phase("Scheduling", {probeFalse, longFalse, "PropProbe", "ProbeSeq"}),
                      Phase("Deferred", {probeFalse, kLong, "PropProbe", "ProbeSeq"}),
                      Phase("Commit", {probeFalse, kLong, "PropProbe", "ProbeSeq"})}),
              install.KrvlLines());
    const std::vector<std::string> journal = Journal();
    for (const std::string& line : journal)
        EXPECT_NE(0u, line.find("Probe ")) << "Probe never runs: " << line;
    bool found = false;
    EXPECT_EQ(0u, StoredValue("COND1:Probe", found));
    EXPECT_TRUE(found);
    ExpectNoDataFilesLeft();
    EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
}

TEST_F(DriverTest, FailedInstallationRollsTheSequenceBack)
{
    const std::vector<std::string> names = {"Probe", kLong, "PropProbe", "ProbeSeq"};
    const InstallerRun install = Install(kPackage, kProperties + L" PROBECOND=1 FORCEFAIL=1");
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    EXPECT_EQ(Concat({Phase("Scheduling", names), Phase("Deferred", names), Phase("Rollback", names)}),
              install.KrvlLines());
    const std::vector<std::string> journal = Journal();
    ASSERT_EQ(9u, journal.size());
    EXPECT_EQ("Probe InstallRollback", journal[6]);
    EXPECT_EQ("PropProbe InstallRollback PROBEVALUE=<none> LONG=<none>", journal[8]);
    ExpectNoDataFilesLeft();
}

// Wine's installer ends a faulting custom action as if it had succeeded; the tests must still see
// the fault.
TEST_F(DriverTest, CustomActionThatFaultsIsSeenThoughTheInstallationSucceeds)
{
    if (GetEnvironmentVariableW(L"SUBMCA_WINE_ERRORS", nullptr, 0) == 0)
        GTEST_SKIP() << "Wine's error output is not kept (SUBMCA_WINE_ERRORS)";
    const InstallerRun install = Install(kPackage, kProperties + L" PROBECRASH=1");
    EXPECT_TRUE(ShowsCrash(install)) << install.wineOutput;
    EXPECT_NE(std::string::npos, install.wineOutput.find("CrashInstall")) << install.wineOutput;
    Journal();
    EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
}

TEST_F(DriverTest, FatalDeferredFailureStopsTheSequence)
{
    const InstallerRun install = Install(kPackage, kProperties + L" PROBECOND=1 PROBEFAIL=1");
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    const std::vector<std::string> names = {"Probe", kLong, "PropProbe", "ProbeSeq"};
    // The failing action stops its call: the framework's own action, which would delete the
    // data file, does not run in it; the rollback call runs every action and deletes it.
    EXPECT_EQ(Concat({Phase("Scheduling", names), Phase("Deferred", {"Probe", kLong, "PropProbe"}),
                      {"KRVL (Error): Failure in PropProbe, returning ERROR_INSTALL_FAILURE."},
                      Phase("Rollback", names)}),
              install.KrvlLines());
    ExpectNoDataFilesLeft();
}

// The probe's damage, checked against the record file format: each kind gives the failure its
// name says, and "cut" keeps the records before the one it cuts.
TEST_F(DriverTest, DamageProbeBreaksRecordFilesAsItsKindsSay)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring probePath = self;
    probePath = probePath.substr(0, probePath.find_last_of(L'\\') + 1) + L"driverprobe.dll";
    const HMODULE probe = LoadLibraryW(probePath.c_str());
    ASSERT_NE(nullptr, probe) << Narrow(probePath);
    using Action = UINT(__stdcall*)(MSIHANDLE);
    const auto damageRecordFile = reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(probe, "DamageRecordFile")));
    ASSERT_NE(nullptr, damageRecordFile);

    const uint8_t key[] = {0x3C, 0x91, 0x5E, 0x07, 0xD2, 0x68, 0xA4, 0x1F};
    InstallToolBox::CRecordStore written;
    ASSERT_EQ(InstallToolBox::RS_SUCCESS, written.Init(key, sizeof(key)));
    ASSERT_EQ(InstallToolBox::RS_SUCCESS, written.SetDword("Install", 1));
    ASSERT_EQ(InstallToolBox::RS_SUCCESS, written.SetString("COND1:Probe", "0"));
    ASSERT_EQ(InstallToolBox::RS_SUCCESS, written.SetDword("COND1:ProbeSeq", 1));
    std::vector<uint8_t> file;
    ASSERT_EQ(InstallToolBox::RS_SUCCESS, written.Save(file));
    ASSERT_EQ(28u + 3 * 48u, file.size());

    struct Case {
        const wchar_t* kind;
        size_t size;
        int status;
        uint32_t kept; // records left after the load
    };
    // Newest first: the cut falls in "Install", the file's last record.
    for (const Case& c : {Case{L"truncated", 20, InstallToolBox::RS_BAD_FORMAT, 0},
                          Case{L"digest", file.size(), InstallToolBox::RS_BAD_CHECKSUM, 0},
                          Case{L"cut", file.size() - 8, InstallToolBox::RS_BAD_FORMAT, 2}}) {
        SCOPED_TRACE(Narrow(c.kind));
        WriteFileBytes(Temp(L"damage-check.dat"), std::vector<unsigned char>(file.begin(), file.end()));
        {
            const RecordDamage damage(L"damage-check.dat", c.kind);
            EXPECT_EQ(0u, damageRecordFile(0));
        }
        const std::vector<unsigned char> damaged = ReadFileBytes(Temp(L"damage-check.dat"));
        EXPECT_EQ(c.size, damaged.size());
        InstallToolBox::CRecordStore read;
        ASSERT_EQ(InstallToolBox::RS_SUCCESS, read.Init(key, sizeof(key)));
        EXPECT_EQ(c.status, read.Load(damaged.data(), damaged.size(), true));
        std::vector<InstallToolBox::CRecordStore::SRecordView> records;
        read.GetRecords(records);
        EXPECT_EQ(c.kept, records.size());
        uint32_t install = 0;
        EXPECT_EQ(InstallToolBox::RS_NOT_FOUND, read.GetDword("Install", &install, 0));
    }
    {
        const RecordDamage damage(L"damage-check.dat", L"missing");
        EXPECT_EQ(0u, damageRecordFile(0));
    }
    EXPECT_FALSE(FileExists(Temp(L"damage-check.dat")));
    FreeLibrary(probe);
}

TEST_F(DriverTest, LostOrDamagedDataFileTurnsTheLaterCallsToRemovalWithoutConditions)
{
    // "cut" keeps the conditions written after "Install" but loses "Install" itself, the
    // file's last record: the later calls cannot tell it from a lost file.
    for (const wchar_t* kind : kRecordDamageKinds) {
        SCOPED_TRACE(Narrow(kind));
        const InstallerRun install = [&] {
            const RecordDamage damage(L"ProbeSeq.dat", kind);
            return Install(kPackage, kProperties + L" PROBECOND=0");
        }();
        ASSERT_TRUE(Succeeded(install));
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        const std::vector<std::string> journal = Journal();
        const std::vector<std::string> expected = {
            "PropProbe InstallScheduling CAWPROP=1",
            "Probe UninstallDeferred",
            std::string(kLong) + " UninstallDeferred",
            "PropProbe UninstallDeferred PROBEVALUE=hello LONG=world",
            "Probe UninstallCommit",
            std::string(kLong) + " UninstallCommit",
            "PropProbe UninstallCommit PROBEVALUE=<none> LONG=<none>",
        };
        EXPECT_EQ(expected, journal);
        ExpectNoDataFilesLeft();
        EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
        Journal();
    }
}

} // namespace
