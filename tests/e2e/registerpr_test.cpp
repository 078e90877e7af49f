#include "tests/common/files.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/updaterstandin.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace testsupport;

namespace {

const wchar_t kPackage[] = L"registerpr";

class RegisterPRTest : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(kKorvalinKey); }
    // A case that stopped early must not leave the product installed for the next one.
    void TearDown() override { Uninstall(kPackage); }

    // The run ends as expected, shows the phase lines of its calls and leaves no data file.
    void ExpectRun(const InstallerRun& run, unsigned long exitCode, const char* laterPhase)
    {
        EXPECT_EQ(exitCode, run.exitCode) << Describe(run);
        EXPECT_FALSE(ShowsCrash(run)) << Describe(run);
        EXPECT_EQ(Concat({RegisterPRLines("Scheduling"), RegisterPRLines("Deferred"), RegisterPRLines(laterPhase)}),
                  run.KrvlLines());
        EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat"));
        EXPECT_FALSE(FileExists(TempFolder() + L"\\krvlprop.dat"));
    }

    UpdaterStandIn m_updater;
};

// The install condition holds (the updater's component is installed locally): the deferred call
// registers; removal unregisters in the scheduling call only.
TEST_F(RegisterPRTest, InstallationRegistersBothProductsAndRemovalRemovesThem)
{
    ExpectRun(Install(kPackage), 0, "Commit");
    EXPECT_EQ(RegistrationCalls(), m_updater.Journal());
    EXPECT_EQ(RegisteredProducts(), m_updater.Products());

    ExpectRun(Uninstall(kPackage), 0, "Commit");
    EXPECT_EQ(RemovalCalls(), m_updater.Journal());
    EXPECT_EQ("", m_updater.Products());
}

TEST_F(RegisterPRTest, RepairRemovesBothProductsAndRegistersNothing)
{
    ASSERT_TRUE(Succeeded(Install(kPackage)));
    m_updater.Journal();
    ExpectRun(Repair(kPackage), 0, "Commit");
    EXPECT_EQ(RemovalCalls(), m_updater.Journal());
    EXPECT_EQ("", m_updater.Products()) << "a repaired product is no longer known to the updater";
}

TEST_F(RegisterPRTest, RolledBackInstallationLeavesNothingRegistered)
{
    ExpectRun(Install(kPackage, L"FORCEFAIL=1"), ERROR_INSTALL_FAILURE, "Rollback");
    EXPECT_EQ(Concat({RegistrationCalls(), RemovalCalls()}), m_updater.Journal());
    EXPECT_EQ("", m_updater.Products());
}

} // namespace
