// Formats a wide printf-style line with the Windows meaning of the
// placeholders into a growing string: no fixed buffer, so no overflow.
#pragma once

#include <cstdarg>
#include <string>

namespace qz {

std::u16string FormatWide(const char16_t* format, va_list args);

}  // namespace qz
