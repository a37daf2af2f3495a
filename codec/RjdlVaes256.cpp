// The Rijndael engine on VAES with 256-bit vectors: one instruction runs a
// round on two blocks. Used where CPUID reports VAES and AVX2 and the OS saves
// the YMM state (RjdlEngine.cpp); only the RJDL_VAES256 functions are
// compiled for those instructions. Constant time like the AES-NI engine,
// whose routines serve here for what vectors do not speed up (single-chain
// CBC encryption, 1-bit CFB, the key schedule) and for the last few blocks.
//
// Independent CBC chains (the segments of a document) go two to a vector,
// kChainVectors vectors side by side; ECB and CBC decryption take sixteen
// consecutive blocks at a time.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#include <immintrin.h>

#include <algorithm>

#if defined(__GNUC__) || defined(__clang__)
#define RJDL_VAES256 __attribute__((target("aes,vaes,avx2")))
#else
#define RJDL_VAES256
#endif

namespace rjdl {
namespace vaes256 {
namespace {

constexpr int kVectors = 8;       // consecutive blocks: 8 vectors of 2
constexpr int kChainVectors = 8;  // chains side by side: 8 vectors of 2

RJDL_VAES256 inline __m128i LoadU(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

RJDL_VAES256 inline void StoreU(uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

RJDL_VAES256 inline __m256i Load2(const uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

RJDL_VAES256 inline void Store2(uint8_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

template <int R>
struct Keys {
    __m256i k[R + 1];
};

template <int R>
RJDL_VAES256 inline Keys<R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = _mm256_broadcastsi128_si256(LoadU(roundKeys[r]));
    return keys;
}

template <int R, int N>
RJDL_VAES256 inline void EncipherToLastN(const Keys<R>& k, __m256i* b)
{
    RJDL_UNROLL
    for (int r = 1; r < R; ++r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm256_aesenc_epi128(b[j], k.k[r]);
}

template <int R, int N>
RJDL_VAES256 inline void DecipherToLastN(const Keys<R>& k, __m256i* b)
{
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm256_xor_si256(b[j], k.k[R]);
    RJDL_UNROLL
    for (int r = R - 1; r > 0; --r)
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = _mm256_aesdec_epi128(b[j], k.k[r]);
}

template <int R, int N>
RJDL_VAES256 inline void EcbEncryptN(const Keys<R>& k, const uint8_t* in, uint8_t* out)
{
    __m256i b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = _mm256_xor_si256(Load2(in + 32 * j), k.k[0]);
    EncipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        Store2(out + 32 * j, _mm256_aesenclast_epi128(b[j], k.k[R]));
}

template <int R>
RJDL_VAES256 void EcbEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + 2 * kVectors <= blocks; i += 2 * kVectors)
        EcbEncryptN<R, kVectors>(k, in + 16 * i, out + 16 * i);
    for (; i + 2 <= blocks; i += 2)
        EcbEncryptN<R, 1>(k, in + 16 * i, out + 16 * i);
    if (i < blocks)
        kAesNiOps.encryptEcb(s, in + 16 * i, out + 16 * i, blocks - i);
}

template <int R, int N>
RJDL_VAES256 inline void EcbDecryptN(const Keys<R>& k, const uint8_t* in, uint8_t* out)
{
    __m256i b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = Load2(in + 32 * j);
    DecipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        Store2(out + 32 * j, _mm256_aesdeclast_epi128(b[j], k.k[0]));
}

template <int R>
RJDL_VAES256 void EcbDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + 2 * kVectors <= blocks; i += 2 * kVectors)
        EcbDecryptN<R, kVectors>(k, in + 16 * i, out + 16 * i);
    for (; i + 2 <= blocks; i += 2)
        EcbDecryptN<R, 1>(k, in + 16 * i, out + 16 * i);
    if (i < blocks)
        kAesNiOps.decryptEcb(s, in + 16 * i, out + 16 * i, blocks - i);
}

// N vectors of consecutive ciphertext blocks. `last` holds the ciphertext
// block before them in its top lane; each block's final round key is round
// key 0 merged with the block before it, taken from registers (VPERM2I128), so
// the output may be the input. Returns the vector whose top lane is the new
// last ciphertext block.
template <int R, int N, bool Stream>
RJDL_VAES256 inline __m256i CbcDecryptN(const Keys<R>& k, __m256i last, const uint8_t* in, uint8_t* out)
{
    __m256i c[N], b[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        b[j] = c[j] = Load2(in + 32 * j);
    DecipherToLastN<R, N>(k, b);
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        const __m256i before = _mm256_permute2x128_si256(j == 0 ? last : c[j - 1], c[j], 0x21);
        b[j] = _mm256_aesdeclast_epi128(b[j], _mm256_xor_si256(k.k[0], before));
    }
    RJDL_UNROLL
    for (int j = 0; j < N; ++j) {
        if constexpr (Stream)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + 32 * j), b[j]);
        else
            Store2(out + 32 * j, b[j]);
    }
    return c[N - 1];
}

// Whole vectors only; returns the number of blocks done and leaves the last
// ciphertext block in `chain`.
template <int R, bool Stream = false>
RJDL_VAES256 size_t CbcDecryptRun(const Keys<R>& k, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                  size_t blocks)
{
    __m256i last = _mm256_broadcastsi128_si256(LoadU(chain));
    size_t i = 0;
    for (; i + 2 * kVectors <= blocks; i += 2 * kVectors)
        last = CbcDecryptN<R, kVectors, Stream>(k, last, in + 16 * i, out + 16 * i);
    for (; i + 2 <= blocks; i += 2)
        last = CbcDecryptN<R, 1, Stream>(k, last, in + 16 * i, out + 16 * i);
    StoreU(chain, _mm256_extracti128_si256(last, 1));
    return i;
}

// One chain: the block before the first 32-byte boundary of the output and
// those after the last whole vector on AES-NI, the rest in vectors.
template <int R, bool Stream = false>
RJDL_VAES256 void CbcDecryptWith(const Keys<R>& k, const RjdlState& s, uint8_t chain[16], const uint8_t* in,
                                 uint8_t* out, size_t blocks)
{
    const size_t head = BlocksToAlign(out, 32, blocks);
    if (head != 0)
        kAesNiOps.decryptCbc(s, chain, in, out, head);
    const size_t done = head + CbcDecryptRun<R, Stream>(k, chain, in + 16 * head, out + 16 * head, blocks - head);
    if (done < blocks)
        kAesNiOps.decryptCbc(s, chain, in + 16 * done, out + 16 * done, blocks - done);
}

template <int R>
RJDL_VAES256 void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    CbcDecryptWith<R>(k, s, chain, in, out, blocks);
}

// 2 * N chains of `blocks` blocks, `stride` bytes apart: chain 2j + m in lane
// m of vector j.
template <int R, int N>
RJDL_VAES256 void ChainsEncryptN(const Keys<R>& k, __m256i iv, const uint8_t* in, uint8_t* out, size_t stride,
                                 size_t blocks, const NextGroupPrefetch& next)
{
    __m256i c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    for (size_t i = 0; i < blocks; ++i) {
        next.Step(i);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j) {
            const uint8_t* p = in + 2 * j * stride + 16 * i;
            const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadU(p)), LoadU(p + stride), 1);
            c[j] = _mm256_xor_si256(_mm256_xor_si256(c[j], x), k.k[0]);
        }
        EncipherToLastN<R, N>(k, c);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j) {
            c[j] = _mm256_aesenclast_epi128(c[j], k.k[R]);
            uint8_t* q = out + 2 * j * stride + 16 * i;
            StoreU(q, _mm256_castsi256_si128(c[j]));
            StoreU(q + stride, _mm256_extracti128_si256(c[j], 1));
        }
    }
}

template <int R>
RJDL_VAES256 void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const __m256i iv = _mm256_broadcastsi128_si256(LoadU(s.iv));
    const size_t stride = 16 * blocks;
    // The next `group` chains after chain j, or as many as are left.
    auto next = [&](size_t j, size_t group) {
        const size_t from = std::min(chains, j + group), to = std::min(chains, j + 2 * group);
        return NextGroupPrefetch(in + from * stride, out + from * stride, (to - from) * stride, blocks);
    };
    size_t j = 0;
    for (; j + 2 * kChainVectors <= chains; j += 2 * kChainVectors)
        ChainsEncryptN<R, kChainVectors>(k, iv, in + j * stride, out + j * stride, stride, blocks,
                                         next(j, 2 * kChainVectors));
    if (j + 8 <= chains) {
        ChainsEncryptN<R, 4>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 8));
        j += 8;
    }
    for (; j + 2 <= chains; j += 2)
        ChainsEncryptN<R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks, next(j, 2));
    if (j < chains)
        kAesNiOps.encryptCbcChains(s, in + j * stride, out + j * stride, chains - j, blocks);
}

template <int R>
RJDL_VAES256 void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const size_t stride = 16 * blocks;
    // Streaming stores (kStreamBytes) need a 16-byte aligned output (the
    // first block then aligns it) and segments of whole 64-byte lines.
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
}  // namespace vaes256

const EngineOps kVaes256Ops = {vaes256::ExpandKey,  vaes256::KeyToDecrypt, vaes256::EncryptEcb,
                               vaes256::DecryptEcb, vaes256::EncryptCbc,   vaes256::DecryptCbc,
                               vaes256::Cfb1,       vaes256::EncryptCbcChains, vaes256::DecryptCbcChains};

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
