#pragma once
#include <windows.h>

namespace srLib {

// Enters a COM apartment for the owner's lifetime and leaves it on the thread that entered.
// The constructor throws _com_error when the apartment cannot be entered.
class CCoInitialize {
public:
    enum ThreadModel {
        eMultiThreaded = 1,
        eApartmentThreaded = 2,
        eNone = 3,
    };

    explicit CCoInitialize(ThreadModel model);
    CCoInitialize(const CCoInitialize&) = delete;
    CCoInitialize& operator=(const CCoInitialize&) = delete;
    ~CCoInitialize();

private:
    long Initialize(ThreadModel model) noexcept;
    void Uninitialize() noexcept;

    ThreadModel m_eModel = eNone;
    DWORD m_dwThreadId = 0;
};

} // namespace srLib
