// What pvcodec inspect tells of a container without its key: the header form
// and magic, the header size N and the offset of the body, the cipher the
// readers will use, and whether the body's length fits a segmented body.
// The header is read as `pvcodec decrypt` reads it (container/ContainerFormat.h):
// an offset is reported only where decrypt would take it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli::report {

// The first bytes of the container (enough for every header test) and its length.
struct Input {
    std::string start;
    int64_t length = 0;
};
inline constexpr size_t kInputStart = 92 + 16;

enum class Form { Default, CallerMagic, Extended, Bare };

struct Description {
    Form form = Form::Bare;
    std::string magic;  // the magic field up to its first zero byte
    std::optional<int64_t> headerSize;
    std::optional<int64_t> storedHeaderSize;  // a default form's N when it is out of range
    std::optional<int64_t> bodyOffset;
    std::string offsetRule;  // "14 + N", "92 + N", "0"
    int algorithm = 0;
    std::optional<unsigned char> tag;
    int64_t length = 0;
    std::optional<int64_t> bodyLength;
    std::vector<std::string> notes;
};

// `givenHeaderSize`: the caller's N (--header-size), for the extended form.
Description Describe(const Input& input, std::optional<int64_t> givenHeaderSize);

std::string Text(const Description& description);
std::string Json(const Description& description);

}  // namespace cli::report
