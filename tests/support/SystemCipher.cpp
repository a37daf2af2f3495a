// The calls of OpenSslCipher.h over the system's own AES (CNG), and libgcrypt's SEED, for the Windows build.
#include "support/OpenSslCipher.h"

#include <windows.h>

#include <bcrypt.h>
#include <gcrypt.h>

#include <array>

struct EVP_CIPHER {
    const wchar_t* chaining;  // CNG's chaining mode; 1-bit CFB is built here over ECB
    size_t keyBytes;
    bool cfb1;
    int gcrypt = 0;  // else libgcrypt's cipher of this number, in CBC mode
};

namespace reference {
namespace {

// One key of the algorithm; closed on scope exit.
struct Key {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    Key(const EVP_CIPHER& cipher, const uint8_t* bytes)
    {
        const wchar_t* chaining = cipher.cfb1 ? BCRYPT_CHAIN_MODE_ECB : cipher.chaining;
        if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_AES_ALGORITHM, nullptr, 0) != 0 ||
            BCryptSetProperty(alg, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chaining)),
                              static_cast<ULONG>((wcslen(chaining) + 1) * sizeof(wchar_t)), 0) != 0 ||
            BCryptGenerateSymmetricKey(alg, &key, nullptr, 0, const_cast<PUCHAR>(bytes),
                                       static_cast<ULONG>(cipher.keyBytes), 0) != 0)
            key = nullptr;
    }
    ~Key()
    {
        if (key != nullptr)
            BCryptDestroyKey(key);
        if (alg != nullptr)
            BCryptCloseAlgorithmProvider(alg, 0);
    }
};

// ECB, CBC and 1-bit CFB for 16, 24 and 32-byte keys.
const EVP_CIPHER kCiphers[3][3] = {
    {{BCRYPT_CHAIN_MODE_ECB, 16, false}, {BCRYPT_CHAIN_MODE_ECB, 24, false}, {BCRYPT_CHAIN_MODE_ECB, 32, false}},
    {{BCRYPT_CHAIN_MODE_CBC, 16, false}, {BCRYPT_CHAIN_MODE_CBC, 24, false}, {BCRYPT_CHAIN_MODE_CBC, 32, false}},
    {{BCRYPT_CHAIN_MODE_ECB, 16, true}, {BCRYPT_CHAIN_MODE_ECB, 24, true}, {BCRYPT_CHAIN_MODE_ECB, 32, true}}};

size_t SizeIndex(size_t keyBytes)
{
    return keyBytes == 16 ? 0 : keyBytes == 24 ? 1 : 2;
}

// CBC through libgcrypt, PKCS#7 padding done here.
std::optional<std::vector<uint8_t>> Gcrypt(const EVP_CIPHER& cipher, bool encrypt, bool padding, const uint8_t* key,
                                           const uint8_t* iv, const uint8_t* data, size_t size)
{
    static const bool ready = gcry_check_version(nullptr) != nullptr;
    gcry_cipher_hd_t handle = nullptr;
    if (!ready || gcry_cipher_open(&handle, cipher.gcrypt, GCRY_CIPHER_MODE_CBC, 0) != 0)
        return std::nullopt;
    std::vector<uint8_t> out(data, data + size);
    if (encrypt && padding)
        out.resize(size / 16 * 16 + 16, static_cast<uint8_t>(16 - size % 16));
    const bool done = gcry_cipher_setkey(handle, key, cipher.keyBytes) == 0 && gcry_cipher_setiv(handle, iv, 16) == 0 &&
                      (encrypt ? gcry_cipher_encrypt : gcry_cipher_decrypt)(handle, out.data(), out.size(), nullptr,
                                                                            0) == 0;
    gcry_cipher_close(handle);
    if (!done)
        return std::nullopt;
    if (!encrypt && padding) {
        const size_t pad = out.empty() ? 0 : out.back();
        if (pad == 0 || pad > 16 || pad > out.size())
            return std::nullopt;
        out.resize(out.size() - pad);
    }
    return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> Evp(const EVP_CIPHER* cipher, bool encrypt, bool padding, const uint8_t* key,
                                        const uint8_t* iv, const uint8_t* data, size_t size)
{
    if (cipher->gcrypt != 0)
        return Gcrypt(*cipher, encrypt, padding, key, iv, data, size);
    Key k(*cipher, key);
    if (k.key == nullptr)
        return std::nullopt;
    std::array<uint8_t, 16> chain{};
    if (iv != nullptr)
        std::copy(iv, iv + 16, chain.begin());
    std::vector<uint8_t> out(size + 16);
    if (cipher->cfb1) {  // bit by bit: the register's first bit of E(register) masks the next bit
        for (size_t bit = 0; bit < size * 8; ++bit) {
            std::array<uint8_t, 16> e{};
            ULONG done = 0;
            if (BCryptEncrypt(k.key, chain.data(), 16, nullptr, nullptr, 0, e.data(), 16, &done, 0) != 0)
                return std::nullopt;
            const int in = data[bit / 8] >> (7 - bit % 8) & 1, o = in ^ (e[0] >> 7);
            out[bit / 8] = static_cast<uint8_t>((out[bit / 8] & ~(0x80 >> bit % 8)) | o << (7 - bit % 8));
            const int fed = encrypt ? o : in;
            for (size_t i = 0; i < 16; ++i)
                chain[i] = static_cast<uint8_t>(chain[i] << 1 | (i < 15 ? chain[i + 1] >> 7 : fed));
        }
        out.resize(size);
        return out;
    }
    const bool ecb = wcscmp(cipher->chaining, BCRYPT_CHAIN_MODE_ECB) == 0;
    ULONG done = 0;
    const auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
    if (call(k.key, const_cast<PUCHAR>(data), static_cast<ULONG>(size), nullptr, ecb ? nullptr : chain.data(),
             ecb ? 0 : 16, out.data(), static_cast<ULONG>(out.size()), &done, padding ? BCRYPT_BLOCK_PADDING : 0) != 0)
        return std::nullopt;
    out.resize(done);
    return out;
}

const EVP_CIPHER* AesEcb(size_t keyBytes)
{
    return &kCiphers[0][SizeIndex(keyBytes)];
}

const EVP_CIPHER* AesCbc(size_t keyBytes)
{
    return &kCiphers[1][SizeIndex(keyBytes)];
}

const EVP_CIPHER* AesCfb1(size_t keyBytes)
{
    return &kCiphers[2][SizeIndex(keyBytes)];
}

const EVP_CIPHER* AriaCbc()
{
    return nullptr;  // neither CNG nor libgcrypt 1.10 has ARIA
}

const EVP_CIPHER* SeedCbc()
{
    static const EVP_CIPHER seed{BCRYPT_CHAIN_MODE_CBC, 16, false, GCRY_CIPHER_SEED};
    return &seed;
}

}  // namespace reference
