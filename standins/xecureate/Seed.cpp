#include "Seed.h"

#include "GaloisField.h"

#include <array>

namespace seed {
namespace {

// The field modulo x^8 + x^6 + x^5 + x + 1.
constexpr uint8_t Power(uint8_t a, int e)
{
    return gf256::Power<0x163>(a, e);
}

// Bit i of the result is the parity of rows[i] & v.
constexpr uint8_t Affine(const std::array<uint8_t, 8>& rows, uint8_t v, uint8_t constant)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        uint8_t bits = rows[i] & v;
        bits ^= bits >> 4;
        bits ^= bits >> 2;
        bits ^= bits >> 1;
        r |= static_cast<uint8_t>((bits & 1) << i);
    }
    return r ^ constant;
}

// S1(x) = A1 * x^247 + 169 and S2(x) = A2 * x^251 + 56.
constexpr std::array<uint8_t, 8> kA1 = {0x14, 0x88, 0x21, 0x45, 0x42, 0x85, 0xfe, 0x8a};
constexpr std::array<uint8_t, 8> kA2 = {0x14, 0x42, 0x88, 0x8a, 0x21, 0xfe, 0x85, 0x45};

constexpr std::array<uint8_t, 256> MakeSBox(const std::array<uint8_t, 8>& rows, int exponent, uint8_t constant)
{
    std::array<uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x)
        box[x] = Affine(rows, Power(static_cast<uint8_t>(x), exponent), constant);
    return box;
}

constexpr auto kS1 = MakeSBox(kA1, 247, 169);
constexpr auto kS2 = MakeSBox(kA2, 251, 56);

// The four 32-bit boxes of the G function: each byte of the S-box value
// masked with m0..m3, placed in the order given per box (most significant first).
constexpr uint8_t kM[4] = {0xfc, 0xf3, 0xcf, 0x3f};

constexpr std::array<uint32_t, 256> MakeSS(const std::array<uint8_t, 256>& s, int m3, int m2, int m1, int m0)
{
    std::array<uint32_t, 256> box{};
    for (int x = 0; x < 256; ++x)
        box[x] = (uint32_t{static_cast<uint8_t>(s[x] & kM[m3])} << 24) |
                 (uint32_t{static_cast<uint8_t>(s[x] & kM[m2])} << 16) |
                 (uint32_t{static_cast<uint8_t>(s[x] & kM[m1])} << 8) | static_cast<uint8_t>(s[x] & kM[m0]);
    return box;
}

constexpr auto kSS0 = MakeSS(kS1, 3, 2, 1, 0);
constexpr auto kSS1 = MakeSS(kS2, 0, 3, 2, 1);
constexpr auto kSS2 = MakeSS(kS1, 1, 0, 3, 2);
constexpr auto kSS3 = MakeSS(kS2, 2, 1, 0, 3);

// The published first entries of the boxes.
static_assert(kSS0[0] == 0x2989a1a8 && kSS0[1] == 0x05858184 && kSS0[10] == 0x18081018);
static_assert(kSS1[0] == 0x38380830 && kSS1[1] == 0xe828c8e0 && kSS1[10] == 0x54154551);

constexpr uint32_t G(uint32_t x)
{
    return kSS0[x & 0xff] ^ kSS1[(x >> 8) & 0xff] ^ kSS2[(x >> 16) & 0xff] ^ kSS3[x >> 24];
}

constexpr uint32_t RotateLeft(uint32_t x, int n) { return n == 0 ? x : (x << n) | (x >> (32 - n)); }

uint32_t Load(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void Store(uint32_t v, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Round function on the right half (c, d) with round key k.
inline void F(uint32_t c, uint32_t d, const uint32_t k[2], uint32_t& outC, uint32_t& outD)
{
    c ^= k[0];
    d ^= k[1];
    uint32_t t0 = G(c ^ d);
    uint32_t t1 = G(t0 + c);
    uint32_t t2 = G(t1 + t0);
    outD = t2;
    outC = t2 + t1;
}

void Rounds(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize], bool decrypt)
{
    uint32_t l0 = Load(in), l1 = Load(in + 4), r0 = Load(in + 8), r1 = Load(in + 12);
    for (int i = 0; i < 16; ++i) {
        const uint32_t* k = schedule.round[decrypt ? 15 - i : i];
        uint32_t f0, f1;
        F(r0, r1, k, f0, f1);
        uint32_t n0 = l0 ^ f0, n1 = l1 ^ f1;
        l0 = r0;
        l1 = r1;
        r0 = n0;
        r1 = n1;
    }
    // The last round does not swap the halves.
    Store(r0, out);
    Store(r1, out + 4);
    Store(l0, out + 8);
    Store(l1, out + 12);
}

}  // namespace

void ExpandKey(const uint8_t key[kKeySize], KeySchedule& schedule)
{
    uint32_t a = Load(key), b = Load(key + 4), c = Load(key + 8), d = Load(key + 12);
    for (int i = 0; i < 16; ++i) {
        uint32_t kc = RotateLeft(0x9e3779b9u, i);
        schedule.round[i][0] = G(a + c - kc);
        schedule.round[i][1] = G(b - d + kc);
        if (i % 2 == 0) {  // A||B rotated right by 8 bits
            uint32_t t = a;
            a = (a >> 8) | (b << 24);
            b = (b >> 8) | (t << 24);
        } else {  // C||D rotated left by 8 bits
            uint32_t t = c;
            c = (c << 8) | (d >> 24);
            d = (d << 8) | (t >> 24);
        }
    }
}

void EncryptBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize])
{
    Rounds(schedule, in, out, false);
}

void DecryptBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize])
{
    Rounds(schedule, in, out, true);
}

}  // namespace seed
