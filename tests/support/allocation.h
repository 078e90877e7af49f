#pragma once

// The test executable's own operator new and delete: they let a test make one chosen
// allocation fail, as a machine out of memory would.
namespace supporttest {

// The allocation after the next `skip` ones throws std::bad_alloc; later ones succeed again.
void FailAllocationAfter(int skip);
void DisarmAllocationFailure();
// Whether the failure asked for has not happened yet.
bool AllocationFailurePending();

} // namespace supporttest
