// The update's steps on the engine stand-in's configurations: the magic number rule's worked
// examples; and how each kind of exception leaves the update's boundary.
#include "update/update.h"

#include "service/clfsboundary.h"
#include "support/modulelifetime.h"
#include "tests/common/tracecapture.h"
#include "tests/service/sharedruntime.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using clfs::update::CUpdate;
using clfs::utils::CKrvRef;
using servicetest::CSharedRuntime;

namespace {

// The C run-time generator of a thread that never used it draws 41, 18467, 6334, 26500, 19169;
// the magic is the draw modulo probability - 1, drawn only when the probability is at least 2 and
// not lowered below a stored one.
TEST(ConfigRec, MagicNumbersFollowTheThreadsGenerator)
{
    CSharedRuntime runtime;
    // The engine's configuration manager, as the update reaches it.
    void* engine = nullptr;
    ASSERT_EQ(KRV_S_OK,
              srKrv::GetModuleLifetimeMgr()->CreateObject(runtime.EnginePath().c_str(), clfs::svc::IID_ConfigManager,
                                                          clfs::svc::IID_ConfigManager, 3, &engine));
    CKrvRef<clfs::svc::IConfigManager> manager(static_cast<clfs::svc::IConfigManager*>(engine));
    CKrvRef<clfs::svc::IConfig> config;
    ASSERT_EQ(S_OK, manager->NewConfig(config.Receive()));
    CKrvRef<sr::IKeyValueCollection> values;
    ASSERT_EQ(S_OK, config->GetData(values.Receive()));
    // The probability, the stored probability, and the magic afterwards (7 before).
    const DWORD cases[][3] = {{100, 0, 41}, {100, 0, 53},   {2, 0, 0}, {1, 0, 0},
                              {100, 50, 7}, {100, 150, 67}, {0, 0, 0}, {100, 0, 62}};
    supporttest::CTraceCapture capture;
    std::thread([&] {
        for (const auto& [probability, stored, magic] : cases) {
            values->SetDwordValue(265, stored);
            values->SetDwordValue(264, 7);
            CUpdate::ConfigRec record;
            record.m_dwProbability = probability;
            EXPECT_EQ(S_OK, record.SetMagicNumber(values.Get()));
            DWORD drawn = 0;
            values->GetDwordValue(264, drawn);
            EXPECT_EQ(magic, drawn) << probability << ", stored " << stored;
        }
    }).join();
    // The lines the README's glossary names for the magic.
    const std::string traced = capture.Take();
    for (const char* line :
         {"reset prob to 41", "reset prob to 53", "Not resetting magic: prob=50, newprob=100, magic=7"})
        EXPECT_NE(std::string::npos, traced.find(line)) << line;
}

TEST(ClfsBoundary, EachExceptionKindBecomesTheResult)
{
    const struct {
        std::function<long()> body;
        long hr;
    } cases[] = {
        {[]() -> long { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {[]() -> long { throw ATL::CAtlException(E_ACCESSDENIED); }, E_ACCESSDENIED},
        {[]() -> long { throw _com_error(E_POINTER); }, E_POINTER},
        {[]() -> long { throw srx_exception(0x80010303); }, static_cast<long>(0x8007000B)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hr, clfs::utils::RunClfsBoundary(
                            clfs::utils::CTraceSite(L"long __thiscall clfs::test(void) throw()"), c.body));
}

} // namespace
