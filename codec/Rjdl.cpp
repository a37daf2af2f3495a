// The Rijndael engine's public functions: parameter checks in their fixed
// order, the key schedule, and padding. The enciphering itself is done by the
// chain routines of RjdlChains.h, with the engine chosen at initialisation
// (RjdlEngine.h). The state is only read by the data operations: each call
// starts a fresh chain from the state's IV.
#include "codec/Rjdl.h"

#include "codec/RjdlChains.h"
#include "codec/RjdlEngine.h"
#include "codec/RjdlTables.h"

#include <cstring>

namespace {

constexpr int kBlockBytes = 16;
constexpr int kBlockBits = 128;

bool Ready(const RjdlState* state)
{
    return state != nullptr && state->readiness == RJDL_READY;
}

uint32_t LoadWord(const uint8_t* p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreWord(uint8_t* p, uint32_t w)
{
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

uint32_t SubWord(uint32_t w)
{
    const uint8_t* s = kRjdlTables.sbox;
    return uint32_t{s[w & 0xff]} | (uint32_t{s[(w >> 8) & 0xff]} << 8) | (uint32_t{s[(w >> 16) & 0xff]} << 16) |
           (uint32_t{s[w >> 24]} << 24);
}

// The block operations after their state checks: the whole blocks of
// `inputBits` in the state's mode, from a fresh chain. Returns the bits done.
template <bool Decrypt>
int WholeBlocks(const RjdlState& state, const uint8_t* input, int32_t inputBits, uint8_t* output)
{
    if (input == nullptr || inputBits <= 0)
        return 0;
    const int32_t blocks = inputBits / kBlockBits;
    if (blocks < 1)
        return 0;
    const auto n = static_cast<size_t>(blocks);
    uint8_t chain[16];
    std::memcpy(chain, state.iv, sizeof(chain));
    switch (state.mode) {
    case RJDL_MODE_ECB: (Decrypt ? rjdl::DecryptEcb : rjdl::EncryptEcb)(state, input, output, n); break;
    case RJDL_MODE_CBC: (Decrypt ? rjdl::DecryptCbc : rjdl::EncryptCbc)(state, chain, input, output, n); break;
    case RJDL_MODE_CFB1: (Decrypt ? rjdl::DecryptCfb1 : rjdl::EncryptCfb1)(state, chain, input, output, n); break;
    default: return RJDL_BAD_MODE;
    }
    return blocks * kBlockBits;
}

}  // namespace

void RjdlKeySchedule(const uint8_t* key, int32_t rounds, uint8_t roundKeys[15][16])
{
    if (rounds != 10 && rounds != 12 && rounds != 14)
        return;
    const int keyWords = rounds - 6;
    const int totalWords = 4 * (rounds + 1);
    uint32_t w[60];
    for (int i = 0; i < keyWords; ++i)
        w[i] = LoadWord(key + 4 * i);
    for (int i = keyWords; i < totalWords; ++i) {
        uint32_t temp = w[i - 1];
        if (i % keyWords == 0) {
            // RotWord moves byte 1 to byte 0: a right rotation of the little-endian word.
            temp = SubWord((temp >> 8) | (temp << 24)) ^ kRjdlTables.rcon[i / keyWords - 1];
        } else if (keyWords > 6 && i % keyWords == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - keyWords] ^ temp;
    }
    for (int i = 0; i < totalWords; ++i)
        StoreWord(&roundKeys[i / 4][4 * (i % 4)], w[i]);
}

void RjdlKeyEncToDec(uint8_t roundKeys[15][16], int32_t rounds)
{
    const auto& k = kRjdlTables.keyDec;
    for (int r = 1; r < rounds && r < 15; ++r) {
        for (int c = 0; c < 16; c += 4) {
            uint8_t* b = &roundKeys[r][c];
            StoreWord(b, k[0][b[0]] ^ k[1][b[1]] ^ k[2][b[2]] ^ k[3][b[3]]);
        }
    }
}

int RjdlInit(RjdlState* state, int mode, int direction, const uint8_t* key, int keyLengthCode,
             const uint8_t* iv)
{
    if (state == nullptr)
        return RJDL_NOT_READY;
    state->readiness = RJDL_NOT_READY_STATE;
    if (mode != RJDL_MODE_ECB && mode != RJDL_MODE_CBC && mode != RJDL_MODE_CFB1)
        return RJDL_BAD_MODE;
    state->mode = static_cast<uint8_t>(mode);
    if (direction != RJDL_DIR_ENCRYPT && direction != RJDL_DIR_DECRYPT)
        return RJDL_BAD_DIRECTION;
    state->direction = static_cast<uint8_t>(direction);
    if (iv != nullptr)
        std::memcpy(state->iv, iv, sizeof(state->iv));
    else
        std::memset(state->iv, 0, sizeof(state->iv));
    switch (keyLengthCode) {
    case RJDL_KEY_128: state->rounds = 10; break;
    case RJDL_KEY_192: state->rounds = 12; break;
    case RJDL_KEY_256: state->rounds = 14; break;
    default: return RJDL_BAD_KEY_LENGTH;
    }
    if (key == nullptr)
        return RJDL_NO_KEY;
    // The state's engine expands the key too: a processor engine does it
    // without tables, in constant time, to the same bytes.
    const rjdl::Engine engine = rjdl::EngineForInit();
    const rjdl::EngineOps& ops = rjdl::OpsOf(engine);
    state->engine = static_cast<uint8_t>(engine);
    ops.expandKey(key, state->rounds, state->roundKeys);
    if (direction == RJDL_DIR_DECRYPT) {
        if (mode == RJDL_MODE_CFB1)
            std::memcpy(state->forwardKeys, state->roundKeys, sizeof(state->forwardKeys));
        ops.keyToDecrypt(state->roundKeys, state->rounds);
    }
    state->readiness = RJDL_READY;
    return 0;
}

int RjdlBlockEncrypt(const RjdlState* state, const uint8_t* input, int32_t inputBits, uint8_t* output)
{
    if (!Ready(state))
        return RJDL_NOT_READY;
    if (state->direction != RJDL_DIR_ENCRYPT)
        return RJDL_WRONG_DIRECTION;
    return WholeBlocks<false>(*state, input, inputBits, output);
}

int RjdlBlockDecrypt(const RjdlState* state, const uint8_t* input, int32_t inputBits, uint8_t* output)
{
    if (!Ready(state))
        return RJDL_NOT_READY;
    // 1-bit CFB runs the forward cipher both ways, so either direction serves.
    if (state->direction == RJDL_DIR_ENCRYPT && state->mode != RJDL_MODE_CFB1)
        return RJDL_WRONG_DIRECTION;
    return WholeBlocks<true>(*state, input, inputBits, output);
}

int RjdlPadEncrypt(const RjdlState* state, const uint8_t* input, int32_t inputBytes, uint8_t* output)
{
    if (!Ready(state) || state->direction != RJDL_DIR_ENCRYPT)
        return RJDL_NOT_READY;
    if (input == nullptr || inputBytes <= 0)
        return 0;
    const int32_t blocks = inputBytes / kBlockBytes;
    const int32_t rest = inputBytes - kBlockBytes * blocks;
    const int32_t pad = kBlockBytes - rest;
    // The padded length must itself be a positive int: the last 16 lengths
    // below 2^31 have no result to report and are refused, nothing written.
    if (blocks >= INT32_MAX / kBlockBytes)
        return RJDL_BAD_DATA;
    if (state->mode != RJDL_MODE_ECB && state->mode != RJDL_MODE_CBC)
        return RJDL_BAD_MODE;
    // The final block is read before anything is written (the output may be the input).
    uint8_t last[16];
    std::memcpy(last, input + kBlockBytes * blocks, static_cast<size_t>(rest));
    std::memset(last + rest, pad, static_cast<size_t>(pad));
    uint8_t* lastOut = output + kBlockBytes * blocks;
    if (state->mode == RJDL_MODE_ECB) {
        rjdl::EncryptEcb(*state, input, output, static_cast<size_t>(blocks));
        rjdl::EncryptEcb(*state, last, lastOut, 1);
    } else {
        uint8_t chain[16];
        std::memcpy(chain, state->iv, sizeof(chain));
        rjdl::EncryptCbc(*state, chain, input, output, static_cast<size_t>(blocks));
        rjdl::EncryptCbc(*state, chain, last, lastOut, 1);
    }
    return kBlockBytes * (blocks + 1);
}

int RjdlPadDecrypt(const RjdlState* state, const uint8_t* input, int32_t inputBytes, uint8_t* output)
{
    if (!Ready(state))
        return RJDL_NOT_READY;
    if (state->direction != RJDL_DIR_DECRYPT)
        return RJDL_WRONG_DIRECTION;
    if (input == nullptr || inputBytes <= 0)
        return 0;
    if (inputBytes % kBlockBytes != 0)
        return RJDL_BAD_DATA;
    const int32_t blocks = inputBytes / kBlockBytes;
    if (state->mode != RJDL_MODE_ECB && state->mode != RJDL_MODE_CBC)
        return RJDL_BAD_MODE;
    const size_t front = static_cast<size_t>(blocks - 1);
    const uint8_t* lastIn = input + kBlockBytes * front;
    uint8_t work[16];
    if (state->mode == RJDL_MODE_ECB) {
        rjdl::DecryptEcb(*state, input, output, front);
        rjdl::DecryptEcb(*state, lastIn, work, 1);
    } else {
        // The chain carries the last ciphertext block across, which matters
        // when the output is the input and that block is already overwritten.
        uint8_t chain[16];
        std::memcpy(chain, state->iv, sizeof(chain));
        rjdl::DecryptCbc(*state, chain, input, output, front);
        rjdl::DecryptCbc(*state, chain, lastIn, work, 1);
    }
    const uint8_t pad = work[15];
    if (pad < 1 || pad > kBlockBytes)
        return RJDL_BAD_DATA;
    uint8_t mismatch = 0;
    for (int i = kBlockBytes - pad; i < kBlockBytes; ++i)
        mismatch |= static_cast<uint8_t>(work[i] ^ pad);
    if (mismatch != 0)
        return RJDL_BAD_DATA;
    std::memcpy(output + kBlockBytes * front, work, static_cast<size_t>(kBlockBytes - pad));
    return kBlockBytes * blocks - pad;
}
