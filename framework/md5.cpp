#include "md5.h"
#include "byteorder.h"

#include <cstring>

namespace InstallToolBox {

namespace {

inline uint32_t Rotl(uint32_t x, int n) noexcept
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

// Each step is a + F(b, c, d) + X[k] + t. Only F depends on the previous step, so a + X[k] + t
// is summed first and held in a register before F is added: left free, clang reassociates the
// sum as ((F + a) + X[k]) + t and puts all three additions on the critical path.
#if defined(__GNUC__)
#define MD5_HOLD(x) __asm__("" : "+r"(x))
#else
#define MD5_HOLD(x) ((void)0)
#endif

// F selects through z ^ (x & (y ^ z)); G's two terms never share a bit, so they are added
// separately and (y & ~z) can start before x is known.
#define MD5_STEP_F(a, b, c, d, k, s, t)                                                                                \
    a += X[k] + t;                                                                                                     \
    MD5_HOLD(a);                                                                                                       \
    a += d ^ (b & (c ^ d));                                                                                            \
    a = Rotl(a, s) + b
#define MD5_STEP_G(a, b, c, d, k, s, t)                                                                                \
    a += X[k] + t;                                                                                                     \
    MD5_HOLD(a);                                                                                                       \
    a += c & ~d;                                                                                                       \
    a += b & d;                                                                                                        \
    a = Rotl(a, s) + b
#define MD5_STEP_H(a, b, c, d, k, s, t)                                                                                \
    a += X[k] + t;                                                                                                     \
    MD5_HOLD(a);                                                                                                       \
    a += b ^ c ^ d;                                                                                                    \
    a = Rotl(a, s) + b
#define MD5_STEP_I(a, b, c, d, k, s, t)                                                                                \
    a += X[k] + t;                                                                                                     \
    MD5_HOLD(a);                                                                                                       \
    a += c ^ (b | ~d);                                                                                                 \
    a = Rotl(a, s) + b

void CMd5::Transform(const uint8_t* blocks, size_t count) noexcept
{
    uint32_t a = m_adwState[0];
    uint32_t b = m_adwState[1];
    uint32_t c = m_adwState[2];
    uint32_t d = m_adwState[3];
    uint32_t X[16];

    for (; count != 0; --count, blocks += 64) {
        for (int i = 0; i < 16; ++i)
            X[i] = LoadLe32(blocks + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP_F(a, b, c, d, 0, 7, 0xD76AA478);
        MD5_STEP_F(d, a, b, c, 1, 12, 0xE8C7B756);
        MD5_STEP_F(c, d, a, b, 2, 17, 0x242070DB);
        MD5_STEP_F(b, c, d, a, 3, 22, 0xC1BDCEEE);
        MD5_STEP_F(a, b, c, d, 4, 7, 0xF57C0FAF);
        MD5_STEP_F(d, a, b, c, 5, 12, 0x4787C62A);
        MD5_STEP_F(c, d, a, b, 6, 17, 0xA8304613);
        MD5_STEP_F(b, c, d, a, 7, 22, 0xFD469501);
        MD5_STEP_F(a, b, c, d, 8, 7, 0x698098D8);
        MD5_STEP_F(d, a, b, c, 9, 12, 0x8B44F7AF);
        MD5_STEP_F(c, d, a, b, 10, 17, 0xFFFF5BB1);
        MD5_STEP_F(b, c, d, a, 11, 22, 0x895CD7BE);
        MD5_STEP_F(a, b, c, d, 12, 7, 0x6B901122);
        MD5_STEP_F(d, a, b, c, 13, 12, 0xFD987193);
        MD5_STEP_F(c, d, a, b, 14, 17, 0xA679438E);
        MD5_STEP_F(b, c, d, a, 15, 22, 0x49B40821);

        MD5_STEP_G(a, b, c, d, 1, 5, 0xF61E2562);
        MD5_STEP_G(d, a, b, c, 6, 9, 0xC040B340);
        MD5_STEP_G(c, d, a, b, 11, 14, 0x265E5A51);
        MD5_STEP_G(b, c, d, a, 0, 20, 0xE9B6C7AA);
        MD5_STEP_G(a, b, c, d, 5, 5, 0xD62F105D);
        MD5_STEP_G(d, a, b, c, 10, 9, 0x02441453);
        MD5_STEP_G(c, d, a, b, 15, 14, 0xD8A1E681);
        MD5_STEP_G(b, c, d, a, 4, 20, 0xE7D3FBC8);
        MD5_STEP_G(a, b, c, d, 9, 5, 0x21E1CDE6);
        MD5_STEP_G(d, a, b, c, 14, 9, 0xC33707D6);
        MD5_STEP_G(c, d, a, b, 3, 14, 0xF4D50D87);
        MD5_STEP_G(b, c, d, a, 8, 20, 0x455A14ED);
        MD5_STEP_G(a, b, c, d, 13, 5, 0xA9E3E905);
        MD5_STEP_G(d, a, b, c, 2, 9, 0xFCEFA3F8);
        MD5_STEP_G(c, d, a, b, 7, 14, 0x676F02D9);
        MD5_STEP_G(b, c, d, a, 12, 20, 0x8D2A4C8A);

        MD5_STEP_H(a, b, c, d, 5, 4, 0xFFFA3942);
        MD5_STEP_H(d, a, b, c, 8, 11, 0x8771F681);
        MD5_STEP_H(c, d, a, b, 11, 16, 0x6D9D6122);
        MD5_STEP_H(b, c, d, a, 14, 23, 0xFDE5380C);
        MD5_STEP_H(a, b, c, d, 1, 4, 0xA4BEEA44);
        MD5_STEP_H(d, a, b, c, 4, 11, 0x4BDECFA9);
        MD5_STEP_H(c, d, a, b, 7, 16, 0xF6BB4B60);
        MD5_STEP_H(b, c, d, a, 10, 23, 0xBEBFBC70);
        MD5_STEP_H(a, b, c, d, 13, 4, 0x289B7EC6);
        MD5_STEP_H(d, a, b, c, 0, 11, 0xEAA127FA);
        MD5_STEP_H(c, d, a, b, 3, 16, 0xD4EF3085);
        MD5_STEP_H(b, c, d, a, 6, 23, 0x04881D05);
        MD5_STEP_H(a, b, c, d, 9, 4, 0xD9D4D039);
        MD5_STEP_H(d, a, b, c, 12, 11, 0xE6DB99E5);
        MD5_STEP_H(c, d, a, b, 15, 16, 0x1FA27CF8);
        MD5_STEP_H(b, c, d, a, 2, 23, 0xC4AC5665);

        MD5_STEP_I(a, b, c, d, 0, 6, 0xF4292244);
        MD5_STEP_I(d, a, b, c, 7, 10, 0x432AFF97);
        MD5_STEP_I(c, d, a, b, 14, 15, 0xAB9423A7);
        MD5_STEP_I(b, c, d, a, 5, 21, 0xFC93A039);
        MD5_STEP_I(a, b, c, d, 12, 6, 0x655B59C3);
        MD5_STEP_I(d, a, b, c, 3, 10, 0x8F0CCC92);
        MD5_STEP_I(c, d, a, b, 10, 15, 0xFFEFF47D);
        MD5_STEP_I(b, c, d, a, 1, 21, 0x85845DD1);
        MD5_STEP_I(a, b, c, d, 8, 6, 0x6FA87E4F);
        MD5_STEP_I(d, a, b, c, 15, 10, 0xFE2CE6E0);
        MD5_STEP_I(c, d, a, b, 6, 15, 0xA3014314);
        MD5_STEP_I(b, c, d, a, 13, 21, 0x4E0811A1);
        MD5_STEP_I(a, b, c, d, 4, 6, 0xF7537E82);
        MD5_STEP_I(d, a, b, c, 11, 10, 0xBD3AF235);
        MD5_STEP_I(c, d, a, b, 2, 15, 0x2AD7D2BB);
        MD5_STEP_I(b, c, d, a, 9, 21, 0xEB86D391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }

    m_adwState[0] = a;
    m_adwState[1] = b;
    m_adwState[2] = c;
    m_adwState[3] = d;
}

#undef MD5_STEP_I
#undef MD5_STEP_H
#undef MD5_STEP_G
#undef MD5_STEP_F
#undef MD5_HOLD

CMd5::CMd5() noexcept : m_adwState(), m_qwLength(0), m_abBuffer()
{
    Init();
}

void CMd5::Init() noexcept
{
    m_adwState[0] = 0x67452301;
    m_adwState[1] = 0xEFCDAB89;
    m_adwState[2] = 0x98BADCFE;
    m_adwState[3] = 0x10325476;
    m_qwLength = 0;
}

void CMd5::Update(const void* data, size_t size) noexcept
{
    if (size == 0)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = size_t(m_qwLength & 63);
    m_qwLength += size;

    if (used != 0) {
        size_t take = 64 - used;
        if (size < take) {
            std::memcpy(m_abBuffer + used, p, size);
            return;
        }
        std::memcpy(m_abBuffer + used, p, take);
        Transform(m_abBuffer, 1);
        p += take;
        size -= take;
    }
    Transform(p, size / 64);
    p += size & ~size_t(63);
    size &= 63;
    if (size != 0)
        std::memcpy(m_abBuffer, p, size);
}

void CMd5::Final(uint8_t* digest) noexcept
{
    const uint64_t bits = m_qwLength << 3;
    size_t used = size_t(m_qwLength & 63);
    m_abBuffer[used++] = 0x80;
    if (used > 56) {
        std::memset(m_abBuffer + used, 0, 64 - used);
        Transform(m_abBuffer, 1);
        used = 0;
    }
    std::memset(m_abBuffer + used, 0, 56 - used);
    StoreLe32(m_abBuffer + 56, uint32_t(bits));
    StoreLe32(m_abBuffer + 60, uint32_t(bits >> 32));
    Transform(m_abBuffer, 1);
    for (int i = 0; i < 4; ++i)
        StoreLe32(digest + 4 * i, m_adwState[i]);
}

} // namespace InstallToolBox
