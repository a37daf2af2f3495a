// Speed of the raw buffer functions (Rijndael, algorithm 0) beside OpenSSL's
// AES-128-CBC from the zero IV on the same buffers: block functions against
// unpadded EVP, pad functions against PKCS#7 EVP. Both sides set up the key
// on every call, as the raw functions do. After the usual report a table
// gives MB/s of both and the ratio ours / OpenSSL per case.
#include "PVCodec.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

enum Op { kBlockEncrypt, kBlockDecrypt, kPadEncrypt, kPadDecrypt };

const char* const kOpNames[] = {"BlockEncrypt", "BlockDecrypt", "PadEncrypt", "PadDecrypt"};

char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0x2e, 0x52, 0x26, 0x2b, 0x77, 0x15, 0x08, 0x09, 0x4f, 0x4f, 0x3c};
const unsigned char kZeroIv[16] = {};

struct Buffers {
    std::vector<char> plain, cipher, out;
    int cipherLength;
};

// Input for each operation: the plaintext, or its padded encryption for pad
// decryption (block decryption takes any whole blocks).
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

void Ours(benchmark::State& state, Op op)
{
    const size_t size = static_cast<size_t>(state.range(0));
    Buffers b = Prepare(size);
    const auto n = static_cast<unsigned int>(size);
    for (auto _ : state) {
        int r = 0;
        switch (op) {
        case kBlockEncrypt: r = CPVCodec::SFMemoryBlockEncrypt16Ex(b.plain.data(), b.out.data(), kKey, n, 0); break;
        case kBlockDecrypt: r = CPVCodec::SFMemoryBlockDecrypt16Ex(b.plain.data(), b.out.data(), kKey, n, 0); break;
        case kPadEncrypt: r = CPVCodec::SFPadEncryptEx(b.plain.data(), b.out.data(), kKey, static_cast<int>(n), 0); break;
        case kPadDecrypt: r = CPVCodec::SFPadDecryptEx(b.cipher.data(), b.out.data(), kKey, b.cipherLength, 0); break;
        }
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void OpenSsl(benchmark::State& state, Op op)
{
    const size_t size = static_cast<size_t>(state.range(0));
    Buffers b = Prepare(size);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const bool encrypt = op == kBlockEncrypt || op == kPadEncrypt;
    const bool padding = op == kPadEncrypt || op == kPadDecrypt;
    const char* in = op == kPadDecrypt ? b.cipher.data() : b.plain.data();
    const int inLength = op == kPadDecrypt ? b.cipherLength : static_cast<int>(size / 16 * 16);
    auto* out = reinterpret_cast<unsigned char*>(b.out.data());
    for (auto _ : state) {
        int written = 0, last = 0;
        EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, reinterpret_cast<unsigned char*>(kKey), kZeroIv,
                          encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
        EVP_CipherUpdate(ctx.get(), out, &written, reinterpret_cast<const unsigned char*>(in), inLength);
        EVP_CipherFinal_ex(ctx.get(), out + written, &last);
        benchmark::DoNotOptimize(written + last);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void Register()
{
    for (Op op : {kBlockEncrypt, kBlockDecrypt, kPadEncrypt, kPadDecrypt}) {
        for (const char* side : {"Ours", "OpenSSL"}) {
            std::string name = std::string(side) + "/" + kOpNames[op];
            auto* b = std::string(side) == "Ours"
                          ? benchmark::RegisterBenchmark(name.c_str(), [op](benchmark::State& s) { Ours(s, op); })
                          : benchmark::RegisterBenchmark(name.c_str(), [op](benchmark::State& s) { OpenSsl(s, op); });
            b->Arg(1 << 10)->Arg(16 << 20);
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
            if (it != run.counters.end() && run.run_type == Run::RT_Iteration)
                bytesPerSecond[run.benchmark_name()] = it->second;
        }
    }
};

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

    std::printf("\n%-14s %10s %12s %12s %8s\n", "case", "size", "ours MB/s", "OpenSSL MB/s", "ratio");
    for (int op = 0; op < 4; ++op) {
        for (const char* size : {"1024", "16777216"}) {
            std::string suffix = std::string("/") + kOpNames[op] + "/" + size;
            auto ours = reporter.bytesPerSecond.find("Ours" + suffix);
            auto ssl = reporter.bytesPerSecond.find("OpenSSL" + suffix);
            if (ours == reporter.bytesPerSecond.end() || ssl == reporter.bytesPerSecond.end())
                continue;
            std::printf("%-14s %10s %12.1f %12.1f %8.3f\n", kOpNames[op], size, ours->second / 1e6, ssl->second / 1e6,
                        ours->second / ssl->second);
        }
    }
    return 0;
}
