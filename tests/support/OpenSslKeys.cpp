#include "support/OpenSslKeys.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <map>
#include <memory>

namespace reference {
namespace {

template <typename Encode>
std::vector<char> Der(Encode encode)
{
    unsigned char* data = nullptr;
    const int n = encode(&data);
    std::vector<char> out(data, data + std::max(n, 0));
    OPENSSL_free(data);
    return out;
}

EVP_PKEY* Key(const KeyPair& pair)
{
    return const_cast<EVP_PKEY*>(static_cast<const EVP_PKEY*>(pair.key));
}

}  // namespace

const KeyPair& RsaPair(unsigned bits)
{
    static auto& pairs = *new std::map<unsigned, KeyPair>;  // never destroyed: OpenSSL may be cleaned up first
    KeyPair& pair = pairs[bits];
    if (pair.key == nullptr) {
        EVP_PKEY* key = EVP_RSA_gen(bits);
        pair.key = key;
        pair.spki = Der([&](unsigned char** p) { return i2d_PUBKEY(key, p); });
        pair.pkcs1Public = Der([&](unsigned char** p) { return i2d_PublicKey(key, p); });
        pair.pkcs1Private = Der([&](unsigned char** p) { return i2d_PrivateKey(key, p); });
        PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
        pair.pkcs8 = Der([&](unsigned char** p) { return i2d_PKCS8_PRIV_KEY_INFO(info, p); });
        PKCS8_PRIV_KEY_INFO_free(info);
    }
    return pair;
}

std::vector<char> Oaep(const KeyPair& pair, const std::vector<char>& in, bool encrypt)
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_pkey(nullptr, Key(pair), nullptr), EVP_PKEY_CTX_free);
    auto* from = reinterpret_cast<const unsigned char*>(in.data());
    std::vector<char> out(1024);
    size_t n = out.size();
    const bool ok = ctx && (encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), EVP_sha1()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), EVP_sha1()) == 1 &&
                    (encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt)(
                        ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n, from, in.size()) == 1;
    out.resize(ok ? n : 0);
    return out;
}

}  // namespace reference
