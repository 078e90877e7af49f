// The trust-verification stand-in driven by slot number, as a trusted loader prepares the
// verifier and asks it about the files it is about to load.
#include "support/srinterfaces.h"
#include "standinpaths.h"
#include "tests/common/process.h"
#include "tests/standins/harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using standintest::CallSlot;
using standintest::CStandinCopy;
using standintest::Release;

namespace {

const wchar_t kJournal[] = L"srvrtrst-journal.txt";

class TrustVerifier : public testing::Test {
protected:
    TrustVerifier() : m_trust(SUBMCA_SRVRTRST_DLL, L"srVrTrst.dll", L"srVrTrst")
    {
        m_trust.WriteText(L"srSvc.dll", "MZ");
        m_trust.WriteText(L"vexcore.dll", "MZ");
    }

    // The verifier object, created with its identifier as object id and interface id.
    void* CreateVerifier(KRVRESULT expected = KRV_S_OK)
    {
        void* factory = nullptr;
        IKrvFactory** out = reinterpret_cast<IKrvFactory**>(&factory);
        EXPECT_EQ(KRV_S_OK, m_trust.GetFactory()(srVerifyTrust::IID_CachedVerifyTrust, out));
        if (!factory)
            return nullptr;
        void* verifier = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(expected, CallSlot<KRVRESULT>(factory, 3, &srVerifyTrust::IID_CachedVerifyTrust, &verifier));
        Release(factory);
        return verifier;
    }

    int Verify(void* verification, const std::wstring& fileName, bool option)
    {
        return CallSlot<int>(verification, 4, m_trust.File(fileName).c_str(), option);
    }

    std::string Shown(const std::wstring& fileName)
    {
        return "\"" + testsupport::Narrow(m_trust.File(fileName)) + "\"";
    }

    CStandinCopy m_trust;
};

} // namespace

TEST_F(TrustVerifier, TrustsExistingFilesOncePreparedAndRefusesTheChosenOne)
{
    ASSERT_TRUE(m_trust.Load());
    void* verifier = CreateVerifier();
    ASSERT_NE(nullptr, verifier);
    void* verification = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 0, &srVerifyTrust::IID_VerifyTrustBase, &verification));
    ASSERT_NE(nullptr, verification);

    EXPECT_EQ(srVerifyTrust::eVerifyError, Verify(verification, L"srSvc.dll", false));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 3));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verification, 3));
    EXPECT_EQ(srVerifyTrust::eVerifyTrusted, Verify(verification, L"srSvc.dll", false));
    EXPECT_EQ(srVerifyTrust::eVerifyCached, Verify(verification, L"srSvc.dll", false));
    m_trust.SetSwitch(L"RefuseFile", L"VEXCORE.DLL");
    EXPECT_EQ(srVerifyTrust::eVerifyError, Verify(verification, L"vexcore.dll", true));
    EXPECT_EQ(srVerifyTrust::eVerifyCached, Verify(verification, L"srSvc.dll", false));
    EXPECT_EQ(srVerifyTrust::eVerifyError, Verify(verification, L"missing.dll", false));
    EXPECT_EQ(srVerifyTrust::eVerifyError, CallSlot<int>(verification, 4, static_cast<const wchar_t*>(nullptr), false));

    Release(verification);
    EXPECT_EQ(1, m_trust.ObjectCount());
    Release(verifier);
    EXPECT_EQ(0, m_trust.ObjectCount());
    m_trust.Free();

    const std::vector<std::string> expected = {
        "load",
        "GetFactory({6B2E4D90-1C7A-4F35-8E69-D04A3B75C2E1}) -> 0x00010000",
        "IKrvFactory.CreateInstance({6B2E4D90-1C7A-4F35-8E69-D04A3B75C2E1}) -> 0x00010000",
        "IKrvFactory destroyed",
        "CachedVerifyTrust.QueryInterface({1BB5BE77-2D6F-438B-87D2-634C29DB29A8}) -> 0x00010000",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"srSvc.dll") + ", false) -> eVerifyError",
        "ICachedVerifyTrust.Initialize() -> 0x00010000",
        "IVerifyTrustBase.Initialize() -> 0x00010000",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"srSvc.dll") + ", false) -> eVerifyTrusted",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"srSvc.dll") + ", false) -> eVerifyCached",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"vexcore.dll") + ", true) -> eVerifyError",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"srSvc.dll") + ", false) -> eVerifyCached",
        "IVerifyTrustBase.VerifyFile(" + Shown(L"missing.dll") + ", false) -> eVerifyError",
        "IVerifyTrustBase.VerifyFile(null, false) -> eVerifyError",
        "CachedVerifyTrust destroyed",
        "unload (live objects 0)",
    };
    EXPECT_EQ(expected, m_trust.JournalLines(kJournal));
}

TEST_F(TrustVerifier, FailsTheCallsATestChooses)
{
    ASSERT_TRUE(m_trust.Load());
    m_trust.SetSwitch(L"FailCall", L"IKrvFactory.CreateInstance");
    m_trust.SetSwitch(L"FailResult", KRV_E_OUTOFMEMORY);
    EXPECT_EQ(nullptr, CreateVerifier(KRV_E_OUTOFMEMORY));

    m_trust.SetSwitch(L"FailCall", L"ICachedVerifyTrust.Initialize");
    m_trust.SetSwitch(L"FailResult", KRV_E_UNEXPECTED);
    void* verifier = CreateVerifier();
    ASSERT_NE(nullptr, verifier);
    void* verification = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 0, &srVerifyTrust::IID_VerifyTrustBase, &verification));
    EXPECT_EQ(KRV_E_UNEXPECTED, CallSlot<KRVRESULT>(verifier, 3));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verification, 3));
    EXPECT_EQ(srVerifyTrust::eVerifyError, Verify(verification, L"srSvc.dll", false));

    m_trust.SetSwitch(L"FailCall", std::wstring());
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(verifier, 3));
    EXPECT_EQ(srVerifyTrust::eVerifyTrusted, Verify(verification, L"srSvc.dll", false));
    Release(verification);
    Release(verifier);
    EXPECT_EQ(0, m_trust.ObjectCount());
}
