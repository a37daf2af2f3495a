// The Rijndael engine on the ARMv8 Crypto Extensions (AESE, AESD, AESMC,
// AESIMC), built for 64-bit ARM only: the build compiles this file alone with
// the extensions enabled and defines PVCODEC_ARM_CE; the engine runs where
// the OS reports the AES feature (RjdlEngine.cpp). The modes are those of
// RjdlBlockEngine.h, as for AES-NI; this file gives them the instructions.
//
// AESE is AddRoundKey, SubBytes and ShiftRows in one, so a round key is
// applied before the round that FIPS-197 applies it after: the cipher is
// AESE/AESMC with keys 0 .. R-2, AESE with key R-1, XOR key R. Decryption
// uses the state's equivalent-inverse-cipher keys the same way with AESD and
// AESIMC, from key R down to key 1, then XOR key 0.
#include "codec/RjdlEngine.h"

#if defined(RJDL_HAVE_ARM_ENGINE) && defined(__ARM_BIG_ENDIAN)
#error "the ARM engine assumes little-endian words"
#endif

#if defined(RJDL_HAVE_ARM_ENGINE)

#include <arm_neon.h>

#define RJDL_AES_TARGET  // the whole file is built with the extensions

#include "codec/RjdlBlockEngine.h"

namespace rjdl {
namespace aes {
namespace {

struct ArmCe {
    using Block = uint8x16_t;

    static Block Load(const uint8_t* p) { return vld1q_u8(p); }
    static void Store(uint8_t* p, Block v) { vst1q_u8(p, v); }
    static Block Xor(Block a, Block b) { return veorq_u8(a, b); }

    template <int R, int N>
    static void EncipherN(const Keys<ArmCe, R>& k, Block* b)
    {
        RJDL_UNROLL
        for (int r = 0; r < R - 1; ++r)
            RJDL_UNROLL
            for (int j = 0; j < N; ++j)
                b[j] = vaesmcq_u8(vaeseq_u8(b[j], k.k[r]));
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = veorq_u8(vaeseq_u8(b[j], k.k[R - 1]), k.k[R]);
    }

    template <int R, int N>
    static void DecipherToLastN(const Keys<ArmCe, R>& k, Block* b)
    {
        RJDL_UNROLL
        for (int r = R; r > 1; --r)
            RJDL_UNROLL
            for (int j = 0; j < N; ++j)
                b[j] = vaesimcq_u8(vaesdq_u8(b[j], k.k[r]));
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            b[j] = vaesdq_u8(b[j], k.k[1]);
    }

    // The last step of decryption is the XOR with round key 0.
    static Block DecipherLast(Block b, Block key) { return veorq_u8(b, key); }

    // With the word in all four columns ShiftRows changes nothing, and AESE
    // with a zero key leaves SubBytes.
    static uint32_t SubWord(uint32_t w)
    {
        const Block v = vaeseq_u8(vreinterpretq_u8_u32(vdupq_n_u32(w)), vdupq_n_u8(0));
        return vgetq_lane_u32(vreinterpretq_u32_u8(v), 0);
    }

    static Block InvMixColumns(Block key) { return vaesimcq_u8(key); }

    static Block Register(uint64_t hi, uint64_t lo)
    {
        return vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(SwapBytes64(hi)), vcreate_u64(SwapBytes64(lo))));
    }

    static unsigned TopBit(Block v) { return static_cast<unsigned>(vgetq_lane_u8(v, 0)) >> 7; }

    template <int R>
    static void CbcEncrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
    {
        const Keys<ArmCe, R> k = LoadKeys<ArmCe, R>(s.roundKeys);
        Block c = vld1q_u8(chain);
        for (size_t i = 0; i < blocks; ++i) {
            c = veorq_u8(c, vld1q_u8(in + 16 * i));
            EncipherN<R, 1>(k, &c);
            vst1q_u8(out + 16 * i, c);
        }
        vst1q_u8(chain, c);
    }
};

}  // namespace
}  // namespace aes

constinit const EngineOps kArmCeOps = aes::MakeOps<aes::ArmCe>();

}  // namespace rjdl

#endif  // RJDL_HAVE_ARM_ENGINE
