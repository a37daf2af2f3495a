// Containers built byte by byte with OpenSSL's AES-128-CBC (zero IV, a chain per piece), apart from
// the library's layout code: the writers' output is compared with these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reference {

using Bytes = std::vector<char>;

// 1024-byte segments, then a PKCS#7 final piece, or (tail of 1008..1023 bytes) the zero-filled
// segment and the pad-encrypted 15-byte trailer "VQPVZP" + z + five zeros.
Bytes SegmentedBody(const std::string& key, const Bytes& document);

// "magic" (at most 10 bytes, zero-filled), N, the header bytes.
Bytes DefaultHeader(const std::string& magic, const Bytes& header);
// The 92-byte prefix, the header bytes.
Bytes ExtendedHeader(const Bytes& prefix, const Bytes& header);
// A 92-byte prefix: "VQPVA004", zero, 'x', then `tag`, then bytes 11..91 counting up.
Bytes ExtendedPrefix(char tag);

Bytes Concat(const Bytes& a, const Bytes& b);

// Deterministic document bytes that never begin with a container magic.
Bytes Document(size_t size, uint32_t seed);

}  // namespace reference
