#pragma once
#include <utility>

namespace clfs::utils {

// Owns one reference to a shared-runtime interface (anything with AddRef and Release). A copy
// takes a reference of its own; the destructor and every replacement release the held one.
template <class Interface> class CKrvRef {
public:
    CKrvRef() noexcept = default;
    // Takes over a reference the caller holds.
    explicit CKrvRef(Interface* object) noexcept : m_p(object) {}
    CKrvRef(const CKrvRef& other) noexcept : m_p(other.m_p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CKrvRef(CKrvRef&& other) noexcept : m_p(other.Detach()) {}
    CKrvRef& operator=(CKrvRef other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~CKrvRef() { Release(); }

    void Release() noexcept
    {
        Interface* held = std::exchange(m_p, nullptr);
        if (held)
            held->Release();
    }
    // Releases what is held and hands out the slot for an operation that fills it with a
    // reference of its own.
    Interface** Receive() noexcept
    {
        Release();
        return &m_p;
    }
    // Gives the reference up without releasing it.
    Interface* Detach() noexcept { return std::exchange(m_p, nullptr); }

    Interface* Get() const noexcept { return m_p; }
    Interface* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    Interface* m_p = nullptr;
};

} // namespace clfs::utils
