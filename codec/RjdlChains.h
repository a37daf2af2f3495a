// The engine's inner routines: whole blocks enciphered in one mode for a
// ready state. The public Rjdl* functions do every check and then call these,
// so these are the only way to the block cipher. Each runs the routine of the
// engine recorded in the state (the table form or processor AES
// instructions, see RjdlEngine.h); all give the same bytes.
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

// `segments` independent CBC chains of `blocksPerSegment` blocks each, laid
// out one after the other, every one from the state's IV: the bytes of one
// EncryptCbc / DecryptCbc per segment, enciphered several at a time.
// `out` may equal `in`, no other overlap.
void EncryptCbcSegments(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t segments,
                        size_t blocksPerSegment);
void DecryptCbcSegments(const RjdlState& state, const uint8_t* in, uint8_t* out, size_t segments,
                        size_t blocksPerSegment);

}  // namespace rjdl
