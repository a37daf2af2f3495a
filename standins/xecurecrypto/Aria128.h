// ARIA with a 128-bit key (RFC 5794): twelve rounds of substitution and a
// binary diffusion layer over a 128-bit block. The S-boxes are computed
// from their algebraic definition (an affine map of a power in GF(2^8))
// rather than stored.
#pragma once

#include <array>
#include <cstdint>

namespace aria {

inline constexpr int kBlockSize = 16;
inline constexpr int kKeySize = 16;
inline constexpr int kRounds = 12;

using Block = std::array<uint8_t, kBlockSize>;

// The round keys of one direction: kRounds + 1 of them.
struct KeySchedule {
    std::array<Block, kRounds + 1> round;
};

void ExpandEncryptionKey(const uint8_t key[kKeySize], KeySchedule& schedule);
void ExpandDecryptionKey(const uint8_t key[kKeySize], KeySchedule& schedule);
// Enciphers or deciphers, as the schedule was expanded; `in` may be `out`.
void ProcessBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize]);

}  // namespace aria
