#include "extcrypto/AriaMgr.h"

#include "platform/Module.h"

static_assert(PVEDAriaMgr::kSetPath + 1 == xecure::kExportCount);

int PVEDAriaMgr::LoadCryptoLibrary(const plat::WCHAR* path)
{
    if (path == nullptr || path[0] == 0)  // a null name would be the executable itself
        return 0;
    plat::HMODULE module = plat::GetModuleHandleW(path);
    if (module == nullptr)
        module = plat::LoadLibraryW(path);
    if (module == nullptr)
        return 0;
    m_module = module;
    for (int i = 0; i < xecure::kExportCount; ++i)
        m_exports[static_cast<size_t>(i)] = plat::GetProcAddress(module, xecure::kExportNames[i]);
    for (int i = 0; i < kSetPath; ++i)
        if (m_exports[static_cast<size_t>(i)] == nullptr)
            return 0;
    return 1;
}

SFC_HANDLE PVEDAriaMgr::SFC_SKEY_SecretKey_New()
{
    auto fn = Export<PFN_SFC_SKEY_SecretKey_New>(kSecretKeyNew);
    return fn != nullptr ? fn() : nullptr;
}

void PVEDAriaMgr::SFC_SKEY_SecretKey_Free(SFC_HANDLE key)
{
    if (auto fn = Export<PFN_SFC_SKEY_SecretKey_Free>(kSecretKeyFree))
        fn(key);
}

int PVEDAriaMgr::SFC_SKEY_SecretKey_FromBinary(SFC_HANDLE key, const unsigned char* blob, int length)
{
    auto fn = Export<PFN_SFC_SKEY_SecretKey_FromBinary>(kSecretKeyFromBinary);
    return fn != nullptr ? fn(key, blob, length) : 0;
}

SFC_HANDLE PVEDAriaMgr::SFC_CIPHER_CTX_New()
{
    auto fn = Export<PFN_SFC_CIPHER_CTX_New>(kCipherCtxNew);
    return fn != nullptr ? fn() : nullptr;
}

void PVEDAriaMgr::SFC_CIPHER_CTX_Free(SFC_HANDLE context)
{
    if (auto fn = Export<PFN_SFC_CIPHER_CTX_Free>(kCipherCtxFree))
        fn(context);
}

int PVEDAriaMgr::SFC_Cipher_Encrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int algorithm, const uint32_t* param)
{
    auto fn = Export<PFN_SFC_Cipher_Encrypt_Init>(kEncryptInit);
    return fn != nullptr ? fn(context, key, algorithm, param) : 0;
}

int PVEDAriaMgr::SFC_Cipher_Encrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                           const unsigned char* input, int inputLength)
{
    auto fn = Export<PFN_SFC_Cipher_Encrypt_Update>(kEncryptUpdate);
    return fn != nullptr ? fn(context, output, outputLength, input, inputLength) : 0;
}

int PVEDAriaMgr::SFC_Cipher_Encrypt_Final(SFC_HANDLE context, unsigned char* output, int32_t* outputLength)
{
    auto fn = Export<PFN_SFC_Cipher_Encrypt_Final>(kEncryptFinal);
    return fn != nullptr ? fn(context, output, outputLength) : 0;
}

int PVEDAriaMgr::SFC_Cipher_Decrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int algorithm, const uint32_t* param)
{
    auto fn = Export<PFN_SFC_Cipher_Decrypt_Init>(kDecryptInit);
    return fn != nullptr ? fn(context, key, algorithm, param) : 0;
}

int PVEDAriaMgr::SFC_Cipher_Decrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                           const unsigned char* input, int inputLength)
{
    auto fn = Export<PFN_SFC_Cipher_Decrypt_Update>(kDecryptUpdate);
    return fn != nullptr ? fn(context, output, outputLength, input, inputLength) : 0;
}

int PVEDAriaMgr::SFC_Cipher_Decrypt_Final(SFC_HANDLE context, int32_t* count)
{
    auto fn = Export<PFN_SFC_Cipher_Decrypt_Final>(kDecryptFinal);
    return fn != nullptr ? fn(context, count) : 0;
}

SFC_HANDLE PVEDAriaMgr::SFC_PKEY_PrivateKey_New()
{
    auto fn = Export<PFN_SFC_PKEY_PrivateKey_New>(kPrivateKeyNew);
    return fn != nullptr ? fn() : nullptr;
}

SFC_HANDLE PVEDAriaMgr::SFC_PKEY_PublicKey_New()
{
    auto fn = Export<PFN_SFC_PKEY_PublicKey_New>(kPublicKeyNew);
    return fn != nullptr ? fn() : nullptr;
}

int PVEDAriaMgr::SFC_PKEY_PrivateKey_FromBinary(SFC_HANDLE key, const unsigned char* bytes, int length)
{
    auto fn = Export<PFN_SFC_PKEY_PrivateKey_FromBinary>(kPrivateKeyFromBinary);
    return fn != nullptr ? fn(key, bytes, length) : -2;
}

int PVEDAriaMgr::SFC_PKEY_PublicKey_FromBinary(SFC_HANDLE key, const unsigned char* bytes, int length)
{
    auto fn = Export<PFN_SFC_PKEY_PublicKey_FromBinary>(kPublicKeyFromBinary);
    return fn != nullptr ? fn(key, bytes, length) : -2;
}

int PVEDAriaMgr::SFC_PKEY_Encrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                  int inputLength, int algorithm, SFC_HANDLE key, int reserved, const uint32_t* param)
{
    auto fn = Export<PFN_SFC_PKEY_Encrypt>(kPkeyEncrypt);
    return fn != nullptr ? fn(output, outputLength, input, inputLength, algorithm, key, reserved, param) : 0;
}

int PVEDAriaMgr::SFC_PKEY_Decrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                  int inputLength, int algorithm, SFC_HANDLE key, int reserved, const uint32_t* param)
{
    auto fn = Export<PFN_SFC_PKEY_Decrypt>(kPkeyDecrypt);
    return fn != nullptr ? fn(output, outputLength, input, inputLength, algorithm, key, reserved, param) : 0;
}

void PVEDAriaMgr::SFC_PKEY_PrivateKey_Free(SFC_HANDLE key)
{
    if (auto fn = Export<PFN_SFC_PKEY_PrivateKey_Free>(kPrivateKeyFree))
        fn(key);
}

void PVEDAriaMgr::SFC_PKEY_PublicKey_Free(SFC_HANDLE key)
{
    if (auto fn = Export<PFN_SFC_PKEY_PublicKey_Free>(kPublicKeyFree))
        fn(key);
}

int PVEDAriaMgr::SFC_GetRandom(unsigned char* buffer, int length)
{
    auto fn = Export<PFN_SFC_GetRandom>(kGetRandom);
    return fn != nullptr ? fn(buffer, length) : 0;
}

int PVEDAriaMgr::SFC_PKEY_ProveKeyPair(SFC_HANDLE privateKey, SFC_HANDLE publicKey, int reserved)
{
    auto fn = Export<PFN_SFC_PKEY_ProveKeyPair>(kProveKeyPair);
    return fn != nullptr ? fn(privateKey, publicKey, reserved) : -1;
}

int PVEDAriaMgr::SFC_Cipher_Set_Path(int algorithm, const char* path)
{
    auto fn = Export<PFN_SFC_Cipher_Set_Path>(kSetPath);
    return fn != nullptr ? fn(algorithm, path) : -1;
}
