// A host in a folder of its own: AES-128 of zeros through the installed library, then a key from the crypto library.
#include <PVCodec.h>

#include <cstdio>
#include <cstring>

int main()
{
    char key[16] = {};
    char in[16] = {};
    char out[32] = {};
    static const unsigned char expected[16] = {0x66, 0xe9, 0x4b, 0xd4, 0xef, 0x8a, 0x2c, 0x3b,
                                               0x88, 0x4c, 0xfa, 0x59, 0xca, 0x34, 0x2b, 0x2e};
    if (CPVCodec::SFPadEncryptEx(in, out, key, 16, 0) != 32 || std::memcmp(out, expected, 16) != 0) {
        std::printf("unexpected cipher text\n");
        return 1;
    }
    char documentKey[16] = {};
    if (CPVCodec::GenerateRSADocuKey(documentKey, 16) != 0 || std::memcmp(documentKey, key, 16) == 0) {
        std::printf("no document key: the outside crypto library was not found\n");
        return 1;
    }
    std::printf("ok\n");
    return 0;
}
