// Constant tables of the Rijndael engine (FIPS-197), computed at compile time
// from the GF(2^8) definitions. Words are little-endian columns: byte k of a
// column sits in bits 8k..8k+7, so a column loaded from memory on a
// little-endian machine indexes the tables directly.
#pragma once

#include <cstdint>

struct RjdlTableSet {
    uint8_t sbox[256];
    uint8_t invSbox[256];
    // enc[k][x]: S(x) times the MixColumns column (2, 1, 1, 3), rotated by k bytes.
    uint32_t enc[4][256];
    // dec[k][x]: S^-1(x) times the InvMixColumns column (14, 9, 13, 11), rotated by k bytes.
    uint32_t dec[4][256];
    // keyDec[k][x]: x times (14, 9, 13, 11), rotated by k bytes: InvMixColumns of one byte.
    uint32_t keyDec[4][256];
    // Round constants 0x01, 0x02, ..., 0x1b, 0x36 in the first byte.
    uint32_t rcon[10];
};

extern const RjdlTableSet kRjdlTables;
