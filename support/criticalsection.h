#pragma once
#include <windows.h>

namespace srLib {

// Owns one critical section. Creation can fail on old systems; IsCreated tells, and Enter on a
// section that was never created refuses instead of touching it.
class CCriticalSection {
public:
    CCriticalSection() noexcept : m_bCreated(InitializeCriticalSectionAndSpinCount(&m_section, 0) != FALSE) {}
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    ~CCriticalSection()
    {
        if (m_bCreated)
            DeleteCriticalSection(&m_section);
    }

    bool IsCreated() const noexcept { return m_bCreated; }

    bool Enter() noexcept
    {
        if (!m_bCreated)
            return false;
        EnterCriticalSection(&m_section);
        return true;
    }

    void Leave() noexcept { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
    bool m_bCreated;
};

// Holds a critical section for its own lifetime, if the section could be entered at all.
class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CCriticalSection& section) noexcept : m_section(section), m_bHeld(section.Enter()) {}
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
    ~CCriticalSectionLock()
    {
        if (m_bHeld)
            m_section.Leave();
    }

    bool IsHeld() const noexcept { return m_bHeld; }

private:
    CCriticalSection& m_section;
    bool m_bHeld;
};

} // namespace srLib
