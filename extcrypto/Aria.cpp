#include "extcrypto/Aria.h"

#include "extcrypto/LibraryPaths.h"

#include "SystemServices.h"

#include <climits>
#include <cstring>

namespace {

constexpr char kDirectionEncrypt = 1;

const unsigned char* Bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
unsigned char* Bytes(char* p) { return reinterpret_cast<unsigned char*>(p); }

}  // namespace

CAria::~CAria()
{
    FreeHandles();
    os::SecureZero(m_cipherParam, sizeof m_cipherParam);
}

void CAria::FreeHandles()
{
    if (m_secretKey != nullptr) {
        SFC_SKEY_SecretKey_Free(m_secretKey);
        m_secretKey = nullptr;
    }
    if (m_cipherCtx != nullptr) {
        SFC_CIPHER_CTX_Free(m_cipherCtx);
        m_cipherCtx = nullptr;
    }
}

int CAria::BindCryptoLibrary()
{
    auto path = FindCryptoLibraryPath();
    m_bound = path ? LoadCryptoLibrary(path->c_str()) : 0;
    return m_bound;
}

int CAria::Init(char direction, const char* key)
{
    if (m_bound == 0 && BindCryptoLibrary() == 0)
        return -1;
    return InitCipher(direction, key, xecure::kCipherAria);
}

int CAria::InitCipher(char direction, const char* key, int algorithm)
{
    if (key == nullptr)
        return -1;
    FreeHandles();
    m_secretKey = SFC_SKEY_SecretKey_New();
    int result = ImportSecretKey(m_secretKey, Bytes(key), xecure::kKeyLength, xecure::kSecretKeyType, algorithm);
    if (result != 0)
        return result;
    m_cipherCtx = SFC_CIPHER_CTX_New();
    std::memset(m_cipherParam, 0, sizeof m_cipherParam);
    m_cipherParam[1] = xecure::kModeCbc;
    std::memcpy(&m_cipherParam[xecure::kParamIvWord], key, xecure::kKeyLength);
    m_cipherParam[xecure::kParamIvLengthWord] = xecure::kKeyLength;
    m_cipherParam[xecure::kParamPaddingWord] = xecure::kPaddingPkcs7;
    if (direction == kDirectionEncrypt)
        return SFC_Cipher_Encrypt_Init(m_cipherCtx, m_secretKey, algorithm, m_cipherParam);
    return SFC_Cipher_Decrypt_Init(m_cipherCtx, m_secretKey, algorithm, m_cipherParam);
}

int CAria::ImportSecretKey(SFC_HANDLE keyHandle, const unsigned char* key, int keyLength, unsigned char type,
                           int algorithm)
{
    if (key == nullptr || keyLength < 0 || keyLength > xecure::kSecretKeyMax)
        return -1;
    unsigned char blob[xecure::kSecretKeyHeader + xecure::kSecretKeyMax] = {};
    blob[0] = type;
    blob[1] = static_cast<unsigned char>(algorithm >> 16);
    blob[2] = static_cast<unsigned char>(algorithm >> 8);
    blob[3] = static_cast<unsigned char>(algorithm);
    blob[4] = static_cast<unsigned char>(keyLength >> 8);
    blob[5] = static_cast<unsigned char>(keyLength);
    std::memcpy(blob + xecure::kSecretKeyHeader, key, static_cast<size_t>(keyLength));
    int result = SFC_SKEY_SecretKey_FromBinary(keyHandle, blob, xecure::kSecretKeyHeader + keyLength);
    os::SecureZero(blob, sizeof blob);
    return result;
}

// Without a bound library the forwarding members would answer 0 without
// writing a length; the operations answer -1 instead.
int CAria::BlockEncrypt(const char* input, int length, char* output)
{
    if (input == nullptr || output == nullptr || m_bound == 0)
        return -1;
    int32_t n = 0;
    int result = SFC_Cipher_Encrypt_Update(m_cipherCtx, Bytes(output), &n, Bytes(input), length);
    return result != 0 ? result : n;
}

int CAria::BlockDecrypt(const char* input, int length, char* output)
{
    if (input == nullptr || output == nullptr || m_bound == 0)
        return -1;
    int32_t n = 0;
    int result = SFC_Cipher_Decrypt_Update(m_cipherCtx, Bytes(output), &n, Bytes(input), length);
    return result != 0 ? result : n;
}

int CAria::PadEncrypt(const char* input, int length, char* output)
{
    if (input == nullptr || output == nullptr || m_bound == 0)
        return -1;
    int32_t n1 = 0, n2 = 0;
    if (SFC_Cipher_Encrypt_Update(m_cipherCtx, Bytes(output), &n1, Bytes(input), length) != 0 || n1 < 0)
        return -1;
    if (SFC_Cipher_Encrypt_Final(m_cipherCtx, Bytes(output) + n1, &n2) != 0 || n2 < 0 || n1 > INT_MAX - n2)
        return -1;
    return n1 + n2;
}

int CAria::PadDecrypt(const char* input, int length, char* output)
{
    if (input == nullptr || output == nullptr || m_bound == 0)
        return -1;
    int32_t n1 = 0, k = 0;
    if (SFC_Cipher_Decrypt_Update(m_cipherCtx, Bytes(output), &n1, Bytes(input), length) != 0)
        return -1;
    SFC_Cipher_Decrypt_Final(m_cipherCtx, &k);  // its result is not looked at
    int64_t result = int64_t{n1} - k;
    return result < INT_MIN || result > INT_MAX ? -1 : static_cast<int>(result);
}

int CATE::Init(char direction, const char* key)
{
    if (m_bound == 0) {
        if (BindCryptoLibrary() == 0)
            return -1;
        auto atePath = FindAteLibraryPath();
        if (!atePath || SFC_Cipher_Set_Path(xecure::kCipherAte, atePath->c_str()) != 0)
            return -1;
    }
    return InitCipher(direction, key, xecure::kCipherAte);
}
