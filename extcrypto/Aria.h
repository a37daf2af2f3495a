// CAria and CATE: the ARIA and ATE ciphers of the outside crypto library
// "XecureCrypto.dll", with the four buffer operations of the Rijndael
// engine. Init binds the library (PVEDAriaMgr), imports the 16-byte key and
// sets up one cipher context for one direction; every later operation
// continues that context: a run of block calls closed by one padded call is
// one continuous chain.
//
// Results: Init 0, -1 when the library cannot be bound (or, for ATE, the
// path of "XecureATE.dll" cannot be handed over), else the library's
// nonzero result. Block operations: bytes written, -1 for a null buffer or
// an unbound library, else the library's nonzero result unchanged. Padded
// operations: bytes written, or -1 on any failure.
#pragma once

#include "extcrypto/AriaMgr.h"

#include <cstdint>

class CAria : public PVEDAriaMgr {
public:
    CAria() = default;
    virtual ~CAria();
    CAria(const CAria&) = delete;
    CAria& operator=(const CAria&) = delete;

    // direction 1 prepares encryption, any other value decryption; 16 bytes
    // are read from key.
    int Init(char direction, const char* key);
    // Builds the secret-key blob (type, cipher id, length, key) and hands it
    // to the library; returns the library's result.
    int ImportSecretKey(SFC_HANDLE keyHandle, const unsigned char* key, int keyLength, unsigned char type,
                        int algorithm);

    int BlockEncrypt(const char* input, int length, char* output);
    int BlockDecrypt(const char* input, int length, char* output);
    int PadEncrypt(const char* input, int length, char* output);
    int PadDecrypt(const char* input, int length, char* output);

    int Bound() const { return m_bound; }

protected:
    // Finds "XecureCrypto.dll" by the search rules and binds it; sets m_bound.
    int BindCryptoLibrary();
    // Key import, context and cipher init for `algorithm` (12 or 32).
    int InitCipher(char direction, const char* key, int algorithm);

    SFC_HANDLE m_secretKey = nullptr;
    SFC_HANDLE m_cipherCtx = nullptr;
    uint32_t m_cipherParam[xecure::kCipherParamWords] = {};
    int m_bound = 0;

private:
    void FreeHandles();
};

class CATE : public CAria {
public:
    CATE() = default;
    ~CATE() override = default;

    // As CAria::Init with the ATE cipher; a newly bound library is first
    // told where "XecureATE.dll" lies.
    int Init(char direction, const char* key);
};
