// PVEDAriaMgr: the binding of the outside crypto library "XecureCrypto.dll":
// the module handle and the addresses of its 22 exports, each behind a
// forwarding member that answers a fixed value when the address is missing:
//   *_New                                   null handle
//   *_Free                                  nothing
//   SecretKey_FromBinary, cipher Init/Update/Final, PKEY_Encrypt/Decrypt,
//   GetRandom                               0 (no output length written)
//   PKEY_PublicKey/PrivateKey_FromBinary    -2
//   PKEY_ProveKeyPair, Cipher_Set_Path      -1
// The module, once loaded, stays loaded for the life of the process.
#pragma once

#include "extcrypto/XecureCryptoApi.h"
#include "platform/WinTypes.h"

#include <array>
#include <cstddef>

class PVEDAriaMgr {
public:
    PVEDAriaMgr() = default;
    ~PVEDAriaMgr() = default;  // the module is never unloaded
    PVEDAriaMgr(const PVEDAriaMgr&) = delete;
    PVEDAriaMgr& operator=(const PVEDAriaMgr&) = delete;

    // Gets the module already loaded from `path`, or loads it, and looks up
    // the 22 exports. 1 when the first 21 are all there (SFC_Cipher_Set_Path
    // is not required), else 0; the addresses found stay in the table.
    int LoadCryptoLibrary(const plat::WCHAR* path);

    plat::HMODULE Module() const { return m_module; }
    plat::FARPROC Address(int index) const { return m_exports.at(static_cast<std::size_t>(index)); }

    SFC_HANDLE SFC_SKEY_SecretKey_New();
    void SFC_SKEY_SecretKey_Free(SFC_HANDLE key);
    int SFC_SKEY_SecretKey_FromBinary(SFC_HANDLE key, const unsigned char* blob, int length);
    SFC_HANDLE SFC_CIPHER_CTX_New();
    void SFC_CIPHER_CTX_Free(SFC_HANDLE context);
    int SFC_Cipher_Encrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int algorithm, const uint32_t* param);
    int SFC_Cipher_Encrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                  const unsigned char* input, int inputLength);
    int SFC_Cipher_Encrypt_Final(SFC_HANDLE context, unsigned char* output, int32_t* outputLength);
    int SFC_Cipher_Decrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int algorithm, const uint32_t* param);
    int SFC_Cipher_Decrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                  const unsigned char* input, int inputLength);
    int SFC_Cipher_Decrypt_Final(SFC_HANDLE context, int32_t* count);
    SFC_HANDLE SFC_PKEY_PrivateKey_New();
    SFC_HANDLE SFC_PKEY_PublicKey_New();
    int SFC_PKEY_PrivateKey_FromBinary(SFC_HANDLE key, const unsigned char* bytes, int length);
    int SFC_PKEY_PublicKey_FromBinary(SFC_HANDLE key, const unsigned char* bytes, int length);
    int SFC_PKEY_Encrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input, int inputLength,
                         int algorithm, SFC_HANDLE key, int reserved, const uint32_t* param);
    int SFC_PKEY_Decrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input, int inputLength,
                         int algorithm, SFC_HANDLE key, int reserved, const uint32_t* param);
    void SFC_PKEY_PrivateKey_Free(SFC_HANDLE key);
    void SFC_PKEY_PublicKey_Free(SFC_HANDLE key);
    int SFC_GetRandom(unsigned char* buffer, int length);
    int SFC_PKEY_ProveKeyPair(SFC_HANDLE privateKey, SFC_HANDLE publicKey, int reserved);
    int SFC_Cipher_Set_Path(int algorithm, const char* path);

    // Positions in the address table (the order of xecure::kExportNames).
    enum ExportIndex : int {
        kSecretKeyNew,
        kSecretKeyFree,
        kSecretKeyFromBinary,
        kCipherCtxNew,
        kCipherCtxFree,
        kEncryptInit,
        kEncryptUpdate,
        kEncryptFinal,
        kDecryptInit,
        kDecryptUpdate,
        kDecryptFinal,
        kPrivateKeyNew,
        kPublicKeyNew,
        kPrivateKeyFromBinary,
        kPublicKeyFromBinary,
        kPkeyEncrypt,
        kPkeyDecrypt,
        kPrivateKeyFree,
        kPublicKeyFree,
        kGetRandom,
        kProveKeyPair,
        kSetPath,
    };

private:
    template <typename Fn>
    Fn Export(ExportIndex index) const
    {
        return reinterpret_cast<Fn>(m_exports[index]);
    }

    plat::HMODULE m_module = nullptr;
    std::array<plat::FARPROC, xecure::kExportCount> m_exports{};
};
