// The Rijndael engines on 128-bit AES instructions, one block a register:
// AES-NI (RjdlAesNi.cpp) and the ARMv8 Crypto Extensions (RjdlArmCe.cpp).
// The modes, the key schedule and 1-bit CFB are written here once over an
// instruction-set struct A. Each engine file defines RJDL_AES_TARGET (the
// target attribute its instructions need, or nothing where the build enables
// them for the whole file), includes this header and makes its EngineOps with
// MakeOps<A>. Everything here has internal linkage, so each file gets its own
// copy, built for its own target. Same bytes as the table form and constant
// time: no lookups or branches on secret data.
//
// The struct A has
//   Block; Load, Store, Xor;
//   EncipherN<R, N>(k, b): the whole cipher on N blocks;
//   DecipherToLastN<R, N>(k, b): the equivalent inverse cipher without its
//   last key addition, which DecipherLast(b, key) makes with round key 0 (for
//   CBC merged with the previous ciphertext block);
//   SubWord (the S-box on each byte of a word), InvMixColumns (of a round key);
//   Register(hi, lo) and TopBit (see Cfb1Run);
//   CbcEncrypt<R>(state, chain, in, out, blocks): one chain, serial.
#pragma once

#include "codec/RjdlEngine.h"

#include <algorithm>
#include <cstring>

#if !defined(RJDL_AES_TARGET)
#error "define RJDL_AES_TARGET before including RjdlBlockEngine.h"
#endif

namespace rjdl {
namespace aes {
namespace {

constexpr int kWide = 8;  // independent blocks through the rounds together

template <class A, int R>
struct Keys {
    typename A::Block k[R + 1];
};

template <class A, int R>
RJDL_AES_TARGET inline Keys<A, R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<A, R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = A::Load(roundKeys[r]);
    return keys;
}

// ---- Key schedule -----------------------------------------------------------

constexpr uint32_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

// The FIPS-197 expansion over little-endian words, as RjdlKeySchedule does.
template <class A>
RJDL_AES_TARGET void ExpandKey(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
{
    if (rounds != 10 && rounds != 12 && rounds != 14)
        return;
    const int keyWords = rounds - 6;
    const int totalWords = 4 * (rounds + 1);
    uint32_t w[60];
    std::memcpy(w, key, 4 * static_cast<size_t>(keyWords));
    for (int i = keyWords; i < totalWords; ++i) {
        uint32_t temp = w[i - 1];
        if (i % keyWords == 0)
            temp = A::SubWord((temp >> 8) | (temp << 24)) ^ kRoundConstants[i / keyWords - 1];
        else if (keyWords > 6 && i % keyWords == 4)
            temp = A::SubWord(temp);
        w[i] = w[i - keyWords] ^ temp;
    }
    std::memcpy(roundKeys, w, 4 * static_cast<size_t>(totalWords));
}

// InvMixColumns of the middle round keys, as RjdlKeyEncToDec does.
template <class A>
RJDL_AES_TARGET void KeyToDecrypt(uint8_t roundKeys[15][16], int32_t rounds)
{
    for (int r = 1; r < rounds && r < 15; ++r)
        A::Store(roundKeys[r], A::InvMixColumns(A::Load(roundKeys[r])));
}

// ---- Modes ------------------------------------------------------------------

// N consecutive blocks in ECB.
template <class A, int R, int N, bool Decrypt>
RJDL_AES_TARGET inline void EcbN(const Keys<A, R>& k, const uint8_t* in, uint8_t* out)
{
    typename A::Block b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = A::Load(in + 16 * j);
    if constexpr (Decrypt) {
        A::template DecipherToLastN<R, N>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = A::DecipherLast(b[j], k.k[0]);
    } else {
        A::template EncipherN<R, N>(k, b);
    }
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        A::Store(out + 16 * j, b[j]);
}

template <class A, int R, bool Decrypt>
RJDL_AES_TARGET void EcbBlocks(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<A, R> k = LoadKeys<A, R>(s.roundKeys);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide)
        EcbN<A, R, kWide, Decrypt>(k, in + 16 * i, out + 16 * i);
    for (; i < blocks; ++i)
        EcbN<A, R, 1, Decrypt>(k, in + 16 * i, out + 16 * i);
}

// Each block's last round key is round key 0 merged with the previous
// ciphertext block, which is held in a register: the output may be the input.
// Returns the last ciphertext block.
template <class A, int R>
RJDL_AES_TARGET typename A::Block CbcDecryptRun(const Keys<A, R>& k, typename A::Block prev, const uint8_t* in,
                                                uint8_t* out, size_t blocks)
{
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        typename A::Block c[kWide], b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = c[j] = A::Load(in + 16 * (i + j));
        A::template DecipherToLastN<R, kWide>(k, b);
        b[0] = A::DecipherLast(b[0], A::Xor(k.k[0], prev));
        RJDL_UNROLL
        for (int j = 1; j < kWide; ++j)
            b[j] = A::DecipherLast(b[j], A::Xor(k.k[0], c[j - 1]));
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            A::Store(out + 16 * (i + j), b[j]);
        prev = c[kWide - 1];
    }
    for (; i < blocks; ++i) {
        const typename A::Block c = A::Load(in + 16 * i);
        typename A::Block b = c;
        A::template DecipherToLastN<R, 1>(k, &b);
        A::Store(out + 16 * i, A::DecipherLast(b, A::Xor(k.k[0], prev)));
        prev = c;
    }
    return prev;
}

template <class A, int R>
RJDL_AES_TARGET void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                size_t blocks)
{
    const Keys<A, R> k = LoadKeys<A, R>(s.roundKeys);
    A::Store(chain, CbcDecryptRun<A, R>(k, A::Load(chain), in, out, blocks));
}

// N chains of `blocks` blocks, `stride` bytes apart, side by side.
template <class A, int R, int N>
RJDL_AES_TARGET void ChainsEncryptN(const Keys<A, R>& k, typename A::Block iv, const uint8_t* in, uint8_t* out,
                                    size_t stride, size_t blocks, const NextGroupPrefetch& next)
{
    typename A::Block c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    for (size_t i = 0; i < blocks; ++i) {
        next.Step(i);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            c[j] = A::Xor(c[j], A::Load(in + j * stride + 16 * i));
        A::template EncipherN<R, N>(k, c);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            A::Store(out + j * stride + 16 * i, c[j]);
    }
}

template <class A, int R>
RJDL_AES_TARGET void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains,
                                   size_t blocks)
{
    const Keys<A, R> k = LoadKeys<A, R>(s.roundKeys);
    const typename A::Block iv = A::Load(s.iv);
    const size_t stride = 16 * blocks;
    // The next `group` chains after chain j, or as many as are left.
    auto next = [&](size_t j, size_t group) {
        const size_t from = std::min(chains, j + group), to = std::min(chains, j + 2 * group);
        return NextGroupPrefetch(in + from * stride, out + from * stride, (to - from) * stride, blocks);
    };
    size_t j = 0;
    for (; j + kWide <= chains; j += kWide)
        ChainsEncryptN<A, R, kWide>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, kWide));
    if (j + 4 <= chains) {
        ChainsEncryptN<A, R, 4>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 4));
        j += 4;
    }
    if (j + 2 <= chains) {
        ChainsEncryptN<A, R, 2>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 2));
        j += 2;
    }
    if (j < chains)
        ChainsEncryptN<A, R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 1));
}

template <class A, int R>
RJDL_AES_TARGET void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains,
                                   size_t blocks)
{
    const Keys<A, R> k = LoadKeys<A, R>(s.roundKeys);
    const typename A::Block iv = A::Load(s.iv);
    const size_t stride = 16 * blocks;
    // No streaming stores (kStreamBytes) here: one block a register keeps
    // these engines below what memory carries, and 16-byte streamed stores
    // measured slower than ordinary ones for large bodies.
    for (size_t j = 0; j < chains; ++j) {
        PrefetchAhead(in, j * stride, stride, chains * stride);
        CbcDecryptRun<A, R>(k, iv, in + j * stride, out + j * stride, blocks);
    }
}

// 1-bit CFB. The register is kept as two big-endian halves, so shifting in a
// bit is two shifts; A::Register makes a block of them and A::TopBit reads
// the leading bit (bit 7 of byte 0) of an enciphered one. Encryption feeds
// each ciphertext bit back before the next, one block cipher call per bit; in
// decryption the eight registers of a byte are known from the ciphertext, so
// they go through the rounds together.
inline uint64_t LoadBig64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return SwapBytes64(v);
}

inline void StoreBig64(uint8_t* p, uint64_t v)
{
    v = SwapBytes64(v);
    std::memcpy(p, &v, 8);
}

template <class A, int R, bool Decrypt>
RJDL_AES_TARGET void Cfb1Run(const uint8_t (*keys)[16], uint8_t chain[16], const uint8_t* in, uint8_t* out,
                             size_t blocks)
{
    const Keys<A, R> k = LoadKeys<A, R>(keys);
    uint64_t hi = LoadBig64(chain), lo = LoadBig64(chain + 8);
    for (size_t i = 0; i < 16 * blocks; ++i) {
        const unsigned inByte = in[i];
        unsigned outByte = 0;
        if constexpr (Decrypt) {
            typename A::Block b[8];
            b[0] = A::Register(hi, lo);
            RJDL_UNROLL
            for (int bit = 1; bit < 8; ++bit)
                b[bit] = A::Register((hi << bit) | (lo >> (64 - bit)), (lo << bit) | (inByte >> (8 - bit)));
            A::template EncipherN<R, 8>(k, b);
            RJDL_UNROLL
            for (int bit = 0; bit < 8; ++bit)
                outByte |= A::TopBit(b[bit]) << (7 - bit);
            outByte ^= inByte;
            hi = (hi << 8) | (lo >> 56);
            lo = (lo << 8) | inByte;
        } else {
            RJDL_UNROLL
            for (int bit = 7; bit >= 0; --bit) {
                typename A::Block b = A::Register(hi, lo);
                A::template EncipherN<R, 1>(k, &b);
                const unsigned outBit = ((inByte >> bit) & 1u) ^ A::TopBit(b);
                outByte |= outBit << bit;
                hi = (hi << 1) | (lo >> 63);
                lo = (lo << 1) | outBit;
            }
        }
        out[i] = static_cast<uint8_t>(outByte);
    }
    StoreBig64(chain, hi);
    StoreBig64(chain + 8, lo);
}

// ---- Entry points (plain functions: the templates behind them carry the
// target attribute) -----------------------------------------------------------

template <class A, bool Decrypt>
void Ecb(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { EcbBlocks<A, decltype(r)::value, Decrypt>(s, in, out, blocks); });
}

template <class A>
void EncryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { A::template CbcEncrypt<decltype(r)::value>(s, chain, in, out, blocks); });
}

template <class A>
void DecryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { CbcDecrypt<A, decltype(r)::value>(s, chain, in, out, blocks); });
}

template <class A>
void Cfb1(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    WithRounds(rounds, [&](auto r) {
        if (decrypt)
            Cfb1Run<A, decltype(r)::value, true>(keys, chain, in, out, blocks);
        else
            Cfb1Run<A, decltype(r)::value, false>(keys, chain, in, out, blocks);
    });
}

template <class A>
void EncryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsEncrypt<A, decltype(r)::value>(s, in, out, chains, blocks); });
}

template <class A>
void DecryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsDecrypt<A, decltype(r)::value>(s, in, out, chains, blocks); });
}

template <class A>
constexpr EngineOps MakeOps()
{
    return {ExpandKey<A>,     KeyToDecrypt<A>, Ecb<A, false>,       Ecb<A, true>,       EncryptCbc<A>,
            DecryptCbc<A>,    Cfb1<A>,         EncryptCbcChains<A>, DecryptCbcChains<A>};
}

}  // namespace
}  // namespace aes
}  // namespace rjdl
