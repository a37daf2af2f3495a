#include "DerReader.h"

#include <algorithm>
#include <array>

namespace der {
namespace {

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kSequence = 0x30;

// 1.2.840.113549.1.1.1, rsaEncryption.
constexpr std::array<uint8_t, 9> kRsaEncryption = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};

// Reads elements one after another from a run of bytes.
class Reader {
public:
    explicit Reader(Bytes bytes) : m_rest(bytes) {}

    bool AtEnd() const { return m_rest.empty(); }
    bool Next(uint8_t tag) const { return !m_rest.empty() && m_rest[0] == tag; }

    // The contents of the next element when it has tag `tag`.
    std::optional<Bytes> Element(uint8_t tag)
    {
        if (m_rest.size() < 2 || m_rest[0] != tag)
            return std::nullopt;
        size_t length = m_rest[1];
        size_t header = 2;
        if (length & 0x80) {
            const size_t count = length & 0x7f;
            // No indefinite form, at most four length bytes, none of them a leading zero.
            if (count == 0 || count > 4 || m_rest.size() < 2 + count || m_rest[2] == 0)
                return std::nullopt;
            length = 0;
            for (size_t i = 0; i < count; ++i)
                length = length << 8 | m_rest[2 + i];
            if (length < 0x80)  // the short form would have done
                return std::nullopt;
            header += count;
        }
        if (length > m_rest.size() - header)
            return std::nullopt;
        const Bytes contents = m_rest.subspan(header, length);
        m_rest = m_rest.subspan(header + length);
        return contents;
    }

    // The magnitude of a non-negative INTEGER (empty for zero).
    std::optional<Bytes> Integer()
    {
        const auto contents = Element(kInteger);
        if (!contents || contents->empty() || ((*contents)[0] & 0x80) != 0)
            return std::nullopt;
        if ((*contents)[0] == 0) {
            if (contents->size() > 1 && ((*contents)[1] & 0x80) == 0)
                return std::nullopt;  // a zero byte that sets no sign
            return contents->subspan(1);
        }
        return contents;
    }

    std::optional<Bytes> Positive()
    {
        auto magnitude = Integer();
        return magnitude && !magnitude->empty() ? magnitude : std::nullopt;
    }

    // A version number of one byte.
    std::optional<unsigned> Version()
    {
        const auto magnitude = Integer();
        if (!magnitude || magnitude->size() > 1)
            return std::nullopt;
        return magnitude->empty() ? 0u : (*magnitude)[0];
    }

private:
    Bytes m_rest;
};

// The contents of the one SEQUENCE that fills `input`.
std::optional<Bytes> WholeSequence(Bytes input)
{
    Reader outer(input);
    auto contents = outer.Element(kSequence);
    return contents && outer.AtEnd() ? contents : std::nullopt;
}

// AlgorithmIdentifier of rsaEncryption, its parameters NULL or left out.
bool IsRsaAlgorithm(Reader& reader)
{
    const auto algorithm = reader.Element(kSequence);
    if (!algorithm)
        return false;
    Reader fields(*algorithm);
    const auto id = fields.Element(kObjectId);
    if (!id || !std::ranges::equal(*id, kRsaEncryption))
        return false;
    if (fields.Next(kNull)) {
        const auto null = fields.Element(kNull);
        if (!null || !null->empty())
            return false;
    }
    return fields.AtEnd();
}

std::optional<RsaPublicKey> ReadPkcs1Public(Bytes input)
{
    const auto sequence = WholeSequence(input);
    if (!sequence)
        return std::nullopt;
    Reader fields(*sequence);
    const auto n = fields.Positive();
    const auto e = n ? fields.Positive() : std::nullopt;
    if (!e || !fields.AtEnd())
        return std::nullopt;
    return RsaPublicKey{*n, *e};
}

std::optional<RsaPublicKey> ReadSubjectPublicKeyInfo(Bytes input)
{
    const auto sequence = WholeSequence(input);
    if (!sequence)
        return std::nullopt;
    Reader fields(*sequence);
    if (!IsRsaAlgorithm(fields))
        return std::nullopt;
    const auto bits = fields.Element(kBitString);
    if (!bits || bits->empty() || (*bits)[0] != 0 || !fields.AtEnd())  // whole bytes only
        return std::nullopt;
    return ReadPkcs1Public(bits->subspan(1));
}

std::optional<RsaPrivateKey> ReadPkcs1Private(Bytes input)
{
    const auto sequence = WholeSequence(input);
    if (!sequence)
        return std::nullopt;
    Reader fields(*sequence);
    if (fields.Version() != 0u)  // 1 would add more primes
        return std::nullopt;
    RsaPrivateKey key;
    for (Bytes* part : {&key.n, &key.e, &key.d, &key.p, &key.q, &key.dp, &key.dq, &key.qinv}) {
        const auto value = fields.Positive();
        if (!value)
            return std::nullopt;
        *part = *value;
    }
    if (!fields.AtEnd())
        return std::nullopt;
    return key;
}

std::optional<RsaPrivateKey> ReadPrivateKeyInfo(Bytes input)
{
    const auto sequence = WholeSequence(input);
    if (!sequence)
        return std::nullopt;
    Reader fields(*sequence);
    const auto version = fields.Version();
    if (!version || *version > 1 || !IsRsaAlgorithm(fields))
        return std::nullopt;
    const auto privateKey = fields.Element(kOctetString);
    if (!privateKey)
        return std::nullopt;
    // Then the optional attributes [0] and, from version 1 on, the public key [1].
    if (fields.Next(0xa0) && !fields.Element(0xa0))
        return std::nullopt;
    if (*version == 1 && fields.Next(0x81) && !fields.Element(0x81))
        return std::nullopt;
    if (!fields.AtEnd())
        return std::nullopt;
    return ReadPkcs1Private(*privateKey);
}

}  // namespace

std::optional<RsaPublicKey> ReadRsaPublicKey(Bytes input)
{
    if (auto key = ReadSubjectPublicKeyInfo(input))
        return key;
    return ReadPkcs1Public(input);
}

std::optional<RsaPrivateKey> ReadRsaPrivateKey(Bytes input)
{
    if (auto key = ReadPrivateKeyInfo(input))
        return key;
    return ReadPkcs1Private(input);
}

}  // namespace der
