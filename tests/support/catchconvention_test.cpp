#include "support/catchconvention.h"

#include "tests/common/process.h"
#include "tests/support/tracecapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using srLib::CExceptionInfo;
using supporttest::CTraceCapture;

namespace {

const srLib::CCatchSite kSite = {L"int __thiscall srTest::CSample::Run(void) throw()", L"srTest::CSample::Run(12)"};

// A function that promises not to throw, with a callee that may.
int GuardedRun(const std::function<int()>& callee, CExceptionInfo& info) noexcept
{
    return srLib::RunWithCatchConvention(kSite, info, -1, [&] { return callee(); });
}

TEST(CatchConvention, TurnsLibraryExceptionsIntoATracedFailure)
{
    struct Case {
        const char* what;
        std::function<int()> callee;
        int result;
        CExceptionInfo::Code code;
        std::wstring typeName;
        std::wstring message;
    };
    const std::wstring badAllocText = testsupport::Widen(std::bad_alloc().what());
    const std::vector<Case> cases = {
        {"returns", [] { return 7; }, 7, CExceptionInfo::eNone, L"", L""},
        {"std::bad_alloc", []() -> int { throw std::bad_alloc(); }, -1, CExceptionInfo::eBadAlloc, L"std::bad_alloc",
         badAllocText},
        {"a type derived from std::bad_alloc", []() -> int { throw std::bad_array_new_length(); }, -1,
         CExceptionInfo::eBadAlloc, L"std::bad_alloc", testsupport::Widen(std::bad_array_new_length().what())},
        {"CAtlException", []() -> int { ATL::AtlThrow(E_OUTOFMEMORY); }, -1, CExceptionInfo::eAtlException,
         L"CAtlException", L"0x8007000E"},
    };
    CTraceCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CExceptionInfo info;
        EXPECT_EQ(c.result, GuardedRun(c.callee, info));
        EXPECT_EQ(c.code, info.GetCode());
        EXPECT_EQ(c.typeName, info.GetTypeName());
        EXPECT_EQ(c.message, info.GetMessageText());
        if (c.code == CExceptionInfo::eNone) {
            EXPECT_EQ("", capture.Take());
            continue;
        }
        EXPECT_EQ(std::wstring(L"srTest::CSample::Run(12)"), info.GetLocation());
        EXPECT_EQ("Error : int __thiscall srTest::CSample::Run(void) throw() : CCCATCH : "
                      + testsupport::Narrow(c.typeName) + ", " + testsupport::Narrow(c.message) + "\n",
                  capture.Take());
    }
}

TEST(CatchConvention, OtherExceptionsPassOn)
{
    CTraceCapture capture;
    CExceptionInfo info;
    EXPECT_THROW(srLib::RunUnderHandlers([]() -> int { throw std::runtime_error("not ours"); },
                                         srLib::OnBadAlloc(kSite, info, -1), srLib::OnAtlException(kSite, info, -1)),
                 std::runtime_error);
    EXPECT_FALSE(info.IsCaught());
    EXPECT_EQ("", capture.Take());
}

// Boundaries with handler tables of their own (HRESULT results, texts of their own) are built
// from the same core; the first handler in the list that names the exception answers.
TEST(CatchConvention, GenericCoreAnswersWithTheFirstMatchingHandler)
{
    const auto boundary = [](const std::function<HRESULT()>& body) {
        return srLib::RunUnderHandlers(
            body, srLib::Handle<std::bad_array_new_length>([](const std::bad_array_new_length&) { return E_INVALIDARG; }),
            srLib::Handle<std::bad_alloc>([](const std::bad_alloc&) { return E_OUTOFMEMORY; }),
            srLib::Handle<ATL::CAtlException>([](const ATL::CAtlException& caught) { return HRESULT(caught); }));
    };
    struct Case {
        const char* what;
        std::function<HRESULT()> body;
        HRESULT result;
    };
    const std::vector<Case> cases = {
        {"no exception", [] { return S_FALSE; }, S_FALSE},
        {"the more special type listed first", []() -> HRESULT { throw std::bad_array_new_length(); }, E_INVALIDARG},
        {"the general type", []() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {"the last handler", []() -> HRESULT { ATL::AtlThrow(0x80070005); }, HRESULT(0x80070005)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.result, boundary(c.body));
    }
}

} // namespace
