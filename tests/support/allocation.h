#pragma once

// The test executable's own operator new and delete: they let a test make one chosen
// allocation fail, as a machine out of memory would, and tell which blocks went back through
// operator delete.
namespace supporttest {

// The allocation after the next `skip` ones throws std::bad_alloc; later ones succeed again.
void FailAllocationAfter(int skip);
void DisarmAllocationFailure();
// Whether the failure asked for has not happened yet.
bool AllocationFailurePending();

// The pointer most recently passed to operator delete.
const void* LastDeleted();

} // namespace supporttest
