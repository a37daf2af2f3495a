// RSA keys, RSA encryption and decryption, key-pair proof and random bytes
// of the "XecureCrypto.dll" stand-in.
//
// Public-key algorithm 3 with the parameter block 4, 1, 1, 0, 0 is
// RSAES-OAEP with SHA-1 and MGF1-SHA-1 and an empty label. Keys are DER:
// SubjectPublicKeyInfo or PKCS#1 RSAPublicKey for public keys, PKCS#8 or
// PKCS#1 RSAPrivateKey for private keys. Encryption writes as many bytes as
// the modulus has; decryption writes the message only. No output capacity
// is passed in, so the caller's buffer must hold the modulus length.
#include "Objects.h"
#include "XecureCryptoCodes.h"

#include "SystemServices.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <memory>
#include <vector>

namespace xecure {
namespace {

struct KeyObject : Object {
    explicit KeyObject(Kind k) : Object(k) {}
    ~KeyObject() { EVP_PKEY_free(key); }
    EVP_PKEY* key = nullptr;
};

// Decodes the whole of `bytes` as an RSA key, or null.
EVP_PKEY* DecodePublic(const unsigned char* bytes, long length)
{
    const unsigned char* p = bytes;
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, length);
    if (key == nullptr || p != bytes + length) {
        EVP_PKEY_free(key);
        p = bytes;
        key = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, length);
        if (key != nullptr && p != bytes + length) {
            EVP_PKEY_free(key);
            key = nullptr;
        }
    }
    return key;
}

EVP_PKEY* DecodePrivate(const unsigned char* bytes, long length)
{
    const unsigned char* p = bytes;
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, length);
    if (key != nullptr && p != bytes + length) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    return key;
}

int32_t Load(SFC_HANDLE handle, Kind kind, const unsigned char* bytes, int32_t length)
{
    auto* object = As<KeyObject>(handle, kind);
    if (object == nullptr || bytes == nullptr || length <= 0)
        return SFC_ERR_ARGUMENT;
    EVP_PKEY* key = kind == Kind::PublicKey ? DecodePublic(bytes, length) : DecodePrivate(bytes, length);
    ERR_clear_error();
    if (key == nullptr || !EVP_PKEY_is_a(key, "RSA")) {
        EVP_PKEY_free(key);
        return SFC_ERR_KEY_FORMAT;
    }
    EVP_PKEY_free(object->key);
    object->key = key;
    return SFC_OK;
}

bool OaepSha1(EVP_PKEY_CTX* context)
{
    return EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) == 1 &&
           EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha1()) == 1 &&
           EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha1()) == 1;
}

int32_t Run(unsigned char* output, int32_t* outputLength, const unsigned char* input, int32_t inputLength,
            int32_t algorithm, SFC_HANDLE handle, int32_t reserved, const uint32_t* param, Kind kind)
{
    auto* object = As<KeyObject>(handle, kind);
    if (output == nullptr || outputLength == nullptr || inputLength < 0 || (inputLength > 0 && input == nullptr) ||
        object == nullptr || param == nullptr)
        return SFC_ERR_ARGUMENT;
    if (algorithm != kPublicKeyRsa)
        return SFC_ERR_ALGORITHM;
    if (param[0] != kEncodingOaep || param[1] != kHashSha1 || param[2] != kMgf1Sha1 || param[3] != 0 ||
        param[4] != 0 || reserved != 0)
        return SFC_ERR_PARAMETER;
    if (object->key == nullptr)
        return SFC_ERR_KEY;
    std::vector<unsigned char> buffer(static_cast<size_t>(EVP_PKEY_get_size(object->key)));
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> owner(
        EVP_PKEY_CTX_new_from_pkey(nullptr, object->key, nullptr), &EVP_PKEY_CTX_free);
    EVP_PKEY_CTX* context = owner.get();
    int32_t result = SFC_ERR_CRYPTO;
    size_t written = buffer.size();
    bool encrypt = kind == Kind::PublicKey;
    if (context != nullptr && (encrypt ? EVP_PKEY_encrypt_init(context) : EVP_PKEY_decrypt_init(context)) == 1 &&
        OaepSha1(context) &&
        (encrypt ? EVP_PKEY_encrypt(context, buffer.data(), &written, input, static_cast<size_t>(inputLength))
                 : EVP_PKEY_decrypt(context, buffer.data(), &written, input, static_cast<size_t>(inputLength))) ==
            1 &&
        written <= buffer.size()) {
        std::memcpy(output, buffer.data(), written);
        *outputLength = static_cast<int32_t>(written);
        result = SFC_OK;
    }
    ERR_clear_error();
    OPENSSL_cleanse(buffer.data(), buffer.size());
    return result;
}

}  // namespace
}  // namespace xecure

using namespace xecure;

XECURE_EXPORT SFC_HANDLE SFC_PKEY_PrivateKey_New(void)
{
    return ToHandle(new (std::nothrow) KeyObject(Kind::PrivateKey));
}

XECURE_EXPORT SFC_HANDLE SFC_PKEY_PublicKey_New(void)
{
    return ToHandle(new (std::nothrow) KeyObject(Kind::PublicKey));
}

XECURE_EXPORT void SFC_PKEY_PrivateKey_Free(SFC_HANDLE handle)
{
    delete As<KeyObject>(handle, Kind::PrivateKey);
}

XECURE_EXPORT void SFC_PKEY_PublicKey_Free(SFC_HANDLE handle)
{
    delete As<KeyObject>(handle, Kind::PublicKey);
}

XECURE_EXPORT int32_t SFC_PKEY_PrivateKey_FromBinary(SFC_HANDLE handle, const unsigned char* bytes, int32_t length)
{
    return Load(handle, Kind::PrivateKey, bytes, length);
}

XECURE_EXPORT int32_t SFC_PKEY_PublicKey_FromBinary(SFC_HANDLE handle, const unsigned char* bytes, int32_t length)
{
    return Load(handle, Kind::PublicKey, bytes, length);
}

XECURE_EXPORT int32_t SFC_PKEY_Encrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                       int32_t inputLength, int32_t algorithm, SFC_HANDLE key, int32_t reserved,
                                       const uint32_t* param)
{
    return WithoutExceptions([&] {
        return Run(output, outputLength, input, inputLength, algorithm, key, reserved, param, Kind::PublicKey);
    });
}

XECURE_EXPORT int32_t SFC_PKEY_Decrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                       int32_t inputLength, int32_t algorithm, SFC_HANDLE key, int32_t reserved,
                                       const uint32_t* param)
{
    return WithoutExceptions([&] {
        return Run(output, outputLength, input, inputLength, algorithm, key, reserved, param, Kind::PrivateKey);
    });
}

XECURE_EXPORT int32_t SFC_PKEY_ProveKeyPair(SFC_HANDLE privateHandle, SFC_HANDLE publicHandle, int32_t reserved)
{
    auto* privateKey = As<KeyObject>(privateHandle, Kind::PrivateKey);
    auto* publicKey = As<KeyObject>(publicHandle, Kind::PublicKey);
    if (privateKey == nullptr || publicKey == nullptr || reserved != 0)
        return SFC_ERR_ARGUMENT;
    if (privateKey->key == nullptr || publicKey->key == nullptr)
        return SFC_ERR_KEY;
    int same = EVP_PKEY_eq(privateKey->key, publicKey->key);
    ERR_clear_error();
    return same == 1 ? SFC_OK : SFC_ERR_KEY_MISMATCH;
}

#ifndef XECURECRYPTO_WITHOUT_RANDOM
XECURE_EXPORT int32_t SFC_GetRandom(unsigned char* buffer, int32_t length)
{
    if (length < 0 || (length > 0 && buffer == nullptr))
        return SFC_ERR_ARGUMENT;
    return os::SystemRandom(buffer, static_cast<size_t>(length)) ? SFC_OK : SFC_ERR_RANDOM;
}
#endif
