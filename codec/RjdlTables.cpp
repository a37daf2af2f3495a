// The engine's constant tables, built by constexpr code from the field
// definitions instead of typed-in numbers, and placed in read-only data.
#include "codec/RjdlTables.h"

namespace {

constexpr uint8_t XTime(uint8_t a)
{
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0x00));
}

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t Mul(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b != 0) {
        if (b & 1)
            product ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return product;
}

constexpr uint8_t Inverse(uint8_t a)
{
    if (a == 0)
        return 0;
    // a^254 = a^-1 in GF(2^8).
    uint8_t result = 1;
    uint8_t base = a;
    for (int e = 254; e != 0; e >>= 1) {
        if (e & 1)
            result = Mul(result, base);
        base = Mul(base, base);
    }
    return result;
}

constexpr uint8_t Rotl8(uint8_t x, int n)
{
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr uint8_t SubByte(uint8_t x)
{
    uint8_t b = Inverse(x);
    return static_cast<uint8_t>(b ^ Rotl8(b, 1) ^ Rotl8(b, 2) ^ Rotl8(b, 3) ^ Rotl8(b, 4) ^ 0x63);
}

constexpr uint32_t Column(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return uint32_t{b0} | (uint32_t{b1} << 8) | (uint32_t{b2} << 16) | (uint32_t{b3} << 24);
}

constexpr uint32_t RotateBytes(uint32_t w, int k)
{
    return k == 0 ? w : (w << (8 * k)) | (w >> (32 - 8 * k));
}

constexpr RjdlTableSet BuildTables()
{
    RjdlTableSet t{};
    for (int x = 0; x < 256; ++x) {
        uint8_t s = SubByte(static_cast<uint8_t>(x));
        t.sbox[x] = s;
        t.invSbox[s] = static_cast<uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
        uint8_t s = t.sbox[x];
        uint8_t i = t.invSbox[x];
        uint8_t b = static_cast<uint8_t>(x);
        uint32_t e = Column(Mul(s, 2), s, s, Mul(s, 3));
        uint32_t d = Column(Mul(i, 14), Mul(i, 9), Mul(i, 13), Mul(i, 11));
        uint32_t k = Column(Mul(b, 14), Mul(b, 9), Mul(b, 13), Mul(b, 11));
        for (int r = 0; r < 4; ++r) {
            t.enc[r][x] = RotateBytes(e, r);
            t.dec[r][x] = RotateBytes(d, r);
            t.keyDec[r][x] = RotateBytes(k, r);
        }
    }
    uint8_t rc = 1;
    for (int r = 0; r < 10; ++r) {
        t.rcon[r] = rc;
        rc = XTime(rc);
    }
    return t;
}

}  // namespace

constinit const RjdlTableSet kRjdlTables = BuildTables();

// Spot checks against FIPS-197 (S-box figure 7, inverse S-box figure 14).
static_assert(BuildTables().sbox[0x00] == 0x63 && BuildTables().sbox[0x53] == 0xed &&
              BuildTables().sbox[0xff] == 0x16);
static_assert(BuildTables().invSbox[0x63] == 0x00 && BuildTables().invSbox[0x00] == 0x52);
static_assert(BuildTables().rcon[8] == 0x1b && BuildTables().rcon[9] == 0x36);
