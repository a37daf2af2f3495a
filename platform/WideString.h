// UTF-16 strings at the boundary of the platform layer: conversion to and
// from the UTF-8 the operating system takes, lengths and case-insensitive
// comparison of wide strings, and the path separators.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Length of a NUL-terminated wide string (0 for null).
size_t WideLength(LPCWSTR text);

// UTF-16 to UTF-8; an unpaired surrogate gives nullopt.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Compares as Windows compares names: without regard to case (ASCII letters
// and the Latin-1 letters; other units exactly). Returns <0, 0, >0.
int WideCompareNoCase(std::u16string_view a, std::u16string_view b);
char16_t WideToLower(char16_t c);

// Both '\' and '/' separate path components on input; paths the layer
// composes use '/'.
inline constexpr char16_t kPathSeparator = u'/';
inline bool IsPathSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// A caller's wide path as the operating system takes it: UTF-8 with every
// '\' turned into '/'. nullopt for a null path or an unpaired surrogate.
std::optional<std::string> ToNativePath(LPCWSTR path);

}  // namespace plat
