#include "XecureATE.h"

#include "Seed.h"
#include "SystemServices.h"

#include <cstring>
#include <new>

struct XATE_Cipher {
    seed::KeySchedule schedule;
    unsigned char chain[seed::kBlockSize];
    bool encrypt;
};

XATE_Cipher* XATE_CBC_New(const unsigned char* key, int keyLength, const unsigned char* iv, int ivLength,
                          int encrypt)
{
    if (key == nullptr || iv == nullptr || keyLength != seed::kKeySize || ivLength != seed::kBlockSize)
        return nullptr;
    auto* cipher = new (std::nothrow) XATE_Cipher;
    if (cipher == nullptr)
        return nullptr;
    seed::ExpandKey(key, cipher->schedule);
    std::memcpy(cipher->chain, iv, seed::kBlockSize);
    cipher->encrypt = encrypt != 0;
    return cipher;
}

int XATE_CBC_Process(XATE_Cipher* cipher, const unsigned char* input, unsigned char* output, size_t length)
{
    if (cipher == nullptr || length % seed::kBlockSize != 0 || (length != 0 && (input == nullptr || output == nullptr)))
        return -1;
    unsigned char block[seed::kBlockSize];
    for (size_t at = 0; at < length; at += seed::kBlockSize) {
        if (cipher->encrypt) {
            for (int i = 0; i < seed::kBlockSize; ++i)
                block[i] = input[at + i] ^ cipher->chain[i];
            seed::EncryptBlock(cipher->schedule, block, output + at);
            std::memcpy(cipher->chain, output + at, seed::kBlockSize);
        } else {
            unsigned char saved[seed::kBlockSize];
            std::memcpy(saved, input + at, seed::kBlockSize);  // input may be the output
            seed::DecryptBlock(cipher->schedule, saved, block);
            for (int i = 0; i < seed::kBlockSize; ++i)
                output[at + i] = block[i] ^ cipher->chain[i];
            std::memcpy(cipher->chain, saved, seed::kBlockSize);
        }
    }
    os::SecureZero(block, sizeof block);
    return 0;
}

void XATE_CBC_Free(XATE_Cipher* cipher)
{
    if (cipher == nullptr)
        return;
    os::SecureZero(cipher, sizeof *cipher);
    delete cipher;
}
