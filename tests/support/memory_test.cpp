#include "support/memory.h"

#include "tests/support/allocation.h"
#include "tests/support/tracecapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using srLib::CMemory;
using supporttest::CTraceCapture;

namespace {

const size_t kHuge = SIZE_MAX / 2;

size_t PageSize()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

unsigned char PatternByte(size_t index)
{
    return static_cast<unsigned char>(index * 7 + 1);
}

void Fill(CMemory& memory)
{
    auto* bytes = static_cast<unsigned char*>(memory.GetData());
    for (size_t i = 0; i < memory.GetSize(); ++i)
        bytes[i] = PatternByte(i);
}

// Whether the first count bytes hold the pattern and the rest of the block is zero.
bool PatternThenZero(const CMemory& memory, size_t count)
{
    const auto* bytes = static_cast<const unsigned char*>(memory.GetData());
    for (size_t i = 0; i < memory.GetSize(); ++i) {
        if (bytes[i] != (i < count ? PatternByte(i) : 0))
            return false;
    }
    return true;
}

bool InsideObject(const CMemory& memory)
{
    const auto* data = static_cast<const unsigned char*>(memory.GetData());
    const auto* object = reinterpret_cast<const unsigned char*>(&memory);
    return data >= object && data < object + sizeof(CMemory);
}

bool IsBusyHeapBlock(const void* data)
{
    const HANDLE heap = GetProcessHeap();
    bool busy = false;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (entry.lpData == data) {
            busy = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
            break;
        }
    }
    HeapUnlock(heap);
    return busy;
}

DWORD PageState(const void* data)
{
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(data, &info, sizeof(info));
    return info.State;
}

using Allocate = std::function<void*(CMemory&)>;

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
Allocate Kind(CMemory::AllocType type, size_t size)
{
    return [type, size](CMemory& memory) { return memory.Alloc(type, size); };
}

TEST(Memory, EachKindAllocatesWhereItShould)
{
    struct Case {
        const char* what;
        Allocate allocate;
        CMemory::AllocType type;
        size_t size; // 0: the heap's size of the block
    };
    const size_t page = PageSize();
    const std::vector<Case> cases = {
        {"new, 128 bytes", New(128), CMemory::eInternal, 128},
        {"new, 129 bytes", New(129), CMemory::eNew, 129},
        {"heap, 128 bytes", Heap(128), CMemory::eInternal, 128},
        {"heap, 200 bytes", Heap(200), CMemory::eHeap, 0},
        {"virtual, 1 byte", Virtual(1), CMemory::eVirtual, page},
        {"virtual, a page and a byte", Virtual(page + 1), CMemory::eVirtual, 2 * page},
        {"internal rule, small", Kind(CMemory::eInternal, 100), CMemory::eInternal, 100},
        {"internal rule, large", Kind(CMemory::eInternal, 300), CMemory::eNew, 300},
        {"by kind: new", Kind(CMemory::eNew, 300), CMemory::eNew, 300},
        {"by kind: heap", Kind(CMemory::eHeap, 300), CMemory::eHeap, 0},
        {"by kind: virtual", Kind(CMemory::eVirtual, 300), CMemory::eVirtual, page},
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
        const size_t size = c.size != 0 ? c.size : HeapSize(GetProcessHeap(), 0, data);
        EXPECT_EQ(size, memory.GetSize());
        EXPECT_EQ(c.type == CMemory::eInternal, InsideObject(memory));
        if (c.type != CMemory::eInternal) {
            EXPECT_TRUE(PatternThenZero(memory, 0)) << "zero-filled";
        }
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
    EXPECT_TRUE(IsBusyHeapBlock(data));
    memory.Free();
    EXPECT_FALSE(IsBusyHeapBlock(data));
    EXPECT_NE(data, supporttest::LastDeleted());

    data = memory.VirtualAlloc(300);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), PageState(data));
    memory.Free();
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), PageState(data));

    std::vector<unsigned char> foreign(40, 0x5A);
    memory.Attach(foreign.data(), foreign.size());
    EXPECT_EQ(CMemory::eAttached, memory.GetType());
    memory.Free();
    EXPECT_NE(foreign.data(), supporttest::LastDeleted());
    EXPECT_EQ(std::vector<unsigned char>(40, 0x5A), foreign);

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
    const size_t page = PageSize();
    const std::vector<Case> cases = {
        {"new, shrunk into the object", New(200), 50, CMemory::eInternal, 50, false},
        {"new, grown", New(200), 400, CMemory::eNew, 400, false},
        {"heap, shrunk into the object", Heap(200), 50, CMemory::eInternal, 50, false},
        {"heap, grown", Heap(200), 5000, CMemory::eHeap, 0, false},
        {"internal, within the object", New(50), 100, CMemory::eInternal, 100, true},
        {"internal, grown out of the object", New(50), 300, CMemory::eNew, 300, false},
        {"virtual, grown by a page", Virtual(1), page + 1, CMemory::eVirtual, 2 * page, false},
        {"virtual, shrunk by a page", Virtual(2 * page), 10, CMemory::eVirtual, page, false},
        {"virtual, within its page", Virtual(1), 10, CMemory::eVirtual, page, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        void* old = c.allocate(memory);
        Fill(memory);
        const size_t oldSize = memory.GetSize();
        void* data = memory.ReAlloc(c.newSize);
        ASSERT_NE(nullptr, data);
        const size_t kept = std::min(oldSize, memory.GetSize());
        EXPECT_EQ(data, memory.GetData());
        EXPECT_EQ(c.type, memory.GetType());
        EXPECT_EQ(c.size != 0 ? c.size : HeapSize(GetProcessHeap(), 0, data), memory.GetSize());
        EXPECT_EQ(c.samePointer, data == old);
        EXPECT_EQ(c.type == CMemory::eInternal, InsideObject(memory));
        if (c.type == CMemory::eInternal) {
            for (size_t i = 0; i < kept; ++i)
                ASSERT_EQ(PatternByte(i), static_cast<unsigned char*>(data)[i]) << i;
        } else {
            EXPECT_TRUE(PatternThenZero(memory, kept));
        }
    }
}

TEST(Memory, ReAllocRefusals)
{
    const std::string signature = "void *__thiscall srLib::CMemory::ReAlloc(__w64 unsigned long) throw() : ";
    CTraceCapture capture;
    CMemory memory;
    EXPECT_EQ(nullptr, memory.ReAlloc(10));
    EXPECT_EQ("Error : " + signature + "m_pData == NULL\n", capture.Take());

    void* data = memory.NewAlloc(200);
    EXPECT_EQ(data, memory.ReAlloc(200));
    EXPECT_EQ("Warning : " + signature + "m_nSize == nSize\n", capture.Take());

    char foreign[16] = {};
    memory.Attach(foreign, sizeof(foreign));
    EXPECT_EQ(nullptr, memory.ReAlloc(32));
    EXPECT_EQ("Error : " + signature + "switch(default)\n", capture.Take());
    EXPECT_EQ(foreign, memory.GetData());
    EXPECT_EQ(sizeof(foreign), memory.GetSize());
}

TEST(Memory, AllocationFailures)
{
    const std::string newAlloc = "Error : void *__thiscall srLib::CMemory::NewAlloc(__w64 unsigned long) throw() : ";
    const std::string reAlloc = "Error : void *__thiscall srLib::CMemory::ReAlloc(__w64 unsigned long) throw() : ";
    const std::string caught = std::string("CCCATCH : std::bad_alloc, ") + std::bad_alloc().what() + "\n";
    const std::string heapFailed =
        "Error : void *__thiscall srLib::CMemory::HeapAlloc(__w64 unsigned long) throw() : HeapAlloc() == NULL\n";
    const std::string virtualFailed = "Error : void *__thiscall srLib::CMemory::VirtualAlloc(__w64 unsigned long) "
                                      "throw() : VirtualAlloc() == NULL\n";
    const std::string allocType = "Error : void *__thiscall srLib::CMemory::Alloc(enum srLib::CMemory::AllocType,__w64 "
                                  "unsigned long) throw() : switch(default)\n";
    struct Case {
        const char* what;
        Allocate before;
        std::function<void*(CMemory&)> fail;
        std::string trace;
        bool keepsBlock; // else empty afterwards
    };
    const auto reAllocHuge = [](CMemory& memory) { return memory.ReAlloc(kHuge); };
    const std::vector<Case> cases = {
        {"new", New(200), New(kHuge), newAlloc + caught + newAlloc + "new() == NULL\n", false},
        {"heap", New(200), Heap(kHuge), heapFailed, false},
        {"virtual", New(200), Virtual(kHuge), virtualFailed, false},
        {"virtual of nothing", New(200), Virtual(0), virtualFailed, false},
        {"no such kind", New(200), Kind(CMemory::eAttached, 10), allocType, true},
        {"no kind", New(200), Kind(CMemory::eNone, 10), allocType, true},
        {"re-allocating new", New(200), reAllocHuge,
         newAlloc + caught + newAlloc + "new() == NULL\n" + reAlloc + "mem.Alloc() == NULL\n", true},
        {"re-allocating heap", Heap(200), reAllocHuge, reAlloc + "HeapReAlloc() == NULL\n", true},
        {"re-allocating virtual", Virtual(1), reAllocHuge, virtualFailed + reAlloc + "mem.Alloc() == NULL\n", true},
    };
    CTraceCapture capture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        void* old = c.before(memory);
        const CMemory::AllocType oldType = memory.GetType();
        const size_t oldSize = memory.GetSize();
        EXPECT_EQ(nullptr, c.fail(memory));
        EXPECT_EQ(c.trace, capture.Take());
        EXPECT_EQ(c.keepsBlock ? old : nullptr, memory.GetData());
        EXPECT_EQ(c.keepsBlock ? oldType : CMemory::eNone, memory.GetType());
        EXPECT_EQ(c.keepsBlock ? oldSize : 0u, memory.GetSize());
    }

    // A block inside the object that cannot grow stays as it was, and is still returned.
    CMemory memory;
    void* inside = memory.NewAlloc(50);
    EXPECT_EQ(inside, memory.ReAlloc(kHuge));
    EXPECT_EQ(reAlloc.substr(0, reAlloc.size() - 3) + " : " + caught, capture.Take());
    EXPECT_EQ(CMemory::eInternal, memory.GetType());
    EXPECT_EQ(50u, memory.GetSize());
}

TEST(Memory, CopiesKeepKindAndBytes)
{
    const std::vector<Allocate> kinds = {New(50), New(200), Heap(200), Virtual(1)};
    for (const Allocate& allocate : kinds) {
        CMemory source;
        allocate(source);
        Fill(source);
        CMemory copy;
        copy.NewAlloc(500);
        ASSERT_TRUE(copy.Copy(source));
        SCOPED_TRACE(source.GetType());
        EXPECT_EQ(source.GetType(), copy.GetType());
        EXPECT_NE(source.GetData(), copy.GetData());
        EXPECT_TRUE(copy == source);
        CMemory assigned(copy);
        EXPECT_TRUE(assigned == source);
    }

    CTraceCapture capture;
    char foreign[16] = {1, 2, 3};
    CMemory attached;
    attached.Attach(foreign, sizeof(foreign));
    CMemory target;
    target.NewAlloc(300);
    EXPECT_FALSE(target.Copy(attached));
    EXPECT_EQ(CMemory::eNone, target.GetType());
    const std::string allocType = "Error : void *__thiscall srLib::CMemory::Alloc(enum srLib::CMemory::AllocType,__w64 "
                                  "unsigned long) throw() : switch(default)\n";
    EXPECT_EQ(allocType
                  + "Error : int __thiscall srLib::CMemory::Copy(const class srLib::CMemory &) throw() : Alloc() == "
                    "NULL\n",
              capture.Take());
    target = attached;
    EXPECT_NE(std::string::npos,
              capture.Take().find("Error : class srLib::CMemory &__thiscall srLib::CMemory::operator =(const class "
                                  "srLib::CMemory &) throw() : Copy() == FALSE\n"));

    void* data = target.NewAlloc(300);
    const std::string copySource = "Error : int __thiscall srLib::CMemory::Copy(enum srLib::CMemory::AllocType,const "
                                   "void *,__w64 unsigned long) throw() : pData == NULL\n";
    EXPECT_FALSE(target.Copy(CMemory::eHeap, nullptr, 5));
    EXPECT_FALSE(target.Copy(CMemory::eHeap, foreign, 0));
    EXPECT_EQ(copySource + copySource, capture.Take());
    EXPECT_EQ(data, target.GetData()) << "refused copies leave the block";
    ASSERT_TRUE(target.Copy(CMemory::eHeap, foreign, 3));
    EXPECT_EQ(CMemory::eInternal, target.GetType()) << "three bytes fit the object";
    EXPECT_EQ(0, std::memcmp(foreign, target.GetData(), 3));
}

TEST(Memory, TakeOverMovesOutsideBlocksAndCopiesInsideOnes)
{
    struct Case {
        const char* what;
        Allocate allocate;
        CMemory::AllocType type;
        bool moved;
    };
    char foreign[16] = {};
    const std::vector<Case> cases = {
        {"new", New(200), CMemory::eNew, true},
        {"heap", Heap(200), CMemory::eHeap, true},
        {"virtual", Virtual(1), CMemory::eVirtual, true},
        {"attached", [&](CMemory& memory) { memory.Attach(foreign, sizeof(foreign)); return memory.GetData(); },
         CMemory::eAttached, true},
        {"inside the object", New(50), CMemory::eInternal, false},
        {"empty", [](CMemory&) -> void* { return nullptr; }, CMemory::eInternal, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory other;
        void* data = c.allocate(other);
        if (data)
            Fill(other);
        const size_t size = other.GetSize();
        CMemory taker;
        taker.NewAlloc(300);
        EXPECT_TRUE(taker.Attach(other));
        EXPECT_EQ(c.type, taker.GetType());
        EXPECT_EQ(size, taker.GetSize());
        EXPECT_EQ(c.moved, taker.GetData() == data);
        EXPECT_TRUE(PatternThenZero(taker, size));
        EXPECT_EQ(CMemory::eNone, other.GetType());
        EXPECT_EQ(nullptr, other.GetData());
        EXPECT_EQ(0u, other.GetSize());
    }

    CMemory inside;
    void* data = inside.NewAlloc(20);
    EXPECT_EQ(data, inside.Detach());
    EXPECT_TRUE(data >= static_cast<void*>(&inside) && data < static_cast<void*>(&inside + 1));
    EXPECT_EQ(CMemory::eNone, inside.GetType());
}

TEST(Memory, EqualityNeedsKindSizeAndBytes)
{
    CMemory heap;
    heap.HeapAlloc(200);
    CMemory fresh;
    fresh.NewAlloc(heap.GetSize());
    EXPECT_FALSE(fresh == heap) << "the same zero bytes, another kind";
    CMemory copy(heap);
    EXPECT_TRUE(copy == heap);
    static_cast<unsigned char*>(copy.GetData())[7] = 1;
    EXPECT_TRUE(copy != heap);
    EXPECT_TRUE(CMemory() == CMemory());
}

} // namespace
