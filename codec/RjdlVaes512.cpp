// The Rijndael engine on VAES with 512-bit vectors: one instruction runs a
// round on four blocks. Used where CPUID reports VAES and AVX-512F and the OS
// saves the ZMM state (RjdlEngine.cpp); only the RJDL_VAES512 functions are
// compiled for those instructions. Constant time like the AES-NI engine,
// whose routines serve here for what vectors do not speed up (single-chain
// CBC encryption, 1-bit CFB, the key schedule) and for the last few blocks.
//
// Independent CBC chains (the segments of a document) go four to a vector,
// kChainVectors vectors side by side; ECB and CBC decryption take sixteen
// consecutive blocks at a time.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#include <immintrin.h>

#include <algorithm>

// GCC's AVX-512 headers fill "undefined" lanes from a self-initialised
// variable, which its own -Wuninitialized then reports where they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__GNUC__) || defined(__clang__)
#define RJDL_VAES512 __attribute__((target("aes,vaes,avx512f")))
#else
#define RJDL_VAES512
#endif

namespace rjdl {
namespace vaes512 {
namespace {

constexpr int kVectors = 4;       // consecutive blocks: 4 vectors of 4
// Chains side by side: 4 vectors of 4. More chains would hide more of the
// instructions' latency but make more streams through memory, which costs
// more than it gains once a document outgrows the caches.
constexpr int kChainVectors = 4;

RJDL_VAES512 inline __m128i LoadU(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

RJDL_VAES512 inline void StoreU(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int R>
struct Keys {
    __m512i k[R + 1];
};

template <int R>
RJDL_VAES512 inline Keys<R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = _mm512_broadcast_i32x4(LoadU(roundKeys[r]));
    return keys;
}

template <int R, int N>
RJDL_VAES512 inline void EncipherToLastN(const Keys<R>& k, __m512i* b)
{
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm512_aesenc_epi128(b[j], k.k[r]);
}

template <int R, int N>
RJDL_VAES512 inline void DecipherToLastN(const Keys<R>& k, __m512i* b)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm512_xor_si512(b[j], k.k[R]);
    RJDL_UNROLL
    for (int r = R - 1; r > 0; --r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm512_aesdec_epi128(b[j], k.k[r]);
}

template <int R, int N>
RJDL_VAES512 inline void EcbEncryptN(const Keys<R>& k, const uint8_t* in, uint8_t* out)
{
    __m512i b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm512_xor_si512(_mm512_loadu_si512(in + 64 * j), k.k[0]);
    EncipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        _mm512_storeu_si512(out + 64 * j, _mm512_aesenclast_epi128(b[j], k.k[R]));
}

template <int R>
RJDL_VAES512 void EcbEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + 4 * kVectors <= blocks; i += 4 * kVectors)
        EcbEncryptN<R, kVectors>(k, in + 16 * i, out + 16 * i);
    for (; i + 4 <= blocks; i += 4)
        EcbEncryptN<R, 1>(k, in + 16 * i, out + 16 * i);
    if (i < blocks)
        kAesNiOps.encryptEcb(s, in + 16 * i, out + 16 * i, blocks - i);
}

template <int R, int N>
RJDL_VAES512 inline void EcbDecryptN(const Keys<R>& k, const uint8_t* in, uint8_t* out)
{
    __m512i b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm512_loadu_si512(in + 64 * j);
    DecipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        _mm512_storeu_si512(out + 64 * j, _mm512_aesdeclast_epi128(b[j], k.k[0]));
}

template <int R>
RJDL_VAES512 void EcbDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + 4 * kVectors <= blocks; i += 4 * kVectors)
        EcbDecryptN<R, kVectors>(k, in + 16 * i, out + 16 * i);
    for (; i + 4 <= blocks; i += 4)
        EcbDecryptN<R, 1>(k, in + 16 * i, out + 16 * i);
    if (i < blocks)
        kAesNiOps.decryptEcb(s, in + 16 * i, out + 16 * i, blocks - i);
}

// N vectors of consecutive ciphertext blocks. `last` holds the ciphertext
// block before them in its top lane; each block's final round key is round
// key 0 merged with the block before it, taken from registers (VALIGNQ), so
// the output may be the input. Returns the vector whose top lane is the new
// last ciphertext block.
template <int R, int N, bool Stream>
RJDL_VAES512 inline __m512i CbcDecryptN(const Keys<R>& k, __m512i last, const uint8_t* in, uint8_t* out)
{
    __m512i c[N], b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = c[j] = _mm512_loadu_si512(in + 64 * j);
    DecipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        const __m512i before = _mm512_alignr_epi64(c[j], j == 0 ? last : c[j - 1], 6);
        b[j] = _mm512_aesdeclast_epi128(b[j], _mm512_xor_si512(k.k[0], before));
    }
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        if constexpr (Stream)
            _mm512_stream_si512(reinterpret_cast<__m512i*>(out + 64 * j), b[j]);
        else
            _mm512_storeu_si512(out + 64 * j, b[j]);
    }
    return c[N - 1];
}

// Whole vectors only; returns the number of blocks done and leaves the last
// ciphertext block in `chain`.
template <int R, bool Stream = false>
RJDL_VAES512 size_t CbcDecryptRun(const Keys<R>& k, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                  size_t blocks)
{
    __m512i last = _mm512_broadcast_i32x4(LoadU(chain));
    size_t i = 0;
    for (; i + 4 * kVectors <= blocks; i += 4 * kVectors)
        last = CbcDecryptN<R, kVectors, Stream>(k, last, in + 16 * i, out + 16 * i);
    for (; i + 4 <= blocks; i += 4)
        last = CbcDecryptN<R, 1, Stream>(k, last, in + 16 * i, out + 16 * i);
    StoreU(chain, _mm512_extracti32x4_epi32(last, 3));
    return i;
}

// One chain: the blocks before the first 64-byte boundary of the output and
// those after the last whole vector on AES-NI, the rest in vectors.
template <int R, bool Stream = false>
RJDL_VAES512 void CbcDecryptWith(const Keys<R>& k, const RjdlState& s, uint8_t chain[16], const uint8_t* in,
                                 uint8_t* out, size_t blocks)
{
    const size_t head = BlocksToAlign(out, 64, blocks);
    if (head != 0)
        kAesNiOps.decryptCbc(s, chain, in, out, head);
    const size_t done = head + CbcDecryptRun<R, Stream>(k, chain, in + 16 * head, out + 16 * head, blocks - head);
    if (done < blocks)
        kAesNiOps.decryptCbc(s, chain, in + 16 * done, out + 16 * done, blocks - done);
}

template <int R>
RJDL_VAES512 void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    CbcDecryptWith<R>(k, s, chain, in, out, blocks);
}

// Four 128-bit lanes of four vectors transposed: afterwards vector m holds
// lane m of each input, in order. Its own inverse.
RJDL_VAES512 inline void Transpose4(__m512i& a, __m512i& b, __m512i& c, __m512i& d)
{
    const __m512i ab01 = _mm512_shuffle_i64x2(a, b, 0x44), ab23 = _mm512_shuffle_i64x2(a, b, 0xee);
    const __m512i cd01 = _mm512_shuffle_i64x2(c, d, 0x44), cd23 = _mm512_shuffle_i64x2(c, d, 0xee);
    a = _mm512_shuffle_i64x2(ab01, cd01, 0x88);
    b = _mm512_shuffle_i64x2(ab01, cd01, 0xdd);
    c = _mm512_shuffle_i64x2(ab23, cd23, 0x88);
    d = _mm512_shuffle_i64x2(ab23, cd23, 0xdd);
}

// One block of each of 4 * N chains (`stride` bytes apart, chain 4j + m in
// lane m of vector j), gathered from and scattered to 16-byte pieces.
template <int R, int N>
RJDL_VAES512 inline void ChainsStep(const Keys<R>& k, __m512i* c, const uint8_t* in, uint8_t* out, size_t stride)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        const uint8_t* p = in + 4 * j * stride;
        __m512i x = _mm512_castsi128_si512(LoadU(p));
        x = _mm512_inserti32x4(x, LoadU(p + stride), 1);
        x = _mm512_inserti32x4(x, LoadU(p + 2 * stride), 2);
        x = _mm512_inserti32x4(x, LoadU(p + 3 * stride), 3);
        c[j] = _mm512_ternarylogic_epi64(c[j], x, k.k[0], 0x96);  // three-way XOR
    }
    EncipherToLastN<R, N>(k, c);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        c[j] = _mm512_aesenclast_epi128(c[j], k.k[R]);
        uint8_t* q = out + 4 * j * stride;
        StoreU(q, _mm512_castsi512_si128(c[j]));
        StoreU(q + stride, _mm512_extracti32x4_epi32(c[j], 1));
        StoreU(q + 2 * stride, _mm512_extracti32x4_epi32(c[j], 2));
        StoreU(q + 3 * stride, _mm512_extracti32x4_epi32(c[j], 3));
    }
}

// 4 * N chains of `blocks` blocks side by side. Between the first 64-byte
// boundary of the output and the last whole line, four blocks (one cache
// line) of each chain are read and written at a time and transposed in
// registers, so memory sees whole lines; the blocks before and after go one
// block per chain at a time.
template <int R, int N>
RJDL_VAES512 void ChainsEncryptN(const Keys<R>& k, __m512i iv, const uint8_t* in, uint8_t* out, size_t stride,
                                 size_t blocks, const NextGroupPrefetch& next)
{
    __m512i c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    const size_t head = BlocksToAlign(out, 64, blocks);
    size_t i = 0;
    for (; i < head; ++i) {
        next.Step(i);
        ChainsStep<R, N>(k, c, in + 16 * i, out + 16 * i, stride);
    }
    for (; i + 4 <= blocks; i += 4) {
        next.Step(i);
        next.Step(i + 1);
        next.Step(i + 2);
        next.Step(i + 3);
        __m512i x[N][4];
        RJDL_UNROLL
        for (int j = 0; j < N; ++j) {
            const uint8_t* p = in + 4 * j * stride + 16 * i;
            x[j][0] = _mm512_loadu_si512(p);
            x[j][1] = _mm512_loadu_si512(p + stride);
            x[j][2] = _mm512_loadu_si512(p + 2 * stride);
            x[j][3] = _mm512_loadu_si512(p + 3 * stride);
            Transpose4(x[j][0], x[j][1], x[j][2], x[j][3]);
        }
        RJDL_UNROLL
        for (int step = 0; step < 4; ++step) {
            RJDL_UNROLL
            for (int j = 0; j < N; ++j)
                c[j] = _mm512_ternarylogic_epi64(c[j], x[j][step], k.k[0], 0x96);
            EncipherToLastN<R, N>(k, c);
            RJDL_UNROLL
            for (int j = 0; j < N; ++j)
                x[j][step] = c[j] = _mm512_aesenclast_epi128(c[j], k.k[R]);
        }
        RJDL_UNROLL
        for (int j = 0; j < N; ++j) {
            Transpose4(x[j][0], x[j][1], x[j][2], x[j][3]);
            uint8_t* q = out + 4 * j * stride + 16 * i;
            _mm512_storeu_si512(q, x[j][0]);
            _mm512_storeu_si512(q + stride, x[j][1]);
            _mm512_storeu_si512(q + 2 * stride, x[j][2]);
            _mm512_storeu_si512(q + 3 * stride, x[j][3]);
        }
    }
    for (; i < blocks; ++i) {
        next.Step(i);
        ChainsStep<R, N>(k, c, in + 16 * i, out + 16 * i, stride);
    }
}

template <int R>
RJDL_VAES512 void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const __m512i iv = _mm512_broadcast_i32x4(LoadU(s.iv));
    const size_t stride = 16 * blocks;
    // The next `group` chains after chain j, or as many as are left.
    auto next = [&](size_t j, size_t group) {
        const size_t from = std::min(chains, j + group), to = std::min(chains, j + 2 * group);
        return NextGroupPrefetch(in + from * stride, out + from * stride, (to - from) * stride, blocks);
    };
    size_t j = 0;
    for (; j + 4 * kChainVectors <= chains; j += 4 * kChainVectors)
        ChainsEncryptN<R, kChainVectors>(k, iv, in + j * stride, out + j * stride, stride, blocks,
                                         next(j, 4 * kChainVectors));
    if (j + 8 <= chains) {
        ChainsEncryptN<R, 2>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 8));
        j += 8;
    }
    for (; j + 4 <= chains; j += 4)
        ChainsEncryptN<R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 4));
    if (j < chains)
        kAesNiOps.encryptCbcChains(s, in + j * stride, out + j * stride, chains - j, blocks);
}

template <int R>
RJDL_VAES512 void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const size_t stride = 16 * blocks;
    // Streaming stores (kStreamBytes) must land on whole 64-byte lines: the
    // output 16-byte aligned (the first blocks then align it), segments a
    // multiple of 64 bytes.
    const bool stream = chains * stride >= kStreamBytes && reinterpret_cast<uintptr_t>(out) % 16 == 0 &&
                        stride % 64 == 0;
    for (size_t j = 0; j < chains; ++j) {
        PrefetchAhead(in, j * stride, stride, chains * stride);
        uint8_t chain[16];
        for (int b = 0; b < 16; ++b)
            chain[b] = s.iv[b];
        if (stream)
            CbcDecryptWith<R, true>(k, s, chain, in + j * stride, out + j * stride, blocks);
        else
            CbcDecryptWith<R>(k, s, chain, in + j * stride, out + j * stride, blocks);
    }
    if (stream)
        _mm_sfence();  // the streamed stores are ordered before anything after the call
}

// ---- Entry points -----------------------------------------------------------

void ExpandKey(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
{
    kAesNiOps.expandKey(key, rounds, roundKeys);
}

void KeyToDecrypt(uint8_t roundKeys[15][16], int32_t rounds)
{
    kAesNiOps.keyToDecrypt(roundKeys, rounds);
}

void EncryptEcb(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { EcbEncrypt<decltype(r)::value>(s, in, out, blocks); });
}

void DecryptEcb(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { EcbDecrypt<decltype(r)::value>(s, in, out, blocks); });
}

void EncryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    kAesNiOps.encryptCbc(s, chain, in, out, blocks);
}

void DecryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { CbcDecrypt<decltype(r)::value>(s, chain, in, out, blocks); });
}

void Cfb1(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    kAesNiOps.cfb1(keys, rounds, chain, in, out, blocks, decrypt);
}

void EncryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsEncrypt<decltype(r)::value>(s, in, out, chains, blocks); });
}

void DecryptCbcChains(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { ChainsDecrypt<decltype(r)::value>(s, in, out, chains, blocks); });
}

}  // namespace
}  // namespace vaes512

const EngineOps kVaes512Ops = {vaes512::ExpandKey,  vaes512::KeyToDecrypt, vaes512::EncryptEcb,
                               vaes512::DecryptEcb, vaes512::EncryptCbc,   vaes512::DecryptCbc,
                               vaes512::Cfb1,       vaes512::EncryptCbcChains, vaes512::DecryptCbcChains};

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
