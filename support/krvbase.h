#pragma once
#include <cstdint>

// Result code of the shared runtime: negative as a signed number means failure.
typedef unsigned long KRVRESULT;

const KRVRESULT KRV_S_OK = 0x00010000;
const KRVRESULT KRV_E_NOINTERFACE = 0x80010200;
const KRVRESULT KRV_E_INVALIDARG = 0x80010203;

// Names objects and interfaces of shared-runtime components; laid out as a GUID.
struct KRVGUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

bool operator==(const KRVGUID& left, const KRVGUID& right) noexcept;
inline bool operator!=(const KRVGUID& left, const KRVGUID& right) noexcept
{
    return !(left == right);
}

// The reference-counted base of every shared-runtime interface: slots 0 to 2. Objects are
// destroyed by their last Release, never through this interface.
class IKrvBase {
public:
    // On success *object holds a reference of its own.
    virtual KRVRESULT QueryInterface(const KRVGUID& interfaceId, void** object) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;

protected:
    ~IKrvBase() = default;
};
