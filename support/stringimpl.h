#pragma once
#include "support/criticalsection.h"
#include "support/krvbase.h"
#include "support/srinterfaces.h"

#include <cstddef>
#include <string>

namespace srLib {
struct CCatchSite;
} // namespace srLib

namespace srKrv {

// The reference-counted string object behind sr::IString; every operation holds the object's
// lock. A setter that cannot store its text leaves the object cleared; a null text sets the
// empty text. Counted among the module's live objects while it exists.
class CStringImpl final : public sr::IString {
public:
    // New objects holding one reference (empty, or holding the text as the matching setter
    // sets it, not marked modified), or null when they cannot be made.
    static CStringImpl* CreateStringImpl() noexcept;
    static CStringImpl* CreateStringImpl(const char* text) noexcept;
    static CStringImpl* CreateStringImpl(const wchar_t* text) noexcept;

    KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) noexcept override;
    unsigned long AddRef() noexcept override;
    unsigned long Release() noexcept override;

    void Clear() noexcept override;
    long GetStringType() const noexcept override;
    size_t GetLength() const noexcept override;
    const char* GetStringA() const noexcept override;
    bool SetStringA(const char* text) noexcept override;
    bool SetString(const wchar_t* text) noexcept override;
    bool SetString(const char* text) noexcept override;
    const wchar_t* GetStringW() const noexcept override;
    bool SetStringW(const wchar_t* text) noexcept override;

    CStringImpl& operator=(const char* text) noexcept;
    CStringImpl& operator=(const wchar_t* text) noexcept;

    // Set by every successful setter; cleared by Clear and after construction.
    bool IsModified() const noexcept;

private:
    CStringImpl() noexcept;
    ~CStringImpl();
    CStringImpl(const CStringImpl&) = delete;

    static CStringImpl* Create(const srLib::CCatchSite& site) noexcept;
    template <class Char>
    bool Store(std::basic_string<Char>& target, const Char* text, long type, const wchar_t* failure) noexcept;
    void Reset() noexcept;

    volatile long m_lRefCount = 0;
    long m_eStringType = eNone;
    mutable std::string m_sAString;
    mutable std::wstring m_sWString;
    // Whether the string of the other width holds the conversion of the text as set; converting
    // again would free the text an earlier getter handed out.
    mutable bool m_bConverted = false;
    bool m_bModified = false;
    mutable srLib::CCriticalSection m_lock;
};

} // namespace srKrv
