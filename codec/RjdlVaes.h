// The Rijndael engine on VAES, written once over the vector width: one
// instruction runs a round on every block of a vector. RjdlVaes256.cpp (two
// blocks a vector) and RjdlVaes512.cpp (four) each define RJDL_VAES_TARGET,
// the target attribute of their instructions, include this file and make
// their EngineOps with MakeOps over a width struct holding the intrinsics.
// Only functions marked RJDL_VAES_TARGET use those instructions, so the
// program still runs where they are missing: the engine is chosen at run time
// (RjdlEngine.cpp). Everything here has internal linkage, so each file gets
// its own copy compiled for its own target.
//
// Constant time like the AES-NI engine, whose routines serve here for what
// vectors do not speed up (single-chain CBC encryption, 1-bit CFB, the key
// schedule) and for the last few blocks. Independent CBC chains (the segments
// of a document) go one to a lane, kChainVectors vectors side by side; ECB and
// CBC decryption take kVectors vectors of consecutive blocks at a time.
//
// A width struct W has
//   Vec, kLanes (blocks a vector), kVectors, kChainVectors;
//   Load, Store, Stream (a whole vector; Stream bypasses the caches);
//   Broadcast (one block into every lane), TopLane (the last lane's block),
//   SetLane(v, lane, block) (v with one lane replaced);
//   Xor, Xor3, AesEnc, AesEncLast, AesDec, AesDecLast;
//   Before(previous, v): each lane's preceding block, lane 0 taking the top
//   lane of `previous`;
//   Gather(p, stride) / Scatter(q, stride, v): one block of each of kLanes
//   chains `stride` bytes apart, chain m in lane m;
//   kWholeLines, and where it is set ChainsLines (see ChainsEncryptN).
#pragma once

#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#include <immintrin.h>

#include <algorithm>

#if !defined(RJDL_VAES_TARGET)
#error "define RJDL_VAES_TARGET before including RjdlVaes.h"
#endif

namespace rjdl {
namespace vaes {
namespace {

RJDL_VAES_TARGET inline __m128i LoadU(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

RJDL_VAES_TARGET inline void StoreU(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <class W, int R>
struct Keys {
    typename W::Vec k[R + 1];
};

template <class W, int R>
RJDL_VAES_TARGET inline Keys<W, R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<W, R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = W::Broadcast(LoadU(roundKeys[r]));
    return keys;
}

// Rounds 1 .. R-1 of the cipher: the caller applies round key 0 and the last round.
template <class W, int R, int N>
RJDL_VAES_TARGET inline void EncipherToLastN(const Keys<W, R>& k, typename W::Vec* b)
{
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = W::AesEnc(b[j], k.k[r]);
}

// All rounds of the equivalent inverse cipher but the last, whose key the
// caller supplies (for CBC merged with the previous ciphertext block).
template <class W, int R, int N>
RJDL_VAES_TARGET inline void DecipherToLastN(const Keys<W, R>& k, typename W::Vec* b)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = W::Xor(b[j], k.k[R]);
    RJDL_UNROLL
    for (int r = R - 1; r > 0; --r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = W::AesDec(b[j], k.k[r]);
}

// N vectors of consecutive blocks in ECB.
template <class W, int R, int N, bool Decrypt>
RJDL_VAES_TARGET inline void EcbN(const Keys<W, R>& k, const uint8_t* in, uint8_t* out)
{
    constexpr int kBytes = 16 * W::kLanes;
    typename W::Vec b[N];
    if constexpr (Decrypt) {
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = W::Load(in + kBytes * j);
        DecipherToLastN<W, R, N>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            W::Store(out + kBytes * j, W::AesDecLast(b[j], k.k[0]));
    } else {
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = W::Xor(W::Load(in + kBytes * j), k.k[0]);
        EncipherToLastN<W, R, N>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            W::Store(out + kBytes * j, W::AesEncLast(b[j], k.k[R]));
    }
}

// kVectors vectors at a time, then single vectors, then the last few blocks on AES-NI.
template <class W, int R, bool Decrypt>
RJDL_VAES_TARGET void EcbBlocks(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<W, R> k = LoadKeys<W, R>(s.roundKeys);
    size_t i = 0;
    for (; i + W::kLanes * W::kVectors <= blocks; i += W::kLanes * W::kVectors)
        EcbN<W, R, W::kVectors, Decrypt>(k, in + 16 * i, out + 16 * i);
    for (; i + W::kLanes <= blocks; i += W::kLanes)
        EcbN<W, R, 1, Decrypt>(k, in + 16 * i, out + 16 * i);
    if (i < blocks)
        (Decrypt ? kAesNiOps.decryptEcb : kAesNiOps.encryptEcb)(s, in + 16 * i, out + 16 * i, blocks - i);
}

// N vectors of consecutive ciphertext blocks. `last` holds the ciphertext
// block before them in its top lane; each block's final round key is round
// key 0 merged with the block before it, taken from registers (W::Before), so
// the output may be the input. Returns the vector whose top lane is the new
// last ciphertext block.
template <class W, int R, int N, bool Stream>
RJDL_VAES_TARGET inline typename W::Vec CbcDecryptN(const Keys<W, R>& k, typename W::Vec last, const uint8_t* in,
                                                    uint8_t* out)
{
    constexpr int kBytes = 16 * W::kLanes;
    typename W::Vec c[N], b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = c[j] = W::Load(in + kBytes * j);
    DecipherToLastN<W, R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = W::AesDecLast(b[j], W::Xor(k.k[0], W::Before(j == 0 ? last : c[j - 1], c[j])));
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        if constexpr (Stream)
            W::Stream(out + kBytes * j, b[j]);
        else
            W::Store(out + kBytes * j, b[j]);
    }
    return c[N - 1];
}

// Whole vectors only; returns the number of blocks done and leaves the last
// ciphertext block in `chain`.
template <class W, int R, bool Stream>
RJDL_VAES_TARGET size_t CbcDecryptRun(const Keys<W, R>& k, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                      size_t blocks)
{
    typename W::Vec last = W::Broadcast(LoadU(chain));
    size_t i = 0;
    for (; i + W::kLanes * W::kVectors <= blocks; i += W::kLanes * W::kVectors)
        last = CbcDecryptN<W, R, W::kVectors, Stream>(k, last, in + 16 * i, out + 16 * i);
    for (; i + W::kLanes <= blocks; i += W::kLanes)
        last = CbcDecryptN<W, R, 1, Stream>(k, last, in + 16 * i, out + 16 * i);
    StoreU(chain, W::TopLane(last));
    return i;
}

// One chain: the blocks before the first vector boundary of the output and
// those after the last whole vector on AES-NI, the rest in vectors.
template <class W, int R>
RJDL_VAES_TARGET void CbcDecryptWith(const Keys<W, R>& k, const RjdlState& s, uint8_t chain[16], const uint8_t* in,
                                     uint8_t* out, size_t blocks)
{
    const size_t head = BlocksToAlign(out, 16 * W::kLanes, blocks);
    if (head != 0)
        kAesNiOps.decryptCbc(s, chain, in, out, head);
    const size_t done =
        head + CbcDecryptRun<W, R, false>(k, chain, in + 16 * head, out + 16 * head, blocks - head);
    if (done < blocks)
        kAesNiOps.decryptCbc(s, chain, in + 16 * done, out + 16 * done, blocks - done);
}

template <class W, int R>
RJDL_VAES_TARGET void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                 size_t blocks)
{
    const Keys<W, R> k = LoadKeys<W, R>(s.roundKeys);
    CbcDecryptWith<W, R>(k, s, chain, in, out, blocks);
}

// Block i of each of kLanes * N chains, `stride` bytes apart: chain
// kLanes * j + m in lane m of vector j.
template <class W, int R, int N>
RJDL_VAES_TARGET inline void ChainsStep(const Keys<W, R>& k, typename W::Vec* c, const uint8_t* in, uint8_t* out,
                                        size_t stride, size_t i)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = W::Xor3(c[j], W::Gather(in + W::kLanes * j * stride + 16 * i, stride), k.k[0]);
    EncipherToLastN<W, R, N>(k, c);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        c[j] = W::AesEncLast(c[j], k.k[R]);
        W::Scatter(out + W::kLanes * j * stride + 16 * i, stride, c[j]);
    }
}

// kLanes * N chains of `blocks` blocks side by side, a block of each at a
// time. Where W::kWholeLines is set, W::ChainsLines takes over between the
// first 64-byte boundary of the output and the last whole line, and returns
// where it stopped.
template <class W, int R, int N>
RJDL_VAES_TARGET void ChainsEncryptN(const Keys<W, R>& k, typename W::Vec iv, const uint8_t* in, uint8_t* out,
                                     size_t stride, size_t blocks, const NextGroupPrefetch& next)
{
    typename W::Vec c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    size_t i = 0;
    if constexpr (W::kWholeLines) {
        for (const size_t head = BlocksToAlign(out, 64, blocks); i < head; ++i) {
            next.Step(i);
            ChainsStep<W, R, N>(k, c, in, out, stride, i);
        }
        i = W::template ChainsLines<R, N>(k, c, in, out, stride, i, blocks, next);
    }
    for (; i < blocks; ++i) {
        next.Step(i);
        ChainsStep<W, R, N>(k, c, in, out, stride, i);
    }
}

template <class W, int R>
RJDL_VAES_TARGET void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains,
                                    size_t blocks)
{
    constexpr size_t kLanes = W::kLanes;
    const Keys<W, R> k = LoadKeys<W, R>(s.roundKeys);
    const typename W::Vec iv = W::Broadcast(LoadU(s.iv));
    const size_t stride = 16 * blocks;
    // The next `group` chains after chain j, or as many as are left.
    auto next = [&](size_t j, size_t group) {
        const size_t from = std::min(chains, j + group), to = std::min(chains, j + 2 * group);
        return NextGroupPrefetch(in + from * stride, out + from * stride, (to - from) * stride, blocks);
    };
    size_t j = 0;
    for (; j + kLanes * W::kChainVectors <= chains; j += kLanes * W::kChainVectors)
        ChainsEncryptN<W, R, W::kChainVectors>(k, iv, in + j * stride, out + j * stride, stride, blocks,
                                               next(j, kLanes * W::kChainVectors));
    if (j + 8 <= chains) {
        ChainsEncryptN<W, R, 8 / kLanes>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 8));
        j += 8;
    }
    for (; j + kLanes <= chains; j += kLanes)
        ChainsEncryptN<W, R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, kLanes));
    if (j < chains)
        kAesNiOps.encryptCbcChains(s, in + j * stride, out + j * stride, chains - j, blocks);
}

// The 64-byte line at `out` (line-aligned) whose first `tail` blocks end one
// chain and whose others begin the next, deciphered from `in` in vectors and
// streamed. `chain` holds the ciphertext block before the line on entry and
// the line's last ciphertext block on return; the next chain's first block
// takes the IV instead. The output may be the input.
template <class W, int R>
RJDL_VAES_TARGET inline void SharedLine(const Keys<W, R>& k, __m128i iv, uint8_t chain[16], const uint8_t* in,
                                        uint8_t* out, size_t tail)
{
    constexpr int N = 4 / W::kLanes;
    constexpr int kBytes = 16 * W::kLanes;
    typename W::Vec c[N], b[N], before[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = c[j] = W::Load(in + kBytes * j);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        before[j] = W::Before(j == 0 ? W::Broadcast(LoadU(chain)) : c[j - 1], c[j]);
    before[tail / W::kLanes] = W::SetLane(before[tail / W::kLanes], static_cast<int>(tail % W::kLanes), iv);
    DecipherToLastN<W, R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        W::Stream(out + kBytes * j, W::AesDecLast(b[j], W::Xor(k.k[0], before[j])));
    StoreU(chain, W::TopLane(c[N - 1]));
}

// Chains of `blocks` blocks deciphered with streaming stores to `out`, which
// is 16-byte aligned, `stride` a multiple of 64. Consecutive chains' outputs
// are contiguous, and every whole line of the output is streamed: a line
// written partly streamed and partly through the caches costs the processor
// far more than either. Where the output does not start on a line, each
// line that a chain's last blocks share with the next chain's first is
// deciphered as one (SharedLine); only the output's first and last partial
// lines take ordinary stores.
template <class W, int R>
RJDL_VAES_TARGET void ChainsDecryptStreamed(const Keys<W, R>& k, const RjdlState& s, const uint8_t* in,
                                            uint8_t* out, size_t chains, size_t blocks)
{
    const size_t stride = 16 * blocks;
    const size_t head = BlocksToAlign(out, 64, blocks);
    const size_t tail = head == 0 ? 0 : 4 - head;
    const size_t middle = blocks - head - tail;
    const __m128i iv = LoadU(s.iv);
    uint8_t chain[16];  // the ciphertext block before the middle of chain j
    StoreU(chain, iv);
    if (head != 0)
        kAesNiOps.decryptCbc(s, chain, in, out, head);
    for (size_t j = 0; j < chains; ++j) {
        PrefetchAhead(in, j * stride, stride, chains * stride);
        const uint8_t* from = in + j * stride + 16 * head;
        uint8_t* to = out + j * stride + 16 * head;
        const size_t done = CbcDecryptRun<W, R, true>(k, chain, from, to, middle);
        if (done < middle)  // not for whole lines, which are whole vectors
            kAesNiOps.decryptCbc(s, chain, from + 16 * done, to + 16 * done, middle - done);
        if (tail == 0)
            StoreU(chain, iv);
        else if (j + 1 < chains)
            SharedLine<W, R>(k, iv, chain, from + 16 * middle, to + 16 * middle, tail);
        else
            kAesNiOps.decryptCbc(s, chain, from + 16 * middle, to + 16 * middle, tail);
    }
    _mm_sfence();  // the streamed stores are ordered before anything after the call
}

template <class W, int R>
RJDL_VAES_TARGET void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains,
                                    size_t blocks)
{
    const Keys<W, R> k = LoadKeys<W, R>(s.roundKeys);
    const size_t stride = 16 * blocks;
    // Bodies of kStreamBytes and more go past the caches, where streaming
    // stores can write whole lines: the output 16-byte aligned (the first
    // blocks then align it to a line), segments a multiple of 64 bytes.
    if (chains * stride >= kStreamBytes && reinterpret_cast<uintptr_t>(out) % 16 == 0 && stride % 64 == 0) {
        ChainsDecryptStreamed<W, R>(k, s, in, out, chains, blocks);
        return;
    }
    for (size_t j = 0; j < chains; ++j) {
        PrefetchAhead(in, j * stride, stride, chains * stride);
        uint8_t chain[16];
        for (int b = 0; b < 16; ++b)
            chain[b] = s.iv[b];
        CbcDecryptWith<W, R>(k, s, chain, in + j * stride, out + j * stride, blocks);
    }
}

// ---- Entry points (plain functions: the templates behind them carry the
// target attribute) -----------------------------------------------------------

template <class W, bool Decrypt>
void Ecb(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { EcbBlocks<W, decltype(r)::value, Decrypt>(s, in, out, blocks); });
}

template <class W>
void DecryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { CbcDecrypt<W, decltype(r)::value>(s, chain, in, out, blocks); });
}

template <class W>
void EncryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsEncrypt<W, decltype(r)::value>(s, in, out, chains, blocks); });
}

template <class W>
void DecryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsDecrypt<W, decltype(r)::value>(s, in, out, chains, blocks); });
}

void ExpandKey(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
{
    kAesNiOps.expandKey(key, rounds, roundKeys);
}

void KeyToDecrypt(uint8_t roundKeys[15][16], int32_t rounds)
{
    kAesNiOps.keyToDecrypt(roundKeys, rounds);
}

void EncryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    kAesNiOps.encryptCbc(s, chain, in, out, blocks);
}

void Cfb1(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    kAesNiOps.cfb1(keys, rounds, chain, in, out, blocks, decrypt);
}

template <class W>
constexpr EngineOps MakeOps()
{
    return {ExpandKey,  KeyToDecrypt,  Ecb<W, false>,          Ecb<W, true>,           EncryptCbc,
            DecryptCbc<W>, Cfb1, EncryptCbcChains<W>, DecryptCbcChains<W>};
}

}  // namespace
}  // namespace vaes
}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
