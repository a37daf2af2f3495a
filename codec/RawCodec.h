// CRawCodec: the one object through which the library enciphers. Built for a
// direction, a key and an algorithm id (0 Rijndael, 1 ARIA, 2 ATE, -1 from
// the "ALG" setting), it initialises the chosen cipher and forwards the four
// buffer operations to it.
#pragma once

#include "codec/CRjdl.h"
#include "extcrypto/Aria.h"

inline constexpr int ALG_RIJNDAEL = 0;
inline constexpr int ALG_ARIA = 1;
inline constexpr int ALG_ATE = 2;
inline constexpr int ALG_FROM_SETTINGS = -1;

class CRawCodec {
public:
    CRawCodec(int direction, char* key, int algorithm);
    virtual ~CRawCodec();
    CRawCodec(const CRawCodec&) = delete;
    CRawCodec& operator=(const CRawCodec&) = delete;

    int BlockEncrypt(char* input, int length, char* output);
    int BlockDecrypt(char* input, int length, char* output);
    int PadEncrypt(char* input, int length, char* output);
    int PadDecrypt(char* input, int length, char* output);

    // The full 1024-byte segments of a document body in one call: the bytes
    // and the total of one BlockEncrypt / BlockDecrypt of 1024 bytes per
    // segment. Rijndael enciphers several segments at a time (each its own
    // chain); the other ciphers get one call per segment, in order. A total
    // other than 1024 * segmentCount means that some segment did not go
    // through whole: for Rijndael nothing was written then (the engine was not
    // ready or set up the other way); for the others the outputs are those of
    // the individual calls. A caller that needs each call's own result then
    // goes one segment at a time (from an input that is not the output).
    // A count of 0 or less, or above 2^21 - 1, makes no call and gives 0.
    int BlockEncryptSegments(char* input, int segmentCount, char* output);
    int BlockDecryptSegments(char* input, int segmentCount, char* output);

    int Algorithm() const { return m_algorithm; }
    // The RSA functions reach the outside library through the bound ARIA object.
    CAria& Aria() { return m_aria; }

private:
    int m_algorithm;
    CRjdl m_rijndael;
    CAria m_aria;
    CATE m_ate;
};
