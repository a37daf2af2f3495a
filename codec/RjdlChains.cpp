// The block cipher in the 32-bit table form and the mode loops around it.
// Each column is one 32-bit word (little-endian, see RjdlTables.h); a full
// round costs four table lookups and XORs per column, the round keys are
// read as words, and nothing here allocates.
#include "codec/RjdlChains.h"

#include "codec/RjdlTables.h"

#include <bit>
#include <cstring>

namespace rjdl {
namespace {

constexpr uint32_t SwapBytes(uint32_t w)
{
    return (w >> 24) | ((w >> 8) & 0x0000ff00u) | ((w << 8) & 0x00ff0000u) | (w << 24);
}

inline uint32_t Load(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        w = SwapBytes(w);
    return w;
}

inline void Store(uint8_t* p, uint32_t w)
{
    if constexpr (std::endian::native == std::endian::big)
        w = SwapBytes(w);
    std::memcpy(p, &w, 4);
}

// The four columns of one block.
struct Words {
    uint32_t c0, c1, c2, c3;
};

inline Words LoadBlock(const uint8_t* p)
{
    return {Load(p), Load(p + 4), Load(p + 8), Load(p + 12)};
}

inline void StoreBlock(uint8_t* p, const Words& b)
{
    Store(p, b.c0);
    Store(p + 4, b.c1);
    Store(p + 8, b.c2);
    Store(p + 12, b.c3);
}

inline Words Xor(const Words& a, const Words& b)
{
    return {a.c0 ^ b.c0, a.c1 ^ b.c1, a.c2 ^ b.c2, a.c3 ^ b.c3};
}

inline uint32_t B0(uint32_t w) { return w & 0xff; }
inline uint32_t B1(uint32_t w) { return (w >> 8) & 0xff; }
inline uint32_t B2(uint32_t w) { return (w >> 16) & 0xff; }
inline uint32_t B3(uint32_t w) { return w >> 24; }

// FIPS-197 cipher: round key 0, rounds - 1 table rounds (SubBytes, ShiftRows
// and MixColumns together), a last round of plain S-box values.
inline Words Encipher(const uint8_t* roundKeys, int rounds, Words s)
{
    const auto& te = kRjdlTables.enc;
    const uint8_t* sbox = kRjdlTables.sbox;
    const uint8_t* rk = roundKeys;
    s = Xor(s, LoadBlock(rk));
    for (int r = 1; r < rounds; ++r) {
        rk += 16;
        Words t;
        t.c0 = te[0][B0(s.c0)] ^ te[1][B1(s.c1)] ^ te[2][B2(s.c2)] ^ te[3][B3(s.c3)] ^ Load(rk);
        t.c1 = te[0][B0(s.c1)] ^ te[1][B1(s.c2)] ^ te[2][B2(s.c3)] ^ te[3][B3(s.c0)] ^ Load(rk + 4);
        t.c2 = te[0][B0(s.c2)] ^ te[1][B1(s.c3)] ^ te[2][B2(s.c0)] ^ te[3][B3(s.c1)] ^ Load(rk + 8);
        t.c3 = te[0][B0(s.c3)] ^ te[1][B1(s.c0)] ^ te[2][B2(s.c1)] ^ te[3][B3(s.c2)] ^ Load(rk + 12);
        s = t;
    }
    rk += 16;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t{sbox[B0(a)]} | (uint32_t{sbox[B1(b)]} << 8) | (uint32_t{sbox[B2(c)]} << 16) |
               (uint32_t{sbox[B3(d)]} << 24);
    };
    Words o{last(s.c0, s.c1, s.c2, s.c3), last(s.c1, s.c2, s.c3, s.c0), last(s.c2, s.c3, s.c0, s.c1),
            last(s.c3, s.c0, s.c1, s.c2)};
    return Xor(o, LoadBlock(rk));
}

// Equivalent inverse cipher (FIPS-197 5.3.5): the round keys run from the
// last down to 0, the middle ones already in InvMixColumns form.
inline Words Decipher(const uint8_t* roundKeys, int rounds, Words s)
{
    const auto& td = kRjdlTables.dec;
    const uint8_t* inv = kRjdlTables.invSbox;
    const uint8_t* rk = roundKeys + 16 * rounds;
    s = Xor(s, LoadBlock(rk));
    for (int r = 1; r < rounds; ++r) {
        rk -= 16;
        Words t;
        t.c0 = td[0][B0(s.c0)] ^ td[1][B1(s.c3)] ^ td[2][B2(s.c2)] ^ td[3][B3(s.c1)] ^ Load(rk);
        t.c1 = td[0][B0(s.c1)] ^ td[1][B1(s.c0)] ^ td[2][B2(s.c3)] ^ td[3][B3(s.c2)] ^ Load(rk + 4);
        t.c2 = td[0][B0(s.c2)] ^ td[1][B1(s.c1)] ^ td[2][B2(s.c0)] ^ td[3][B3(s.c3)] ^ Load(rk + 8);
        t.c3 = td[0][B0(s.c3)] ^ td[1][B1(s.c2)] ^ td[2][B2(s.c1)] ^ td[3][B3(s.c0)] ^ Load(rk + 12);
        s = t;
    }
    rk -= 16;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return uint32_t{inv[B0(a)]} | (uint32_t{inv[B1(b)]} << 8) | (uint32_t{inv[B2(c)]} << 16) |
               (uint32_t{inv[B3(d)]} << 24);
    };
    Words o{last(s.c0, s.c3, s.c2, s.c1), last(s.c1, s.c0, s.c3, s.c2), last(s.c2, s.c1, s.c0, s.c3),
            last(s.c3, s.c2, s.c1, s.c0)};
    return Xor(o, LoadBlock(rk));
}

inline uint8_t XTime(uint8_t a)
{
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0x00));
}

// Round keys of the forward cipher for a state set up for decryption: the
// middle round keys go back through MixColumns, the inverse of the
// conversion made at initialisation.
void ForwardRoundKeys(const RjdlState& state, uint8_t out[15][16])
{
    std::memcpy(out, state.roundKeys, sizeof(state.roundKeys));
    if (state.direction != RJDL_DIR_DECRYPT)
        return;
    for (int r = 1; r < state.rounds; ++r) {
        for (int c = 0; c < 16; c += 4) {
            uint8_t* b = &out[r][c];
            uint8_t a0 = b[0], a1 = b[1], a2 = b[2], a3 = b[3];
            uint8_t all = a0 ^ a1 ^ a2 ^ a3;
            b[0] = static_cast<uint8_t>(a0 ^ all ^ XTime(a0 ^ a1));
            b[1] = static_cast<uint8_t>(a1 ^ all ^ XTime(a1 ^ a2));
            b[2] = static_cast<uint8_t>(a2 ^ all ^ XTime(a2 ^ a3));
            b[3] = static_cast<uint8_t>(a3 ^ all ^ XTime(a3 ^ a0));
        }
    }
}

// 1-bit CFB, bit by bit: out bit = in bit ^ top bit of E(register), and the
// ciphertext bit is shifted into the register.
void Cfb1(const uint8_t* roundKeys, int rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    Words reg = LoadBlock(chain);
    for (size_t i = 0; i < blocks * 16; ++i) {
        uint8_t inByte = in[i];
        uint8_t outByte = 0;
        for (int bit = 7; bit >= 0; --bit) {
            uint8_t keystream = static_cast<uint8_t>(B0(Encipher(roundKeys, rounds, reg).c0) >> 7);
            uint8_t inBit = (inByte >> bit) & 1;
            uint8_t outBit = inBit ^ keystream;
            outByte = static_cast<uint8_t>(outByte | (outBit << bit));
            uint8_t cipherBit = decrypt ? inBit : outBit;
            // Shift the 128-bit register (byte 0 first, most significant bit
            // first) left by one and append the ciphertext bit.
            uint8_t bytes[16];
            StoreBlock(bytes, reg);
            for (int k = 0; k < 15; ++k)
                bytes[k] = static_cast<uint8_t>((bytes[k] << 1) | (bytes[k + 1] >> 7));
            bytes[15] = static_cast<uint8_t>((bytes[15] << 1) | cipherBit);
            reg = LoadBlock(bytes);
        }
        out[i] = outByte;
    }
    StoreBlock(chain, reg);
}

}  // namespace

void EncryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16])
{
    StoreBlock(out, Encipher(&state.roundKeys[0][0], state.rounds, LoadBlock(in)));
}

void DecryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16])
{
    StoreBlock(out, Decipher(&state.roundKeys[0][0], state.rounds, LoadBlock(in)));
}

void EncryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint8_t* rk = &state.roundKeys[0][0];
    const int rounds = state.rounds;
    for (size_t i = 0; i < blocks; ++i, in += 16, out += 16)
        StoreBlock(out, Encipher(rk, rounds, LoadBlock(in)));
}

void DecryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint8_t* rk = &state.roundKeys[0][0];
    const int rounds = state.rounds;
    for (size_t i = 0; i < blocks; ++i, in += 16, out += 16)
        StoreBlock(out, Decipher(rk, rounds, LoadBlock(in)));
}

void EncryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint8_t* rk = &state.roundKeys[0][0];
    const int rounds = state.rounds;
    Words c = LoadBlock(chain);
    for (size_t i = 0; i < blocks; ++i, in += 16, out += 16) {
        c = Encipher(rk, rounds, Xor(LoadBlock(in), c));
        StoreBlock(out, c);
    }
    StoreBlock(chain, c);
}

void DecryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const uint8_t* rk = &state.roundKeys[0][0];
    const int rounds = state.rounds;
    Words c = LoadBlock(chain);
    for (size_t i = 0; i < blocks; ++i, in += 16, out += 16) {
        // The ciphertext block is held before the output is written, so the
        // output may be the input.
        Words x = LoadBlock(in);
        StoreBlock(out, Xor(Decipher(rk, rounds, x), c));
        c = x;
    }
    StoreBlock(chain, c);
}

void EncryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    Cfb1(&state.roundKeys[0][0], state.rounds, chain, in, out, blocks, false);
}

void DecryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    uint8_t forward[15][16];
    ForwardRoundKeys(state, forward);
    Cfb1(&forward[0][0], state.rounds, chain, in, out, blocks, true);
}

}  // namespace rjdl
