// The .reg settings files: the parser on fuzzed file bytes, then the
// registry calls and the library's readers of its three values ("ALG", the
// install folder "PVVPVPath", Explorer's "IconsOnly") on the same bytes as
// the files of both roots. Parsed names come back normalised (a value's type
// is only a label: hex(n) gives any type any number of bytes, so values are
// checked where they are read); a query copies a value only into a buffer
// that holds it, and the install folder always ends within its buffer.
#include "FuzzSupport.h"

#include "codec/SettingsKey.h"
#include "extcrypto/LibraryPaths.h"
#include "fileops/FileChecks.h"
#include "platform/Registry.h"
#include "platform/posix/RegistryHive.h"
#include "platform/WideString.h"

namespace {

using namespace plat;
using plat::registry::Root;

// Queries per input: each call reads and parses the file again.
constexpr int kQueriedValues = 4;

bool HasNul(const std::u16string& text)
{
    return text.find(u'\0') != std::u16string::npos;
}

void CheckParsed(const registry::Hive& hive)
{
    for (const auto& [path, values] : hive.keys) {
        fuzz::Check(registry::NormaliseKeyPath(path) == path, "key paths are kept normalised");
        for (const auto& entry : values)
            for (char16_t c : entry.first)
                fuzz::Check(WideToLower(c) == c, "value names are kept lower-cased");
    }
}

// A wide query into buffers of exactly the value's size and one byte less.
void Query(HKEY key, const std::u16string& name, const registry::Value& expected)
{
    DWORD size = 0;
    DWORD type = 0;
    fuzz::Check(RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
                    size == expected.data.size() && type == expected.type,
                "a size query gives the value's size and type");
    const fuzz::Exact exact(size);
    fuzz::Check(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(exact.data()),
                                 &size) == ERROR_SUCCESS &&
                    exact.Holds(reinterpret_cast<const char*>(expected.data.data()), expected.data.size()),
                "a buffer of the value's size receives it");
    if (size > 0) {
        const fuzz::Exact shorter(size - 1, 'x');
        DWORD room = size - 1;
        fuzz::Check(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(shorter.data()),
                                     &room) == static_cast<LONG>(ERROR_MORE_DATA) &&
                        room == size,
                    "a shorter buffer gets ERROR_MORE_DATA and the size");
    }
    // The ANSI form converts strings; any size it reports is a size it delivers.
    const std::string narrowName = Utf16ToUtf8(name).value_or("");
    DWORD narrowSize = 0;
    if (RegQueryValueExA(key, narrowName.c_str(), nullptr, nullptr, nullptr, &narrowSize) == ERROR_SUCCESS) {
        const fuzz::Exact narrow(narrowSize);
        fuzz::Check(RegQueryValueExA(key, narrowName.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(narrow.data()),
                                     &narrowSize) == ERROR_SUCCESS &&
                        narrowSize == narrow.size(),
                    "the ANSI form delivers the size it reported");
    }
}

void QueryThroughTheRegistryCalls(const registry::Hive& hive)
{
    int queried = 0;
    for (const auto& [path, values] : hive.keys) {
        if (HasNul(path))
            continue;
        HKEY key = nullptr;
        fuzz::Check(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS,
                    "a parsed key opens");
        for (const auto& [name, value] : values) {
            if (queried++ == kQueriedValues)
                break;
            if (!HasNul(name) && Utf16ToUtf8(name))
                Query(key, name, value);
        }
        RegCloseKey(key);
        if (queried > kQueriedValues)
            break;
    }
}

template <typename Char>
void CheckEndsWithin(const fuzz::Exact& buffer)
{
    const auto* text = reinterpret_cast<const Char*>(buffer.data());
    const size_t units = buffer.size() / sizeof(Char);
    fuzz::Check(std::find(text, text + units, Char{0}) != text + units, "the install folder ends within its buffer");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::IsolateRegistry();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const registry::Hive machine = registry::ParseHive(bytes, Root::LocalMachine);
    CheckParsed(machine);
    CheckParsed(registry::ParseHive(bytes, Root::CurrentUser));

    fuzz::WriteFile(registry::HivePath(Root::LocalMachine), data, size);
    fuzz::WriteFile(registry::HivePath(Root::CurrentUser), data, size);
    QueryThroughTheRegistryCalls(machine);

    const fuzz::Exact setting(sizeof(uint32_t));
    CSettingsKey().QueryDword(u"ALG", reinterpret_cast<uint32_t*>(setting.data()));
    const fuzz::Exact wide(kLibraryPathUnits * sizeof(char16_t), 'x');
    GetInstallDirectoryW(std::span(reinterpret_cast<char16_t*>(wide.data()), kLibraryPathUnits));
    CheckEndsWithin<char16_t>(wide);
    const fuzz::Exact narrow(kLibraryPathUnits, 'x');
    GetInstallDirectoryA(std::span(narrow.data(), kLibraryPathUnits));
    CheckEndsWithin<char>(narrow);
    const int iconsOnly = IsExplorerIconsOnly();
    fuzz::Check(iconsOnly == 0 || iconsOnly == 1, "IconsOnly is 1 or 0");
    return 0;
}
