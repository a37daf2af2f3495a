// Where the pvcodec command takes its 16-byte key from: a key file, hex on
// the command line, or the PVCODEC_KEY environment variable (hex). Keys are
// never printed, not even in error messages.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace cli {

using Key = std::array<char, 16>;

struct KeyOptions {
    std::string keyFile;
    std::string keyHex;
};

// The key, or nullopt with `error` set to a message that does not contain it.
std::optional<Key> LoadKey(const KeyOptions& options, std::string& error);

}  // namespace cli
