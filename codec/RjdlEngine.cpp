// Which cipher routines run: the processor's features, read once with CPUID
// (or the auxiliary vector on ARM), the PVCODEC_AES_ENGINE switch, and the
// per-thread override that tests and benchmarks use.
#include "codec/RjdlEngine.h"

#include <array>
#include <cstdlib>

#if defined(RJDL_HAVE_X86_ENGINES)
#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif
#if defined(RJDL_HAVE_ARM_ENGINE) && defined(__linux__)
#include <sys/auxv.h>
#ifndef HWCAP_AES
#define HWCAP_AES (1 << 3)  // the kernel's AArch64 hwcap bit for AESE/AESD/AESMC/AESIMC
#endif
#endif

namespace rjdl {
namespace {

constexpr std::array<const char*, kEngineCount> kNames = {"table", "aesni", "vaes256", "vaes512", "armce"};

constexpr unsigned Bit(Engine e)
{
    return 1u << static_cast<unsigned>(e);
}

#if defined(RJDL_HAVE_X86_ENGINES)

struct CpuidRegs {
    unsigned a = 0, b = 0, c = 0, d = 0;
};

CpuidRegs Cpuid(unsigned leaf, unsigned subleaf)
{
    CpuidRegs r;
#if defined(_MSC_VER) && !defined(__clang__)
    int v[4];
    __cpuidex(v, static_cast<int>(leaf), static_cast<int>(subleaf));
    r = {static_cast<unsigned>(v[0]), static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2]),
         static_cast<unsigned>(v[3])};
#else
    __cpuid_count(leaf, subleaf, r.a, r.b, r.c, r.d);
#endif
    return r;
}

// The vector state the operating system saves on a context switch (XCR0).
uint64_t EnabledVectorState()
{
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t{hi} << 32) | lo;
#endif
}

unsigned DetectProcessor()
{
    unsigned found = Bit(Engine::Table);
    const unsigned maxLeaf = Cpuid(0, 0).a;
    if (maxLeaf < 1)
        return found;
    const CpuidRegs l1 = Cpuid(1, 0);
    const bool aes = (l1.c >> 25) & 1, ssse3 = (l1.c >> 9) & 1, sse41 = (l1.c >> 19) & 1;
    const bool osxsave = (l1.c >> 27) & 1, avx = (l1.c >> 28) & 1;
    if (!(aes && ssse3 && sse41))
        return found;
    found |= Bit(Engine::AesNi);
    if (maxLeaf < 7 || !osxsave || !avx)
        return found;
    const uint64_t xcr0 = EnabledVectorState();
    const CpuidRegs l7 = Cpuid(7, 0);
    const bool avx2 = (l7.b >> 5) & 1, avx512f = (l7.b >> 16) & 1, vaes = (l7.c >> 9) & 1;
    const bool ymmSaved = (xcr0 & 0x6) == 0x6;            // SSE and AVX state
    const bool zmmSaved = ymmSaved && (xcr0 & 0xe0) == 0xe0;  // opmask, upper ZMM0-15, ZMM16-31
    if (!(vaes && avx2 && ymmSaved))
        return found;
    found |= Bit(Engine::Vaes256);
    if (avx512f && zmmSaved)
        found |= Bit(Engine::Vaes512);
    return found;
}

#elif defined(RJDL_HAVE_ARM_ENGINE)

unsigned DetectProcessor()
{
#if defined(__linux__)
    const bool aes = (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
#else
    const bool aes = true;  // every 64-bit ARM the other supported systems run on has them
#endif
    return Bit(Engine::Table) | (aes ? Bit(Engine::ArmCe) : 0u);
}

#else

unsigned DetectProcessor()
{
    return Bit(Engine::Table);
}

#endif

const EngineOps* BuiltOps(Engine e)
{
    switch (e) {
    case Engine::Table: return &kTableOps;
#if defined(RJDL_HAVE_X86_ENGINES)
    case Engine::AesNi: return &kAesNiOps;
    case Engine::Vaes256: return &kVaes256Ops;
    case Engine::Vaes512: return &kVaes512Ops;
#endif
#if defined(RJDL_HAVE_ARM_ENGINE)
    case Engine::ArmCe: return &kArmCeOps;
#endif
    default: return nullptr;
    }
}

struct Availability {
    unsigned mask = 0;
    std::array<Engine, kEngineCount> list{};
    size_t count = 0;
};

const Availability& Present()
{
    static const Availability present = [] {
        Availability a;
        const unsigned cpu = DetectProcessor();
        for (int i = 0; i < kEngineCount; ++i) {
            const auto e = static_cast<Engine>(i);
            if ((cpu & Bit(e)) != 0 && BuiltOps(e) != nullptr) {
                a.mask |= Bit(e);
                a.list[a.count++] = e;
            }
        }
        return a;
    }();
    return present;
}

// ASCII letters compared without case.
bool SameName(const char* a, const char* b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (lower(*a) != lower(*b))
            return false;
    return *a == *b;
}

// -1: no override on this thread.
thread_local int t_override = -1;

}  // namespace

const char* EngineName(Engine engine)
{
    const auto i = static_cast<size_t>(engine);
    return i < kNames.size() ? kNames[i] : "unknown";
}

bool EngineAvailable(Engine engine)
{
    return static_cast<int>(engine) < kEngineCount && (Present().mask & Bit(engine)) != 0;
}

std::span<const Engine> AvailableEngines()
{
    const Availability& a = Present();
    return {a.list.data(), a.count};
}

const EngineOps& OpsOf(Engine engine)
{
    return EngineAvailable(engine) ? *BuiltOps(engine) : kTableOps;
}

Engine ChooseEngine(const char* request, unsigned available)
{
    available |= Bit(Engine::Table);
    auto strongest = [available] {
        for (int i = kEngineCount - 1; i > 0; --i)
            if ((available & (1u << i)) != 0)
                return static_cast<Engine>(i);
        return Engine::Table;
    };
    if (request == nullptr)
        return strongest();
    int asked = -1;
    for (int i = 0; i < kEngineCount; ++i)
        if (SameName(request, kNames[static_cast<size_t>(i)]))
            asked = i;
    if (asked < 0)
        return strongest();
    if (static_cast<Engine>(asked) == Engine::ArmCe)  // its own family: nothing weaker but the table
        return (available & Bit(Engine::ArmCe)) != 0 ? Engine::ArmCe : Engine::Table;
    for (int i = asked; i > 0; --i)
        if ((available & (1u << i)) != 0)
            return static_cast<Engine>(i);
    return Engine::Table;
}

Engine ProcessEngine()
{
    static const Engine chosen = ChooseEngine(std::getenv("PVCODEC_AES_ENGINE"), Present().mask);
    return chosen;
}

Engine EngineForInit()
{
    const int o = t_override;
    return o >= 0 ? static_cast<Engine>(o) : ProcessEngine();
}

ScopedEngine::ScopedEngine(Engine engine) : m_previous(t_override)
{
    t_override = static_cast<int>(ChooseEngine(EngineName(engine), Present().mask));
}

ScopedEngine::~ScopedEngine()
{
    t_override = m_previous;
}

}  // namespace rjdl
