#include "support/memoryimpl.h"

#include "support/catchconvention.h"
#include "support/objectcount.h"
#include "support/trace.h"

#include <windows.h>

namespace sr {

const KRVGUID IID_IMemory = {0x6F0C2B7E, 0x3D41, 0x4A9C, {0x8E, 0x25, 0xB1, 0x7D, 0x94, 0xA3, 0xC0, 0xF1}};

} // namespace sr

namespace srKrv {
namespace {

const srLib::CCatchSite kCreateSite = {
    L"class srKrv::CMemoryImpl *__cdecl srKrv::CMemoryImpl::CreateMemoryImpl(void) throw()",
    L"srKrv::CMemoryImpl::CreateMemoryImpl(283)"};
const wchar_t kSetMemoryFailed[] = L"CMemoryImpl::SetMemory() : m_Memory.Copy() == FALSE\n";

} // namespace

CMemoryImpl::CMemoryImpl() noexcept
{
    IncrementObjectCount();
}

CMemoryImpl::~CMemoryImpl()
{
    DecrementObjectCount();
}

CMemoryImpl* CMemoryImpl::CreateMemoryImpl() noexcept
{
    srLib::CExceptionInfo info;
    CMemoryImpl* memory = srLib::RunWithCatchConvention(kCreateSite, info, nullptr, [] { return new CMemoryImpl(); });
    if (memory)
        memory->AddRef();
    return memory;
}

KRVRESULT CMemoryImpl::QueryInterface(const KRVGUID& interfaceId, void** object) noexcept
{
    if (!object)
        return KRV_E_INVALIDARG;
    *object = nullptr;
    if (interfaceId != sr::IID_IMemory)
        return KRV_E_NOINTERFACE;
    AddRef();
    *object = static_cast<sr::IMemory*>(this);
    return KRV_S_OK;
}

unsigned long CMemoryImpl::AddRef() noexcept
{
    return static_cast<unsigned long>(InterlockedIncrement(&m_lRefCount));
}

unsigned long CMemoryImpl::Release() noexcept
{
    const long count = InterlockedDecrement(&m_lRefCount);
    if (count == 0)
        delete this;
    return static_cast<unsigned long>(count);
}

void* CMemoryImpl::NewAlloc(size_t size) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_Memory.NewAlloc(size);
}

void* CMemoryImpl::ReAlloc(size_t size) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_Memory.ReAlloc(size);
}

void CMemoryImpl::Free() noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    m_Memory.Free();
}

size_t CMemoryImpl::GetSize() noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_Memory.GetSize();
}

void* CMemoryImpl::GetData() noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return m_Memory.GetData();
}

void* CMemoryImpl::SetMemory(const void* source, size_t size) noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    if (!m_Memory.Copy(srLib::CMemory::eNew, source, size))
        TraceError(kSetMemoryFailed);
    return m_Memory.GetData();
}

srLib::CMemory* CMemoryImpl::GetMemory() noexcept
{
    srLib::CCriticalSectionLock lock(m_lock);
    return &m_Memory;
}

} // namespace srKrv
