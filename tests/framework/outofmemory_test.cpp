// The driver, its stores and an action that allocates, with memory running out at each
// allocation in turn: every call ends with an installer result and nothing unwinds into the
// installer.
#include "framework/customaction.h"

#include "tests/common/files.h"
#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace InstallToolBox;

namespace {

// Allocates in every operation, as an action that builds lists and strings does.
class CAllocatingAction : public CCustomAction {
public:
    CAllocatingAction() : CCustomAction(0, L"Allocating", nullptr, nullptr) {}
    BOOL InstallScheduling() override { return Work(); }
    BOOL InstallDeferred() override { return Work(); }
    BOOL InstallRollback() override { return Work(); }
    BOOL InstallCommit() override { return Work(); }
    BOOL UninstallScheduling() override { return Work(); }
    BOOL UninstallDeferred() override { return Work(); }
    BOOL UninstallRollback() override { return Work(); }
    BOOL UninstallCommit() override { return Work(); }

private:
    static BOOL Work() { return !std::wstring(300, L'x').empty(); }
};

TEST(DriverOutOfMemory, EveryFailedAllocationEndsTheCallWithAResult)
{
    const std::wstring dataFile = testsupport::TempFolder() + L"\\OutOfMemorySeq.dat";
    for (int skip = 0;; ++skip) {
        CAllocatingAction action;
        CCustomAction* actions[] = {&action};
        UINT result = 0;
        supporttest::FailAllocationAfter(skip);
        EXPECT_NO_THROW(result = RunCustomActions(0, actions, 1, L"OutOfMemorySeq")) << "allocation " << skip;
        const bool reached = !supporttest::AllocationFailurePending();
        supporttest::DisarmAllocationFailure();
        testsupport::DeleteFileIfAny(dataFile);
        if (!reached) {
            EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), result) << "enough memory for the whole call";
            EXPECT_GT(skip, 3) << "the call allocates in the driver, the store and the action";
            break;
        }
        EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_INSTALL_FAILURE) << result << " at " << skip;
    }
}

} // namespace
