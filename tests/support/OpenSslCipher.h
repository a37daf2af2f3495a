// OpenSSL's EVP ciphers as the reference the engine and the raw functions are
// compared against.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace reference {

// Runs `cipher` over `data` in one go. `padding` selects PKCS#7; without it
// the data must be a whole number of blocks. Empty on a cipher failure (for
// instance a bad padding on decryption).
std::optional<std::vector<uint8_t>> Evp(const EVP_CIPHER* cipher, bool encrypt, bool padding, const uint8_t* key,
                                        const uint8_t* iv, const uint8_t* data, size_t size);

// AES of the key's size (16, 24 or 32 bytes) in ECB, CBC or 1-bit CFB.
const EVP_CIPHER* AesEcb(size_t keyBytes);
const EVP_CIPHER* AesCbc(size_t keyBytes);
const EVP_CIPHER* AesCfb1(size_t keyBytes);

}  // namespace reference
