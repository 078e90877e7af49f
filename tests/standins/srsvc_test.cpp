// The service host stand-in driven by slot number, in the order in which the service control
// finds the engine module, unloads it and loads it again: its services file and journal must
// say what the calls did.
#include "support/srinterfaces.h"
#include "standinpaths.h"
#include "tests/standins/harness.h"

#include <gtest/gtest.h>

#include <string>

using standintest::CallSlot;
using standintest::Release;

namespace {

const char kSeed[] = "[Antivirus]\r\n"
                     "C:\\Scanner\\scan.dll|Scanner\r\n"
                     "[Submission]\r\n"
                     "C:\\Tools\\helper.dll\r\n"
                     "C:\\X\\VEXCORE.DLL|ORBSubmissionEngine\r\n";
const wchar_t kServices[] = L"srsvc-services.txt";
const wchar_t kEngine[] = L"C:\\X\\VEXCORE.DLL";

// The text of a host string, read through slots 5 (length) and 10 (wide text), then released.
std::wstring Take(void* string)
{
    const std::wstring text(CallSlot<const wchar_t*>(string, 10), CallSlot<size_t>(string, 5));
    Release(string);
    return text;
}

TEST(ServiceHost, ListsUnloadsAndLoadsTheEngineModule)
{
    standintest::CStandinCopy host(SUBMCA_SRSVC_DLL, L"srSvc.dll", L"srSvc");
    host.WriteText(kServices, kSeed);
    ASSERT_TRUE(host.Load());
    void* manager = host.Create(srService::IID_ServiceManager);
    ASSERT_NE(nullptr, manager);
    void* configs = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(manager, 10, &configs));
    ASSERT_EQ(2ul, CallSlot<unsigned long>(configs, 3));
    void* config = reinterpret_cast<void*>(0x1);
    EXPECT_FALSE(CallSlot<bool>(configs, 13, 2ul, &config));
    EXPECT_EQ(nullptr, config);
    ASSERT_TRUE(CallSlot<bool>(configs, 13, 1ul, &config));
    Release(configs);
    void* modules = nullptr;
    ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(config, 3, &modules));
    ASSERT_EQ(2ul, CallSlot<unsigned long>(modules, 3));
    for (unsigned long i = 0; i < 2; ++i) {
        void* module = nullptr;
        ASSERT_TRUE(CallSlot<bool>(modules, 13, i, &module));
        void* path = nullptr;
        ASSERT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(module, 4, &path));
        EXPECT_EQ(i ? kEngine : L"C:\\Tools\\helper.dll", Take(path));
        void* name = nullptr;
        EXPECT_EQ(i ? KRV_S_OK : KRV_S_FALSE, CallSlot<KRVRESULT>(module, 6, &name));
        EXPECT_EQ(i ? L"ORBSubmissionEngine" : L"", name ? Take(name) : L"");
        Release(module);
    }
    Release(modules);

    const std::string without = "[Antivirus]\nC:\\Scanner\\scan.dll|Scanner\n[Submission]\nC:\\Tools\\helper.dll\n";
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(config, 5, kEngine));
    EXPECT_EQ(without, host.ReadText(kServices));
    EXPECT_EQ(KRV_E_NOTFOUND, CallSlot<KRVRESULT>(config, 5, kEngine));
    EXPECT_EQ(KRV_S_OK, CallSlot<KRVRESULT>(config, 4, kEngine, L"ORBSubmissionEngine"));
    EXPECT_EQ(KRV_S_FALSE, CallSlot<KRVRESULT>(config, 4, L"c:\\x\\vexcore.dll", L"Other"));
    EXPECT_EQ(without + "C:\\X\\VEXCORE.DLL|ORBSubmissionEngine\n", host.ReadText(kServices));
    Release(config);
    EXPECT_EQ(1, host.ObjectCount());
    Release(manager);
    EXPECT_EQ(0, host.ObjectCount());
    host.Free();
    standintest::JournalHolds(host.JournalLines(L"srsvc-journal.txt"),
                              {"load", "IServiceConfig[Submission].UnloadModule(\"C:\\X\\VEXCORE.DLL\") -> 0x00010000",
                               "IServiceConfig[Submission].LoadModule(\"C:\\X\\VEXCORE.DLL\", \"ORBSubmissionEngine\") "
                               "-> 0x00010000",
                               "IServiceConfig[Submission] destroyed", "IServiceManager destroyed",
                               "unload (live objects 0)"});
}

} // namespace
