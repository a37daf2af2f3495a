// The registry on hosts without one: each root (HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER) is a text file in the Windows .reg export format, as the
// registry editor writes it (UTF-16LE with a byte-order mark) or in UTF-8.
//
// Where the files are:
//   HKEY_LOCAL_MACHINE  /etc/pvcodec/registry/HKEY_LOCAL_MACHINE.reg
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/pvcodec/registry/HKEY_CURRENT_USER.reg
//                       (~/.config/... when XDG_CONFIG_HOME is not set)
// PVCODEC_REGISTRY_DIR, when set, points both roots at <dir>/<ROOT>.reg.
//
// Files are read afresh on every query and never written. A missing or
// malformed file, key or value is simply not found.
#pragma once

#include "platform/WinTypes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plat::registry {

enum class Root { LocalMachine, CurrentUser };

struct Value {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;  // as Windows stores it: REG_SZ is UTF-16LE with its NUL
};

// Key paths and value names are kept lower-cased (Windows compares them
// without regard to case); key paths use '\' and carry no root and no
// leading or trailing separator.
struct Hive {
    std::map<std::u16string, std::map<std::u16string, Value>> keys;
    bool HasKey(const std::u16string& keyPath) const;
    const Value* Find(const std::u16string& keyPath, const std::u16string& valueName) const;
};

std::string HivePath(Root root);
// Parses .reg text (raw file bytes, either encoding); keeps the sections of `root` only.
Hive ParseHive(const std::string& fileBytes, Root root);
// Reads and parses the file of `root`; an empty hive when there is none.
Hive LoadHive(Root root);
// Lower-cases and normalises a sub-key path ("A\\B\\" -> "a\\b").
std::u16string NormaliseKeyPath(std::u16string_view path);

}  // namespace plat::registry
