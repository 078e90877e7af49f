// MD5 message digest (RFC 1321), fed incrementally.
#pragma once

#include <cstddef>
#include <cstdint>

namespace InstallToolBox {

constexpr size_t MD5_DIGEST_SIZE = 16;

class CMd5 {
public:
    CMd5() noexcept;

    // Starts a new digest; the constructor has already done so.
    void Init() noexcept;
    void Update(const void* data, size_t size) noexcept;
    // Writes the 16 digest bytes; the object must be initialised again before further use.
    void Final(uint8_t* digest) noexcept;

private:
    void Transform(const uint8_t* blocks, size_t count) noexcept;

    uint32_t m_adwState[4];
    uint64_t m_qwLength;
    uint8_t m_abBuffer[64];
};

} // namespace InstallToolBox
