// The Rijndael engine's cipher routines and the choice among them. The table
// form (RjdlChains.cpp) is the reference and runs everywhere; the processor
// engines use the AES instructions of x86 (AES-NI, and VAES on 256- or 512-bit
// vectors) or of ARMv8 (Crypto Extensions) and give the same bytes. One engine
// is chosen per process from the processor's features, or forced with the
// environment variable PVCODEC_AES_ENGINE (table, aesni, vaes256, vaes512,
// armce; an engine the processor lacks falls back to the next weaker one).
// RjdlInit records the engine in the state; every later call on that state
// runs its routines.
#pragma once

#include "codec/Rjdl.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace rjdl {

// Weakest first: a forced x86 engine that is not present falls back along
// this order; the ARM engine falls back to the table.
enum class Engine : uint8_t { Table = 0, AesNi = 1, Vaes256 = 2, Vaes512 = 3, ArmCe = 4 };
inline constexpr int kEngineCount = 5;

// The routines of one engine. All take a ready state whose direction fits
// (decryption uses the equivalent-inverse-cipher keys of a decrypt state) and
// allow `out == in`, no other overlap. Key expansion gives exactly the bytes
// of RjdlKeySchedule and RjdlKeyEncToDec.
struct EngineOps {
    void (*expandKey)(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16]);
    void (*keyToDecrypt)(uint8_t roundKeys[15][16], int32_t rounds);
    void (*encryptEcb)(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks);
    void (*decryptEcb)(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks);
    void (*encryptCbc)(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);
    void (*decryptCbc)(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);
    // `keys` are forward round keys (those of an encrypt state, or a decrypt
    // state's forwardKeys): CFB runs the forward cipher both ways.
    void (*cfb1)(const uint8_t (*keys)[16], int32_t rounds, uint8_t chain[16], const uint8_t* in, uint8_t* out,
                 size_t blocks, bool decrypt);
    // `chains` independent CBC chains of `blocks` blocks each, laid out one
    // after the other, every one from the state's IV.
    void (*encryptCbcChains)(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks);
    void (*decryptCbcChains)(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t chains, size_t blocks);
};

const char* EngineName(Engine engine);
// Built into this library and supported by this processor (and its OS).
bool EngineAvailable(Engine engine);
// The available engines, weakest first; the table engine is always there.
std::span<const Engine> AvailableEngines();
// The routines of an available engine; the table engine's for any other.
const EngineOps& OpsOf(Engine engine);

// The engine a PVCODEC_AES_ENGINE value asks for on a processor offering
// `available` (bit i set for Engine i): a named engine, or the next weaker one
// present; null, empty, "auto" or an unknown name give the strongest present.
// Names compare without case.
Engine ChooseEngine(const char* request, unsigned available);
// This process's engine: ChooseEngine of the environment, settled on first use.
Engine ProcessEngine();

// The engine RjdlInit records: the calling thread's override (ScopedEngine),
// else ProcessEngine().
Engine EngineForInit();

// For tests and benchmarks: while it lives, RjdlInit on this thread uses the
// given engine, or the next weaker one present (as ChooseEngine). Scopes nest.
class ScopedEngine {
public:
    explicit ScopedEngine(Engine engine);
    ~ScopedEngine();
    ScopedEngine(const ScopedEngine&) = delete;
    ScopedEngine& operator=(const ScopedEngine&) = delete;

private:
    int m_previous;
};

// Compiles a function for the named instruction-set extensions, as the
// processor engines mark theirs; it then runs only where the engine was chosen
// (GCC and Clang; other compilers take the intrinsics without it).
#if defined(__GNUC__) || defined(__clang__)
#define RJDL_TARGET(features) __attribute__((target(features)))
#else
#define RJDL_TARGET(features)
#endif

// Fully unrolls the loop that follows (blocks side by side, rounds), so that
// the blocks stay in registers; GCC at -O2 would otherwise keep them in memory.
#if defined(__GNUC__) || defined(__clang__)
#define RJDL_UNROLL _Pragma("GCC unroll 16")
#else
#define RJDL_UNROLL
#endif

// Independent chains side by side read and write as many streams 1 KiB
// apart, more than the processor's prefetchers follow: while one group of
// chains runs, this brings the next group's input and output (`bytes` from
// `in` and `out`, contiguous) toward the cache, a share at each of the
// group's `steps` steps.
class NextGroupPrefetch {
public:
    NextGroupPrefetch(const uint8_t* in, uint8_t* out, size_t bytes, size_t steps)
        : m_in(in), m_out(out), m_bytes(bytes),
          m_perStep(steps == 0 ? bytes : ((bytes + steps - 1) / steps + 63) / 64 * 64)  // whole lines per step
    {
    }

    void Step(size_t step) const
    {
#if defined(__GNUC__) || defined(__clang__)
        for (size_t at = step * m_perStep, end = at + m_perStep; at < end && at < m_bytes; at += 64) {
            __builtin_prefetch(m_in + at, 0, 3);
            __builtin_prefetch(m_out + at, 1, 3);
            // Keeps GCC from dropping the loop as one without effects.
            __asm__ volatile("");
        }
#else
        (void)step;
#endif
    }

private:
    const uint8_t* m_in;
    uint8_t* m_out;
    size_t m_bytes;
    size_t m_perStep;
};

// Reading segments one after the other, the decryption of segment j asks for
// the input kDecryptAhead bytes further on (within `total`), which the
// hardware prefetcher alone brings in a little late.
inline constexpr size_t kDecryptAhead = 16 * 1024;

inline void PrefetchAhead(const uint8_t* in, size_t from, size_t bytes, size_t total)
{
#if defined(__GNUC__) || defined(__clang__)
    for (size_t at = from + kDecryptAhead, end = at + bytes; at < end && at < total; at += 64) {
        __builtin_prefetch(in + at, 0, 3);
        __asm__ volatile("");  // as in NextGroupPrefetch
    }
#else
    (void)in, (void)from, (void)bytes, (void)total;
#endif
}

// Bodies of segments at least this large are deciphered with streaming
// stores on the VAES engines, around the caches: the output would not stay
// there anyway, and the processor then need not read each output line before
// writing it.
inline constexpr size_t kStreamBytes = size_t{32} << 20;

// Blocks to take one at a time before `out` sits on a `vectorBytes`
// boundary, so that the vector stores after them do not straddle cache lines
// (that costs the wide engines much when data streams from memory). None when
// `out` is not even 16-byte aligned: then no number of blocks aligns it.
inline size_t BlocksToAlign(const uint8_t* out, size_t vectorBytes, size_t blocks)
{
    const size_t misalignment = reinterpret_cast<uintptr_t>(out) % vectorBytes;
    if (misalignment % 16 != 0 || misalignment == 0)
        return 0;
    const size_t head = (vectorBytes - misalignment) / 16;
    return head < blocks ? head : blocks;
}

// Byte order reversed; compilers turn this into one instruction.
constexpr uint64_t SwapBytes64(uint64_t v)
{
    v = ((v & 0x00ff00ff00ff00ffull) << 8) | ((v >> 8) & 0x00ff00ff00ff00ffull);
    v = ((v & 0x0000ffff0000ffffull) << 16) | ((v >> 16) & 0x0000ffff0000ffffull);
    return (v << 32) | (v >> 32);
}

// Calls `f` with the round count as a compile-time constant
// (std::integral_constant), so that the processor engines unroll their rounds.
template <class F>
void WithRounds(int32_t rounds, F&& f)
{
    switch (rounds) {
    case 12: f(std::integral_constant<int, 12>{}); break;
    case 14: f(std::integral_constant<int, 14>{}); break;
    default: f(std::integral_constant<int, 10>{}); break;
    }
}

// Engines' routine tables, where built (defined in their own source files).
extern const EngineOps kTableOps;
#if defined(__x86_64__) || defined(_M_X64)
#define RJDL_HAVE_X86_ENGINES 1
extern const EngineOps kAesNiOps;
extern const EngineOps kVaes256Ops;
extern const EngineOps kVaes512Ops;
#endif
// The build defines PVCODEC_ARM_CE where it compiles RjdlArmCe.cpp with the
// Crypto Extensions enabled (AArch64 only).
#if defined(__aarch64__) && defined(PVCODEC_ARM_CE)
#define RJDL_HAVE_ARM_ENGINE 1
extern const EngineOps kArmCeOps;
#endif

}  // namespace rjdl
