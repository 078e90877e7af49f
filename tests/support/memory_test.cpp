#include "support/memory.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

using srLib::CMemory;

namespace {

const auto kNew = CMemory::eNew;
const auto kHeap = CMemory::eHeap;
const auto kVirtual = CMemory::eVirtual;
const auto kInternal = CMemory::eInternal;
const size_t kHuge = SIZE_MAX / 2;
const size_t kPage = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<size_t>(info.dwPageSize);
}();

unsigned char Pattern(size_t i)
{
    return static_cast<unsigned char>(i * 7 + 1);
}

void Fill(CMemory& memory)
{
    for (size_t i = 0; i < memory.GetSize(); ++i)
        static_cast<unsigned char*>(memory.GetData())[i] = Pattern(i);
}

// Of the first `checked` bytes, the first `count` hold the pattern and the rest are zero.
bool Holds(const CMemory& memory, size_t count, size_t checked)
{
    const auto* bytes = static_cast<const unsigned char*>(memory.GetData());
    for (size_t i = 0; i < checked; ++i)
        if (bytes[i] != (i < count ? Pattern(i) : 0))
            return false;
    return true;
}

// Rows without a new size allocate twice: a second allocation of the same size usually gets the
// block dirtied by the first back, and a block outside the object must still come zero-filled.
// Rows with one re-allocate, keeping the leading bytes.
TEST(Memory, EachKindAllocatesAndReAllocatesWhereItShould)
{
    struct Case {
        CMemory::AllocType asked;
        size_t request;
        size_t newSize;
        CMemory::AllocType type;
        size_t size;
        bool samePointer;
    };
    const std::vector<Case> cases = {
        {kNew, 128, 0, kInternal, 128, true},
        {kNew, 129, 0, kNew, 129, false},
        {kHeap, 128, 0, kInternal, 128, true},
        {kHeap, 200, 0, kHeap, 0, false},
        {kInternal, 300, 0, kNew, 300, false},
        {kVirtual, 1, 0, kVirtual, kPage, false},
        {kVirtual, kPage + 1, 0, kVirtual, 2 * kPage, false},
        {kNew, 200, 50, kInternal, 50, false},
        {kNew, 200, 400, kNew, 400, false},
        {kHeap, 200, 50, kInternal, 50, false},
        {kHeap, 200, 5000, kHeap, 0, false},
        {kNew, 50, 100, kInternal, 100, true},
        {kNew, 50, 300, kNew, 300, false},
        {kVirtual, 1, kPage + 1, kVirtual, 2 * kPage, false},
        {kVirtual, 2 * kPage, 10, kVirtual, kPage, false},
        {kVirtual, 1, 10, kVirtual, kPage, true},
    };
    for (size_t row = 0; row < cases.size(); ++row) {
        const Case& c = cases[row];
        CMemory memory;
        void* old = memory.Alloc(c.asked, c.request);
        ASSERT_NE(nullptr, old) << row;
        Fill(memory);
        const size_t oldSize = memory.GetSize();
        void* data = c.newSize ? memory.ReAlloc(c.newSize) : memory.Alloc(c.asked, c.request);
        ASSERT_EQ(memory.GetData(), data) << row;
        const size_t kept = c.newSize ? std::min(oldSize, memory.GetSize()) : 0;
        EXPECT_EQ(c.type, memory.GetType()) << row;
        // 0 in a row stands for the heap's size of the block.
        EXPECT_EQ(c.size ? c.size : HeapSize(GetProcessHeap(), 0, data), memory.GetSize()) << row;
        EXPECT_TRUE(c.newSize == 0 || c.samePointer == (data == old)) << row;
        EXPECT_TRUE(Holds(memory, kept, c.type == kInternal ? kept : memory.GetSize())) << row;
    }
}

// A failed allocation leaves the object empty; a refused or failed re-allocation leaves the block.
TEST(Memory, RefusalsAndAllocationFailuresLeaveAKnownState)
{
    struct Case {
        CMemory::AllocType first; // eAttached: a foreign block, eNone: nothing
        size_t firstSize;
        bool reAlloc;
        CMemory::AllocType asked;
        size_t request;
        bool keepsBlock;
        bool returnsBlock;
    };
    const std::vector<Case> cases = {
        {kNew, 200, false, kNew, kHuge, false, false},
        {kNew, 200, false, kHeap, kHuge, false, false},
        {kNew, 200, false, kVirtual, kHuge, false, false},
        {kNew, 200, false, kVirtual, 0, false, false},
        {kNew, 200, false, CMemory::eAttached, 10, true, false},
        {CMemory::eNone, 0, true, kNew, 10, false, false},
        {kNew, 200, true, kNew, 200, true, true},
        {CMemory::eAttached, 16, true, kNew, 32, true, false},
        {kNew, 200, true, kNew, kHuge, true, false},
        {kHeap, 200, true, kNew, kHuge, true, false},
        {kVirtual, 1, true, kNew, kHuge, true, false},
        // A block inside the object that cannot grow stays as it was, and is still returned.
        {kNew, 50, true, kNew, kHuge, true, true},
    };
    char foreign[16] = {};
    for (size_t row = 0; row < cases.size(); ++row) {
        const Case& c = cases[row];
        CMemory memory;
        if (c.first == CMemory::eAttached)
            memory.Attach(foreign, sizeof(foreign));
        else if (c.first != CMemory::eNone)
            memory.Alloc(c.first, c.firstSize);
        void* old = memory.GetData();
        const CMemory::AllocType oldType = memory.GetType();
        const size_t oldSize = memory.GetSize();
        EXPECT_EQ(c.returnsBlock ? old : nullptr,
                  c.reAlloc ? memory.ReAlloc(c.request) : memory.Alloc(c.asked, c.request))
            << row;
        EXPECT_EQ(c.keepsBlock ? old : nullptr, memory.GetData()) << row;
        EXPECT_EQ(c.keepsBlock ? oldType : CMemory::eNone, memory.GetType()) << row;
        EXPECT_EQ(c.keepsBlock ? oldSize : 0u, memory.GetSize()) << row;
    }
}

} // namespace
