// Secret keys and cipher contexts of the "XecureCrypto.dll" stand-in.
//
// Cipher 12 is ARIA-128 and cipher 32 the ATE cipher of "XecureATE.dll";
// both run in CBC mode with the IV of the parameter block and PKCS#7
// padding, over one continuous chain per Init:
// - Update enciphers every whole block of what it has (the bytes kept from
//   the call before, then the input) and keeps the rest, under 16 bytes;
// - Encrypt_Final pads what was kept to a whole block and writes it;
// - Decrypt_Update writes every whole block, the padded last one included;
//   Decrypt_Final checks the padding of the last block that Update wrote and
//   reports how many bytes of it are padding.
// Decrypt_Final's count is all a caller learns (its result may go unread):
// when the last Update wrote no block, left part of a block over, or the
// padding is bad, the count is one more than that Update wrote, so that the
// caller's "bytes written less the count" comes out as -1, which no caller
// takes for a length.
#include "Objects.h"
#include "XecureCryptoCodes.h"

#include "SystemServices.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace xecure {
namespace {

constexpr size_t kBlock = 16;

struct SecretKey : Object {
    SecretKey() : Object(Kind::SecretKey) {}
    ~SecretKey() { os::SecureZero(key, sizeof key); }
    int32_t algorithm = 0;
    int32_t length = 0;  // 0 until imported
    unsigned char key[kSecretKeyMax] = {};
};

struct CipherContext : Object {
    CipherContext() : Object(Kind::CipherContext) {}
    ~CipherContext() { Reset(); }
    void Reset()
    {
        chain.reset();
        os::SecureZero(pending, sizeof pending);
        os::SecureZero(lastPlain, sizeof lastPlain);
        pendingLength = 0;
        lastWritten = 0;
    }
    std::unique_ptr<BlockChain> chain;  // null until a successful Init
    bool encrypt = false;
    unsigned char pending[kBlock] = {};
    size_t pendingLength = 0;
    unsigned char lastPlain[kBlock] = {};  // the last block the last Update wrote
    int32_t lastWritten = 0;                // bytes the last decrypting Update wrote
};

std::mutex g_atePathMutex;
std::string g_atePath;

std::string AtePath()
{
    std::lock_guard lock(g_atePathMutex);
    return g_atePath;
}

bool Overlap(const unsigned char* a, size_t aLength, const unsigned char* b, size_t bLength)
{
    auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y + bLength && y < x + aLength;
}

int32_t Init(SFC_HANDLE contextHandle, SFC_HANDLE keyHandle, int32_t algorithm, const uint32_t* param, bool encrypt)
{
    auto* context = As<CipherContext>(contextHandle, Kind::CipherContext);
    auto* key = As<SecretKey>(keyHandle, Kind::SecretKey);
    if (context == nullptr || key == nullptr || param == nullptr)
        return SFC_ERR_ARGUMENT;
    context->Reset();
    if (key->length != kKeyLength)
        return SFC_ERR_KEY;
    if (algorithm != kCipherAria && algorithm != kCipherAte)
        return SFC_ERR_ALGORITHM;
    if (key->algorithm != algorithm)
        return SFC_ERR_ALGORITHM;
    if (param[1] != kModeCbc || param[kParamIvLengthWord] != kBlock || param[kParamPaddingWord] != kPaddingPkcs7)
        return SFC_ERR_PARAMETER;
    // The IV field holds bytes, laid into the words in order.
    unsigned char iv[kBlock];
    std::memcpy(iv, param + kParamIvWord, kBlock);
    context->chain = algorithm == kCipherAria ? MakeAriaChain(key->key, iv, encrypt)
                                              : MakeAteChain(AtePath(), key->key, iv, encrypt);
    os::SecureZero(iv, sizeof iv);
    if (!context->chain)
        return algorithm == kCipherAria ? SFC_ERR_ALGORITHM : SFC_ERR_ATE;
    context->encrypt = encrypt;
    return SFC_OK;
}

int32_t Update(SFC_HANDLE contextHandle, unsigned char* output, int32_t* outputLength, const unsigned char* input,
               int32_t inputLength, bool encrypt)
{
    auto* context = As<CipherContext>(contextHandle, Kind::CipherContext);
    if (context == nullptr || outputLength == nullptr || inputLength < 0 || (inputLength > 0 && input == nullptr))
        return SFC_ERR_ARGUMENT;
    if (!context->chain || context->encrypt != encrypt)
        return SFC_ERR_STATE;
    size_t length = static_cast<size_t>(inputLength);
    size_t total = context->pendingLength + length;
    size_t whole = total - total % kBlock;
    if (whole > INT32_MAX)
        return SFC_ERR_ARGUMENT;
    if (whole > 0 && output == nullptr)
        return SFC_ERR_ARGUMENT;
    if (!encrypt)
        context->lastWritten = 0;  // until this call has written its blocks

    // Output runs ahead of the input by the kept bytes: an overlapping input
    // is copied first so that no byte is overwritten before it is read.
    std::vector<unsigned char> copy;
    if (whole > 0 && length > 0 && Overlap(input, length, output, whole) &&
        (input != output || context->pendingLength > 0)) {
        copy.assign(input, input + length);
        input = copy.data();
    }

    size_t written = 0;
    if (context->pendingLength > 0 && total >= kBlock) {
        size_t take = kBlock - context->pendingLength;
        std::memcpy(context->pending + context->pendingLength, input, take);
        if (!context->chain->Process(context->pending, output, kBlock))
            return SFC_ERR_STATE;
        input += take;
        length -= take;
        context->pendingLength = 0;
        written = kBlock;
    }
    size_t direct = length - length % kBlock;
    if (direct > 0) {
        if (!context->chain->Process(input, output + written, direct))
            return SFC_ERR_STATE;
        written += direct;
        input += direct;
        length -= direct;
    }
    std::memcpy(context->pending + context->pendingLength, input, length);
    context->pendingLength += length;
    if (!copy.empty())
        os::SecureZero(copy.data(), copy.size());
    if (!encrypt) {
        if (written > 0)
            std::memcpy(context->lastPlain, output + written - kBlock, kBlock);
        context->lastWritten = static_cast<int32_t>(written);
    }
    *outputLength = static_cast<int32_t>(written);
    return SFC_OK;
}

}  // namespace
}  // namespace xecure

using namespace xecure;

XECURE_EXPORT SFC_HANDLE SFC_SKEY_SecretKey_New(void)
{
    return ToHandle(new (std::nothrow) SecretKey);
}

XECURE_EXPORT void SFC_SKEY_SecretKey_Free(SFC_HANDLE handle)
{
    delete As<SecretKey>(handle, Kind::SecretKey);
}

XECURE_EXPORT int32_t SFC_SKEY_SecretKey_FromBinary(SFC_HANDLE handle, const unsigned char* blob, int32_t length)
{
    auto* key = As<SecretKey>(handle, Kind::SecretKey);
    if (key == nullptr || blob == nullptr || length < kSecretKeyHeader)
        return SFC_ERR_ARGUMENT;
    int32_t algorithm = (blob[1] << 16) | (blob[2] << 8) | blob[3];
    int32_t keyLength = (blob[4] << 8) | blob[5];
    if (blob[0] != kSecretKeyType || keyLength != kKeyLength || length != kSecretKeyHeader + keyLength)
        return SFC_ERR_KEY;
    if (algorithm != kCipherAria && algorithm != kCipherAte)
        return SFC_ERR_ALGORITHM;
    key->algorithm = algorithm;
    key->length = keyLength;
    std::memcpy(key->key, blob + kSecretKeyHeader, static_cast<size_t>(keyLength));
    return SFC_OK;
}

XECURE_EXPORT SFC_HANDLE SFC_CIPHER_CTX_New(void)
{
    return ToHandle(new (std::nothrow) CipherContext);
}

XECURE_EXPORT void SFC_CIPHER_CTX_Free(SFC_HANDLE handle)
{
    delete As<CipherContext>(handle, Kind::CipherContext);
}

XECURE_EXPORT int32_t SFC_Cipher_Encrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int32_t algorithm,
                                              const uint32_t* param)
{
    return WithoutExceptions([&] { return Init(context, key, algorithm, param, true); });
}

XECURE_EXPORT int32_t SFC_Cipher_Decrypt_Init(SFC_HANDLE context, SFC_HANDLE key, int32_t algorithm,
                                              const uint32_t* param)
{
    return WithoutExceptions([&] { return Init(context, key, algorithm, param, false); });
}

XECURE_EXPORT int32_t SFC_Cipher_Encrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                                const unsigned char* input, int32_t inputLength)
{
    return WithoutExceptions(
        [&] { return Update(context, output, outputLength, input, inputLength, true); });
}

XECURE_EXPORT int32_t SFC_Cipher_Decrypt_Update(SFC_HANDLE context, unsigned char* output, int32_t* outputLength,
                                                const unsigned char* input, int32_t inputLength)
{
    return WithoutExceptions(
        [&] { return Update(context, output, outputLength, input, inputLength, false); });
}

XECURE_EXPORT int32_t SFC_Cipher_Encrypt_Final(SFC_HANDLE handle, unsigned char* output, int32_t* outputLength)
{
    auto* context = As<CipherContext>(handle, Kind::CipherContext);
    if (context == nullptr || output == nullptr || outputLength == nullptr)
        return SFC_ERR_ARGUMENT;
    if (!context->chain || !context->encrypt)
        return SFC_ERR_STATE;
    auto pad = static_cast<unsigned char>(kBlock - context->pendingLength);
    std::memset(context->pending + context->pendingLength, pad, pad);
    if (!context->chain->Process(context->pending, output, kBlock))
        return SFC_ERR_STATE;
    context->pendingLength = 0;
    *outputLength = static_cast<int32_t>(kBlock);
    return SFC_OK;
}

XECURE_EXPORT int32_t SFC_Cipher_Decrypt_Final(SFC_HANDLE handle, int32_t* count)
{
    auto* context = As<CipherContext>(handle, Kind::CipherContext);
    if (context == nullptr || count == nullptr)
        return SFC_ERR_ARGUMENT;
    *count = 0;
    if (!context->chain || context->encrypt)
        return SFC_ERR_STATE;
    // The last Update wrote whole blocks, at most INT32_MAX - 15 bytes: one
    // more never overflows.
    const int32_t refused = context->lastWritten + 1;
    unsigned bad = (context->pendingLength != 0) | (context->lastWritten == 0);
    unsigned pad = context->lastPlain[kBlock - 1];
    bad |= (pad == 0) | (pad > kBlock);
    for (size_t i = 0; i < kBlock; ++i) {
        unsigned inPad = i >= kBlock - (pad > kBlock ? kBlock : pad);
        bad |= inPad & (context->lastPlain[i] != pad);
    }
    // The message ends here: what was kept of a partial block goes.
    os::SecureZero(context->pending, sizeof context->pending);
    os::SecureZero(context->lastPlain, sizeof context->lastPlain);
    context->pendingLength = 0;
    context->lastWritten = 0;
    if (bad) {
        *count = refused;
        return SFC_ERR_PADDING;
    }
    *count = static_cast<int32_t>(pad);
    return SFC_OK;
}

#ifndef XECURECRYPTO_WITHOUT_SET_PATH
XECURE_EXPORT int32_t SFC_Cipher_Set_Path(int32_t algorithm, const char* path)
{
    if (algorithm != kCipherAte)
        return SFC_ERR_ALGORITHM;
    if (path == nullptr || path[0] == 0 || std::strlen(path) >= 4096)
        return SFC_ERR_ARGUMENT;
    return WithoutExceptions([&] {
        std::string native(path);
#if !defined(_WIN32)  // a Windows path as the codec composes it; Windows takes it as it is
        for (char& c : native)
            if (c == '\\')
                c = '/';
#endif
        std::lock_guard lock(g_atePathMutex);
        g_atePath = std::move(native);
        return SFC_OK;
    });
}
#endif
