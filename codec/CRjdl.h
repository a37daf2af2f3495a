// CRjdl: the Rijndael engine as the system uses it: AES-128 in CBC mode from
// an all-zero IV, lengths in bytes, every call a fresh chain.
#pragma once

#include "codec/Rjdl.h"

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

    const RjdlState& State() const { return m_state; }

private:
    RjdlState m_state;
};
