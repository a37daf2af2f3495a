// The engine's inner routines: whole blocks enciphered in one mode for a
// ready state. The public Rjdl* functions do every check and then call these,
// so these are the only code that runs the block cipher. A faster cipher
// (for instance processor AES instructions) belongs inside them.
#pragma once

#include "codec/Rjdl.h"

#include <cstddef>
#include <cstdint>

namespace rjdl {

// One block each; `in` and `out` may be the same block.
void EncryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16]);
void DecryptBlock(const RjdlState& state, const uint8_t in[16], uint8_t out[16]);

// `blocks` 16-byte blocks; `out` may equal `in` (in place), no other overlap.
void EncryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks);
void DecryptEcb(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t blocks);

// CBC. `chain` holds the IV on entry and the last ciphertext block on return,
// so a caller can continue the chain (pad operations do, for their final block).
void EncryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);
void DecryptCbc(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);

// 1-bit CFB over whole blocks, most significant bit of each byte first; the
// forward cipher runs in both directions. `chain` is the shift register.
void EncryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);
void DecryptCfb1(const RjdlState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);

}  // namespace rjdl
