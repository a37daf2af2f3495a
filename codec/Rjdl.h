// The Rijndael engine: AES (FIPS-197) with 128-, 192- and 256-bit keys in
// ECB, CBC and 1-bit CFB, over a plain state record. Block lengths count
// bits, pad lengths bytes; failures are small negative codes. These functions
// are the one place where the library enciphers a block.
#pragma once

#include <cstdint>

inline constexpr uint8_t RJDL_MODE_ECB = 3;
inline constexpr uint8_t RJDL_MODE_CBC = 4;
inline constexpr uint8_t RJDL_MODE_CFB1 = 5;

inline constexpr uint8_t RJDL_DIR_ENCRYPT = 1;
inline constexpr uint8_t RJDL_DIR_DECRYPT = 2;

inline constexpr int RJDL_KEY_128 = 6;
inline constexpr int RJDL_KEY_192 = 7;
inline constexpr int RJDL_KEY_256 = 8;

inline constexpr uint8_t RJDL_READY = 9;
inline constexpr uint8_t RJDL_NOT_READY_STATE = 10;

inline constexpr int RJDL_BAD_MODE = -1;
inline constexpr int RJDL_BAD_DIRECTION = -2;
inline constexpr int RJDL_BAD_KEY_LENGTH = -3;
inline constexpr int RJDL_NO_KEY = -4;
inline constexpr int RJDL_NOT_READY = -5;
inline constexpr int RJDL_WRONG_DIRECTION = -6;
inline constexpr int RJDL_BAD_DATA = -7;

struct RjdlState {
    uint8_t mode;
    uint8_t direction;
    uint8_t iv[16];
    alignas(16) uint8_t roundKeys[15][16];  // decrypt direction: equivalent inverse cipher form
    int32_t rounds;
    uint8_t readiness;
    // Beyond the record's own fields: the cipher routines chosen at
    // initialisation (an rjdl::Engine, see RjdlEngine.h) and, for a 1-bit CFB
    // state set up for decryption only, the forward round keys that mode runs
    // on (CFB enciphers in both directions).
    uint8_t engine;
    alignas(16) uint8_t forwardKeys[15][16];
};

// All functions answer a null state with RJDL_NOT_READY. The data operations
// never change the state; output may equal input (in place), no other overlap.
// RjdlPadEncrypt refuses the last 16 lengths below 2^31, whose padded length
// does not fit the result, with RJDL_BAD_DATA.
int RjdlInit(RjdlState* state, int mode, int direction, const uint8_t* key, int keyLengthCode,
             const uint8_t* iv);
int RjdlBlockEncrypt(const RjdlState* state, const uint8_t* input, int32_t inputBits, uint8_t* output);
int RjdlBlockDecrypt(const RjdlState* state, const uint8_t* input, int32_t inputBits, uint8_t* output);
int RjdlPadEncrypt(const RjdlState* state, const uint8_t* input, int32_t inputBytes, uint8_t* output);
int RjdlPadDecrypt(const RjdlState* state, const uint8_t* input, int32_t inputBytes, uint8_t* output);

// Expands `rounds - 6` key words into rounds + 1 round keys.
void RjdlKeySchedule(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16]);
// Turns round keys 1 .. rounds-1 into the equivalent-inverse-cipher form.
void RjdlKeyEncToDec(uint8_t roundKeys[15][16], int32_t rounds);
