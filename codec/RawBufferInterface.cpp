// The raw buffer functions: one-shot use of the dispatcher, no header.
#include "PVCodec.h"

#include "codec/RawCodec.h"

namespace {

constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;

}  // namespace

int CPVCodec::SFMemoryBlockEncrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm)
{
    CRawCodec codec(kEncrypt, key, algorithm);
    return codec.BlockEncrypt(input, static_cast<int>(length), output);
}

int CPVCodec::SFMemoryBlockDecrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm)
{
    CRawCodec codec(kDecrypt, key, algorithm);
    return codec.BlockDecrypt(input, static_cast<int>(length), output);
}

int CPVCodec::SFPadEncryptEx(char* input, char* output, char* key, int length, int algorithm)
{
    CRawCodec codec(kEncrypt, key, algorithm);
    return codec.PadEncrypt(input, length, output);
}

int CPVCodec::SFPadDecryptEx(char* input, char* output, char* key, int length, int algorithm)
{
    CRawCodec codec(kDecrypt, key, algorithm);
    return codec.PadDecrypt(input, length, output);
}

int CPVCodec::SFMemoryBlockEncrypt16(char* input, char* output, char* key, unsigned int length)
{
    return SFMemoryBlockEncrypt16Ex(input, output, key, length, ALG_FROM_SETTINGS);
}

int CPVCodec::SFMemoryBlockDecrypt16(char* input, char* output, char* key, unsigned int length)
{
    return SFMemoryBlockDecrypt16Ex(input, output, key, length, ALG_FROM_SETTINGS);
}

int CPVCodec::SFPadEncrypt(char* input, char* output, char* key, int length)
{
    return SFPadEncryptEx(input, output, key, length, ALG_FROM_SETTINGS);
}

int CPVCodec::SFPadDecrypt(char* input, char* output, char* key, int length)
{
    return SFPadDecryptEx(input, output, key, length, ALG_FROM_SETTINGS);
}
