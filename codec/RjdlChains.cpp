// The block cipher in the 32-bit table form and the mode loops around it: the
// reference engine (kTableOps). Each column is one 32-bit word (little-endian,
// see RjdlTables.h); a full round costs four table lookups and XORs per
// column, the round keys are read as words, and nothing here allocates. The
// lookups are indexed by key and data bytes, so the time they take can depend
// on those through the processor's caches: the processor engines, which run
// in constant time, are preferred wherever they exist (RjdlEngine.h).
// Below the table routines sit the engine's entry points, which run the
// routines of the engine recorded in the state.
#include "codec/RjdlChains.h"

#include "codec/RjdlEngine.h"
#include "codec/RjdlTables.h"

#include <bit>
#include <cstring>

namespace rjdl {
namespace table {
namespace {

// Used on big-endian hosts only.
[[maybe_unused]] constexpr uint32_t SwapBytes(uint32_t w)
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

// 1-bit CFB, bit by bit: out bit = in bit ^ top bit of E(register), and the
// ciphertext bit is shifted into the register.
void Cfb1(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    const uint8_t* roundKeys = &keys[0][0];
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

// The table form has no parallelism to gain from several chains: one after
// the other.
void EncryptCbcChains(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    for (size_t j = 0; j < chains; ++j, in += 16 * blocks, out += 16 * blocks) {
        uint8_t chain[16];
        std::memcpy(chain, state.iv, sizeof(chain));
        EncryptCbc(state, chain, in, out, blocks);
    }
}

void DecryptCbcChains(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    for (size_t j = 0; j < chains; ++j, in += 16 * blocks, out += 16 * blocks) {
        uint8_t chain[16];
        std::memcpy(chain, state.iv, sizeof(chain));
        DecryptCbc(state, chain, in, out, blocks);
    }
}

}  // namespace
}  // namespace table

const EngineOps kTableOps = {RjdlKeySchedule,   RjdlKeyEncToDec,   table::EncryptEcb,
                             table::DecryptEcb, table::EncryptCbc, table::DecryptCbc,
                             table::Cfb1,       table::EncryptCbcChains, table::DecryptCbcChains};

// ---- The engine's entry points: the routines of the state's engine ---------

namespace {

const EngineOps& Ops(const RjdlState& state)
{
    return OpsOf(static_cast<Engine>(state.engine));
}

// 1-bit CFB runs the forward cipher: a decrypt state keeps its forward keys aside.
const uint8_t (*ForwardKeys(const RjdlState& state))[16]
{
    return state.direction == RJDL_DIR_DECRYPT ? state.forwardKeys : state.roundKeys;
}

}  // namespace

void EncryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16])
{
    Ops(state).encryptEcb(state, in, out, 1);
}

void DecryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16])
{
    Ops(state).decryptEcb(state, in, out, 1);
}

void EncryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).encryptEcb(state, in, out, blocks);
}

void DecryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).decryptEcb(state, in, out, blocks);
}

void EncryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).encryptCbc(state, chain, in, out, blocks);
}

void DecryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).decryptCbc(state, chain, in, out, blocks);
}

void EncryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).cfb1(ForwardKeys(state), state.rounds, chain, in, out, blocks, false);
}

void DecryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    Ops(state).cfb1(ForwardKeys(state), state.rounds, chain, in, out, blocks, true);
}

void EncryptCbcSegments(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t segments,
                        size_t blocksPerSegment)
{
    if (segments != 0 && blocksPerSegment != 0)
        Ops(state).encryptCbcChains(state, in, out, segments, blocksPerSegment);
}

void DecryptCbcSegments(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t segments,
                        size_t blocksPerSegment)
{
    if (segments != 0 && blocksPerSegment != 0)
        Ops(state).decryptCbcChains(state, in, out, segments, blocksPerSegment);
}

}  // namespace rjdl
