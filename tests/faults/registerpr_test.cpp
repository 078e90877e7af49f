// RegisterPR in the real msiexec against an updater whose calls fail one at a time, and with the
// sequence's data file damaged before the rollback. Only an updater that cannot be created during
// the installation's registration fails it.
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
const char kRefused[] = "RegisterProduct or SetProperty failed: 0x80004005";

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

// The updater's messages in the install debug log name each product asked for and each refusal.
TEST_F(RegisterPRFaultTest, RefusedRegistrationsAndPropertiesDoNotFailTheInstallation)
{
    const std::string description = "DescriptiveName=Korvalin Security Software Update\n";
    struct Case {
        const wchar_t* call;
        std::wstring match;
        std::string products;
        size_t refusals;
    };
    const std::vector<Case> cases = {
        {L"RegisterProduct", Widen(kEngineProduct),
         Product(kControlDataProduct, "QELM Submission Control Data",
                 description + "AUTOPATCHRELAY=YES\nAUTOPATCHRELAYTYPE=SILENT\n"),
         1},
        // The rest of a product is skipped after a refused description.
        {L"SetProperty", L"DescriptiveName",
         Product(kEngineProduct, "ORB Submission Engine", "") +
             Product(kControlDataProduct, "QELM Submission Control Data", ""),
         2},
        // Refused relay properties are not looked at: nothing is logged.
        {L"SetProperty", L"AUTOPATCHRELAY",
         Product(kEngineProduct, "ORB Submission Engine", description) +
             Product(kControlDataProduct, "QELM Submission Control Data", description),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.call) + " " + Narrow(c.match));
        m_updater.Fail(c.call, c.match.c_str());
        const InstallerRun install = Install(kPackage);
        EXPECT_TRUE(Succeeded(install));
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(Concat({RegisterPRLines("Scheduling"), RegisterPRLines("Deferred"), RegisterPRLines("Commit")}),
                  install.KrvlLines());
        EXPECT_EQ(c.products, m_updater.Products());
        const Lines debug = DebugLogLines();
        EXPECT_EQ(c.refusals, Count(debug, kRefused));
        EXPECT_EQ(1u, Count(debug, "RegisterProduct(ORB Submission Engine, 11.0, KrvAllLanguages, " +
                                       std::string(kEngineProduct) + ")"));
        EXPECT_EQ(1u, Count(debug, "RegisterProduct(QELM Submission Control Data, 11.0, KrvAllLanguages, " +
                                       std::string(kControlDataProduct) + ")"));
        EXPECT_EQ(1u, Count(debug, "SetProperty(" + std::string(kControlDataProduct) +
                                       ", DescName = Korvalin Security Software Update)"));
        ExpectNoDataFilesLeft();
        m_updater.Fail(L"");
        EXPECT_TRUE(Succeeded(Uninstall(kPackage)));
        DeleteDebugLogs();
    }
}

// Twenty attempts half a second apart in the deferred call and twenty in the rollback, then 1603.
TEST_F(RegisterPRFaultTest, UpdaterThatCannotBeCreatedFailsTheInstallationAndRegistersNothing)
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
        const InstallerRun install = Install(kPackage);
        EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(FailedRegistrationLines(), install.KrvlLines());
        EXPECT_EQ("", updater.Products());
        EXPECT_EQ(40u, Count(DebugLogLines(), std::string("CoCreateInstance failed: ") + c.code));
        EXPECT_EQ(0u, Count(DebugLogLines(), kRefused));
        ExpectNoDataFilesLeft();
        DeleteDebugLogs();
    }
}

// A removal never fails for the updater: unreachable, or refusing to forget the products.
TEST_F(RegisterPRFaultTest, RemovalSucceedsWhateverTheUpdaterDoes)
{
    for (const wchar_t* call : {L"CreateProductRegistry", L"UnregisterProduct"}) {
        SCOPED_TRACE(Narrow(call));
        m_updater.Fail(L"");
        ASSERT_TRUE(Succeeded(Install(kPackage)));
        m_updater.Journal();
        DeleteDebugLogs();
        m_updater.Fail(call);
        const InstallerRun remove = Uninstall(kPackage);
        EXPECT_TRUE(Succeeded(remove));
        EXPECT_FALSE(ShowsCrash(remove)) << Describe(remove);
        EXPECT_EQ(Concat({RegisterPRLines("Scheduling"), RegisterPRLines("Deferred"), RegisterPRLines("Commit")}),
                  remove.KrvlLines());
        const Lines journal = m_updater.Journal();
        if (call[0] == L'C')
            EXPECT_EQ(20u, Count(DebugLogLines(), "CoCreateInstance failed: 0x80004005"));
        else
            EXPECT_EQ(RemovalCalls(), journal) << "both products were asked for";
        EXPECT_EQ(RegisteredProducts(), m_updater.Products()) << "the updater could not be told";
        ExpectNoDataFilesLeft();
    }
}

// A rolled-back installation asks the updater to forget both products. If it refuses they stay;
// if the sequence's data file lost "Install" before the rollback, the rollback takes itself for
// that of a removal and registers them again.
TEST_F(RegisterPRFaultTest, RollbackThatCannotForgetLeavesBothProductsRegistered)
{
    struct Case {
        const wchar_t* failCall;
        const wchar_t* damage;
        Lines journal;
    };
    const std::vector<Case> cases = {
        {L"UnregisterProduct", L"", Concat({RegistrationCalls(), RemovalCalls()})},
        {L"", L"cut", Concat({RegistrationCalls(), RegistrationCalls()})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.failCall) + Narrow(c.damage));
        UpdaterStandIn updater;
        updater.Fail(c.failCall);
        const RecordDamage damage(L"SUB_PR_Action.dat", c.damage);
        const InstallerRun install = Install(kPackage, L"DAMAGELATER=1 FORCEFAIL=1");
        EXPECT_EQ(static_cast<unsigned long>(ERROR_INSTALL_FAILURE), install.exitCode) << Describe(install);
        EXPECT_FALSE(ShowsCrash(install)) << Describe(install);
        EXPECT_EQ(Concat({RegisterPRLines("Scheduling"), RegisterPRLines("Deferred"), RegisterPRLines("Rollback")}),
                  install.KrvlLines());
        EXPECT_EQ(c.journal, updater.Journal());
        EXPECT_EQ(RegisteredProducts(), updater.Products());
        ExpectNoDataFilesLeft();
    }
}

} // namespace
