#include "TraceFormat.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace qz {
namespace {

void AppendNarrow(std::u16string& out, const char* text, size_t length)
{
    // Narrow strings are taken as Latin-1/ASCII unit by unit; trace texts are ASCII.
    for (size_t i = 0; i < length; ++i)
        out.push_back(static_cast<unsigned char>(text[i]));
}

void AppendPadded(std::u16string& out, const std::u16string& piece, int width, bool left)
{
    size_t pad = width > 0 && static_cast<size_t>(width) > piece.size() ? width - piece.size() : 0;
    if (!left)
        out.append(pad, u' ');
    out += piece;
    if (left)
        out.append(pad, u' ');
}

}  // namespace

std::u16string FormatWide(const char16_t* format, va_list args)
{
    std::u16string out;
    if (format == nullptr)
        return out;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        const char16_t* start = p++;
        if (*p == u'%') {
            out.push_back(u'%');
            continue;
        }
        std::string spec = "%";
        bool left = false;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            left |= *p == u'-';
            spec.push_back(static_cast<char>(*p++));
        }
        int width = -1;
        if (*p == u'*') {
            width = va_arg(args, int);
            if (width < 0) {
                left = true;
                width = -width;
            }
            spec += std::to_string(width);
            ++p;
        } else {
            int w = 0;
            bool any = false;
            while (*p >= u'0' && *p <= u'9' && w < 100000) {
                w = w * 10 + (*p - u'0');
                spec.push_back(static_cast<char>(*p++));
                any = true;
            }
            if (any)
                width = w;
        }
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            if (*p == u'*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9' && precision < 100000)
                    precision = precision * 10 + (*p++ - u'0');
            }
            if (precision >= 0) {
                spec.push_back('.');
                spec += std::to_string(precision);
            }
        }
        // Length modifiers: h, l, ll, I64, I32, z.
        enum class Len { Int, Short, Long, LongLong, Size } len = Len::Int;
        bool narrowText = false, wideText = false;
        for (;;) {
            if (*p == u'h') { len = Len::Short; narrowText = true; ++p; }
            else if (*p == u'l') { len = (len == Len::Long) ? Len::LongLong : Len::Long; wideText = true; ++p; }
            else if (*p == u'z') { len = Len::Size; ++p; }
            else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') { len = Len::LongLong; p += 3; }
            else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') { len = Len::Int; p += 3; }
            else break;
        }
        char16_t conv = *p;
        char buffer[128];
        switch (conv) {
        case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': {
            bool isSigned = conv == u'd' || conv == u'i';
            if (len == Len::LongLong) spec += "ll";
            else if (len == Len::Long) spec += "l";
            else if (len == Len::Size) spec += "z";
            else if (len == Len::Short) spec += "h";
            spec.push_back(static_cast<char>(conv));
            int n;
            if (len == Len::LongLong)
                n = isSigned ? snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, long long))
                             : snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned long long));
            else if (len == Len::Long)
                n = isSigned ? snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, long))
                             : snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned long));
            else if (len == Len::Size)
                n = snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, size_t));
            else if (len == Len::Short)
                n = isSigned ? snprintf(buffer, sizeof buffer, spec.c_str(), static_cast<short>(va_arg(args, int)))
                             : snprintf(buffer, sizeof buffer, spec.c_str(),
                                        static_cast<unsigned short>(va_arg(args, unsigned int)));
            else
                n = isSigned ? snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, int))
                             : snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned int));
            if (n > 0)
                AppendNarrow(out, buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
            break;
        }
        case u'f': case u'g': case u'e': {
            spec.push_back(static_cast<char>(conv));
            int n = snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, double));
            if (n > 0)
                AppendNarrow(out, buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
            break;
        }
        case u'p': {
            int n = snprintf(buffer, sizeof buffer, "%p", va_arg(args, void*));
            if (n > 0)
                AppendNarrow(out, buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
            break;
        }
        case u'c': case u'C': {
            int c = va_arg(args, int);
            std::u16string piece;
            bool narrow = (conv == u'C' && !wideText) || narrowText;
            piece.push_back(narrow ? static_cast<char16_t>(static_cast<unsigned char>(c)) : static_cast<char16_t>(c));
            AppendPadded(out, piece, width, left);
            break;
        }
        case u's': case u'S': {
            // In a wide format %s is a wide string and %S a narrow one; h and l force either.
            bool narrow = (conv == u'S' && !wideText) || narrowText;
            std::u16string piece;
            if (narrow) {
                const char* s = va_arg(args, const char*);
                if (s == nullptr) s = "(null)";
                for (size_t i = 0; s[i] != 0 && (precision < 0 || i < static_cast<size_t>(precision)); ++i)
                    piece.push_back(static_cast<unsigned char>(s[i]));
            } else {
                const char16_t* s = va_arg(args, const char16_t*);
                if (s == nullptr) s = u"(null)";
                for (size_t i = 0; s[i] != 0 && (precision < 0 || i < static_cast<size_t>(precision)); ++i)
                    piece.push_back(s[i]);
            }
            AppendPadded(out, piece, width, left);
            break;
        }
        default:
            // Unknown or truncated placeholder: copy it as it stands.
            for (const char16_t* q = start; q <= p && *q != 0; ++q)
                out.push_back(*q);
            if (*p == 0)
                return out;
            break;
        }
    }
    return out;
}

}  // namespace qz
