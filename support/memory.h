#pragma once
#include <cstddef>

namespace srLib {

// Owns one block of bytes and remembers where it lives, so that it releases, copies, grows and
// shrinks the block the same way. Blocks of up to 128 bytes of the free-store and heap kinds
// live inside the object itself (eInternal); their address therefore changes when the object
// is copied or taken over, and Detach of such a block returns a pointer into the object.
// The data pointer is null exactly when the type is eNone. Nothing throws: failures give null
// or false and are traced. One thread at a time.
class CMemory {
public:
    enum AllocType {
        eNone = 0,
        // Someone else's memory; never released by the object.
        eAttached = 1,
        // operator new, zero-filled.
        eNew = 2,
        // The process heap, zero-filled; the size is the heap's size of the block.
        eHeap = 3,
        // Committed read-write pages; the size is whole pages.
        eVirtual = 4,
        // The buffer inside the object; not cleared.
        eInternal = 5,
    };

    static const size_t kInternalSize = 128;

    CMemory() noexcept = default;
    CMemory(const CMemory& other) noexcept;
    CMemory& operator=(const CMemory& other) noexcept;
    virtual ~CMemory();

    void Free() noexcept;
    void* NewAlloc(size_t size) noexcept;
    void* HeapAlloc(size_t size) noexcept;
    void* VirtualAlloc(size_t size) noexcept;
    // eInternal asks for the inside buffer where the size fits it, else the free store.
    // eNone and eAttached are refused and leave the current block alone.
    void* Alloc(AllocType type, size_t size) noexcept;
    // Keeps the leading bytes and, where it can, the kind; null when the block cannot change
    // (the old block then stays).
    void* ReAlloc(size_t size) noexcept;

    // A block of the same kind and bytes; an attached block cannot be copied.
    int Copy(const CMemory& other) noexcept;
    // A new block of the given kind holding size bytes from source; a null source or a size of
    // 0 is refused and leaves the current block alone.
    int Copy(AllocType type, const void* source, size_t size) noexcept;
    int Attach(void* data, size_t size) noexcept;
    // Takes over the other's block; the other is left empty and nothing is released.
    int Attach(CMemory& other) noexcept;
    void* Detach() noexcept;

    AllocType GetType() const noexcept { return m_nType; }
    size_t GetSize() const noexcept { return m_nSize; }
    void* GetData() const noexcept { return m_pData; }

    // Equal when of the same kind and size with the same bytes.
    bool operator==(const CMemory& other) const noexcept;
    bool operator!=(const CMemory& other) const noexcept { return !(*this == other); }

private:
    void* UseInternal(size_t size) noexcept;
    void* ReAllocByCopy(AllocType type, size_t size) noexcept;
    void* ReAllocVirtual(size_t size) noexcept;
    void* ReAllocHeap(size_t size) noexcept;
    void* ReAllocInternal(size_t size) noexcept;
    void Take(AllocType type, size_t size, void* data) noexcept;

    AllocType m_nType = eNone;
    size_t m_nSize = 0;
    void* m_pData = nullptr;
    unsigned char m_internal[kInternalSize];
};

} // namespace srLib
