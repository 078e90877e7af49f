#include "tests/support/allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace supporttest {
namespace {

std::atomic<int> g_allocationsBeforeFailure{-1};

} // namespace

void FailAllocationAfter(int skip)
{
    g_allocationsBeforeFailure = skip;
}

void DisarmAllocationFailure()
{
    g_allocationsBeforeFailure = -1;
}

bool AllocationFailurePending()
{
    return g_allocationsBeforeFailure >= 0;
}

} // namespace supporttest

void* operator new(size_t size)
{
    int remaining = supporttest::g_allocationsBeforeFailure.load();
    while (remaining >= 0 && !supporttest::g_allocationsBeforeFailure.compare_exchange_weak(remaining, remaining - 1)) {
    }
    if (remaining == 0)
        throw std::bad_alloc();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}
