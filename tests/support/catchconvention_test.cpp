#include "support/catchconvention.h"
#include "support/comerrorhandler.h"

#include "tests/common/process.h"
#include "tests/common/tracecapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using srLib::CExceptionInfo;

namespace {

const srLib::CCatchSite kSite = {L"int __thiscall srTest::CSample::Run(void) throw()", L"srTest::CSample::Run(12)"};

// A function that promises not to throw, with a callee that may; the COM support types' error
// is caught where a boundary lists its handler.
int GuardedRun(const std::function<int()>& callee, CExceptionInfo& info) noexcept
{
    return srLib::RunUnderHandlers([&] { return callee(); }, srLib::OnBadAlloc(kSite, info, -1),
                                   srLib::OnAtlException(kSite, info, -1), srLib::OnComError(kSite, info, -1));
}

// The CCCATCH line is the only trace of an exception that a boundary turned into a failure.
TEST(CatchConvention, TurnsLibraryExceptionsIntoATracedFailure)
{
    struct Case {
        std::function<int()> callee;
        int result;
        CExceptionInfo::Code code;
        std::string typeAndMessage;
    };
    const std::vector<Case> cases = {
        {[] { return 7; }, 7, CExceptionInfo::eNone, ""},
        {[]() -> int { throw std::bad_array_new_length(); }, -1, CExceptionInfo::eBadAlloc,
         std::string("std::bad_alloc, ") + std::bad_array_new_length().what()},
        {[]() -> int { ATL::AtlThrow(E_OUTOFMEMORY); }, -1, CExceptionInfo::eAtlException, "CAtlException, 0x8007000E"},
        {[]() -> int { throw _com_error(E_OUTOFMEMORY); }, -1, CExceptionInfo::eComError,
         "_com_error, " + testsupport::Narrow(_com_error(E_OUTOFMEMORY).ErrorMessage())},
    };
    supporttest::CTraceCapture capture;
    for (const Case& c : cases) {
        CExceptionInfo info;
        EXPECT_EQ(c.result, GuardedRun(c.callee, info));
        EXPECT_EQ(c.code, info.GetCode());
        const std::string traced = capture.Take();
        if (c.code == CExceptionInfo::eNone) {
            EXPECT_EQ("", traced);
            continue;
        }
        EXPECT_STREQ(L"srTest::CSample::Run(12)", info.GetLocation());
        EXPECT_EQ("Error : int __thiscall srTest::CSample::Run(void) throw() : CCCATCH : " + c.typeAndMessage + "\n",
                  traced);
    }
    CExceptionInfo info;
    EXPECT_EQ(-1, srLib::RunWithCatchConvention(kSite, info, -1, []() -> int { throw std::bad_alloc(); }));
    EXPECT_EQ(CExceptionInfo::eBadAlloc, info.GetCode());
    EXPECT_FALSE(srLib::FalseOnOutOfMemory([]() -> bool { throw std::bad_alloc(); }));
    EXPECT_FALSE(srLib::FalseOnOutOfMemory([]() -> bool { ATL::AtlThrow(E_FAIL); }));
    EXPECT_TRUE(srLib::FalseOnOutOfMemory([] { return true; }));
}

} // namespace
