#include "support/OpenSslCipher.h"

#include <openssl/provider.h>

#include <memory>

namespace reference {

std::optional<std::vector<uint8_t>> Evp(const EVP_CIPHER* cipher, bool encrypt, bool padding, const uint8_t* key,
                                        const uint8_t* iv, const uint8_t* data, size_t size)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0);
    std::vector<uint8_t> out(size + 32);
    int written = 0, last = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &written, data, static_cast<int>(size)) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + written, &last) != 1)
        return std::nullopt;
    out.resize(static_cast<size_t>(written + last));
    return out;
}

const EVP_CIPHER* AesEcb(size_t keyBytes)
{
    return keyBytes == 16 ? EVP_aes_128_ecb() : keyBytes == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}

const EVP_CIPHER* AesCbc(size_t keyBytes)
{
    return keyBytes == 16 ? EVP_aes_128_cbc() : keyBytes == 24 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
}

const EVP_CIPHER* AesCfb1(size_t keyBytes)
{
    return keyBytes == 16 ? EVP_aes_128_cfb1() : keyBytes == 24 ? EVP_aes_192_cfb1() : EVP_aes_256_cfb1();
}

const EVP_CIPHER* AriaCbc()
{
    return EVP_aria_128_cbc();
}

// OpenSSL's SEED comes from its legacy provider.
const EVP_CIPHER* SeedCbc()
{
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* base = legacy != nullptr ? OSSL_PROVIDER_load(nullptr, "default") : nullptr;
    static EVP_CIPHER* seed = base != nullptr ? EVP_CIPHER_fetch(nullptr, "SEED-CBC", nullptr) : nullptr;
    return seed;
}

}  // namespace reference
