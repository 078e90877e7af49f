// RegisterPR in the real msiexec against an updater whose calls fail one at a time: a product the
// updater refuses is skipped, a property it refuses leaves the rest of the product, and an
// updater that cannot be created fails the installation and leaves nothing registered. Then the
// sequence's data file lost or damaged between the calls: the later calls take the installation
// for a removal, as the driver's data says they must.
#include "tests/common/files.h"
#include "tests/common/process.h"
#include "tests/common/registry.h"
#include "tests/e2e/msiexec.h"
#include "tests/e2e/recorddamage.h"
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

Lines PhaseLines(const std::string& phase)
{
    Lines lines;
    for (const char* action : {"SubmissionEnginePatchRelay", "SUB_PR_Action"})
        for (const char* end : {" (Begin): ", " (End): "})
            lines.push_back("KRVL: " + phase + end + action);
    return lines;
}

Lines Concat(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

size_t Count(const Lines& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

std::string Product(const char* guid, const char* name, const std::string& properties)
{
    return "[" + std::string(guid) + "]\nProductName=" + name + "\nVersion=11.0\nLanguage=KrvAllLanguages\n" +
           properties;
}

class RegisterPRFaultTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(kKorvalinKey);
        SetDword(kKorvalinKey, L"DebugLog", 1);
        DeleteDebugLogs();
    }
    void TearDown() override
    {
        m_updater.Fail(L"");
        Uninstall(kPackage);
        DeleteKeyTree(kKorvalinKey);
        DeleteDebugLogs();
    }

    void ExpectNoDataFilesLeft() const
    {
        EXPECT_FALSE(FileExists(TempFolder() + L"\\SUB_PR_Action.dat"));
        EXPECT_FALSE(FileExists(TempFolder() + L"\\krvlprop.dat"));
    }

    UpdaterStandIn m_updater;
};

TEST_F(RegisterPRFaultTest, RefusedRegistrationsAndPropertiesDoNotFailTheInstallation)
{
    const std::string engine = kEngineProduct;
    const std::string control = kControlDataProduct;
    const std::string description = "DescriptiveName=Korvalin Security Software Update\n";
    struct Case {
        const wchar_t* call;
        const wchar_t* match;
        std::string products;
        size_t failedLines; // "RegisterProduct or SetProperty failed: 0x80004005"
    };
    const std::vector<Case> cases = {
        {L"RegisterProduct", L"", "", 2},
        // The rest of the product is skipped after a refused description.
        {L"SetProperty", L"DescriptiveName",
         Product(kEngineProduct, "ORB Submission Engine", "") +
             Product(kControlDataProduct, "QELM Submission Control Data", ""),
         2},
        // Both relay properties refused: their results are not looked at, nothing is logged and the
        // products stay registered with their descriptions.
        {L"SetProperty", L"AUTOPATCHRELAY",
         Product(kEngineProduct, "ORB Submission Engine", description) +
             Product(kControlDataProduct, "QELM Submission Control Data", description),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.call) + " " + Narrow(c.match));
        m_updater.Fail(c.call, c.match);
        const InstallerRun install = Install(kPackage);
        EXPECT_TRUE(Succeeded(install));
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Commit")}), install.KrvlLines());
        EXPECT_EQ(c.products, m_updater.Products());
        const Lines debug = DebugLogLines();
        EXPECT_EQ(c.failedLines, Count(debug, "RegisterProduct or SetProperty failed: 0x80004005"));
        EXPECT_EQ(1u, Count(debug, "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, " + engine + ")"));
        EXPECT_EQ(1u,
                  Count(debug, "RegisterProduct(QELM Submission Control Data, 11.0, KrvAllLanguages, " + control + ")"));
        ExpectNoDataFilesLeft();

        m_updater.Fail(L"");
        EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
        EXPECT_EQ("", m_updater.Products());
        DeleteDebugLogs();
    }
}

TEST_F(RegisterPRFaultTest, GroupRegistryThatCannotBeCreatedFailsTheInstallationAndRegistersNothing)
{
    m_updater.Fail(L"CreateGroupRegistry");
    const InstallerRun install = Install(kPackage);
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    EXPECT_EQ(Concat({PhaseLines("Scheduling"),
                      {"KRVL: Deferred (Begin): SubmissionEnginePatchRelay",
                       "KRVL: Deferred (End): SubmissionEnginePatchRelay",
                       "KRVL (Error): Failure in SubmissionEnginePatchRelay, returning ERROR_INSTALL_FAILURE."},
                      PhaseLines("Rollback")}),
              install.KrvlLines());
    EXPECT_EQ("", m_updater.Products());
    // Twenty attempts in the deferred call and twenty in the rollback.
    EXPECT_EQ(40u, Count(DebugLogLines(), "CoCreateInstance failed: 0x80004005"));
    EXPECT_EQ(0u, Count(DebugLogLines(), "RegisterProduct or SetProperty failed: 0x80004005"));
    ExpectNoDataFilesLeft();
}

TEST_F(RegisterPRFaultTest, RefusedUnregistrationNeverFailsARollbackOrARemoval)
{
    // A rolled-back installation asks the updater to forget both products; it refuses.
    m_updater.Fail(L"UnregisterProduct");
    const InstallerRun install = Install(kPackage, L"FORCEFAIL=1");
    EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
    EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
    EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Rollback")}), install.KrvlLines());
    EXPECT_EQ(Concat({RegistrationCalls(), RemovalCalls()}), m_updater.Journal()) << "both products were asked for";
    EXPECT_EQ(RegisteredProducts(), m_updater.Products()) << "what the updater refused to forget";
    ExpectNoDataFilesLeft();

    // The same refusal on removal: the removal succeeds all the same.
    m_updater.Fail(L"");
    ASSERT_TRUE(Succeeded(Install(kPackage)));
    m_updater.Journal();
    m_updater.Fail(L"UnregisterProduct");
    const InstallerRun remove = Uninstall(kPackage);
    EXPECT_TRUE(Succeeded(remove));
    EXPECT_FALSE(ShowsCrash(remove)) << Describe(remove);
    EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Commit")}), remove.KrvlLines());
    EXPECT_EQ(RemovalCalls(), m_updater.Journal());
    ExpectNoDataFilesLeft();
}

TEST_F(RegisterPRFaultTest, SequenceDataLostAfterSchedulingLeavesTheProductsUnregistered)
{
    // Without "Install" the deferred and commit calls run the removal side, which never calls
    // the updater: the installation succeeds and registers nothing, and no line says why.
    const auto expectRemovalSideRan = [&](const InstallerRun& install) {
        EXPECT_TRUE(Succeeded(install));
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Commit")}),
                  install.KrvlLines());
        EXPECT_EQ(Lines{}, m_updater.Journal());
        EXPECT_EQ("", m_updater.Products());
        EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
        m_updater.Journal();
    };
    for (const wchar_t* kind : kRecordDamageKinds) {
        SCOPED_TRACE(Narrow(kind));
        expectRemovalSideRan([&] {
            const RecordDamage damage(L"SUB_PR_Action.dat", kind);
            return Install(kPackage);
        }());
        ExpectNoDataFilesLeft();
    }

    // The temporary folder cannot take the file: a folder holds its name.
    const std::wstring blocked = TempFolder() + L"\\SUB_PR_Action.dat";
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    expectRemovalSideRan(Install(kPackage));
    RemoveDirectoryW(blocked.c_str());
}

TEST_F(RegisterPRFaultTest, SequenceDataDamagedBeforeTheRollbackRegistersTheProductsAgain)
{
    // A rollback that cannot read "Install" takes it for a rolled-back removal and registers the
    // products that the installation had registered: they stay after the failed installation.
    for (const wchar_t* kind : kRecordDamageKinds) {
        SCOPED_TRACE(Narrow(kind));
        UpdaterStandIn updater;
        const RecordDamage damage(L"SUB_PR_Action.dat", kind);
        const InstallerRun install = Install(kPackage, L"DAMAGELATER=1 FORCEFAIL=1");
        EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(Concat({PhaseLines("Scheduling"), PhaseLines("Deferred"), PhaseLines("Rollback")}),
                  install.KrvlLines());
        EXPECT_EQ(Concat({RegistrationCalls(), RegistrationCalls()}), updater.Journal());
        EXPECT_EQ(RegisteredProducts(), updater.Products());
        ExpectNoDataFilesLeft();
    }
}

} // namespace
