#pragma once
#include "support/criticalsection.h"
#include "support/handle.h"

#include <windows.h>

namespace srLib {

// A reader/writer lock: readers share it, a writer holds it alone, and readers take precedence:
// while readers hold it, further readers enter at once even when a writer waits. A thread that
// holds it shared may take it shared again; nothing else nests. When the lock could not be made,
// Lock* refuse (false) and the callers go on unguarded, as with CCriticalSection.
class CReaderPreferenceLock {
public:
    CReaderPreferenceLock() noexcept;
    CReaderPreferenceLock(const CReaderPreferenceLock&) = delete;
    CReaderPreferenceLock& operator=(const CReaderPreferenceLock&) = delete;

    bool IsCreated() const noexcept { return m_readersLock.IsCreated() && m_writerSemaphore.IsOpen(); }

    bool LockShared() noexcept;
    void UnlockShared() noexcept;
    bool LockExclusive() noexcept;
    void UnlockExclusive() noexcept;

private:
    CCriticalSection m_readersLock;
    long m_nReaders = 0;
    // Free while nobody holds the lock; the readers as a group hold it while any reader is in.
    CHandle m_writerSemaphore;
};

// Holds the lock shared for its own lifetime.
class CSharedLock {
public:
    explicit CSharedLock(CReaderPreferenceLock& lock) noexcept : m_lock(lock), m_bHeld(lock.LockShared()) {}
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;
    ~CSharedLock()
    {
        if (m_bHeld)
            m_lock.UnlockShared();
    }

private:
    CReaderPreferenceLock& m_lock;
    bool m_bHeld;
};

// Holds the lock alone for its own lifetime.
class CExclusiveLock {
public:
    explicit CExclusiveLock(CReaderPreferenceLock& lock) noexcept : m_lock(lock), m_bHeld(lock.LockExclusive()) {}
    CExclusiveLock(const CExclusiveLock&) = delete;
    CExclusiveLock& operator=(const CExclusiveLock&) = delete;
    ~CExclusiveLock()
    {
        if (m_bHeld)
            m_lock.UnlockExclusive();
    }

private:
    CReaderPreferenceLock& m_lock;
    bool m_bHeld;
};

} // namespace srLib
