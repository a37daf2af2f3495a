// RSA encryption and decryption, random document keys and key-pair checks:
// passed through to the outside crypto library, which a dispatcher for ARIA
// binds on the way (its ARIA context is not used).
#include "PVCodec.h"

#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "platform/Debug.h"

#include <climits>

namespace {

constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;
constexpr int kRsaId = xecure::kPublicKeyRsa;
constexpr int kReserved = 0;

// The dispatcher needs a 16-byte key to bind the library; nothing is
// enciphered with it.
char kBindingKey[] = "PVCodec-RSA-bind";
static_assert(sizeof kBindingKey == 17);

unsigned char* Bytes(char* p) { return reinterpret_cast<unsigned char*>(p); }

// The library takes 32-bit lengths: one that does not fit is passed as -1,
// which the library refuses, rather than cut to a smaller one.
int LibraryLength(unsigned long length)
{
    return length > static_cast<unsigned long>(INT_MAX) ? -1 : static_cast<int>(length);
}

}  // namespace

int CPVCodec::SFRSAEncrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::SFRSAEncrypt() WATCH! Enter..[%d]", static_cast<int>(inputLength));
    CRawCodec codec(kEncrypt, key, ALG_ARIA);
    CAria& library = codec.Aria();
    SFC_HANDLE publicKey = library.SFC_PKEY_PublicKey_New();
    int result = library.SFC_PKEY_PublicKey_FromBinary(publicKey, Bytes(key), LibraryLength(keyLength));
    if (result < 0) {
        plat::OutputDebugStringW(u"EncKey Error");
        library.SFC_PKEY_PublicKey_Free(publicKey);
        return result;
    }
    int32_t outputLength = -1;
    const uint32_t param[xecure::kPublicKeyParamWords] = {xecure::kEncodingOaep, xecure::kHashSha1,
                                                          xecure::kMgf1Sha1, 0, 0};
    result = library.SFC_PKEY_Encrypt(Bytes(output), &outputLength, Bytes(input), LibraryLength(inputLength), kRsaId,
                                      publicKey, kReserved, param);
    library.SFC_PKEY_PublicKey_Free(publicKey);
    if (result < 0) {
        plat::OutputDebugStringW(u"Encrypt Error");
        return result;
    }
    return outputLength;
}

int CPVCodec::SFRSADecrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::SFRSADecrypt() WATCH! Enter..");
    CRawCodec codec(kDecrypt, key, ALG_ARIA);
    CAria& library = codec.Aria();
    SFC_HANDLE privateKey = library.SFC_PKEY_PrivateKey_New();
    int result = library.SFC_PKEY_PrivateKey_FromBinary(privateKey, Bytes(key), LibraryLength(keyLength));
    if (result < 0) {
        library.SFC_PKEY_PrivateKey_Free(privateKey);
        return result;
    }
    int32_t outputLength = 0;
    const uint32_t param[xecure::kPublicKeyParamWords] = {xecure::kEncodingOaep, xecure::kHashSha1,
                                                          xecure::kMgf1Sha1, 0, 0};
    result = library.SFC_PKEY_Decrypt(Bytes(output), &outputLength, Bytes(input), LibraryLength(inputLength), kRsaId,
                                      privateKey, kReserved, param);
    library.SFC_PKEY_PrivateKey_Free(privateKey);
    return result < 0 ? result : outputLength;
}

int CPVCodec::GenerateRSADocuKey(char* buffer, int length)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::GenerateRSADocuKey() WATCH! Enter..");
    CRawCodec codec(kEncrypt, kBindingKey, ALG_ARIA);
    return codec.Aria().SFC_GetRandom(Bytes(buffer), length);
}

int CPVCodec::CheckRSAKey(char* publicKey, unsigned long publicKeyLength, char* privateKey,
                          unsigned long privateKeyLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::CheckRSAKey() WATCH! Enter..");
    CRawCodec codec(kEncrypt, kBindingKey, ALG_ARIA);
    CAria& library = codec.Aria();
    SFC_HANDLE publicHandle = library.SFC_PKEY_PublicKey_New();
    int result = library.SFC_PKEY_PublicKey_FromBinary(publicHandle, Bytes(publicKey), LibraryLength(publicKeyLength));
    if (result < 0) {
        library.SFC_PKEY_PublicKey_Free(publicHandle);
        return result;
    }
    SFC_HANDLE privateHandle = library.SFC_PKEY_PrivateKey_New();
    result = library.SFC_PKEY_PrivateKey_FromBinary(privateHandle, Bytes(privateKey), LibraryLength(privateKeyLength));
    if (result < 0) {
        library.SFC_PKEY_PrivateKey_Free(privateHandle);
        library.SFC_PKEY_PublicKey_Free(publicHandle);
        return result;
    }
    result = library.SFC_PKEY_ProveKeyPair(privateHandle, publicHandle, kReserved);
    library.SFC_PKEY_PrivateKey_Free(privateHandle);
    library.SFC_PKEY_PublicKey_Free(publicHandle);
    return result;
}
