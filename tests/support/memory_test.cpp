#include "support/memory.h"

#include "tests/support/allocation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

using srLib::CMemory;

namespace {

const size_t kHuge = SIZE_MAX / 2;
const size_t kPage = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<size_t>(info.dwPageSize);
}();

using Allocate = std::function<void*(CMemory&)>;
Allocate Kind(CMemory::AllocType type, size_t size)
{
    return [type, size](CMemory& memory) { return memory.Alloc(type, size); };
}
Allocate New(size_t size)
{
    return [size](CMemory& memory) { return memory.NewAlloc(size); };
}
Allocate Heap(size_t size)
{
    return [size](CMemory& memory) { return memory.HeapAlloc(size); };
}
Allocate Virtual(size_t size)
{
    return [size](CMemory& memory) { return memory.VirtualAlloc(size); };
}

unsigned char PatternByte(size_t index)
{
    return static_cast<unsigned char>(index * 7 + 1);
}

void Fill(CMemory& memory)
{
    for (size_t i = 0; i < memory.GetSize(); ++i)
        static_cast<unsigned char*>(memory.GetData())[i] = PatternByte(i);
}

// The first count bytes hold the pattern; with zeroRest, the rest of the block is zero.
bool Holds(const CMemory& memory, size_t count, bool zeroRest = true)
{
    const auto* bytes = static_cast<const unsigned char*>(memory.GetData());
    for (size_t i = 0; i < (zeroRest ? memory.GetSize() : count); ++i) {
        if (bytes[i] != (i < count ? PatternByte(i) : 0))
            return false;
    }
    return true;
}

bool InsideObject(const CMemory& memory)
{
    const void* data = memory.GetData();
    return data >= static_cast<const void*>(&memory) && data < static_cast<const void*>(&memory + 1);
}

size_t HeapBlockSize(const void* data)
{
    return HeapSize(GetProcessHeap(), 0, data);
}

TEST(Memory, EachKindAllocatesWhereItShould)
{
    struct Case {
        const char* what;
        Allocate allocate;
        CMemory::AllocType type;
        size_t size; // 0: the heap's size of the block
    };
    const std::vector<Case> cases = {
        {"new, 128 bytes", New(128), CMemory::eInternal, 128},
        {"new, 129 bytes", New(129), CMemory::eNew, 129},
        {"heap, 128 bytes", Heap(128), CMemory::eInternal, 128},
        {"heap, 200 bytes", Heap(200), CMemory::eHeap, 0},
        {"virtual, 1 byte", Virtual(1), CMemory::eVirtual, kPage},
        {"virtual, a page and a byte", Virtual(kPage + 1), CMemory::eVirtual, 2 * kPage},
        {"internal rule, small", Kind(CMemory::eInternal, 100), CMemory::eInternal, 100},
        {"internal rule, large", Kind(CMemory::eInternal, 300), CMemory::eNew, 300},
        {"by kind, heap", Kind(CMemory::eHeap, 300), CMemory::eHeap, 0},
        {"by kind, virtual", Kind(CMemory::eVirtual, 300), CMemory::eVirtual, kPage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        ASSERT_NE(nullptr, c.allocate(memory));
        // A second allocation of the same size usually gets the dirtied block back.
        Fill(memory);
        void* data = c.allocate(memory);
        ASSERT_EQ(data, memory.GetData());
        EXPECT_EQ(c.type, memory.GetType());
        EXPECT_EQ(c.size != 0 ? c.size : HeapBlockSize(data), memory.GetSize());
        EXPECT_EQ(c.type == CMemory::eInternal, InsideObject(memory));
        EXPECT_TRUE(c.type == CMemory::eInternal || Holds(memory, 0)) << "zero-filled";
    }
}

TEST(Memory, FreeReleasesThroughTheFunctionOfItsKind)
{
    CMemory memory;
    void* data = memory.NewAlloc(300);
    memory.Free();
    EXPECT_EQ(data, supporttest::LastDeleted());
    EXPECT_EQ(CMemory::eNone, memory.GetType());
    EXPECT_EQ(0u, memory.GetSize());
    EXPECT_EQ(nullptr, memory.GetData());

    data = memory.HeapAlloc(300);
    memory.Free();
    EXPECT_NE(data, supporttest::LastDeleted());
    EXPECT_FALSE(HeapValidate(GetProcessHeap(), 0, data)) << "back on the heap";

    data = memory.VirtualAlloc(300);
    memory.Free();
    MEMORY_BASIC_INFORMATION pages = {};
    VirtualQuery(data, &pages, sizeof(pages));
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), pages.State);

    unsigned char foreign[40] = {};
    memory.Attach(foreign, sizeof(foreign));
    EXPECT_EQ(CMemory::eAttached, memory.GetType());
    memory.Free();
    EXPECT_NE(static_cast<void*>(foreign), supporttest::LastDeleted());
    {
        CMemory scoped;
        data = scoped.NewAlloc(500);
    }
    EXPECT_EQ(data, supporttest::LastDeleted()) << "the destructor frees";
}

TEST(Memory, ReAllocKeepsTheLeadingBytes)
{
    struct Case {
        const char* what;
        Allocate allocate;
        size_t newSize;
        CMemory::AllocType type;
        size_t size; // 0: the heap's size of the block
        bool samePointer;
    };
    const std::vector<Case> cases = {
        {"new, shrunk into the object", New(200), 50, CMemory::eInternal, 50, false},
        {"new, grown", New(200), 400, CMemory::eNew, 400, false},
        {"heap, shrunk into the object", Heap(200), 50, CMemory::eInternal, 50, false},
        {"heap, grown", Heap(200), 5000, CMemory::eHeap, 0, false},
        {"internal, within the object", New(50), 100, CMemory::eInternal, 100, true},
        {"internal, grown out of the object", New(50), 300, CMemory::eNew, 300, false},
        {"virtual, grown by a page", Virtual(1), kPage + 1, CMemory::eVirtual, 2 * kPage, false},
        {"virtual, shrunk by a page", Virtual(2 * kPage), 10, CMemory::eVirtual, kPage, false},
        {"virtual, within its page", Virtual(1), 10, CMemory::eVirtual, kPage, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        void* old = c.allocate(memory);
        Fill(memory);
        const size_t oldSize = memory.GetSize();
        void* data = memory.ReAlloc(c.newSize);
        ASSERT_NE(nullptr, data);
        EXPECT_EQ(data, memory.GetData());
        EXPECT_EQ(c.type, memory.GetType());
        EXPECT_EQ(c.size != 0 ? c.size : HeapBlockSize(data), memory.GetSize());
        EXPECT_EQ(c.samePointer, data == old);
        EXPECT_EQ(c.type == CMemory::eInternal, InsideObject(memory));
        EXPECT_TRUE(Holds(memory, std::min(oldSize, memory.GetSize()), c.type != CMemory::eInternal));
    }
}

TEST(Memory, RefusalsAndAllocationFailuresLeaveAKnownState)
{
    struct Case {
        const char* what;
        Allocate before;
        Allocate fail;
        bool keepsBlock; // else empty afterwards
        bool returnsBlock;
    };
    const auto reAlloc = [](size_t size) { return [size](CMemory& memory) { return memory.ReAlloc(size); }; };
    const auto nothing = [](CMemory&) -> void* { return nullptr; };
    char foreign[16] = {};
    const auto attached = [&](CMemory& memory) {
        memory.Attach(foreign, sizeof(foreign));
        return memory.GetData();
    };
    const std::vector<Case> cases = {
        {"new", New(200), New(kHuge), false, false},
        {"heap", New(200), Heap(kHuge), false, false},
        {"virtual", New(200), Virtual(kHuge), false, false},
        {"virtual of nothing", New(200), Virtual(0), false, false},
        {"no such kind", New(200), Kind(CMemory::eAttached, 10), true, false},
        {"re-allocating nothing", nothing, reAlloc(10), false, false},
        {"re-allocating to the same size", New(200), reAlloc(200), true, true},
        {"re-allocating attached memory", attached, reAlloc(32), true, false},
        {"re-allocating new", New(200), reAlloc(kHuge), true, false},
        {"re-allocating heap", Heap(200), reAlloc(kHuge), true, false},
        {"re-allocating virtual", Virtual(1), reAlloc(kHuge), true, false},
        // A block inside the object that cannot grow stays as it was, and is still returned.
        {"re-allocating inside the object", New(50), reAlloc(kHuge), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        void* old = c.before(memory);
        const CMemory::AllocType oldType = memory.GetType();
        const size_t oldSize = memory.GetSize();
        EXPECT_EQ(c.returnsBlock ? old : nullptr, c.fail(memory));
        EXPECT_EQ(c.keepsBlock ? old : nullptr, memory.GetData());
        EXPECT_EQ(c.keepsBlock ? oldType : CMemory::eNone, memory.GetType());
        EXPECT_EQ(c.keepsBlock ? oldSize : 0u, memory.GetSize());
    }
}

TEST(Memory, CopiesKeepKindAndBytes)
{
    for (const Allocate& allocate : {New(50), New(200), Heap(200), Virtual(1)}) {
        CMemory source;
        allocate(source);
        Fill(source);
        CMemory copy;
        copy.NewAlloc(500);
        SCOPED_TRACE(source.GetType());
        ASSERT_TRUE(copy.Copy(source));
        EXPECT_NE(source.GetData(), copy.GetData());
        EXPECT_TRUE(copy == source);
        static_cast<unsigned char*>(copy.GetData())[7] ^= 1;
        EXPECT_TRUE(copy != source);
    }
    CMemory heap;
    heap.HeapAlloc(200);
    CMemory fresh;
    fresh.NewAlloc(heap.GetSize());
    EXPECT_FALSE(fresh == heap) << "the same zero bytes, another kind";

    char foreign[16] = {1, 2, 3};
    CMemory attached;
    attached.Attach(foreign, sizeof(foreign));
    CMemory target;
    target.NewAlloc(300);
    target = attached;
    EXPECT_EQ(CMemory::eNone, target.GetType()) << "attached memory cannot be copied";
    void* data = target.NewAlloc(300);
    EXPECT_FALSE(target.Copy(CMemory::eHeap, nullptr, 5));
    EXPECT_FALSE(target.Copy(CMemory::eHeap, foreign, 0));
    EXPECT_EQ(data, target.GetData()) << "refused copies leave the block";
    ASSERT_TRUE(target.Copy(CMemory::eHeap, foreign, 3));
    EXPECT_EQ(CMemory::eInternal, target.GetType()) << "three bytes fit the object";
    EXPECT_EQ(0, memcmp(foreign, target.GetData(), 3));
}

// Taking over moves a block that lives outside its object and copies one that lives inside.
TEST(Memory, TakeOverAndDetach)
{
    CMemory outside;
    void* data = outside.HeapAlloc(200);
    CMemory inside;
    void* insideData = inside.NewAlloc(50);
    Fill(inside);
    CMemory taker;
    taker.NewAlloc(300);
    EXPECT_TRUE(taker.Attach(outside));
    EXPECT_EQ(data, taker.GetData());
    EXPECT_EQ(CMemory::eHeap, taker.GetType());
    EXPECT_TRUE(taker.Attach(inside));
    EXPECT_NE(insideData, taker.GetData());
    EXPECT_TRUE(InsideObject(taker));
    EXPECT_TRUE(Holds(taker, 50));
    for (const CMemory* other : {&outside, &inside})
        EXPECT_TRUE(other->GetType() == CMemory::eNone && !other->GetData() && other->GetSize() == 0);
    void* held = taker.GetData();
    EXPECT_EQ(held, taker.Detach()) << "a pointer into the object";
    EXPECT_EQ(CMemory::eNone, taker.GetType());
}

} // namespace
