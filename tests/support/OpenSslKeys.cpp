#include "support/OpenSslKeys.h"

#include <openssl/x509.h>

#include <algorithm>
#include <map>

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

}  // namespace

const KeyPair& RsaPair(unsigned bits)
{
    static auto& pairs = *new std::map<unsigned, KeyPair>;  // never destroyed: OpenSSL may be cleaned up first
    KeyPair& pair = pairs[bits];
    if (pair.key == nullptr) {
        pair.key = EVP_RSA_gen(bits);
        pair.spki = Der([&](unsigned char** p) { return i2d_PUBKEY(pair.key, p); });
        pair.pkcs1Public = Der([&](unsigned char** p) { return i2d_PublicKey(pair.key, p); });
        pair.pkcs1Private = Der([&](unsigned char** p) { return i2d_PrivateKey(pair.key, p); });
        PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(pair.key);
        pair.pkcs8 = Der([&](unsigned char** p) { return i2d_PKCS8_PRIV_KEY_INFO(info, p); });
        PKCS8_PRIV_KEY_INFO_free(info);
    }
    return pair;
}

}  // namespace reference
