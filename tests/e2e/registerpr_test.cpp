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

namespace {

const wchar_t kPackage[] = L"registerpr";
const char kAction[] = "SubmissionEnginePatchRelay";
const char kSequence[] = "SUB_PR_Action";

std::vector<std::string> PhaseLines(const std::string& phase)
{
    return {"KRVL: " + phase + " (Begin): " + kAction, "KRVL: " + phase + " (End): " + kAction,
            "KRVL: " + phase + " (Begin): " + kSequence, "KRVL: " + phase + " (End): " + kSequence};
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

class RegisterPRTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        DeleteFileIfAny(TempFolder() + L"\\SUB_PR_Action.dat");
        DeleteFileIfAny(TempFolder() + L"\\krvlprop.dat");
        DeleteDebugLogs();
    }
    void TearDown() override
    {
        // A case that stopped early must not leave the product installed for the next one.
        m_updater.Fail(L"");
        Uninstall(kPackage);
        DeleteKeyTree(kKorvalinKey);
        DeleteDebugLogs();
    }

    void ExpectNoDataFilesLeft()
    {
        EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat"));
        EXPECT_FALSE(FileExists(TempFolder() + L"\\krvlprop.dat"));
    }

    UpdaterStandIn m_updater;
};

TEST_F(RegisterPRTest, InstallationRegistersBothProductsAndRemovalRemovesThem)
{
    const InstallerRun install = Install(kPackage);
    ASSERT_TRUE(Succeeded(install));
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    // The install condition holds (the updater's component is installed locally), so the
    // scheduling call runs the action; registration happens in the deferred call.
    EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Commit")}), install.KrvlLines());
    EXPECT_EQ(RegistrationCalls(), m_updater.Journal());
    EXPECT_EQ(RegisteredProducts(), m_updater.Products());
    ExpectNoDataFilesLeft();

    const InstallerRun remove = Uninstall(kPackage);
    ASSERT_TRUE(Succeeded(remove));
    EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Commit")}), remove.KrvlLines());
    EXPECT_EQ(RemovalCalls(), m_updater.Journal()) << "removal unregisters in the scheduling call only";
    EXPECT_EQ("", m_updater.Products());
    ExpectNoDataFilesLeft();
}

TEST_F(RegisterPRTest, RepairRemovesBothProductsAndRegistersNothing)
{
    ASSERT_TRUE(Succeeded(Install(kPackage)));
    m_updater.Journal();
    const InstallerRun repair = Repair(kPackage);
    ASSERT_TRUE(Succeeded(repair));
    EXPECT_EQ(RemovalCalls(), m_updater.Journal());
    EXPECT_EQ("", m_updater.Products()) << "a repaired product is no longer known to the updater";
}

TEST_F(RegisterPRTest, RolledBackInstallationLeavesNothingRegistered)
{
    const InstallerRun install = Install(kPackage, L"FORCEFAIL=1");
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Rollback")}), install.KrvlLines());
    EXPECT_EQ(Concat({RegistrationCalls(), RemovalCalls()}), m_updater.Journal());
    EXPECT_EQ("", m_updater.Products());
    ExpectNoDataFilesLeft();
}

TEST_F(RegisterPRTest, ProductTheUpdaterRefusesIsSkippedWithoutFailingTheInstallation)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    m_updater.Fail(L"RegisterProduct", Widen(kEngineProduct).c_str());
    const InstallerRun install = Install(kPackage);
    ASSERT_TRUE(Succeeded(install));
    const std::string products = m_updater.Products();
    EXPECT_EQ(std::string::npos, products.find(kEngineProduct));
    EXPECT_NE(std::string::npos, products.find(std::string("[") + kControlDataProduct + "]\nProductName=QELM"));
    const std::vector<std::string> debug = DebugLogLines();
    EXPECT_EQ(1u, Count(debug, "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, " +
                                   std::string(kEngineProduct) + ")"));
    EXPECT_EQ(1u, Count(debug, "RegisterProduct or SetProperty failed: 0x80004005"));
    EXPECT_EQ(1u, Count(debug, "SetProperty(" + std::string(kControlDataProduct) +
                                   ", DescName = Korvalin Security Software Update)"));
}

TEST_F(RegisterPRTest, AbsentUpdaterFailsTheInstallationButNotTheRemoval)
{
    SetDword(kKorvalinKey, L"DebugLog", 1);
    m_updater.Unregister();
    const InstallerRun install = Install(kPackage);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    EXPECT_EQ(Concat({PhaseLines("Scheduling"),
                      {"KRVL: Deferred (Begin): SubmissionEnginePatchRelay", "KRVL: Deferred (End): SubmissionEnginePatchRelay",
                       "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE."},
                      PhaseLines("Rollback")}),
              install.KrvlLines());
    // Twenty attempts half a second apart in the deferred call, and again in the rollback.
    EXPECT_EQ(40u, Count(DebugLogLines(), "CoCreateInstance failed: 0x80040154"));
    ExpectNoDataFilesLeft();
    DeleteDebugLogs();

    UpdaterStandIn registered;
    ASSERT_TRUE(Succeeded(Install(kPackage)));
    registered.Journal();
    registered.Fail(L"CreateProductRegistry");
    const InstallerRun remove = Uninstall(kPackage);
    EXPECT_TRUE(Succeeded(remove)) << "an unreachable updater never fails a removal";
    EXPECT_EQ(20u, Count(DebugLogLines(), "CoCreateInstance failed: 0x80004005"));
    EXPECT_EQ(RegisteredProducts(), registered.Products()) << "the updater could not be told";
}

} // namespace
