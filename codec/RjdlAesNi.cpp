// The Rijndael engine on the AES instructions of x86-64 processors (AES-NI).
// Only the functions marked RJDL_AESNI are compiled for those instructions,
// so the rest of the library stays baseline x86-64; they run only where CPUID
// reported AES-NI, SSSE3 and SSE4.1 (RjdlEngine.cpp). The instructions take
// the state's round keys in their byte order as they are, and a decrypt
// state's middle round keys already have the equivalent-inverse-cipher form
// that AESDEC expects. No table lookup and no branch depends on a key or data
// byte: these routines run in constant time.
//
// Where blocks are independent (ECB, CBC decryption, separate chains) eight
// go through the rounds side by side, which hides the instructions' latency;
// CBC encryption of one chain is serial by nature.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#if defined(__GNUC__) || defined(__clang__)
#define RJDL_AESNI __attribute__((target("aes,sse4.1")))
#else
#define RJDL_AESNI
#endif

namespace rjdl {
namespace aesni {
namespace {

constexpr int kWide = 8;

RJDL_AESNI inline __m128i LoadU(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

RJDL_AESNI inline void StoreU(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <int R>
struct Keys {
    __m128i k[R + 1];
};

template <int R>
RJDL_AESNI inline Keys<R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = LoadU(roundKeys[r]);
    return keys;
}

template <int R>
RJDL_AESNI inline __m128i Encipher(const Keys<R>& k, __m128i b)
{
    b = _mm_xor_si128(b, k.k[0]);
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        b = _mm_aesenc_si128(b, k.k[r]);
    return _mm_aesenclast_si128(b, k.k[R]);
}

// N independent blocks through the rounds together.
template <int R, int N>
RJDL_AESNI inline void EncipherN(const Keys<R>& k, __m128i* b)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm_xor_si128(b[j], k.k[0]);
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm_aesenc_si128(b[j], k.k[r]);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm_aesenclast_si128(b[j], k.k[R]);
}

// All rounds of the equivalent inverse cipher but the last, whose key the
// caller supplies (for CBC merged with the previous ciphertext block).
template <int R, int N>
RJDL_AESNI inline void DecipherToLastN(const Keys<R>& k, __m128i* b)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm_xor_si128(b[j], k.k[R]);
    RJDL_UNROLL
    for (int r = R - 1; r > 0; --r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm_aesdec_si128(b[j], k.k[r]);
}

// ---- Key schedule -----------------------------------------------------------

// S-box of each byte of a word without a table: with the word in all four
// columns ShiftRows changes nothing, and AESENCLAST with a zero round key
// leaves SubBytes.
RJDL_AESNI inline uint32_t SubWord(uint32_t w)
{
    const __m128i v = _mm_aesenclast_si128(_mm_set1_epi32(static_cast<int>(w)), _mm_setzero_si128());
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

constexpr uint32_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

// The FIPS-197 expansion over little-endian words, as RjdlKeySchedule does.
RJDL_AESNI void ExpandKey(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
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
            temp = SubWord((temp >> 8) | (temp << 24)) ^ kRoundConstants[i / keyWords - 1];
        else if (keyWords > 6 && i % keyWords == 4)
            temp = SubWord(temp);
        w[i] = w[i - keyWords] ^ temp;
    }
    std::memcpy(roundKeys, w, 4 * static_cast<size_t>(totalWords));
}

// InvMixColumns of the middle round keys (AESIMC), as RjdlKeyEncToDec does.
RJDL_AESNI void KeyToDecrypt(uint8_t roundKeys[15][16], int32_t rounds)
{
    for (int r = 1; r < rounds && r < 15; ++r)
        StoreU(roundKeys[r], _mm_aesimc_si128(LoadU(roundKeys[r])));
}

// ---- Modes ------------------------------------------------------------------

template <int R>
RJDL_AESNI void EcbEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        __m128i b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = LoadU(in + 16 * (i + j));
        EncipherN<R, kWide>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            StoreU(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i)
        StoreU(out + 16 * i, Encipher<R>(k, LoadU(in + 16 * i)));
}

template <int R>
RJDL_AESNI void EcbDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        __m128i b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = LoadU(in + 16 * (i + j));
        DecipherToLastN<R, kWide>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            StoreU(out + 16 * (i + j), _mm_aesdeclast_si128(b[j], k.k[0]));
    }
    for (; i < blocks; ++i) {
        __m128i b = LoadU(in + 16 * i);
        DecipherToLastN<R, 1>(k, &b);
        StoreU(out + 16 * i, _mm_aesdeclast_si128(b, k.k[0]));
    }
}

// One chain, serial. The last round's key is merged with round key 0 and the
// next plaintext block, so the next block's first round follows directly,
// with no XOR waiting on the chain; the ciphertext is recovered beside it.
template <int R>
RJDL_AESNI void CbcEncrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    if (blocks == 0)
        return;
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const __m128i lastAndFirst = _mm_xor_si128(k.k[R], k.k[0]);
    __m128i x = _mm_xor_si128(_mm_xor_si128(LoadU(in), LoadU(chain)), k.k[0]);
    for (size_t i = 0; i + 1 < blocks; ++i) {
        RJDL_UNROLL
        for (int r = 1; r < R; ++r)
            x = _mm_aesenc_si128(x, k.k[r]);
        const __m128i p = LoadU(in + 16 * (i + 1));
        x = _mm_aesenclast_si128(x, _mm_xor_si128(lastAndFirst, p));
        StoreU(out + 16 * i, _mm_xor_si128(x, _mm_xor_si128(p, k.k[0])));
    }
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        x = _mm_aesenc_si128(x, k.k[r]);
    const __m128i c = _mm_aesenclast_si128(x, k.k[R]);
    StoreU(out + 16 * (blocks - 1), c);
    StoreU(chain, c);
}

// Each block's last round key is round key 0 merged with the previous
// ciphertext block, which is held in a register: the output may be the input.
template <int R, bool Stream = false>
RJDL_AESNI __m128i CbcDecryptRun(const Keys<R>& k, __m128i prev, const uint8_t* in, uint8_t* out, size_t blocks)
{
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        __m128i c[kWide], b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = c[j] = LoadU(in + 16 * (i + j));
        DecipherToLastN<R, kWide>(k, b);
        b[0] = _mm_aesdeclast_si128(b[0], _mm_xor_si128(k.k[0], prev));
        RJDL_UNROLL
        for (int j = 1; j < kWide; ++j)
            b[j] = _mm_aesdeclast_si128(b[j], _mm_xor_si128(k.k[0], c[j - 1]));
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j) {
            if constexpr (Stream)
                _mm_stream_si128(reinterpret_cast<__m128i*>(out + 16 * (i + j)), b[j]);
            else
                StoreU(out + 16 * (i + j), b[j]);
        }
        prev = c[kWide - 1];
    }
    for (; i < blocks; ++i) {
        const __m128i c = LoadU(in + 16 * i);
        __m128i b = c;
        DecipherToLastN<R, 1>(k, &b);
        StoreU(out + 16 * i, _mm_aesdeclast_si128(b, _mm_xor_si128(k.k[0], prev)));
        prev = c;
    }
    return prev;
}

template <int R>
RJDL_AESNI void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    StoreU(chain, CbcDecryptRun<R>(k, LoadU(chain), in, out, blocks));
}

// N chains of `blocks` blocks, `stride` bytes apart, side by side.
template <int R, int N>
RJDL_AESNI void ChainsEncryptN(const Keys<R>& k, __m128i iv, const uint8_t* in, uint8_t* out, size_t stride,
                               size_t blocks, const NextGroupPrefetch& next)
{
    __m128i c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    for (size_t i = 0; i < blocks; ++i) {
        next.Step(i);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            c[j] = _mm_xor_si128(c[j], LoadU(in + j * stride + 16 * i));
        EncipherN<R, N>(k, c);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            StoreU(out + j * stride + 16 * i, c[j]);
    }
}

template <int R>
RJDL_AESNI void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const __m128i iv = LoadU(s.iv);
    const size_t stride = 16 * blocks;
    // The next `group` chains after chain j, or as many as are left.
    auto next = [&](size_t j, size_t group) {
        const size_t from = std::min(chains, j + group), to = std::min(chains, j + 2 * group);
        return NextGroupPrefetch(in + from * stride, out + from * stride, (to - from) * stride, blocks);
    };
    size_t j = 0;
    for (; j + kWide <= chains; j += kWide)
        ChainsEncryptN<R, kWide>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, kWide));
    if (j + 4 <= chains) {
        ChainsEncryptN<R, 4>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 4));
        j += 4;
    }
    if (j + 2 <= chains) {
        ChainsEncryptN<R, 2>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 2));
        j += 2;
    }
    if (j < chains)
        ChainsEncryptN<R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 1));
}

template <int R>
RJDL_AESNI void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const __m128i iv = LoadU(s.iv);
    const size_t stride = 16 * blocks;
    // Streaming stores (kStreamBytes) need a 16-byte aligned output.
    const bool stream = chains * stride >= kStreamBytes && reinterpret_cast<uintptr_t>(out) % 16 == 0;
    for (size_t j = 0; j < chains; ++j) {
        PrefetchAhead(in, j * stride, stride, chains * stride);
        if (stream)
            CbcDecryptRun<R, true>(k, iv, in + j * stride, out + j * stride, blocks);
        else
            CbcDecryptRun<R>(k, iv, in + j * stride, out + j * stride, blocks);
    }
    if (stream)
        _mm_sfence();  // the streamed stores are ordered before anything after the call
}

// 1-bit CFB. The register is kept as two big-endian halves, so shifting in a
// bit is two shifts. Encryption feeds each ciphertext bit back before the
// next, one block cipher call per bit; in decryption the eight registers of a
// byte are known from the ciphertext, so they go through the rounds together.
RJDL_AESNI inline uint64_t LoadBig64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return SwapBytes64(v);
}

RJDL_AESNI inline void StoreBig64(uint8_t* p, uint64_t v)
{
    v = SwapBytes64(v);
    std::memcpy(p, &v, 8);
}

RJDL_AESNI inline __m128i Register(uint64_t hi, uint64_t lo)
{
    return _mm_set_epi64x(static_cast<long long>(SwapBytes64(lo)), static_cast<long long>(SwapBytes64(hi)));
}

// The leading bit of an enciphered register: bit 7 of byte 0.
RJDL_AESNI inline unsigned TopBit(__m128i v)
{
    return (static_cast<unsigned>(_mm_cvtsi128_si32(v)) >> 7) & 1u;
}

template <int R, bool Decrypt>
RJDL_AESNI void Cfb1Run(const uint8_t (*keys)[16], uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(keys);
    uint64_t hi = LoadBig64(chain), lo = LoadBig64(chain + 8);
    for (size_t i = 0; i < 16 * blocks; ++i) {
        const unsigned inByte = in[i];
        unsigned outByte = 0;
        if constexpr (Decrypt) {
            __m128i b[8];
            b[0] = Register(hi, lo);
            RJDL_UNROLL
            for (int bit = 1; bit < 8; ++bit)
                b[bit] = Register((hi << bit) | (lo >> (64 - bit)), (lo << bit) | (inByte >> (8 - bit)));
            EncipherN<R, 8>(k, b);
            RJDL_UNROLL
            for (int bit = 0; bit < 8; ++bit)
                outByte |= TopBit(b[bit]) << (7 - bit);
            outByte ^= inByte;
            hi = (hi << 8) | (lo >> 56);
            lo = (lo << 8) | inByte;
        } else {
            RJDL_UNROLL
            for (int bit = 7; bit >= 0; --bit) {
                const unsigned outBit = ((inByte >> bit) & 1u) ^ TopBit(Encipher<R>(k, Register(hi, lo)));
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
    WithRounds(s.rounds, [&](auto r) { CbcEncrypt<decltype(r)::value>(s, chain, in, out, blocks); });
}

void DecryptCbc(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    WithRounds(s.rounds, [&](auto r) { CbcDecrypt<decltype(r)::value>(s, chain, in, out, blocks); });
}

void Cfb1(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
          size_t blocks, bool decrypt)
{
    WithRounds(rounds, [&](auto r) {
        if (decrypt)
            Cfb1Run<decltype(r)::value, true>(keys, chain, in, out, blocks);
        else
            Cfb1Run<decltype(r)::value, false>(keys, chain, in, out, blocks);
    });
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
}  // namespace aesni

const EngineOps kAesNiOps = {aesni::ExpandKey,  aesni::KeyToDecrypt, aesni::EncryptEcb,
                             aesni::DecryptEcb, aesni::EncryptCbc,   aesni::DecryptCbc,
                             aesni::Cfb1,       aesni::EncryptCbcChains, aesni::DecryptCbcChains};

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
