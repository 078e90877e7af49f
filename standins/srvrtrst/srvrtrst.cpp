// Stand-in for the trust-verification module "srVrTrst.dll": the cached verifier and its
// verification interface. Every existing file is trusted unless a test refuses it; the first
// verdict on a path is eVerifyTrusted, later ones on the same path from the same verifier
// eVerifyCached. Every call, and so every file asked about, is journaled to srvrtrst-journal.txt
// beside the DLL.
//
// Switches under HKLM\Software\KorvalinStandins\srVrTrst: "RefuseFile" (a file name such as
// "vexcore.dll", compared without regard to case with the last part of the path) gets
// eVerifyError. "FailCall" names a call as the journal does ("ICachedVerifyTrust.Initialize",
// "IVerifyTrustBase.VerifyFile"), "FailMatch" (optional) is a part of the journaled call and
// "FailResult" (optional DWORD) the KRVRESULT returned, 0x8001FFFF by default; a failing
// VerifyFile answers eVerifyError.
#include "support/srinterfaces.h"
#include "standins/common/standin.h"

#include <new>
#include <set>
#include <string>

namespace {

const wchar_t* VerdictName(srVerifyTrust::VerifyResult verdict)
{
    switch (verdict) {
    case srVerifyTrust::eVerifyError:
        return L"eVerifyError";
    case srVerifyTrust::eVerifyTrusted:
        return L"eVerifyTrusted";
    case srVerifyTrust::eVerifyCached:
        return L"eVerifyCached";
    }
    return L"?";
}

std::wstring FileName(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// The two interfaces each have an Initialize of the same signature; these give them separate
// names so that one object can answer both.
class CCachePart : public srVerifyTrust::ICachedVerifyTrust {
public:
    KRVRESULT Initialize() final { return InitializeCache(); }

protected:
    virtual KRVRESULT InitializeCache() = 0;
};

class CVerifyPart : public srVerifyTrust::IVerifyTrustBase {
public:
    KRVRESULT Initialize() final { return InitializeVerifier(); }

protected:
    virtual KRVRESULT InitializeVerifier() = 0;
};

// The verifier and its verification interface are one object; the verification interface
// works only once both are prepared.
class CVerifier final : public standin::CObject<CCachePart, CVerifyPart> {
public:
    CVerifier() : CObject(L"CachedVerifyTrust") {}

    srVerifyTrust::VerifyResult VerifyFile(const wchar_t* path, bool option) override
    {
        const std::wstring call =
            L"IVerifyTrustBase.VerifyFile(" + standin::Quoted(path) + (option ? L", true)" : L", false)");
        const srVerifyTrust::VerifyResult verdict = Verdict(path, call);
        standin::Journal(call + L" -> " + VerdictName(verdict));
        return verdict;
    }

private:
    void* Find(const KRVGUID& interfaceId) override
    {
        if (standin::SameGuid(interfaceId, srVerifyTrust::IID_CachedVerifyTrust))
            return static_cast<srVerifyTrust::ICachedVerifyTrust*>(this);
        if (standin::SameGuid(interfaceId, srVerifyTrust::IID_VerifyTrustBase))
            return static_cast<srVerifyTrust::IVerifyTrustBase*>(this);
        return nullptr;
    }

    KRVRESULT InitializeCache() override { return Prepare(L"ICachedVerifyTrust.Initialize", m_bCachePrepared); }
    KRVRESULT InitializeVerifier() override { return Prepare(L"IVerifyTrustBase.Initialize", m_bVerifierPrepared); }

    KRVRESULT Prepare(const wchar_t* name, bool& prepared)
    {
        const std::wstring call = std::wstring(name) + L"()";
        bool planted = false;
        const KRVRESULT result = standin::PlantedResult(name, call, planted);
        prepared = prepared || !planted;
        standin::JournalResult(call, result);
        return result;
    }

    srVerifyTrust::VerifyResult Verdict(const wchar_t* path, const std::wstring& call)
    {
        unsigned long ignored = 0;
        if (!path || !m_bCachePrepared || !m_bVerifierPrepared ||
            standin::Planted(L"IVerifyTrustBase.VerifyFile", call, ignored))
            return srVerifyTrust::eVerifyError;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
            return srVerifyTrust::eVerifyError;
        const std::wstring refused = standin::ReadSwitch(L"RefuseFile");
        if (!refused.empty() && standin::SameName(FileName(path), refused))
            return srVerifyTrust::eVerifyError;
        return m_verified.insert(path).second ? srVerifyTrust::eVerifyTrusted : srVerifyTrust::eVerifyCached;
    }

    bool m_bCachePrepared = false;
    bool m_bVerifierPrepared = false;
    std::set<std::wstring> m_verified;
};

void* CreateVerifier()
{
    return static_cast<srVerifyTrust::ICachedVerifyTrust*>(new (std::nothrow) CVerifier());
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    standin::OnDllEvent(instance, reason, reserved, L"srvrtrst", L"srVrTrst");
    return TRUE;
}

extern "C" KRVRESULT __stdcall GetFactory(const KRVGUID& objectId, IKrvFactory** factory)
{
    return standin::ServeFactory(objectId, factory, srVerifyTrust::IID_CachedVerifyTrust, CreateVerifier);
}

extern "C" long __stdcall GetObjectCount()
{
    return standin::LiveObjects();
}
