// UTF-16 to UTF-8, header-only: the platform layer and the trace library
// stand-in both encode wide text, and the stand-in must not link to the
// platform layer. What an unpaired surrogate becomes is each caller's choice.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace utf {

// NextCodePoint's answer for a surrogate that is not part of a pair.
inline constexpr char32_t kUnpairedSurrogate = 0xFFFFFFFF;

// The code point at text[i], with i moved past it: two units for a surrogate
// pair, one otherwise (an unpaired surrogate included).
inline char32_t NextCodePoint(std::u16string_view text, size_t& i)
{
    const char32_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    if (c >= 0xD800 && c <= 0xDFFF)
        return kUnpairedSurrogate;
    return c;
}

// Appends `c`, a code point other than a surrogate, in one to four bytes.
inline void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace utf
