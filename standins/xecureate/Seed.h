// SEED (RFC 4269): a 128-bit block cipher with a 128-bit key, sixteen
// Feistel rounds. The S-boxes are computed from their algebraic definition
// (an affine map of a power in GF(2^8)) rather than stored.
#pragma once

#include <cstdint>

namespace seed {

inline constexpr int kBlockSize = 16;
inline constexpr int kKeySize = 16;

struct KeySchedule {
    uint32_t round[16][2];
};

void ExpandKey(const uint8_t key[kKeySize], KeySchedule& schedule);
// `in` and `out` may be the same block.
void EncryptBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize]);
void DecryptBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize]);

}  // namespace seed
