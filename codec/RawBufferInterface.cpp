// The raw buffer functions: one-shot use of the dispatcher, no header.
#include "PVCodec.h"

#include "codec/RawCodec.h"
#include "module/ExportGuard.h"

namespace {

constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;
// The dispatcher's and the outside library's failure value.
constexpr int kFailure = -1;

// One call of the dispatcher built for it; the raw functions trace nothing.
template <typename Operation>
int OneShot(int direction, char* key, int algorithm, Operation operation)
{
    return exportguard::NothingEscapes(kFailure, nullptr, [&] {
        CRawCodec codec(direction, key, algorithm);
        return operation(codec);
    });
}

}  // namespace

int CPVCodec::SFMemoryBlockEncrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm)
{
    return OneShot(kEncrypt, key, algorithm,
                   [&](CRawCodec& codec) { return codec.BlockEncrypt(input, static_cast<int>(length), output); });
}

int CPVCodec::SFMemoryBlockDecrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm)
{
    return OneShot(kDecrypt, key, algorithm,
                   [&](CRawCodec& codec) { return codec.BlockDecrypt(input, static_cast<int>(length), output); });
}

int CPVCodec::SFPadEncryptEx(char* input, char* output, char* key, int length, int algorithm)
{
    return OneShot(kEncrypt, key, algorithm,
                   [&](CRawCodec& codec) { return codec.PadEncrypt(input, length, output); });
}

int CPVCodec::SFPadDecryptEx(char* input, char* output, char* key, int length, int algorithm)
{
    return OneShot(kDecrypt, key, algorithm,
                   [&](CRawCodec& codec) { return codec.PadDecrypt(input, length, output); });
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
