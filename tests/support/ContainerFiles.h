// Helpers for tests of the file drivers: a folder's entries (the "~PV" and ".wipeout" names a call left), whole
// files as bytes, and containers through the memory writer and reader.
#pragma once

#include "PVCodec.h"
#include "support/FileHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace containerfiles {

using Bytes = std::vector<char>;

inline const std::string kKey = "0123456789abcdef";

inline char* Key()
{
    return const_cast<char*>(kKey.data());
}

// The names in `folder`, sorted.
inline std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The "~PV" temporary files in `folder`, as full paths.
inline std::vector<std::string> Temporaries(const std::string& folder)
{
    std::vector<std::string> found;
    for (const std::string& name : Entries(folder))
        if (name.rfind("~PV", 0) == 0)
            found.push_back(folder + "/" + name);
    return found;
}

// Expects one "~PV" file of `size` bytes in `folder` (none when `size` is negative) and removes it.
inline void ExpectTemporaryAndRemove(const std::string& folder, int64_t size)
{
    const std::vector<std::string> temps = Temporaries(folder);
    EXPECT_EQ(temps.size(), size < 0 ? 0u : 1u);
    for (const std::string& temp : temps) {
        EXPECT_EQ(static_cast<int64_t>(ReadBytes(temp).size()), size);
        std::remove(temp.c_str());
    }
}

inline Bytes FileBytes(const std::string& path)
{
    const std::string text = ReadBytes(path);
    return Bytes(text.begin(), text.end());
}

inline void WriteFile(const std::string& path, const Bytes& bytes)
{
    WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

// The document of a container whose body starts at `offset`, through the memory reader.
inline std::optional<Bytes> Decrypt(const Bytes& container, int offset, char* key = Key())
{
    Bytes source = container;
    source.resize(container.size() + 16);
    Bytes output(32 + container.size() + 16);
    int size = -1;
    if (CPVCodec::DecryptMemoryToMemory(source.data(), output.data(), static_cast<int>(container.size()), &size, key,
                                        offset) != 1 ||
        size < 0)
        return std::nullopt;
    return Bytes(output.begin() + 32, output.begin() + 32 + size);
}

// The container that the memory writer makes of `document`.
inline std::optional<Bytes> MemoryContainer(const Bytes& document, char* header, int headerSize,
                                            unsigned headerMode, char* magicOrPrefix)
{
    Bytes image(32 + 92 + std::max(headerSize, 0) + document.size() + 64);
    std::copy(document.begin(), document.end(), image.begin() + 32);
    int size = -1;
    if (CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(document.size()), &size, Key(), header,
                                          headerSize, headerMode, magicOrPrefix) != 1)
        return std::nullopt;
    return Bytes(image.begin() + 32, image.begin() + 32 + size);
}

}  // namespace containerfiles
