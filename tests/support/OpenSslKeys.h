// RSA key pairs in the DER encodings the outside library's RSA functions take, and RSAES-OAEP (SHA-1, MGF1-SHA-1,
// no label) under them: OpenSSL's here; on Windows, which has no OpenSSL, libgcrypt's (GcryptKeys.cpp).
#pragma once

#include <vector>

namespace reference {

struct KeyPair {
    const void* key = nullptr;  // the library's own key object, kept to the end of the process
    std::vector<char> spki, pkcs1Public, pkcs1Private, pkcs8;
};

// Made once per size and kept to the end of the process (key generation is the slow part).
const KeyPair& RsaPair(unsigned bits);

// `in` enciphered (or deciphered) with the pair's key; empty on a failure.
std::vector<char> Oaep(const KeyPair& pair, const std::vector<char>& in, bool encrypt);

}  // namespace reference
