// The trust-verification stand-in driven by slot number, as a trusted loader prepares the
// verifier and asks it about the files it is about to load.
#include "support/srinterfaces.h"
#include "standinpaths.h"
#include "tests/common/process.h"
#include "tests/standins/harness.h"

#include <gtest/gtest.h>

#include <string>

using standintest::CallSlot;
using standintest::Release;
using namespace srVerifyTrust;

TEST(TrustVerifier, TrustsExistingFilesOncePreparedAndRefusesTheChosenOne)
{
    standintest::CStandinCopy trust(SUBMCA_SRVRTRST_DLL, L"srVrTrst.dll", L"srVrTrst");
    trust.WriteText(L"srSvc.dll", "MZ");
    trust.WriteText(L"vexcore.dll", "MZ");
    ASSERT_TRUE(trust.Load());
    void* verifier = trust.Create(IID_CachedVerifyTrust);
    ASSERT_NE(nullptr, verifier);
    void* verification = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 0, &IID_VerifyTrustBase, &verification));
    ASSERT_NE(nullptr, verification);
    const auto verify = [&](const wchar_t* name, bool option) {
        return CallSlot<int>(verification, 4, trust.File(name).c_str(), option);
    };
    EXPECT_EQ(eVerifyError, verify(L"srSvc.dll", false)) << "not prepared yet";
    trust.SetSwitch(L"FailCall", L"ICachedVerifyTrust.Initialize");
    EXPECT_EQ(KRV_E_UNEXPECTED, CallSlot<KRVRESULT>(verifier, 3));
    trust.SetSwitch(L"FailCall", L"none");
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 3));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verification, 3));
    EXPECT_EQ(eVerifyTrusted, verify(L"srSvc.dll", false));
    EXPECT_EQ(eVerifyCached, verify(L"srSvc.dll", false));
    trust.SetSwitch(L"RefuseFile", L"VEXCORE.DLL");
    EXPECT_EQ(eVerifyError, verify(L"vexcore.dll", true));
    EXPECT_EQ(eVerifyError, verify(L"missing.dll", false));
    Release(verification);
    Release(verifier);
    EXPECT_EQ(0, trust.ObjectCount());
    trust.Free();
    const std::string asked = "IVerifyTrustBase.VerifyFile(\"" + testsupport::Narrow(trust.File(L""));
    standintest::JournalHolds(trust.JournalLines(L"srvrtrst-journal.txt"),
                              {asked + "srSvc.dll\", false) -> eVerifyTrusted",
                               asked + "srSvc.dll\", false) -> eVerifyCached",
                               asked + "vexcore.dll\", true) -> eVerifyError", "unload (live objects 0)"});
}
