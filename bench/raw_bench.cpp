// Speed of the Rijndael engine (algorithm 0) beside OpenSSL's AES-128-CBC
// from the zero IV on the same buffers, in one run, for every engine this
// processor has (the table form included). After the usual report a table
// gives MB/s of both sides, the ratio ours / OpenSSL and the goal per case
// ("!" where it is not met), and for the Document cases also memcpy's MB/s
// and the ratio ours / memcpy with its goal. Every ratio is speed over speed:
// above 1 we are faster. With --benchmark_repetitions=N the table takes each
// side's best run.
//
// Cases, and what each side pays per iteration (kept alike on purpose):
// - Raw<Op>/<size>: the raw buffer functions, which build a codec object and
//   expand the key on every call, against EVP init + update + final on every
//   call (block functions: unpadded; pad functions: PKCS#7).
// - KeyOnce<Enc|Dec>/1024: one CRjdl initialised once, one BlockEncrypt /
//   BlockDecrypt of 1 KiB per iteration, against one EVP context set up once
//   with only the IV reset (init with the IV alone) + update + final.
// - Segments<Enc|Dec>/64 MiB: a document body as the container writes it:
//   one codec object per iteration and BlockEncryptSegments /
//   BlockDecryptSegments over its 65536 segments of 1 KiB (each its own
//   chain), against OpenSSL enciphering the same 64 MiB as one chain (init +
//   update + final). SegmentsOneByOne<Enc|Dec> is the same body with one
//   BlockEncrypt / BlockDecrypt call per segment, for comparison.
// - Document<Enc|Dec>/64 MiB: the exported whole-document operations,
//   EncryptMemoryToMemory (a 16-byte header, the 64 MiB document at offset 32
//   of the caller's buffer) and DecryptMemoryToMemory of that container,
//   against the same OpenSSL chain as Segments. The writer works in place: an
//   iteration puts back the document's first bytes (so that it is not taken
//   for a container) and enciphers what the buffer holds.
//   Both are also measured against memcpy of the same 64 MiB in the same
//   process (Memcpy/Document): from a buffer the size of the container to
//   one the size of DecryptMemoryToMemory's output, the document's bytes
//   from the body's offset to offset 32, both buffers written before timing.
//   Memory bounds these cases, so memcpy is the speed to reach.
#include "PVCodec.h"
#include "codec/CRjdl.h"
#include "codec/RawCodec.h"
#include "codec/RjdlEngine.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0x2e, 0x52, 0x26, 0x2b, 0x77, 0x15, 0x08, 0x09, 0x4f, 0x4f, 0x3c};
const unsigned char kZeroIv[16] = {};

constexpr int64_t kKiB = 1024;
constexpr int64_t kSegmentsSize = 64 << 20;

enum class Kind {
    RawBlockEncrypt,
    RawBlockDecrypt,
    RawPadEncrypt,
    RawPadDecrypt,
    KeyOnceEncrypt,
    KeyOnceDecrypt,
    SegmentsEncrypt,
    SegmentsDecrypt,
    SegmentsOneByOneEncrypt,
    SegmentsOneByOneDecrypt,
    DocumentEncrypt,
    DocumentDecrypt,
};

struct Case {
    Kind kind;
    const char* name;
    int64_t size;
    double goal;  // 0: no goal, shown for information
    // Against memcpy of the same bytes (Document cases): -1 no reference, 0
    // shown for information, else the goal of ours / memcpy.
    double memcpyGoal = -1;
};

const Case kCases[] = {
    {Kind::RawBlockEncrypt, "RawBlockEncrypt", kKiB, 1.0},
    {Kind::RawBlockDecrypt, "RawBlockDecrypt", kKiB, 1.0},
    {Kind::RawPadEncrypt, "RawPadEncrypt", kKiB, 0},
    {Kind::RawPadDecrypt, "RawPadDecrypt", kKiB, 0},
    {Kind::RawBlockEncrypt, "RawBlockEncrypt", 16 << 20, 0},
    {Kind::RawBlockDecrypt, "RawBlockDecrypt", 16 << 20, 0},
    {Kind::KeyOnceEncrypt, "KeyOnceEncrypt", kKiB, 0},
    {Kind::KeyOnceDecrypt, "KeyOnceDecrypt", kKiB, 0},
    {Kind::SegmentsEncrypt, "SegmentsEncrypt", kSegmentsSize, 5.0},
    {Kind::SegmentsDecrypt, "SegmentsDecrypt", kSegmentsSize, 1.0},
    {Kind::SegmentsOneByOneEncrypt, "SegmentsOneByOneEncrypt", kSegmentsSize, 0},
    {Kind::SegmentsOneByOneDecrypt, "SegmentsOneByOneDecrypt", kSegmentsSize, 0},
    {Kind::DocumentEncrypt, "DocumentEncrypt", kSegmentsSize, 5.0, 0},
    {Kind::DocumentDecrypt, "DocumentDecrypt", kSegmentsSize, 1.0, 0.9},
};

bool Encrypts(Kind k)
{
    return k == Kind::RawBlockEncrypt || k == Kind::RawPadEncrypt || k == Kind::KeyOnceEncrypt ||
           k == Kind::SegmentsEncrypt || k == Kind::SegmentsOneByOneEncrypt || k == Kind::DocumentEncrypt;
}

bool Pads(Kind k)
{
    return k == Kind::RawPadEncrypt || k == Kind::RawPadDecrypt;
}

struct Buffers {
    std::vector<char> plain, cipher, out;
    int cipherLength;
};

// Input for each operation: the plaintext, or its padded encryption for pad
// decryption (the other decryptions take any whole blocks).
Buffers Prepare(size_t size)
{
    Buffers b;
    b.plain.resize(size);
    for (size_t i = 0; i < size; ++i)
        b.plain[i] = static_cast<char>(i * 131 + 17);
    b.cipher.resize(size + 16);
    b.out.resize(size + 16);
    b.cipherLength = CPVCodec::SFPadEncryptEx(b.plain.data(), b.cipher.data(), kKey, static_cast<int>(size), 0);
    return b;
}

std::string Key(const std::string& side, const Case& c)
{
    return side + "/" + c.name + "/" + std::to_string(c.size);
}

char kHeader[16] = {'b', 'e', 'n', 'c', 'h', ' ', 'h', 'e', 'a', 'd', 'e', 'r', 0, 1, 2, 3};
constexpr int kImageOffset = 32;

// A memory image for the document operations: the document at offset 32 and
// room for its container (header, body and trailer).
struct Image {
    std::vector<char> buffer;
    std::vector<char> container;  // the container of the document (for decryption)
    std::vector<char> output;     // DecryptMemoryToMemory's output
    int containerLength = 0;
};

Image PrepareImage(const std::vector<char>& document, bool decrypt)
{
    Image image;
    const int size = static_cast<int>(document.size());
    image.buffer.assign(document.size() + kImageOffset + 14 + sizeof kHeader + 64, 0);
    std::copy(document.begin(), document.end(), image.buffer.begin() + kImageOffset);
    if (decrypt) {
        CPVCodec::EncryptMemoryToMemory(image.buffer.data(), size, &image.containerLength, kKey, kHeader,
                                        sizeof kHeader);
        image.container.assign(image.buffer.begin() + kImageOffset,
                               image.buffer.begin() + kImageOffset + image.containerLength);
        image.output.assign(document.size() + kImageOffset + 1024, 0);
    }
    return image;
}

void Ours(benchmark::State& state, const Case& c, rjdl::Engine engine)
{
    rjdl::ScopedEngine use(engine);
    const size_t size = static_cast<size_t>(c.size);
    Buffers b = Prepare(size);
    const auto n = static_cast<unsigned int>(size);
    const int segments = static_cast<int>(size / RJDL_SEGMENT_BYTES);
    CRjdl once;
    once.Init(Encrypts(c.kind) ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT, kKey);
    char* in = c.kind == Kind::RawPadDecrypt ? b.cipher.data() : b.plain.data();
    char* out = b.out.data();
    Image image;
    if (c.kind == Kind::DocumentEncrypt || c.kind == Kind::DocumentDecrypt)
        image = PrepareImage(b.plain, c.kind == Kind::DocumentDecrypt);
    const int headerLength = 14 + static_cast<int>(sizeof kHeader);
    for (auto _ : state) {
        int r = 0;
        switch (c.kind) {
        case Kind::RawBlockEncrypt: r = CPVCodec::SFMemoryBlockEncrypt16Ex(in, out, kKey, n, 0); break;
        case Kind::RawBlockDecrypt: r = CPVCodec::SFMemoryBlockDecrypt16Ex(in, out, kKey, n, 0); break;
        case Kind::RawPadEncrypt: r = CPVCodec::SFPadEncryptEx(in, out, kKey, static_cast<int>(n), 0); break;
        case Kind::RawPadDecrypt: r = CPVCodec::SFPadDecryptEx(in, out, kKey, b.cipherLength, 0); break;
        case Kind::KeyOnceEncrypt: r = once.BlockEncrypt(in, static_cast<int>(n), out); break;
        case Kind::KeyOnceDecrypt: r = once.BlockDecrypt(in, static_cast<int>(n), out); break;
        case Kind::SegmentsEncrypt: {
            CRawCodec codec(RJDL_DIR_ENCRYPT, kKey, ALG_RIJNDAEL);
            r = codec.BlockEncryptSegments(in, segments, out);
            break;
        }
        case Kind::SegmentsDecrypt: {
            CRawCodec codec(RJDL_DIR_DECRYPT, kKey, ALG_RIJNDAEL);
            r = codec.BlockDecryptSegments(in, segments, out);
            break;
        }
        case Kind::SegmentsOneByOneEncrypt:
        case Kind::SegmentsOneByOneDecrypt: {
            const bool encrypt = c.kind == Kind::SegmentsOneByOneEncrypt;
            CRawCodec codec(encrypt ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT, kKey, ALG_RIJNDAEL);
            for (int i = 0; i < segments; ++i) {
                const size_t at = static_cast<size_t>(i) * RJDL_SEGMENT_BYTES;
                r += encrypt ? codec.BlockEncrypt(in + at, RJDL_SEGMENT_BYTES, out + at)
                             : codec.BlockDecrypt(in + at, RJDL_SEGMENT_BYTES, out + at);
            }
            break;
        }
        case Kind::DocumentEncrypt: {
            int length = 0;
            std::copy(b.plain.begin(), b.plain.begin() + 16, image.buffer.begin() + kImageOffset);
            r = CPVCodec::EncryptMemoryToMemory(image.buffer.data(), static_cast<int>(size), &length, kKey, kHeader,
                                                sizeof kHeader);
            break;
        }
        case Kind::DocumentDecrypt: {
            int length = 0;
            r = CPVCodec::DecryptMemoryToMemory(image.container.data(), image.output.data(), image.containerLength,
                                                &length, kKey, headerLength);
            break;
        }
        }
        if ((c.kind == Kind::DocumentEncrypt || c.kind == Kind::DocumentDecrypt) && r != 1) {
            state.SkipWithError("the document operation failed");
            break;
        }
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.size);
}

// memcpy of a document's bytes between buffers laid out as DecryptMemoryToMemory's.
void Memcpy(benchmark::State& state, int64_t size)
{
    const size_t bytes = static_cast<size_t>(size);
    const size_t headerLength = 14 + sizeof kHeader;
    std::vector<char> source(headerLength + bytes + 32, 1);
    std::vector<char> output(bytes + kImageOffset + 1024, 0);
    for (auto _ : state) {
        std::memcpy(output.data() + kImageOffset, source.data() + headerLength, bytes);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

std::string MemcpyKey(int64_t size)
{
    return "Memcpy/Document/" + std::to_string(size);
}

void OpenSsl(benchmark::State& state, const Case& c)
{
    const size_t size = static_cast<size_t>(c.size);
    Buffers b = Prepare(size);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const bool encrypt = Encrypts(c.kind);
    const bool padding = Pads(c.kind);
    const char* in = c.kind == Kind::RawPadDecrypt ? b.cipher.data() : b.plain.data();
    const int inLength = c.kind == Kind::RawPadDecrypt ? b.cipherLength : static_cast<int>(size / 16 * 16);
    auto* out = reinterpret_cast<unsigned char*>(b.out.data());
    const bool keyOnce = c.kind == Kind::KeyOnceEncrypt || c.kind == Kind::KeyOnceDecrypt;
    if (keyOnce) {
        EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, reinterpret_cast<unsigned char*>(kKey), kZeroIv,
                          encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    }
    for (auto _ : state) {
        int written = 0, last = 0;
        if (keyOnce) {
            // Same cipher and key: only the IV is set again.
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, kZeroIv, -1);
        } else {
            EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, reinterpret_cast<unsigned char*>(kKey), kZeroIv,
                              encrypt ? 1 : 0);
            EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
        }
        EVP_CipherUpdate(ctx.get(), out, &written, reinterpret_cast<const unsigned char*>(in), inLength);
        EVP_CipherFinal_ex(ctx.get(), out + written, &last);
        benchmark::DoNotOptimize(written + last);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.size);
}

void Register()
{
    benchmark::RegisterBenchmark(MemcpyKey(kSegmentsSize).c_str(),
                                 [](benchmark::State& s) { Memcpy(s, kSegmentsSize); });
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark(Key("OpenSSL", c).c_str(), [&c](benchmark::State& s) { OpenSsl(s, c); });
        for (rjdl::Engine e : rjdl::AvailableEngines()) {
            benchmark::RegisterBenchmark(Key(std::string("Ours/") + rjdl::EngineName(e), c).c_str(),
                                         [&c, e](benchmark::State& s) { Ours(s, c, e); });
        }
    }
}

// Keeps the usual console output and remembers each case's bytes per second.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> bytesPerSecond;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end() || run.run_type != Run::RT_Iteration)
                continue;
            // With --benchmark_repetitions the best run counts, on both sides:
            // on a shared machine the slower runs measure the neighbours.
            double& best = bytesPerSecond[run.benchmark_name()];
            best = std::max(best, static_cast<double>(it->second));
        }
    }
};

std::string CpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Register();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nCPU: %s; engines:", CpuModel().c_str());
    for (rjdl::Engine e : rjdl::AvailableEngines())
        std::printf(" %s", rjdl::EngineName(e));
    std::printf("; default: %s\n", rjdl::EngineName(rjdl::ProcessEngine()));
    // Ratios are ours / the reference's speed: above 1 we are faster. The
    // memcpy columns are filled for the cases that have that reference.
    std::printf("%-24s %9s %-8s %12s %12s %8s %6s %12s %8s %6s\n", "case", "size", "engine", "ours MB/s",
                "OpenSSL MB/s", "ratio", "goal", "memcpy MB/s", "/memcpy", "goal");
    const auto memcpyRun = reporter.bytesPerSecond.find(MemcpyKey(kSegmentsSize));
    const bool haveMemcpy = memcpyRun != reporter.bytesPerSecond.end();
    // The goals are the default engine's; the others are shown for comparison.
    auto goalText = [](char (&text)[16], double goal, double ratio, bool defaultEngine) {
        text[0] = 0;
        if (goal > 0 && defaultEngine)
            std::snprintf(text, sizeof(text), "%.1fx%s", goal, ratio >= goal ? "" : " !");
    };
    for (const Case& c : kCases) {
        auto ssl = reporter.bytesPerSecond.find(Key("OpenSSL", c));
        if (ssl == reporter.bytesPerSecond.end())
            continue;
        for (rjdl::Engine e : rjdl::AvailableEngines()) {
            auto ours = reporter.bytesPerSecond.find(Key(std::string("Ours/") + rjdl::EngineName(e), c));
            if (ours == reporter.bytesPerSecond.end())
                continue;
            const bool defaultEngine = e == rjdl::ProcessEngine();
            const double ratio = ours->second / ssl->second;
            char goal[16];
            goalText(goal, c.goal, ratio, defaultEngine);
            std::printf("%-24s %9lld %-8s %12.1f %12.1f %8.3f %6s", c.name, static_cast<long long>(c.size),
                        rjdl::EngineName(e), ours->second / 1e6, ssl->second / 1e6, ratio, goal);
            if (c.memcpyGoal >= 0 && haveMemcpy && c.size == kSegmentsSize) {
                const double toMemcpy = ours->second / memcpyRun->second;
                goalText(goal, c.memcpyGoal, toMemcpy, defaultEngine);
                std::printf(" %12.1f %8.3f %6s", memcpyRun->second / 1e6, toMemcpy, goal);
            }
            std::printf("\n");
        }
    }
    return 0;
}
