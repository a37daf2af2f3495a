// Separator work on wide paths, for the places where code written for
// Windows looks for or appends a backslash: both '\' and '/' count as
// separators, and composed paths use '/'.
#pragma once

#include "platform/WideString.h"

#include <string>
#include <string_view>

namespace plat {

// Index of the last separator, or npos.
size_t FindLastSeparator(std::u16string_view path);
// Index of the first separator at or after `from`, or npos.
size_t FindFirstSeparator(std::u16string_view path, size_t from = 0);
bool EndsWithSeparator(std::u16string_view path);
// `folder` and `name` joined by one separator ('/' unless the folder already
// ends in one); an empty folder gives `name`.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
// The last component ("c" of "a/b/c"); the whole path when it has no separator.
std::u16string_view FileNamePart(std::u16string_view path);
// Whether the path begins with two separators (\\server\share).
bool IsSharePath(std::u16string_view path);
// Whether the path begins with a drive letter and a colon ("C:...").
bool HasDriveLetter(std::u16string_view path);

}  // namespace plat
