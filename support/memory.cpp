#include "support/memory.h"

#include "support/catchconvention.h"
#include "support/trace.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace srLib {
namespace {

#define SRLIB_MEMORY_REALLOC L"void *__thiscall srLib::CMemory::ReAlloc(__w64 unsigned long) throw()"
#define SRLIB_MEMORY_NEWALLOC L"void *__thiscall srLib::CMemory::NewAlloc(__w64 unsigned long) throw()"
#define SRLIB_MEMORY_COPYSOURCE                                                                                        \
    L"int __thiscall srLib::CMemory::Copy(enum srLib::CMemory::AllocType,const void *,__w64 unsigned long) throw()"

const CCatchSite kNewAllocSite = {SRLIB_MEMORY_NEWALLOC, L"srLib::CMemory::NewAlloc(171)"};
const CCatchSite kReAllocSite = {SRLIB_MEMORY_REALLOC, L"srLib::CMemory::ReAlloc(328)"};
const wchar_t kNewFailed[] = SRLIB_MEMORY_NEWALLOC L" : new() == NULL\n";
const wchar_t kHeapFailed[] =
    L"void *__thiscall srLib::CMemory::HeapAlloc(__w64 unsigned long) throw() : HeapAlloc() == NULL\n";
const wchar_t kVirtualFailed[] =
    L"void *__thiscall srLib::CMemory::VirtualAlloc(__w64 unsigned long) throw() : VirtualAlloc() == NULL\n";
const wchar_t kAllocType[] = L"void *__thiscall srLib::CMemory::Alloc(enum srLib::CMemory::AllocType,__w64 unsigned "
                             L"long) throw() : switch(default)\n";
const wchar_t kCopyAllocFailed[] =
    L"int __thiscall srLib::CMemory::Copy(const class srLib::CMemory &) throw() : Alloc() == NULL\n";
const wchar_t kCopyNoSource[] = SRLIB_MEMORY_COPYSOURCE L" : pData == NULL\n";
const wchar_t kCopySourceAllocFailed[] = SRLIB_MEMORY_COPYSOURCE L" : Alloc() == NULL\n";
const wchar_t kAssignFailed[] = L"class srLib::CMemory &__thiscall srLib::CMemory::operator =(const class "
                                L"srLib::CMemory &) throw() : Copy() == FALSE\n";
const wchar_t kReAllocNoData[] = SRLIB_MEMORY_REALLOC L" : m_pData == NULL\n";
const wchar_t kReAllocSameSize[] = SRLIB_MEMORY_REALLOC L" : m_nSize == nSize\n";
const wchar_t kReAllocTempFailed[] = SRLIB_MEMORY_REALLOC L" : mem.Alloc() == NULL\n";
const wchar_t kReAllocHeapFailed[] = SRLIB_MEMORY_REALLOC L" : HeapReAlloc() == NULL\n";
const wchar_t kReAllocType[] = SRLIB_MEMORY_REALLOC L" : switch(default)\n";

#undef SRLIB_MEMORY_REALLOC
#undef SRLIB_MEMORY_NEWALLOC
#undef SRLIB_MEMORY_COPYSOURCE

// Read once per process; concurrent first uses store the same value.
size_t PageSize() noexcept
{
    static const size_t pageSize = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return pageSize;
}

// Sizes so large that rounding overflows come out as 0, which no allocation accepts.
size_t RoundUpToPages(size_t size) noexcept
{
    const size_t page = PageSize();
    return (size + page - 1) / page * page;
}

void* NewZeroedOrNull(const CCatchSite& site, size_t size) noexcept
{
    CExceptionInfo info;
    void* data = RunWithCatchConvention(site, info, nullptr, [size]() -> void* { return ::operator new(size); });
    if (data)
        std::memset(data, 0, size);
    return data;
}

} // namespace

CMemory::CMemory(const CMemory& other) noexcept
{
    Copy(other);
}

CMemory& CMemory::operator=(const CMemory& other) noexcept
{
    if (&other != this && !Copy(other))
        TraceError(kAssignFailed);
    return *this;
}

CMemory::~CMemory()
{
    Free();
}

void CMemory::Take(AllocType type, size_t size, void* data) noexcept
{
    m_nType = type;
    m_nSize = size;
    m_pData = data;
}

void CMemory::Free() noexcept
{
    switch (m_nType) {
    case eNew:
        ::operator delete(m_pData);
        break;
    case eHeap:
        ::HeapFree(GetProcessHeap(), 0, m_pData);
        break;
    case eVirtual:
        ::VirtualFree(m_pData, 0, MEM_RELEASE);
        break;
    default:
        break;
    }
    Take(eNone, 0, nullptr);
}

void* CMemory::UseInternal(size_t size) noexcept
{
    Take(eInternal, size, m_internal);
    return m_pData;
}

void* CMemory::NewAlloc(size_t size) noexcept
{
    Free();
    if (size <= kInternalSize)
        return UseInternal(size);
    void* data = NewZeroedOrNull(kNewAllocSite, size);
    if (!data) {
        TraceError(kNewFailed);
        return nullptr;
    }
    Take(eNew, size, data);
    return data;
}

void* CMemory::HeapAlloc(size_t size) noexcept
{
    Free();
    if (size <= kInternalSize)
        return UseInternal(size);
    void* data = ::HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!data) {
        TraceError(kHeapFailed);
        return nullptr;
    }
    Take(eHeap, ::HeapSize(GetProcessHeap(), 0, data), data);
    return data;
}

void* CMemory::VirtualAlloc(size_t size) noexcept
{
    Free();
    const size_t pages = RoundUpToPages(size);
    void* data = ::VirtualAlloc(nullptr, pages, MEM_COMMIT, PAGE_READWRITE);
    if (!data) {
        TraceError(kVirtualFailed);
        return nullptr;
    }
    Take(eVirtual, pages, data);
    return data;
}

void* CMemory::Alloc(AllocType type, size_t size) noexcept
{
    switch (type) {
    case eNew:
    // NewAlloc keeps blocks of up to 128 bytes inside the object, which is the internal rule.
    case eInternal:
        return NewAlloc(size);
    case eHeap:
        return HeapAlloc(size);
    case eVirtual:
        return VirtualAlloc(size);
    default:
        TraceError(kAllocType);
        return nullptr;
    }
}

void* CMemory::ReAlloc(size_t size) noexcept
{
    if (!m_pData) {
        TraceError(kReAllocNoData);
        return nullptr;
    }
    if (size == m_nSize) {
        TraceWarning(kReAllocSameSize);
        return m_pData;
    }
    switch (m_nType) {
    case eNew:
        return ReAllocByCopy(eNew, size);
    case eVirtual:
        return ReAllocVirtual(size);
    case eHeap:
        return ReAllocHeap(size);
    case eInternal:
        return ReAllocInternal(size);
    default:
        TraceError(kReAllocType);
        return nullptr;
    }
}

void* CMemory::ReAllocByCopy(AllocType type, size_t size) noexcept
{
    CMemory mem;
    if (!mem.Alloc(type, size)) {
        TraceError(kReAllocTempFailed);
        return nullptr;
    }
    std::memcpy(mem.m_pData, m_pData, std::min(m_nSize, mem.m_nSize));
    Attach(mem);
    return m_pData;
}

void* CMemory::ReAllocVirtual(size_t size) noexcept
{
    if (RoundUpToPages(size) == m_nSize)
        return m_pData;
    return ReAllocByCopy(eVirtual, size);
}

void* CMemory::ReAllocHeap(size_t size) noexcept
{
    if (size <= kInternalSize) {
        void* heapBlock = m_pData;
        std::memcpy(m_internal, heapBlock, size);
        ::HeapFree(GetProcessHeap(), 0, heapBlock);
        return UseInternal(size);
    }
    void* data = ::HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, m_pData, size);
    if (!data) {
        TraceError(kReAllocHeapFailed);
        return nullptr;
    }
    Take(eHeap, ::HeapSize(GetProcessHeap(), 0, data), data);
    return data;
}

void* CMemory::ReAllocInternal(size_t size) noexcept
{
    if (size <= kInternalSize) {
        m_nSize = size;
        return m_pData;
    }
    void* data = NewZeroedOrNull(kReAllocSite, size);
    // Out of memory: the block stays inside the object with its old size.
    if (!data)
        return m_pData;
    std::memcpy(data, m_internal, m_nSize);
    Take(eNew, size, data);
    return data;
}

int CMemory::Copy(const CMemory& other) noexcept
{
    if (&other == this)
        return TRUE;
    Free();
    if (other.m_nType == eNone)
        return TRUE;
    if (!Alloc(other.m_nType, other.m_nSize)) {
        TraceError(kCopyAllocFailed);
        return FALSE;
    }
    std::memcpy(m_pData, other.m_pData, other.m_nSize);
    return TRUE;
}

int CMemory::Copy(AllocType type, const void* source, size_t size) noexcept
{
    if (!source || size == 0) {
        TraceError(kCopyNoSource);
        return FALSE;
    }
    Free();
    if (!Alloc(type, size)) {
        TraceError(kCopySourceAllocFailed);
        return FALSE;
    }
    std::memcpy(m_pData, source, size);
    return TRUE;
}

int CMemory::Attach(void* data, size_t size) noexcept
{
    Free();
    if (data)
        Take(eAttached, size, data);
    return TRUE;
}

int CMemory::Attach(CMemory& other) noexcept
{
    if (&other == this)
        return TRUE;
    const bool outsideObject = other.m_nType == eAttached || other.m_nType == eVirtual ||
                               (other.m_nType != eInternal && other.m_nSize > kInternalSize);
    if (outsideObject) {
        Free();
        Take(other.m_nType, other.m_nSize, other.m_pData);
    } else {
        NewAlloc(other.m_nSize);
        if (other.m_nSize != 0)
            std::memcpy(m_pData, other.m_pData, other.m_nSize);
    }
    other.Take(eNone, 0, nullptr);
    return TRUE;
}

void* CMemory::Detach() noexcept
{
    void* data = m_pData;
    Take(eNone, 0, nullptr);
    return data;
}

bool CMemory::operator==(const CMemory& other) const noexcept
{
    return m_nType == other.m_nType && m_nSize == other.m_nSize &&
           (m_nSize == 0 || std::memcmp(m_pData, other.m_pData, m_nSize) == 0);
}

} // namespace srLib
