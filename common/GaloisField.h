// Arithmetic in GF(2^8) for S-boxes computed at compile time: the product
// modulo an irreducible polynomial of degree 8 (with its x^8 term: 0x11b for
// x^8 + x^4 + x^3 + x + 1), and powers by square and multiply.
#pragma once

#include <cstdint>

namespace gf256 {

template <unsigned kPolynomial>
constexpr uint8_t Multiply(uint8_t a, uint8_t b)
{
    unsigned x = a, r = 0;
    while (b != 0) {
        if (b & 1)
            r ^= x;
        x <<= 1;
        if (x & 0x100)
            x ^= kPolynomial;
        b >>= 1;
    }
    return static_cast<uint8_t>(r);
}

template <unsigned kPolynomial>
constexpr uint8_t Power(uint8_t a, int e)
{
    uint8_t r = 1;
    for (; e != 0; e >>= 1, a = Multiply<kPolynomial>(a, a))
        if (e & 1)
            r = Multiply<kPolynomial>(r, a);
    return r;
}

}  // namespace gf256
