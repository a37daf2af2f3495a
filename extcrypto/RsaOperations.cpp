// RSA encryption and decryption, random document keys and key-pair checks:
// passed through to the outside crypto library, which a dispatcher for ARIA
// binds on the way (its ARIA context is not used).
#include "PVCodec.h"

#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "module/ExportGuard.h"
#include "platform/Debug.h"

#include <climits>

namespace {

constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;
constexpr int kRsaId = xecure::kPublicKeyRsa;
constexpr int kReserved = 0;
// What a call that could not be carried out answers: the outside library's failure value.
constexpr int kFailure = -1;

// The dispatcher needs a 16-byte key to bind the library; nothing is
// enciphered with it. The RSA functions give it this one rather than the
// caller's key: that is an RSA key of its own length, which may be shorter
// than the 16 bytes the ARIA initialisation reads. A key the library refuses,
// however short, gets the library's refusal.
char kBindingKey[] = "PVCodec-RSA-bind";
static_assert(sizeof kBindingKey == 17);

unsigned char* Bytes(char* p) { return reinterpret_cast<unsigned char*>(p); }

// The library takes 32-bit lengths: one that does not fit is passed as -1,
// which the library refuses, rather than cut to a smaller one.
int LibraryLength(unsigned long length)
{
    return length > static_cast<unsigned long>(INT_MAX) ? -1 : static_cast<int>(length);
}

// RSA-OAEP with SHA-1 and MGF1-SHA-1, both ways.
const uint32_t kOaepParam[xecure::kPublicKeyParamWords] = {xecure::kEncodingOaep, xecure::kHashSha1,
                                                           xecure::kMgf1Sha1, 0, 0};

// A public or private key handle of the library, freed on every way out.
enum class KeyKind { Public, Private };

template <KeyKind Kind>
class LibraryKey {
public:
    explicit LibraryKey(CAria& library)
        : m_library(library),
          m_handle(Kind == KeyKind::Public ? library.SFC_PKEY_PublicKey_New() : library.SFC_PKEY_PrivateKey_New())
    {
    }

    ~LibraryKey()
    {
        if constexpr (Kind == KeyKind::Public)
            m_library.SFC_PKEY_PublicKey_Free(m_handle);
        else
            m_library.SFC_PKEY_PrivateKey_Free(m_handle);
    }

    LibraryKey(const LibraryKey&) = delete;
    LibraryKey& operator=(const LibraryKey&) = delete;

    // Reads the key's DER bytes; the library's result, negative on failure.
    int Read(char* der, unsigned long length)
    {
        if constexpr (Kind == KeyKind::Public)
            return m_library.SFC_PKEY_PublicKey_FromBinary(m_handle, Bytes(der), LibraryLength(length));
        else
            return m_library.SFC_PKEY_PrivateKey_FromBinary(m_handle, Bytes(der), LibraryLength(length));
    }

    SFC_HANDLE Handle() const { return m_handle; }

private:
    CAria& m_library;
    SFC_HANDLE m_handle;
};

int RsaEncrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::SFRSAEncrypt() WATCH! Enter..[%d]", static_cast<int>(inputLength));
    CRawCodec codec(kEncrypt, kBindingKey, ALG_ARIA);
    CAria& library = codec.Aria();
    LibraryKey<KeyKind::Public> publicKey(library);
    int result = publicKey.Read(key, keyLength);
    if (result < 0) {
        plat::OutputDebugStringW(u"EncKey Error");
        return result;
    }
    int32_t outputLength = -1;
    result = library.SFC_PKEY_Encrypt(Bytes(output), &outputLength, Bytes(input), LibraryLength(inputLength), kRsaId,
                                      publicKey.Handle(), kReserved, kOaepParam);
    if (result < 0) {
        plat::OutputDebugStringW(u"Encrypt Error");
        return result;
    }
    return outputLength;
}

int RsaDecrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::SFRSADecrypt() WATCH! Enter..");
    CRawCodec codec(kDecrypt, kBindingKey, ALG_ARIA);
    CAria& library = codec.Aria();
    LibraryKey<KeyKind::Private> privateKey(library);
    int result = privateKey.Read(key, keyLength);
    if (result < 0)
        return result;
    int32_t outputLength = 0;
    result = library.SFC_PKEY_Decrypt(Bytes(output), &outputLength, Bytes(input), LibraryLength(inputLength), kRsaId,
                                      privateKey.Handle(), kReserved, kOaepParam);
    return result < 0 ? result : outputLength;
}

int RandomDocumentKey(char* buffer, int length)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::GenerateRSADocuKey() WATCH! Enter..");
    CRawCodec codec(kEncrypt, kBindingKey, ALG_ARIA);
    return codec.Aria().SFC_GetRandom(Bytes(buffer), length);
}

int ProveKeyPair(char* publicKey, unsigned long publicKeyLength, char* privateKey, unsigned long privateKeyLength)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::CheckRSAKey() WATCH! Enter..");
    CRawCodec codec(kEncrypt, kBindingKey, ALG_ARIA);
    CAria& library = codec.Aria();
    LibraryKey<KeyKind::Public> publicHandle(library);
    int result = publicHandle.Read(publicKey, publicKeyLength);
    if (result < 0)
        return result;
    LibraryKey<KeyKind::Private> privateHandle(library);
    result = privateHandle.Read(privateKey, privateKeyLength);
    if (result < 0)
        return result;
    return library.SFC_PKEY_ProveKeyPair(privateHandle.Handle(), publicHandle.Handle(), kReserved);
}

}  // namespace

int CPVCodec::SFRSAEncrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    return exportguard::NothingEscapes(
        kFailure, u"[PVCodec.dll]CPVCodec::SFRSAEncrypt() ERROR! Unexpected exception",
        [&] { return RsaEncrypt(input, output, key, keyLength, inputLength); });
}

int CPVCodec::SFRSADecrypt(char* input, char* output, char* key, unsigned long keyLength, unsigned long inputLength)
{
    return exportguard::NothingEscapes(
        kFailure, u"[PVCodec.dll]CPVCodec::SFRSADecrypt() ERROR! Unexpected exception",
        [&] { return RsaDecrypt(input, output, key, keyLength, inputLength); });
}

int CPVCodec::GenerateRSADocuKey(char* buffer, int length)
{
    return exportguard::NothingEscapes(
        kFailure, u"[PVCodec.dll]CPVCodec::GenerateRSADocuKey() ERROR! Unexpected exception",
        [&] { return RandomDocumentKey(buffer, length); });
}

int CPVCodec::CheckRSAKey(char* publicKey, unsigned long publicKeyLength, char* privateKey,
                          unsigned long privateKeyLength)
{
    return exportguard::NothingEscapes(
        kFailure, u"[PVCodec.dll]CPVCodec::CheckRSAKey() ERROR! Unexpected exception",
        [&] { return ProveKeyPair(publicKey, publicKeyLength, privateKey, privateKeyLength); });
}
