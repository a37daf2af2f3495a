// Small helpers for tests that work on files: wide paths from UTF-8, whole
// files written and read without the platform layer.
#pragma once

#include "platform/WideString.h"

#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

inline std::u16string Wide(const std::string& utf8)
{
    return plat::Utf8ToUtf16(utf8);
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

inline mode_t ModeOf(const std::string& path)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}
