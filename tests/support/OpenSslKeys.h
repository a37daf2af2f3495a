// RSA key pairs made by OpenSSL, in the DER encodings the outside library's RSA functions take.
#pragma once

#include <openssl/evp.h>

#include <vector>

namespace reference {

struct KeyPair {
    EVP_PKEY* key = nullptr;
    std::vector<char> spki, pkcs1Public, pkcs1Private, pkcs8;
};

// Made once per size and kept to the end of the process (key generation is the slow part).
const KeyPair& RsaPair(unsigned bits);

}  // namespace reference
