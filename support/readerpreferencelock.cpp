#include "support/readerpreferencelock.h"

namespace srLib {

CReaderPreferenceLock::CReaderPreferenceLock() noexcept : m_writerSemaphore(CreateSemaphoreW(nullptr, 1, 1, nullptr)) {}

bool CReaderPreferenceLock::LockShared() noexcept
{
    if (!IsCreated())
        return false;
    CCriticalSectionLock readers(m_readersLock);
    if (++m_nReaders == 1)
        WaitForSingleObject(m_writerSemaphore.Get(), INFINITE);
    return true;
}

void CReaderPreferenceLock::UnlockShared() noexcept
{
    CCriticalSectionLock readers(m_readersLock);
    if (--m_nReaders == 0)
        ReleaseSemaphore(m_writerSemaphore.Get(), 1, nullptr);
}

bool CReaderPreferenceLock::LockExclusive() noexcept
{
    if (!IsCreated())
        return false;
    WaitForSingleObject(m_writerSemaphore.Get(), INFINITE);
    return true;
}

void CReaderPreferenceLock::UnlockExclusive() noexcept
{
    ReleaseSemaphore(m_writerSemaphore.Get(), 1, nullptr);
}

} // namespace srLib
