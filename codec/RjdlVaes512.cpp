// The Rijndael engine on VAES with 512-bit vectors: one instruction runs a
// round on four blocks. Used where CPUID reports VAES and AVX-512F and the OS
// saves the ZMM state (RjdlEngine.cpp). The routines are those of
// RjdlVaes.h; this file gives them the 512-bit instructions and compiles them
// for those alone. A vector is a whole 64-byte line, which independent chains
// use (ChainsLines).
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

// GCC's AVX-512 headers fill "undefined" lanes from a self-initialised
// variable, which its own -Wuninitialized then reports where they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define RJDL_VAES_TARGET RJDL_TARGET("aes,vaes,avx512f")

#include "codec/RjdlVaes.h"

namespace rjdl {
namespace vaes {
namespace {

// Four 128-bit lanes of four vectors transposed: afterwards vector m holds
// lane m of each input, in order. Its own inverse.
RJDL_VAES_TARGET inline void Transpose4(__m512i& a, __m512i& b, __m512i& c, __m512i& d)
{
    const __m512i ab01 = _mm512_shuffle_i64x2(a, b, 0x44), ab23 = _mm512_shuffle_i64x2(a, b, 0xee);
    const __m512i cd01 = _mm512_shuffle_i64x2(c, d, 0x44), cd23 = _mm512_shuffle_i64x2(c, d, 0xee);
    a = _mm512_shuffle_i64x2(ab01, cd01, 0x88);
    b = _mm512_shuffle_i64x2(ab01, cd01, 0xdd);
    c = _mm512_shuffle_i64x2(ab23, cd23, 0x88);
    d = _mm512_shuffle_i64x2(ab23, cd23, 0xdd);
}

struct Vec512 {
    using Vec = __m512i;
    static constexpr int kLanes = 4;
    static constexpr int kVectors = 4;  // consecutive blocks: 4 vectors of 4
    // Chains side by side: 4 vectors of 4. More chains would hide more of the
    // instructions' latency but make more streams through memory, which costs
    // more than it gains once a document outgrows the caches.
    static constexpr int kChainVectors = 4;
    static constexpr bool kWholeLines = true;

    RJDL_VAES_TARGET static Vec Load(const uint8_t* p) { return _mm512_loadu_si512(p); }
    RJDL_VAES_TARGET static void Store(uint8_t* p, Vec v) { _mm512_storeu_si512(p, v); }
    RJDL_VAES_TARGET static void Stream(uint8_t* p, Vec v) { _mm512_stream_si512(reinterpret_cast<Vec*>(p), v); }
    RJDL_VAES_TARGET static Vec Broadcast(__m128i block) { return _mm512_broadcast_i32x4(block); }
    RJDL_VAES_TARGET static __m128i TopLane(Vec v) { return _mm512_extracti32x4_epi32(v, 3); }
    RJDL_VAES_TARGET static Vec SetLane(Vec v, int lane, __m128i block)
    {
        return _mm512_mask_broadcast_i32x4(v, static_cast<__mmask16>(0xf << (4 * lane)), block);
    }
    RJDL_VAES_TARGET static Vec Xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
    // VPTERNLOGQ: a three-way XOR in one instruction.
    RJDL_VAES_TARGET static Vec Xor3(Vec a, Vec b, Vec c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
    RJDL_VAES_TARGET static Vec AesEnc(Vec b, Vec key) { return _mm512_aesenc_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesEncLast(Vec b, Vec key) { return _mm512_aesenclast_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesDec(Vec b, Vec key) { return _mm512_aesdec_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesDecLast(Vec b, Vec key) { return _mm512_aesdeclast_epi128(b, key); }

    // VALIGNQ: the top lane of `previous`, then the three low lanes of `v`.
    RJDL_VAES_TARGET static Vec Before(Vec previous, Vec v) { return _mm512_alignr_epi64(v, previous, 6); }

    RJDL_VAES_TARGET static Vec Gather(const uint8_t* p, size_t stride)
    {
        Vec x = _mm512_castsi128_si512(LoadU(p));
        x = _mm512_inserti32x4(x, LoadU(p + stride), 1);
        x = _mm512_inserti32x4(x, LoadU(p + 2 * stride), 2);
        return _mm512_inserti32x4(x, LoadU(p + 3 * stride), 3);
    }

    RJDL_VAES_TARGET static void Scatter(uint8_t* q, size_t stride, Vec v)
    {
        StoreU(q, _mm512_castsi512_si128(v));
        StoreU(q + stride, _mm512_extracti32x4_epi32(v, 1));
        StoreU(q + 2 * stride, _mm512_extracti32x4_epi32(v, 2));
        StoreU(q + 3 * stride, _mm512_extracti32x4_epi32(v, 3));
    }

    // Blocks `i` onward of N * 4 chains (see ChainsEncryptN) while whole
    // lines remain: four blocks (one cache line) of each chain read and
    // written at a time and transposed in registers, so memory sees whole
    // lines. Returns the first block not done.
    template <int R, int N>
    RJDL_VAES_TARGET static size_t ChainsLines(const Keys<Vec512, R>& k, Vec* c, const uint8_t* in, uint8_t* out,
                                               size_t stride, size_t i, size_t blocks, const NextGroupPrefetch& next)
    {
        for (; i + 4 <= blocks; i += 4) {
            next.Step(i);
            next.Step(i + 1);
            next.Step(i + 2);
            next.Step(i + 3);
            Vec x[N][4];
            RJDL_UNROLL
            for (int j = 0; j < N; ++j) {
                const uint8_t* p = in + 4 * j * stride + 16 * i;
                x[j][0] = Load(p);
                x[j][1] = Load(p + stride);
                x[j][2] = Load(p + 2 * stride);
                x[j][3] = Load(p + 3 * stride);
                Transpose4(x[j][0], x[j][1], x[j][2], x[j][3]);
            }
            RJDL_UNROLL
            for (int step = 0; step < 4; ++step) {
                RJDL_UNROLL
                for (int j = 0; j < N; ++j)
                    c[j] = Xor3(c[j], x[j][step], k.k[0]);
                EncipherToLastN<Vec512, R, N>(k, c);
                RJDL_UNROLL
                for (int j = 0; j < N; ++j)
                    x[j][step] = c[j] = AesEncLast(c[j], k.k[R]);
            }
            RJDL_UNROLL
            for (int j = 0; j < N; ++j) {
                Transpose4(x[j][0], x[j][1], x[j][2], x[j][3]);
                uint8_t* q = out + 4 * j * stride + 16 * i;
                Store(q, x[j][0]);
                Store(q + stride, x[j][1]);
                Store(q + 2 * stride, x[j][2]);
                Store(q + 3 * stride, x[j][3]);
            }
        }
        return i;
    }
};

}  // namespace
}  // namespace vaes

constinit const EngineOps kVaes512Ops = vaes::MakeOps<vaes::Vec512>();

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
