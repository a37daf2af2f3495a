// The calls PVCodec makes into the outside crypto library "XecureCrypto.dll":
// the 22 exports it resolves by name, as function-pointer types, with the
// constant arguments it passes. The library behind them (the vendor's, or
// the stand-in in standins/xecurecrypto) implements exactly these.
//
// Integers are 32-bit; handles are opaque pointers owned by the library.
// Results: 0 (or a non-negative length) for success, negative for failure.
#pragma once

#include <cstdint>

// The exports' calling convention: the C default, stated so that it does not
// follow a compiler's default. The library's exports are found by their plain
// names, which is how C-convention exports appear (a 32-bit __stdcall export
// is named _Name@N unless the vendor renames it); the stand-in's exports are
// declared without a convention, which is the same. It matters on 32-bit
// Windows only: x86_64 and Linux have one convention.
#if defined(_WIN32)
#define SFC_CALL __cdecl
#else
#define SFC_CALL
#endif

extern "C" {

typedef void* SFC_HANDLE;

typedef SFC_HANDLE (SFC_CALL *PFN_SFC_SKEY_SecretKey_New)(void);
typedef void (SFC_CALL *PFN_SFC_SKEY_SecretKey_Free)(SFC_HANDLE key);
// blob: the 22-byte secret-key blob below.
typedef int32_t (SFC_CALL *PFN_SFC_SKEY_SecretKey_FromBinary)(SFC_HANDLE key, const unsigned char* blob,
                                                              int32_t length);
typedef SFC_HANDLE (SFC_CALL *PFN_SFC_CIPHER_CTX_New)(void);
typedef void (SFC_CALL *PFN_SFC_CIPHER_CTX_Free)(SFC_HANDLE context);
// param: the thirteen-word cipher parameter block below.
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Encrypt_Init)(SFC_HANDLE context, SFC_HANDLE key, int32_t algorithm,
                                                        const uint32_t* param);
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Encrypt_Update)(SFC_HANDLE context, unsigned char* output,
                                                          int32_t* outputLength, const unsigned char* input,
                                                          int32_t inputLength);
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Encrypt_Final)(SFC_HANDLE context, unsigned char* output,
                                                         int32_t* outputLength);
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Decrypt_Init)(SFC_HANDLE context, SFC_HANDLE key, int32_t algorithm,
                                                        const uint32_t* param);
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Decrypt_Update)(SFC_HANDLE context, unsigned char* output,
                                                          int32_t* outputLength, const unsigned char* input,
                                                          int32_t inputLength);
// count: how many bytes to drop from the end of the Update output (the padding).
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Decrypt_Final)(SFC_HANDLE context, int32_t* count);
typedef SFC_HANDLE (SFC_CALL *PFN_SFC_PKEY_PrivateKey_New)(void);
typedef SFC_HANDLE (SFC_CALL *PFN_SFC_PKEY_PublicKey_New)(void);
typedef int32_t (SFC_CALL *PFN_SFC_PKEY_PrivateKey_FromBinary)(SFC_HANDLE key, const unsigned char* bytes,
                                                               int32_t length);
typedef int32_t (SFC_CALL *PFN_SFC_PKEY_PublicKey_FromBinary)(SFC_HANDLE key, const unsigned char* bytes,
                                                              int32_t length);
// outputLength is preset by the caller (-1 to encrypt, 0 to decrypt) and
// receives the length written; no output capacity is passed.
typedef int32_t (SFC_CALL *PFN_SFC_PKEY_Encrypt)(unsigned char* output, int32_t* outputLength,
                                                 const unsigned char* input, int32_t inputLength, int32_t algorithm,
                                                 SFC_HANDLE key, int32_t reserved, const uint32_t* param);
typedef int32_t (SFC_CALL *PFN_SFC_PKEY_Decrypt)(unsigned char* output, int32_t* outputLength,
                                                 const unsigned char* input, int32_t inputLength, int32_t algorithm,
                                                 SFC_HANDLE key, int32_t reserved, const uint32_t* param);
typedef void (SFC_CALL *PFN_SFC_PKEY_PrivateKey_Free)(SFC_HANDLE key);
typedef void (SFC_CALL *PFN_SFC_PKEY_PublicKey_Free)(SFC_HANDLE key);
typedef int32_t (SFC_CALL *PFN_SFC_GetRandom)(unsigned char* buffer, int32_t length);
typedef int32_t (SFC_CALL *PFN_SFC_PKEY_ProveKeyPair)(SFC_HANDLE privateKey, SFC_HANDLE publicKey, int32_t reserved);
// path: full path of "XecureATE.dll" in the ANSI code page.
typedef int32_t (SFC_CALL *PFN_SFC_Cipher_Set_Path)(int32_t algorithm, const char* path);

}  // extern "C"

namespace xecure {

// Cipher ids of the secret-key blob, the cipher init calls and SFC_Cipher_Set_Path.
inline constexpr int32_t kCipherAria = 12;
inline constexpr int32_t kCipherAte = 32;
// Public-key algorithm id of SFC_PKEY_Encrypt and SFC_PKEY_Decrypt.
inline constexpr int32_t kPublicKeyRsa = 3;

// Secret-key blob: type byte, 3-byte big-endian cipher id, 2-byte big-endian
// key length, then the key.
inline constexpr unsigned char kSecretKeyType = 1;
inline constexpr int32_t kSecretKeyHeader = 6;
inline constexpr int32_t kSecretKeyMax = 32;
inline constexpr int32_t kKeyLength = 16;

// Cipher parameter block: thirteen 32-bit words. Word 1 the mode (2 = CBC),
// words 2-9 a 32-byte IV field, word 10 the IV length, word 12 the padding
// (4 = PKCS#7).
inline constexpr int kCipherParamWords = 13;
inline constexpr uint32_t kModeCbc = 2;
inline constexpr int kParamIvWord = 2;
inline constexpr int kParamIvBytes = 32;
inline constexpr int kParamIvLengthWord = 10;
inline constexpr int kParamPaddingWord = 12;
inline constexpr uint32_t kPaddingPkcs7 = 4;

// Public-key parameter block: five 32-bit words 4, 1, 1, 0, 0: encoding
// (4 = OAEP), hash (1 = SHA-1), mask generation (1 = MGF1 with SHA-1),
// label address and label length (none).
inline constexpr int kPublicKeyParamWords = 5;
inline constexpr uint32_t kEncodingOaep = 4;
inline constexpr uint32_t kHashSha1 = 1;
inline constexpr uint32_t kMgf1Sha1 = 1;

// The export names, in the order of the binding's address table.
inline constexpr int kExportCount = 22;
inline constexpr const char* kExportNames[kExportCount] = {
    "SFC_SKEY_SecretKey_New",
    "SFC_SKEY_SecretKey_Free",
    "SFC_SKEY_SecretKey_FromBinary",
    "SFC_CIPHER_CTX_New",
    "SFC_CIPHER_CTX_Free",
    "SFC_Cipher_Encrypt_Init",
    "SFC_Cipher_Encrypt_Update",
    "SFC_Cipher_Encrypt_Final",
    "SFC_Cipher_Decrypt_Init",
    "SFC_Cipher_Decrypt_Update",
    "SFC_Cipher_Decrypt_Final",
    "SFC_PKEY_PrivateKey_New",
    "SFC_PKEY_PublicKey_New",
    "SFC_PKEY_PrivateKey_FromBinary",
    "SFC_PKEY_PublicKey_FromBinary",
    "SFC_PKEY_Encrypt",
    "SFC_PKEY_Decrypt",
    "SFC_PKEY_PrivateKey_Free",
    "SFC_PKEY_PublicKey_Free",
    "SFC_GetRandom",
    "SFC_PKEY_ProveKeyPair",
    "SFC_Cipher_Set_Path",
};

}  // namespace xecure
