// Where the pvcodec command takes its 16-byte key from: a key file, hex on
// the command line, or the PVCODEC_KEY environment variable (hex). Keys are
// never printed, not even in error messages.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace cli {

using Key = std::array<char, 16>;

struct KeyOptions {
    std::string keyFile;
    std::string keyHex;
};

// Adds --key-file and --key-hex to a command that takes a key.
void AddKeyOptions(CLI::App& command, KeyOptions& options);

// The key, or nullopt with `error` set to a message that does not contain it.
std::optional<Key> LoadKey(const KeyOptions& options, std::string& error);

}  // namespace cli
