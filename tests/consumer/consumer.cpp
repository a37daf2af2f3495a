// A host program in a folder of its own: pad-encrypts 16 bytes with the
// installed library and checks the first ciphertext block of AES-128-CBC
// (zero IV, zero key) of 16 zeros; then reaches the outside crypto library,
// which the installed library finds by itself, for a random document key and
// an ATE round trip.
#include <PVCodec.h>

#include <cstdio>
#include <cstring>

int main()
{
    char key[16] = {};
    char in[16] = {};
    char out[32] = {};
    int n = CPVCodec::SFPadEncryptEx(in, out, key, 16, 0);
    static const unsigned char expected[16] = {0x66, 0xe9, 0x4b, 0xd4, 0xef, 0x8a, 0x2c, 0x3b,
                                               0x88, 0x4c, 0xfa, 0x59, 0xca, 0x34, 0x2b, 0x2e};
    if (n != 32 || std::memcmp(out, expected, 16) != 0) {
        std::printf("unexpected result %d\n", n);
        return 1;
    }
    char back[32] = {};
    if (CPVCodec::SFPadDecryptEx(out, back, key, n, 0) != 16 || std::memcmp(back, in, 16) != 0) {
        std::printf("round trip failed\n");
        return 1;
    }
    char documentKey[16] = {};
    static const char zeros[16] = {};
    if (CPVCodec::GenerateRSADocuKey(documentKey, 16) != 0 || std::memcmp(documentKey, zeros, 16) == 0) {
        std::printf("no document key: the outside crypto library was not found\n");
        return 1;
    }
    char ate[32] = {};
    if (CPVCodec::SFPadEncryptEx(in, ate, documentKey, 16, 2) != 32 ||
        CPVCodec::SFPadDecryptEx(ate, back, documentKey, 32, 2) != 16 || std::memcmp(back, in, 16) != 0) {
        std::printf("ATE round trip failed\n");
        return 1;
    }
    std::printf("ok\n");
    return 0;
}
