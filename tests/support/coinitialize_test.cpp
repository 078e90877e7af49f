#include "support/coinitialize.h"

#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>
#include <comdef.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <thread>

using srLib::CCoInitialize;
using supporttest::CTraceCapture;

namespace {

const std::string kEnter = "Information : long __cdecl srLib::CCoInitialize::CoInitialize(enum "
                           "srLib::CCoInitialize::ThreadModel) throw() : ";
const std::string kInitializeFailed = "Error : long __thiscall srLib::CCoInitialize::Initialize(enum "
                                      "srLib::CCoInitialize::ThreadModel) throw() : CoInitialize() != S_OK, ";
const std::string kConstructorFailed = "Error : __thiscall srLib::CCoInitialize::CCoInitialize(enum "
                                       "srLib::CCoInitialize::ThreadModel) throw(class _com_error) : "
                                       "Initialize() != S_OK, ";

// Runs on a thread of its own, so every case starts outside any apartment.
template <class Body>
void OnFreshThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

TEST(CoInitialize, EntersAndLeavesTheRequestedApartmentOnItsThread)
{
    CTraceCapture capture;
    OnFreshThread([] {
        {
            CCoInitialize apartment(CCoInitialize::eApartmentThreaded);
            EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << "the thread is in an STA";
            CoUninitialize();
        }
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "the STA was left";
        CoUninitialize();
        { CCoInitialize none(CCoInitialize::eNone); }
        { CCoInitialize multi(CCoInitialize::eMultiThreaded); }
    });
    EXPECT_EQ(kEnter + "COINIT_APARTMENTTHREADED\n" + kEnter + "COINIT_MULTITHREADED\n", capture.Take());
}

TEST(CoInitialize, RefusedApartmentIsTracedAndThrown)
{
    CTraceCapture capture;
    OnFreshThread([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        HRESULT thrown = S_OK;
        try {
            CCoInitialize apartment(CCoInitialize::eApartmentThreaded);
        } catch (const _com_error& error) {
            thrown = error.Error();
        }
        EXPECT_EQ(RPC_E_CHANGED_MODE, thrown);
        CoUninitialize();
    });
    EXPECT_EQ(kEnter + "COINIT_APARTMENTTHREADED\n" + kInitializeFailed + "0x80010106\n" + kConstructorFailed +
                  "0x80010106\n",
              capture.Take());

    HRESULT thrown = S_OK;
    try {
        CCoInitialize unknown(static_cast<CCoInitialize::ThreadModel>(7));
    } catch (const _com_error& error) {
        thrown = error.Error();
    }
    EXPECT_EQ(E_FAIL, thrown);
    EXPECT_EQ("Error : long __cdecl srLib::CCoInitialize::CoInitialize(enum srLib::CCoInitialize::ThreadModel) "
              "throw() : switch(default)\n" +
                  kInitializeFailed + "0x80004005\n" + kConstructorFailed + "0x80004005\n",
              capture.Take());
}

TEST(CoInitialize, IsLeftOnlyByTheThreadThatEntered)
{
    CTraceCapture capture;
    std::unique_ptr<CCoInitialize> apartment;
    OnFreshThread([&] { apartment.reset(new CCoInitialize(CCoInitialize::eApartmentThreaded)); });
    capture.Take();
    apartment.reset();
    EXPECT_EQ("Error : void __thiscall srLib::CCoInitialize::Uninitialize(void) throw() : m_dwThreadId != "
              "GetCurrentThreadId()\n",
              capture.Take());
}

} // namespace
