// OpenSSL's EVP ciphers: the reference the engines and the raw functions are compared against. The
// Windows build has no OpenSSL: there the system's AES and libgcrypt's SEED stand behind the same calls
// (SystemCipher.cpp), and no ARIA.
#pragma once

#ifdef _WIN32
struct EVP_CIPHER;
#else
#include <openssl/evp.h>
#endif

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace reference {

// `cipher` over `data` in one go (`padding`: PKCS#7, else whole blocks); empty on a failure (bad padding).
std::optional<std::vector<uint8_t>> Evp(const EVP_CIPHER* cipher, bool encrypt, bool padding, const uint8_t* key,
                                        const uint8_t* iv, const uint8_t* data, size_t size);

// AES of the key's size (16, 24 or 32 bytes) in ECB, CBC or 1-bit CFB.
const EVP_CIPHER* AesEcb(size_t keyBytes);
const EVP_CIPHER* AesCbc(size_t keyBytes);
const EVP_CIPHER* AesCfb1(size_t keyBytes);
// ARIA-128 and SEED in CBC mode; null where the reference lacks them.
const EVP_CIPHER* AriaCbc();
const EVP_CIPHER* SeedCbc();

inline std::vector<uint8_t> Random(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

}  // namespace reference
