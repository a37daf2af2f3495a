// A strict reader of the DER encodings of RSA keys that the stand-in takes:
// SubjectPublicKeyInfo or PKCS#1 RSAPublicKey for public keys, PKCS#8
// PrivateKeyInfo or PKCS#1 RSAPrivateKey (two primes) for private keys,
// each filling the whole input. The bytes come from callers unchecked: every
// length is checked against what is left before it is used, and anything
// not in distinguished form (long or indefinite lengths, padded or negative
// integers, trailing bytes) is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace der {

using Bytes = std::span<const uint8_t>;

// Each component is a positive integer's big-endian magnitude (no leading
// zero byte), pointing into the input.
struct RsaPublicKey {
    Bytes n, e;
};

struct RsaPrivateKey {
    Bytes n, e, d, p, q, dp, dq, qinv;
};

std::optional<RsaPublicKey> ReadRsaPublicKey(Bytes input);
std::optional<RsaPrivateKey> ReadRsaPrivateKey(Bytes input);

}  // namespace der
