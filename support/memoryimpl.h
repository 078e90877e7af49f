#pragma once
#include "support/criticalsection.h"
#include "support/krvbase.h"
#include "support/memory.h"

#include <cstddef>

namespace sr {

// A block of bytes shared by reference; components outside the module rely on the slot order.
class IMemory : public IKrvBase {
public:
    virtual void* NewAlloc(size_t size) = 0; // slot 3
    virtual void* ReAlloc(size_t size) = 0;  // slot 4
    virtual void Free() = 0;                 // slot 5
    virtual size_t GetSize() = 0;            // slot 6
    virtual void* GetData() = 0;             // slot 7
    // Copies the bytes into a new free-store block and returns the block's data afterwards:
    // the old block's for a null source or a size of 0, null when no block could be made.
    virtual void* SetMemory(const void* source, size_t size) = 0; // slot 8

protected:
    ~IMemory() = default;
};

// {6F0C2B7E-3D41-4A9C-8E25-B17D94A3C0F1}
extern const KRVGUID IID_IMemory;

} // namespace sr

namespace srKrv {

// The reference-counted memory object: one srLib::CMemory behind sr::IMemory, each operation
// under the object's lock. Counted among the module's live objects while it exists.
class CMemoryImpl final : public sr::IMemory {
public:
    // A new object holding one reference, or null when it cannot be made.
    static CMemoryImpl* CreateMemoryImpl() noexcept;

    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) noexcept override;
    unsigned long AddRef() noexcept override;
    // The release that brings the count to zero destroys the object and its block.
    unsigned long Release() noexcept override;

    void* NewAlloc(size_t size) noexcept override;
    void* ReAlloc(size_t size) noexcept override;
    void Free() noexcept override;
    size_t GetSize() noexcept override;
    void* GetData() noexcept override;
    void* SetMemory(const void* source, size_t size) noexcept override;

    // The held block itself, for the owner to allocate and fill directly.
    srLib::CMemory* GetMemory() noexcept;

private:
    CMemoryImpl() noexcept;
    ~CMemoryImpl();

    volatile long m_lRefCount = 0;
    srLib::CMemory m_Memory;
    srLib::CCriticalSection m_lock;
};

} // namespace srKrv
