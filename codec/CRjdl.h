// CRjdl: the Rijndael engine as the system uses it: AES-128 in CBC mode from
// an all-zero IV, lengths in bytes, every call a fresh chain.
#pragma once

#include "codec/Rjdl.h"

// The container's unit: a document body is enciphered in segments of this
// many bytes, each one call (one fresh chain).
inline constexpr int RJDL_SEGMENT_BYTES = 1024;

class CRjdl {
public:
    CRjdl();
    virtual ~CRjdl();

    // Sets up CBC, the given direction (1 encrypt, 2 decrypt), a 16-byte key
    // and the zero IV. A failure only leaves the engine not ready.
    void Init(int direction, const char* key);

    // Whole 16-byte blocks only: bytes processed, or 0 on any failure.
    int BlockEncrypt(const char* input, int length, char* output) const;
    int BlockDecrypt(const char* input, int length, char* output) const;
    // Padded: bytes written (encrypt) or plaintext bytes (decrypt), or the
    // engine's negative code.
    int PadEncrypt(const char* input, int length, char* output) const;
    int PadDecrypt(const char* input, int length, char* output) const;

    // `segmentCount` consecutive 1024-byte segments, each enciphered exactly
    // as one BlockEncrypt / BlockDecrypt call of 1024 bytes would (its own
    // chain from the zero IV), several at a time. Returns what those calls
    // would add up to: 1024 * segmentCount, or 0 when the engine refuses them
    // (not ready, other direction) or there is nothing to do (null input, a
    // count of 0 or less); nothing is written then. A count whose total does
    // not fit an int (more than 2^21 - 1 segments) is refused with 0 too.
    // `output` may be `input`, no other overlap.
    int BlockEncryptSegments(const char* input, char* output, int segmentCount) const;
    int BlockDecryptSegments(const char* input, char* output, int segmentCount) const;

    const RjdlState& State() const { return m_state; }

private:
    RjdlState m_state;
};
