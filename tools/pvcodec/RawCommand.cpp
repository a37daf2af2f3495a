// pvcodec raw: the raw buffer functions over standard input and output.
#include "Commands.h"
#include "KeySource.h"

#include <PVCodec.h>

#include <map>
#include <vector>

namespace cli {
namespace {

// Block lengths are counted in bits in a signed 32-bit integer inside the codec.
constexpr size_t kMaxBlockInput = (size_t{1} << 28) - 16;
constexpr size_t kMaxPadInput = (size_t{1} << 31) - 64;

struct RawOptions {
    KeyOptions key;
    int algorithm = 0;
    std::string operation;
};

std::string Describe(int code)
{
    switch (code) {
    case -1: return "unknown algorithm or cipher unavailable (code -1)";
    case -5: return "cipher not ready (code -5)";
    case -6: return "wrong direction (code -6)";
    case -7: return "bad data: length not a multiple of 16, bad padding or wrong key (code -7)";
    default: return "cipher failure (code " + std::to_string(code) + ")";
    }
}

int Run(const RawOptions& options)
{
    std::string error;
    auto key = LoadKey(options.key, error);
    if (!key) {
        Fail(error);
        return 2;
    }
    std::string input = ReadAllStdin();
    bool block = options.operation.rfind("block-", 0) == 0;
    if (input.size() > (block ? kMaxBlockInput : kMaxPadInput)) {
        Fail("input too large for one call (" + std::to_string(input.size()) + " bytes)");
        return 2;
    }
    std::vector<char> output(input.size() + 32);
    std::vector<char> in(input.begin(), input.end());
    in.resize(input.size() + 16);
    int n = 0;
    char* k = key->data();
    if (options.operation == "block-encrypt")
        n = CPVCodec::SFMemoryBlockEncrypt16Ex(in.data(), output.data(), k, static_cast<unsigned>(input.size()),
                                               options.algorithm);
    else if (options.operation == "block-decrypt")
        n = CPVCodec::SFMemoryBlockDecrypt16Ex(in.data(), output.data(), k, static_cast<unsigned>(input.size()),
                                               options.algorithm);
    else if (options.operation == "pad-encrypt")
        n = CPVCodec::SFPadEncryptEx(in.data(), output.data(), k, static_cast<int>(input.size()), options.algorithm);
    else
        n = CPVCodec::SFPadDecryptEx(in.data(), output.data(), k, static_cast<int>(input.size()), options.algorithm);
    if (n < 0) {
        Fail(options.operation + " failed: " + Describe(n));
        return 1;
    }
    if (block && static_cast<size_t>(n) != input.size() - input.size() % 16) {
        Fail(options.operation + " failed: cipher processed " + std::to_string(n) + " bytes");
        return 1;
    }
    if (block && input.size() % 16 != 0)
        Fail("note: the last " + std::to_string(input.size() % 16) + " bytes are not a whole block and were left out");
    if (!WriteAllStdout(output.data(), static_cast<size_t>(n))) {
        Fail("cannot write standard output");
        return 1;
    }
    return 0;
}

}  // namespace

void AddRawCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<RawOptions>();
    CLI::App* raw = app.add_subcommand("raw", "Encipher standard input to standard output without a container");
    raw->require_subcommand(1);
    for (const char* op : {"block-encrypt", "block-decrypt", "pad-encrypt", "pad-decrypt"}) {
        std::string description = std::string(op) + (std::string(op).rfind("block", 0) == 0
                                                          ? ": whole 16-byte blocks only"
                                                          : ": any length, 1 to 16 bytes of padding");
        CLI::App* sub = raw->add_subcommand(op, description);
        AddKeyOptions(*sub, options->key);
        sub->add_option("--alg", options->algorithm, "Algorithm: 0 Rijndael, 1 ARIA, 2 ATE, -1 from settings")
            ->default_val(0);
        sub->callback([options, op, &exitStatus] {
            options->operation = op;
            exitStatus = Run(*options);
        });
    }
}

}  // namespace cli
