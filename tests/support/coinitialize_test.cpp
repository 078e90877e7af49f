#include "support/coinitialize.h"

#include <gtest/gtest.h>
#include <comdef.h>
#include <objbase.h>

#include <thread>

using srLib::CCoInitialize;

namespace {

// Each case runs on a thread of its own, so it starts outside any apartment; what CoInitializeEx
// answers for a single-threaded apartment inside the owner's lifetime tells which one it entered.
TEST(CoInitialize, EntersTheRequestedApartmentLeavesItAndThrowsARefusal)
{
    const std::pair<CCoInitialize::ThreadModel, HRESULT> cases[] = {
        {CCoInitialize::eApartmentThreaded, S_FALSE},
        {CCoInitialize::eMultiThreaded, RPC_E_CHANGED_MODE},
        {CCoInitialize::eNone, S_OK},
    };
    for (const auto& [model, enteringAnSta] : cases) {
        std::thread([&] {
            {
                CCoInitialize apartment(model);
                EXPECT_EQ(enteringAnSta, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << model;
                if (SUCCEEDED(enteringAnSta))
                    CoUninitialize();
            }
            EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "left, model " << model;
            EXPECT_THROW(CCoInitialize refused(CCoInitialize::eApartmentThreaded), _com_error);
            CoUninitialize();
        }).join();
    }
}

} // namespace
