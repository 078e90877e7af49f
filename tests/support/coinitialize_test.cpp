#include "support/coinitialize.h"

#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <comdef.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <thread>

using srLib::CCoInitialize;

namespace {

// Runs on a thread of its own, so every case starts outside any apartment.
template <class Body> void OnFreshThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

HRESULT Thrown(CCoInitialize::ThreadModel model)
{
    try {
        CCoInitialize apartment(model);
    } catch (const _com_error& error) {
        return error.Error();
    }
    return S_OK;
}

TEST(CoInitialize, EntersTheRequestedApartmentAndLeavesItOnItsThread)
{
    struct Case {
        CCoInitialize::ThreadModel model;
        HRESULT enteringAnSta; // what CoInitializeEx answers inside the owner's lifetime
    };
    const Case cases[] = {
        {CCoInitialize::eApartmentThreaded, S_FALSE},
        {CCoInitialize::eMultiThreaded, RPC_E_CHANGED_MODE},
        {CCoInitialize::eNone, S_OK},
    };
    for (const Case& c : cases) {
        OnFreshThread([&] {
            {
                CCoInitialize apartment(c.model);
                EXPECT_EQ(c.enteringAnSta, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << c.model;
                if (SUCCEEDED(c.enteringAnSta))
                    CoUninitialize();
            }
            EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "left, model " << c.model;
            CoUninitialize();
        });
    }
}

TEST(CoInitialize, RefusedApartmentIsThrown)
{
    OnFreshThread([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        EXPECT_EQ(RPC_E_CHANGED_MODE, Thrown(CCoInitialize::eApartmentThreaded));
        CoUninitialize();
    });
    EXPECT_EQ(E_FAIL, Thrown(static_cast<CCoInitialize::ThreadModel>(7)));
}

// Leaving from another thread would unbalance that thread's apartment: the trace is the only sign.
TEST(CoInitialize, IsLeftOnlyByTheThreadThatEntered)
{
    supporttest::CTraceCapture capture;
    std::unique_ptr<CCoInitialize> apartment;
    OnFreshThread([&] { apartment.reset(new CCoInitialize(CCoInitialize::eApartmentThreaded)); });
    capture.Take();
    apartment.reset();
    EXPECT_NE(std::string::npos, capture.Take().find("m_dwThreadId != GetCurrentThreadId()"));
}

} // namespace
