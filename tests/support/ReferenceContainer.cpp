#include "support/ReferenceContainer.h"

#include "support/OpenSslCipher.h"

#include <cstring>
#include <random>

namespace reference {
namespace {

const uint8_t kZeroIv[16] = {};

Bytes Aes(const std::string& key, bool encrypt, bool padding, const char* data, size_t size)
{
    auto out = Evp(AesCbc(16), encrypt, padding, reinterpret_cast<const uint8_t*>(key.data()), kZeroIv,
                   reinterpret_cast<const uint8_t*>(data), size);
    return out ? Bytes(out->begin(), out->end()) : Bytes();
}

void Append(Bytes& to, const Bytes& piece)
{
    to.insert(to.end(), piece.begin(), piece.end());
}

}  // namespace

Bytes SegmentedBody(const std::string& key, const Bytes& document)
{
    Bytes body;
    size_t full = document.size() / 1024;
    for (size_t i = 0; i < full; ++i)
        Append(body, Aes(key, true, false, document.data() + i * 1024, 1024));
    size_t tail = document.size() - full * 1024;
    if (tail == 0)
        return body;
    if (1024 - tail > 16) {
        Append(body, Aes(key, true, true, document.data() + full * 1024, tail));
        return body;
    }
    uint32_t z = static_cast<uint32_t>(1024 - tail);
    Bytes segment(1024, 0);
    std::memcpy(segment.data(), document.data() + full * 1024, tail);
    Append(body, Aes(key, true, false, segment.data(), 1024));
    Bytes trailer = {'V', 'Q', 'P', 'V', 'Z', 'P', static_cast<char>(z), static_cast<char>(z >> 8),
                     static_cast<char>(z >> 16), static_cast<char>(z >> 24), 0, 0, 0, 0, 0};
    Append(body, Aes(key, true, true, trailer.data(), trailer.size()));
    return body;
}

Bytes DefaultHeader(const std::string& magic, const Bytes& header)
{
    Bytes out(10, 0);
    std::memcpy(out.data(), magic.data(), std::min<size_t>(magic.size(), 10));
    uint32_t n = static_cast<uint32_t>(header.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(n >> (8 * i)));
    Append(out, header);
    return out;
}

Bytes ExtendedHeader(const Bytes& prefix, const Bytes& header)
{
    return Concat(prefix, header);
}

Bytes ExtendedPrefix(char tag)
{
    Bytes prefix = {'V', 'Q', 'P', 'V', 'A', '0', '0', '4', 0, 'x', tag};
    for (int i = 11; i < 92; ++i)
        prefix.push_back(static_cast<char>(i));
    return prefix;
}

Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes out = a;
    Append(out, b);
    return out;
}

Bytes Document(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes document(size);
    for (char& c : document)
        c = static_cast<char>(random());
    if (size > 0)
        document[0] = 'D';  // no magic begins with 'D'
    return document;
}

}  // namespace reference
