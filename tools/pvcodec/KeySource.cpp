#include "KeySource.h"
#include "System.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace cli {
namespace {

std::optional<Key> FromHex(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':' && c != '\n' && c != '\r' && c != '\t')
            digits.push_back(c);
    if (digits.size() != 32)
        return std::nullopt;
    Key key{};
    for (size_t i = 0; i < 16; ++i) {
        auto nibble = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = nibble(digits[2 * i]), lo = nibble(digits[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        key[i] = static_cast<char>(hi * 16 + lo);
    }
    return key;
}

}  // namespace

void AddKeyOptions(CLI::App& command, KeyOptions& options)
{
    command.add_option("--key-file", options.keyFile, "File holding the 16-byte key");
    command.add_option("--key-hex", options.keyHex, "The key as 32 hexadecimal digits (else PVCODEC_KEY)");
}

std::optional<Key> LoadKey(const KeyOptions& options, std::string& error)
{
    int sources = !options.keyFile.empty() + !options.keyHex.empty();
    if (sources > 1) {
        error = "give the key one way only (--key-file or --key-hex)";
        return std::nullopt;
    }
    if (!options.keyFile.empty()) {
        std::ifstream in(sys::FsPath(options.keyFile), std::ios::binary);
        if (!in) {
            error = "cannot read key file " + options.keyFile;
            return std::nullopt;
        }
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() != 16) {
            error = "key file " + options.keyFile + " must hold exactly 16 bytes (it holds " +
                    std::to_string(bytes.size()) + ")";
            return std::nullopt;
        }
        Key key{};
        std::copy(bytes.begin(), bytes.end(), key.begin());
        return key;
    }
    if (!options.keyHex.empty()) {
        auto key = FromHex(options.keyHex);
        if (!key)
            error = "--key-hex must be 32 hexadecimal digits";
        return key;
    }
    if (const char* env = std::getenv("PVCODEC_KEY"); env != nullptr && *env != 0) {
        auto key = FromHex(env);
        if (!key)
            error = "PVCODEC_KEY must be 32 hexadecimal digits";
        return key;
    }
    error = "no key: give --key-file, --key-hex or set PVCODEC_KEY";
    return std::nullopt;
}

}  // namespace cli
