// The Rijndael engine on VAES with 256-bit vectors: one instruction runs a
// round on two blocks. Used where CPUID reports VAES and AVX2 and the OS saves
// the YMM state (RjdlEngine.cpp). The routines are those of RjdlVaes.h; this
// file gives them the 256-bit instructions and compiles them for those alone.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_X86_ENGINES)

#define RJDL_VAES_TARGET RJDL_TARGET("aes,vaes,avx2")

#include "codec/RjdlVaes.h"

namespace rjdl {
namespace vaes {
namespace {

struct Vec256 {
    using Vec = __m256i;
    static constexpr int kLanes = 2;
    static constexpr int kVectors = 8;       // consecutive blocks: 8 vectors of 2
    static constexpr int kChainVectors = 8;  // chains side by side: 8 vectors of 2
    static constexpr bool kWholeLines = false;

    RJDL_VAES_TARGET static Vec Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p)); }
    RJDL_VAES_TARGET static void Store(uint8_t* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<Vec*>(p), v); }
    RJDL_VAES_TARGET static void Stream(uint8_t* p, Vec v) { _mm256_stream_si256(reinterpret_cast<Vec*>(p), v); }
    RJDL_VAES_TARGET static Vec Broadcast(__m128i block) { return _mm256_broadcastsi128_si256(block); }
    RJDL_VAES_TARGET static __m128i TopLane(Vec v) { return _mm256_extracti128_si256(v, 1); }
    RJDL_VAES_TARGET static Vec SetLane(Vec v, int lane, __m128i block)
    {
        return lane == 0 ? _mm256_inserti128_si256(v, block, 0) : _mm256_inserti128_si256(v, block, 1);
    }
    RJDL_VAES_TARGET static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    RJDL_VAES_TARGET static Vec Xor3(Vec a, Vec b, Vec c) { return Xor(Xor(a, b), c); }
    RJDL_VAES_TARGET static Vec AesEnc(Vec b, Vec key) { return _mm256_aesenc_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesEncLast(Vec b, Vec key) { return _mm256_aesenclast_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesDec(Vec b, Vec key) { return _mm256_aesdec_epi128(b, key); }
    RJDL_VAES_TARGET static Vec AesDecLast(Vec b, Vec key) { return _mm256_aesdeclast_epi128(b, key); }

    // VPERM2I128: the top lane of `previous`, then the low lane of `v`.
    RJDL_VAES_TARGET static Vec Before(Vec previous, Vec v) { return _mm256_permute2x128_si256(previous, v, 0x21); }

    RJDL_VAES_TARGET static Vec Gather(const uint8_t* p, size_t stride)
    {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(LoadU(p)), LoadU(p + stride), 1);
    }

    RJDL_VAES_TARGET static void Scatter(uint8_t* q, size_t stride, Vec v)
    {
        StoreU(q, _mm256_castsi256_si128(v));
        StoreU(q + stride, _mm256_extracti128_si256(v, 1));
    }
};

}  // namespace
}  // namespace vaes

constinit const EngineOps kVaes256Ops = vaes::MakeOps<vaes::Vec256>();

}  // namespace rjdl

#endif  // RJDL_HAVE_X86_ENGINES
