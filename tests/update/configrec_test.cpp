// The update's steps on the engine stand-in's configurations: the magic number rule's worked
// examples and the engine-wide defaults.
#include "update/update.h"

#include "service/clfsboundary.h"
#include "support/modulelifetime.h"
#include "tests/common/files.h"
#include "tests/common/tracecapture.h"
#include "tests/service/sharedruntime.h"
#include "tests/update/harness.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using clfs::update::CUpdate;
using clfs::utils::CKrvRef;
using servicetest::CSharedRuntime;
using updatetest::CTestUpdate;

namespace {

// The engine's configuration manager, as the update reaches it.
clfs::svc::IConfigManager* EngineManager(const CSharedRuntime& runtime)
{
    void* manager = nullptr;
    EXPECT_EQ(KRV_S_OK,
              srKrv::GetModuleLifetimeMgr()->CreateObject(runtime.EnginePath().c_str(), clfs::svc::IID_ConfigManager,
                                                          clfs::svc::IID_ConfigManager, 3, &manager));
    return static_cast<clfs::svc::IConfigManager*>(manager);
}

// The C run-time generator of a thread that never used it draws 41, 18467, 6334, 26500, 19169;
// the magic is the draw modulo probability - 1, drawn only when the probability is at least 2 and
// not lowered below a stored one.
TEST(ConfigRec, MagicNumbersFollowTheThreadsGenerator)
{
    CSharedRuntime runtime;
    CKrvRef<clfs::svc::IConfigManager> manager(EngineManager(runtime));
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
    const std::string traced = capture.Take();
    for (const char* line :
         {"reset prob to 41", "reset prob to 53", "Not resetting magic: prob=50, newprob=100, magic=7"})
        EXPECT_NE(std::string::npos, traced.find(line)) << line;
}

TEST(SetDefaults, WritesOnlyAbsentValuesUnlessOverwriting)
{
    const std::string all = "[engine]\n262=dword:30\n384=dword:14\n385=dword:0\n";
    const struct {
        std::string stored;
        bool overwrite;
        std::string after;
    } cases[] = {
        {"", false, all},
        {"[engine]\n262=dword:1\n385=dword:1\n", false, "[engine]\n262=dword:1\n384=dword:14\n385=dword:1\n"},
        {"[engine]\n262=dword:1\n384=dword:1\n385=dword:1\n", true, all},
    };
    CSharedRuntime runtime;
    const std::wstring store = runtime.EngineDirectory() + L"\\vexcore-configs.txt";
    for (const auto& c : cases) {
        testsupport::WriteFileBytes(store, std::vector<unsigned char>(c.stored.begin(), c.stored.end()));
        CTestUpdate update;
        update.UseManager(EngineManager(runtime));
        EXPECT_EQ(0, update.SetDefaults(30, 14, 0, c.overwrite));
        const std::vector<unsigned char> after = testsupport::ReadFileBytes(store);
        EXPECT_EQ(c.after, std::string(after.begin(), after.end()));
    }
    EXPECT_EQ(E_POINTER, CTestUpdate().SetDefaults(30, 14, 0, false));
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
