// The Rijndael engine on the AES instructions of x86-64 processors (AES-NI).
// Only the functions marked RJDL_AES_TARGET are compiled for those
// instructions, so the rest of the library stays baseline x86-64; they run
// only where CPUID reported AES-NI, SSSE3 and SSE4.1 (RjdlEngine.cpp). The
// instructions take the state's round keys in their byte order as they are,
// and a decrypt state's middle round keys already have the
// equivalent-inverse-cipher form that AESDEC expects. The modes are those of
// RjdlBlockEngine.h; this file gives them the instructions.
//
// Where blocks are independent (ECB, CBC decryption, separate chains) eight
// go through the rounds side by side, which hides the instructions' latency;
// CBC encryption of one chain is serial by nature.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#include <immintrin.h>

#define RJDL_AES_TARGET RJDL_TARGET("aes,sse4.1")

#include "codec/RjdlBlockEngine.h"

namespace rjdl {
namespace aes {
namespace {

struct AesNi {
    using Block = __m128i;

    RJDL_AES_TARGET static Block Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const Block*>(p)); }
    RJDL_AES_TARGET static void Store(uint8_t* p, Block v) { _mm_storeu_si128(reinterpret_cast<Block*>(p), v); }
    RJDL_AES_TARGET static Block Xor(Block a, Block b) { return _mm_xor_si128(a, b); }

    template <int R, int N>
    RJDL_AES_TARGET static void EncipherN(const Keys<AesNi, R>& k, Block* b)
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

    template <int R, int N>
    RJDL_AES_TARGET static void DecipherToLastN(const Keys<AesNi, R>& k, Block* b)
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

    RJDL_AES_TARGET static Block DecipherLast(Block b, Block key) { return _mm_aesdeclast_si128(b, key); }

    // With the word in all four columns ShiftRows changes nothing, and
    // AESENCLAST with a zero round key leaves SubBytes.
    RJDL_AES_TARGET static uint32_t SubWord(uint32_t w)
    {
        const Block v = _mm_aesenclast_si128(_mm_set1_epi32(static_cast<int>(w)), _mm_setzero_si128());
        return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    }

    RJDL_AES_TARGET static Block InvMixColumns(Block key) { return _mm_aesimc_si128(key); }

    RJDL_AES_TARGET static Block Register(uint64_t hi, uint64_t lo)
    {
        return _mm_set_epi64x(static_cast<long long>(SwapBytes64(lo)), static_cast<long long>(SwapBytes64(hi)));
    }

    RJDL_AES_TARGET static unsigned TopBit(Block v)
    {
        return (static_cast<unsigned>(_mm_cvtsi128_si32(v)) >> 7) & 1u;
    }

    // The last round's key is merged with round key 0 and the next plaintext
    // block, so the next block's first round follows directly, with no XOR
    // waiting on the chain; the ciphertext is recovered beside it.
    template <int R>
    RJDL_AES_TARGET static void CbcEncrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                                           size_t blocks)
    {
        if (blocks == 0)
            return;
        const Keys<AesNi, R> k = LoadKeys<AesNi, R>(s.roundKeys);
        const Block lastAndFirst = _mm_xor_si128(k.k[R], k.k[0]);
        Block x = _mm_xor_si128(_mm_xor_si128(Load(in), Load(chain)), k.k[0]);
        for (size_t i = 0; i + 1 < blocks; ++i) {
            RJDL_UNROLL
            for (int r = 1; r < R; ++r)
                x = _mm_aesenc_si128(x, k.k[r]);
            const Block p = Load(in + 16 * (i + 1));
            x = _mm_aesenclast_si128(x, _mm_xor_si128(lastAndFirst, p));
            Store(out + 16 * i, _mm_xor_si128(x, _mm_xor_si128(p, k.k[0])));
        }
        RJDL_UNROLL
        for (int r = 1; r < R; ++r)
            x = _mm_aesenc_si128(x, k.k[r]);
        const Block c = _mm_aesenclast_si128(x, k.k[R]);
        Store(out + 16 * (blocks - 1), c);
        Store(chain, c);
    }
};

}  // namespace
}  // namespace aes

constinit const EngineOps kAesNiOps = aes::MakeOps<aes::AesNi>();

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
