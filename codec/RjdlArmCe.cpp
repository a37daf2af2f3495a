// The Rijndael engine on the ARMv8 Crypto Extensions (AESE, AESD, AESMC,
// AESIMC), built for 64-bit ARM only: the build compiles this file alone with
// the extensions enabled and defines PVCODEC_ARM_CE; the engine runs where
// the OS reports the AES feature (RjdlEngine.cpp). Same bytes as the table
// form and, like the x86 engines, constant time.
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

#include <cstring>

namespace rjdl {
namespace armce {
namespace {

constexpr int kWide = 8;

template <int R>
struct Keys {
    uint8x16_t k[R + 1];
};

template <int R>
inline Keys<R> LoadKeys(const uint8_t (*roundKeys)[16])
{
    Keys<R> keys;
    RJDL_UNROLL
    for (int r = 0; r <= R; ++r)
        keys.k[r] = vld1q_u8(roundKeys[r]);
    return keys;
}

template <int R, int N>
inline void EncipherN(const Keys<R>& k, uint8x16_t* b)
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

// Without the final XOR with round key 0, which the caller applies (for CBC
// merged with the previous ciphertext block).
template <int R, int N>
inline void DecipherToLastN(const Keys<R>& k, uint8x16_t* b)
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

// ---- Key schedule -----------------------------------------------------------

// S-box of each byte of a word: with the word in all four columns ShiftRows
// changes nothing, and AESE with a zero key leaves SubBytes.
inline uint32_t SubWord(uint32_t w)
{
    const uint8x16_t v = vaeseq_u8(vreinterpretq_u8_u32(vdupq_n_u32(w)), vdupq_n_u8(0));
    return vgetq_lane_u32(vreinterpretq_u32_u8(v), 0);
}

constexpr uint32_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

void ExpandKey(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
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

void KeyToDecrypt(uint8_t roundKeys[15][16], int32_t rounds)
{
    for (int r = 1; r < rounds && r < 15; ++r)
        vst1q_u8(roundKeys[r], vaesimcq_u8(vld1q_u8(roundKeys[r])));
}

// ---- Modes ------------------------------------------------------------------

template <int R>
void EcbEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        uint8x16_t b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = vld1q_u8(in + 16 * (i + j));
        EncipherN<R, kWide>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            vst1q_u8(out + 16 * (i + j), b[j]);
    }
    for (; i < blocks; ++i) {
        uint8x16_t b = vld1q_u8(in + 16 * i);
        EncipherN<R, 1>(k, &b);
        vst1q_u8(out + 16 * i, b);
    }
}

template <int R>
void EcbDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        uint8x16_t b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = vld1q_u8(in + 16 * (i + j));
        DecipherToLastN<R, kWide>(k, b);
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            vst1q_u8(out + 16 * (i + j), veorq_u8(b[j], k.k[0]));
    }
    for (; i < blocks; ++i) {
        uint8x16_t b = vld1q_u8(in + 16 * i);
        DecipherToLastN<R, 1>(k, &b);
        vst1q_u8(out + 16 * i, veorq_u8(b, k.k[0]));
    }
}

template <int R>
void CbcEncrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    uint8x16_t c = vld1q_u8(chain);
    for (size_t i = 0; i < blocks; ++i) {
        c = veorq_u8(c, vld1q_u8(in + 16 * i));
        EncipherN<R, 1>(k, &c);
        vst1q_u8(out + 16 * i, c);
    }
    vst1q_u8(chain, c);
}

template <int R>
uint8x16_t CbcDecryptRun(const Keys<R>& k, uint8x16_t prev, const uint8_t* in, uint8_t* out, size_t blocks)
{
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        uint8x16_t c[kWide], b[kWide];
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            b[j] = c[j] = vld1q_u8(in + 16 * (i + j));
        DecipherToLastN<R, kWide>(k, b);
        b[0] = veorq_u8(b[0], veorq_u8(k.k[0], prev));
        RJDL_UNROLL
        for (int j = 1; j < kWide; ++j)
            b[j] = veorq_u8(b[j], veorq_u8(k.k[0], c[j - 1]));
        RJDL_UNROLL
        for (int j = 0; j < kWide; ++j)
            vst1q_u8(out + 16 * (i + j), b[j]);
        prev = c[kWide - 1];
    }
    for (; i < blocks; ++i) {
        const uint8x16_t c = vld1q_u8(in + 16 * i);
        uint8x16_t b = c;
        DecipherToLastN<R, 1>(k, &b);
        vst1q_u8(out + 16 * i, veorq_u8(b, veorq_u8(k.k[0], prev)));
        prev = c;
    }
    return prev;
}

template <int R>
void CbcDecrypt(const RjdlState& s, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    vst1q_u8(chain, CbcDecryptRun<R>(k, vld1q_u8(chain), in, out, blocks));
}

template <int R, int N>
void ChainsEncryptN(const Keys<R>& k, uint8x16_t iv, const uint8_t* in, uint8_t* out, size_t stride, size_t blocks)
{
    uint8x16_t c[N];
    RJDL_UNROLL
    for (int j = 0; j < N; ++j)
        c[j] = iv;
    for (size_t i = 0; i < blocks; ++i) {
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            c[j] = veorq_u8(c[j], vld1q_u8(in + j * stride + 16 * i));
        EncipherN<R, N>(k, c);
        RJDL_UNROLL
        for (int j = 0; j < N; ++j)
            vst1q_u8(out + j * stride + 16 * i, c[j]);
    }
}

template <int R>
void ChainsEncrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const uint8x16_t iv = vld1q_u8(s.iv);
    const size_t stride = 16 * blocks;
    size_t j = 0;
    for (; j + kWide <= chains; j += kWide)
        ChainsEncryptN<R, kWide>(k, iv, in + j * stride, out + j * stride, stride, blocks);
    if (j + 4 <= chains) {
        ChainsEncryptN<R, 4>(k, iv, in + j * stride, out + j * stride, stride, blocks);
        j += 4;
    }
    for (; j < chains; ++j)
        ChainsEncryptN<R, 1>(k, iv, in + j * stride, out + j * stride, stride, blocks);
}

template <int R>
void ChainsDecrypt(const RjdlState& s, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(s.roundKeys);
    const uint8x16_t iv = vld1q_u8(s.iv);
    const size_t stride = 16 * blocks;
    for (size_t j = 0; j < chains; ++j)
        CbcDecryptRun<R>(k, iv, in + j * stride, out + j * stride, blocks);
}

// 1-bit CFB over a register held as two big-endian halves (see RjdlAesNi.cpp).
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

inline uint8x16_t Register(uint64_t hi, uint64_t lo)
{
    return vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(SwapBytes64(hi)), vcreate_u64(SwapBytes64(lo))));
}

inline unsigned TopBit(uint8x16_t v)
{
    return static_cast<unsigned>(vgetq_lane_u8(v, 0)) >> 7;
}

template <int R, bool Decrypt>
void Cfb1Run(const uint8_t (*keys)[16], uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks)
{
    const Keys<R> k = LoadKeys<R>(keys);
    uint64_t hi = LoadBig64(chain), lo = LoadBig64(chain + 8);
    for (size_t i = 0; i < 16 * blocks; ++i) {
        const unsigned inByte = in[i];
        unsigned outByte = 0;
        if constexpr (Decrypt) {
            uint8x16_t b[8];
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
                uint8x16_t b = Register(hi, lo);
                EncipherN<R, 1>(k, &b);
                const unsigned outBit = ((inByte >> bit) & 1u) ^ TopBit(b);
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
}  // namespace armce

const EngineOps kArmCeOps = {armce::ExpandKey,  armce::KeyToDecrypt, armce::EncryptEcb,
                             armce::DecryptEcb, armce::EncryptCbc,   armce::DecryptCbc,
                             armce::Cfb1,       armce::EncryptCbcChains, armce::DecryptCbcChains};

}  // namespace rjdl

#endif  // RJDL_HAVE_ARM_ENGINE
