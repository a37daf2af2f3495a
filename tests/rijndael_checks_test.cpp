// The Rijndael engine's contract beyond the cipher itself: the negative codes
// and the order in which they are checked, the pad bytes a decryption checks,
// states that data operations never change, and the byte-length layer CRjdl.
#include "codec/CRjdl.h"
#include "codec/Rjdl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kKey[32] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15,
                          0x88, 0x09, 0xcf, 0x4f, 0x3c, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

RjdlState MakeState(int mode, int direction)
{
    RjdlState state{};
    EXPECT_EQ(RjdlInit(&state, mode, direction, kKey, RJDL_KEY_128, nullptr), 0);
    return state;
}

// ---- RjdlInit -----------------------------------------------------------

struct InitCase {
    const char* name;
    int mode;
    int direction;
    int keyCode;
    bool nullKey;
    int expected;
};

class RjdlInitFailure : public ::testing::TestWithParam<InitCase> {};

// Each failure leaves the state not ready, also when it was ready before, so
// every data operation then answers -5.
TEST_P(RjdlInitFailure, ReturnsCodeAndLeavesStateNotReady)
{
    const auto& c = GetParam();
    RjdlState state = MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
    ASSERT_EQ(state.readiness, RJDL_READY);
    EXPECT_EQ(RjdlInit(&state, c.mode, c.direction, c.nullKey ? nullptr : kKey, c.keyCode, nullptr), c.expected);
    EXPECT_EQ(state.readiness, RJDL_NOT_READY_STATE);

    uint8_t in[32] = {}, out[48] = {};
    EXPECT_EQ(RjdlBlockEncrypt(&state, in, 256, out), RJDL_NOT_READY);
    EXPECT_EQ(RjdlBlockDecrypt(&state, in, 256, out), RJDL_NOT_READY);
    EXPECT_EQ(RjdlPadEncrypt(&state, in, 32, out), RJDL_NOT_READY);
    EXPECT_EQ(RjdlPadDecrypt(&state, in, 32, out), RJDL_NOT_READY);
    for (uint8_t b : out)
        ASSERT_EQ(b, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RjdlInitFailure,
    ::testing::Values(InitCase{"Mode2", 2, 1, RJDL_KEY_128, false, RJDL_BAD_MODE},
                      InitCase{"Mode6", 6, 1, RJDL_KEY_128, false, RJDL_BAD_MODE},
                      InitCase{"Mode259IsNotMode3", 259, 1, RJDL_KEY_128, false, RJDL_BAD_MODE},
                      InitCase{"Direction0", RJDL_MODE_CBC, 0, RJDL_KEY_128, false, RJDL_BAD_DIRECTION},
                      InitCase{"Direction3", RJDL_MODE_ECB, 3, RJDL_KEY_128, false, RJDL_BAD_DIRECTION},
                      InitCase{"Direction257IsNotDirection1", RJDL_MODE_CBC, 257, RJDL_KEY_128, false,
                               RJDL_BAD_DIRECTION},
                      InitCase{"KeyCode9", RJDL_MODE_CBC, 1, 9, false, RJDL_BAD_KEY_LENGTH},
                      InitCase{"KeyCode5", RJDL_MODE_CBC, 2, 5, false, RJDL_BAD_KEY_LENGTH},
                      InitCase{"NullKey", RJDL_MODE_CBC, 1, RJDL_KEY_128, true, RJDL_NO_KEY},
                      // Several faults at once: the earliest check answers.
                      InitCase{"ModeBeforeDirection", 2, 0, 9, true, RJDL_BAD_MODE},
                      InitCase{"DirectionBeforeKeyCode", RJDL_MODE_CFB1, 0, 9, true, RJDL_BAD_DIRECTION},
                      InitCase{"KeyCodeBeforeNullKey", RJDL_MODE_ECB, 2, 9, true, RJDL_BAD_KEY_LENGTH}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields stored before the failing step keep their new values.
TEST(RjdlInit, FailureKeepsFieldsStoredBeforeIt)
{
    RjdlState state = MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
    uint8_t iv[16];
    std::memset(iv, 0xa5, sizeof(iv));
    EXPECT_EQ(RjdlInit(&state, RJDL_MODE_ECB, RJDL_DIR_DECRYPT, nullptr, RJDL_KEY_256, iv), RJDL_NO_KEY);
    EXPECT_EQ(state.mode, RJDL_MODE_ECB);
    EXPECT_EQ(state.direction, RJDL_DIR_DECRYPT);
    EXPECT_EQ(state.iv[0], 0xa5);
    EXPECT_EQ(state.rounds, 14);

    EXPECT_EQ(RjdlInit(&state, RJDL_MODE_CFB1, 7, kKey, RJDL_KEY_128, nullptr), RJDL_BAD_DIRECTION);
    EXPECT_EQ(state.mode, RJDL_MODE_CFB1);
    EXPECT_EQ(state.direction, RJDL_DIR_DECRYPT);
    EXPECT_EQ(state.iv[0], 0xa5);  // the IV step comes after the direction
}

TEST(RjdlInit, NullIvMeansZeroIvAndDecryptKeysAreConverted)
{
    uint8_t iv[16];
    std::memset(iv, 0xff, sizeof(iv));
    RjdlState state{};
    ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, kKey, RJDL_KEY_128, iv), 0);
    ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_DECRYPT, kKey, RJDL_KEY_128, nullptr), 0);
    for (uint8_t b : state.iv)
        EXPECT_EQ(b, 0);
    RjdlState enc = MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
    // First and last round keys stay; the middle ones take the inverse form.
    EXPECT_EQ(std::memcmp(enc.roundKeys[0], state.roundKeys[0], 16), 0);
    EXPECT_EQ(std::memcmp(enc.roundKeys[10], state.roundKeys[10], 16), 0);
    EXPECT_NE(std::memcmp(enc.roundKeys[5], state.roundKeys[5], 16), 0);
}

// ---- Data operations: codes and their order --------------------------------

enum class Op { BlockEncrypt, BlockDecrypt, PadEncrypt, PadDecrypt };
enum class Kind { NotReady, EncEcb, EncCbc, EncCfb1, DecEcb, DecCbc, DecCfb1, EncOddMode, DecOddMode };

RjdlState StateOf(Kind kind)
{
    switch (kind) {
    case Kind::NotReady: {
        RjdlState s{};
        s.readiness = RJDL_NOT_READY_STATE;
        return s;
    }
    case Kind::EncEcb: return MakeState(RJDL_MODE_ECB, RJDL_DIR_ENCRYPT);
    case Kind::EncCbc: return MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
    case Kind::EncCfb1: return MakeState(RJDL_MODE_CFB1, RJDL_DIR_ENCRYPT);
    case Kind::DecEcb: return MakeState(RJDL_MODE_ECB, RJDL_DIR_DECRYPT);
    case Kind::DecCbc: return MakeState(RJDL_MODE_CBC, RJDL_DIR_DECRYPT);
    case Kind::DecCfb1: return MakeState(RJDL_MODE_CFB1, RJDL_DIR_DECRYPT);
    case Kind::EncOddMode:
    case Kind::DecOddMode: {
        // A ready state whose mode no operation serves (a damaged record).
        RjdlState s = MakeState(RJDL_MODE_CBC, kind == Kind::EncOddMode ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT);
        s.mode = 7;
        return s;
    }
    }
    return {};
}

int RunOp(Op op, const RjdlState* state, const uint8_t* in, int length, uint8_t* out)
{
    switch (op) {
    case Op::BlockEncrypt: return RjdlBlockEncrypt(state, in, length, out);
    case Op::BlockDecrypt: return RjdlBlockDecrypt(state, in, length, out);
    case Op::PadEncrypt: return RjdlPadEncrypt(state, in, length, out);
    case Op::PadDecrypt: return RjdlPadDecrypt(state, in, length, out);
    }
    return 99;
}

struct DataCase {
    const char* name;
    Op op;
    Kind kind;
    bool nullInput;
    int length;  // bits for block operations, bytes for pad operations
    int expected;
};

class RjdlDataCodes : public ::testing::TestWithParam<DataCase> {};

TEST_P(RjdlDataCodes, ReturnsCodeAndWritesNothingOnFailure)
{
    const auto& c = GetParam();
    RjdlState state = StateOf(c.kind);
    RjdlState before = state;
    std::array<uint8_t, 64> in{}, out{};
    out.fill(0xee);
    int result = RunOp(c.op, &state, c.nullInput ? nullptr : in.data(), c.length, out.data());
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof(state)), 0);
    if (result <= 0) {
        for (uint8_t b : out)
            ASSERT_EQ(b, 0xee) << "written despite result " << result;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Order, RjdlDataCodes,
    ::testing::Values(
        // Block encryption: readiness, direction, input, length, mode.
        DataCase{"BeNotReadyFirst", Op::BlockEncrypt, Kind::NotReady, true, 0, RJDL_NOT_READY},
        DataCase{"BeDecryptState", Op::BlockEncrypt, Kind::DecCbc, true, 0, RJDL_WRONG_DIRECTION},
        DataCase{"BeDecryptStateCfb1", Op::BlockEncrypt, Kind::DecCfb1, false, 128, RJDL_WRONG_DIRECTION},
        DataCase{"BeNullInput", Op::BlockEncrypt, Kind::EncCbc, true, 128, 0},
        DataCase{"BeZeroBits", Op::BlockEncrypt, Kind::EncCbc, false, 0, 0},
        DataCase{"BeNegativeBits", Op::BlockEncrypt, Kind::EncCbc, false, -128, 0},
        DataCase{"Be127Bits", Op::BlockEncrypt, Kind::EncCbc, false, 127, 0},
        DataCase{"BeNullBeforeMode", Op::BlockEncrypt, Kind::EncOddMode, true, 128, 0},
        DataCase{"BeShortBeforeMode", Op::BlockEncrypt, Kind::EncOddMode, false, 127, 0},
        DataCase{"BeOddMode", Op::BlockEncrypt, Kind::EncOddMode, false, 128, RJDL_BAD_MODE},
        DataCase{"BeEcb", Op::BlockEncrypt, Kind::EncEcb, false, 300, 256},
        DataCase{"BeCfb1", Op::BlockEncrypt, Kind::EncCfb1, false, 128, 128},
        // Block decryption: 1-bit CFB accepts a state of either direction.
        DataCase{"BdNotReadyFirst", Op::BlockDecrypt, Kind::NotReady, true, 0, RJDL_NOT_READY},
        DataCase{"BdEncryptState", Op::BlockDecrypt, Kind::EncCbc, true, 0, RJDL_WRONG_DIRECTION},
        DataCase{"BdEncryptStateEcb", Op::BlockDecrypt, Kind::EncEcb, false, 128, RJDL_WRONG_DIRECTION},
        DataCase{"BdEncryptStateCfb1", Op::BlockDecrypt, Kind::EncCfb1, false, 128, 128},
        DataCase{"BdDecryptStateCfb1", Op::BlockDecrypt, Kind::DecCfb1, false, 256, 256},
        DataCase{"BdNullInput", Op::BlockDecrypt, Kind::DecCbc, true, 128, 0},
        DataCase{"BdNegativeBits", Op::BlockDecrypt, Kind::DecCbc, false, -1, 0},
        DataCase{"BdNullBeforeMode", Op::BlockDecrypt, Kind::DecOddMode, true, 128, 0},
        DataCase{"BdOddMode", Op::BlockDecrypt, Kind::DecOddMode, false, 128, RJDL_BAD_MODE},
        // Pad encryption: not ready and a decrypt state both give -5.
        DataCase{"PeNotReady", Op::PadEncrypt, Kind::NotReady, true, 0, RJDL_NOT_READY},
        DataCase{"PeDecryptState", Op::PadEncrypt, Kind::DecCbc, false, 16, RJDL_NOT_READY},
        DataCase{"PeDecryptStateCfb1", Op::PadEncrypt, Kind::DecCfb1, true, 0, RJDL_NOT_READY},
        DataCase{"PeNullInput", Op::PadEncrypt, Kind::EncCbc, true, 16, 0},
        DataCase{"PeZeroBytes", Op::PadEncrypt, Kind::EncCbc, false, 0, 0},
        DataCase{"PeNegativeBytes", Op::PadEncrypt, Kind::EncEcb, false, -16, 0},
        DataCase{"PeNullBeforeMode", Op::PadEncrypt, Kind::EncCfb1, true, 5, 0},
        DataCase{"PeCfb1", Op::PadEncrypt, Kind::EncCfb1, false, 5, RJDL_BAD_MODE},
        DataCase{"PeOddMode", Op::PadEncrypt, Kind::EncOddMode, false, 16, RJDL_BAD_MODE},
        // Pad decryption: readiness, direction, input, multiple of 16, mode.
        DataCase{"PdNotReady", Op::PadDecrypt, Kind::NotReady, true, 0, RJDL_NOT_READY},
        DataCase{"PdEncryptState", Op::PadDecrypt, Kind::EncCbc, true, 0, RJDL_WRONG_DIRECTION},
        DataCase{"PdEncryptStateCfb1", Op::PadDecrypt, Kind::EncCfb1, false, 32, RJDL_WRONG_DIRECTION},
        DataCase{"PdNullInput", Op::PadDecrypt, Kind::DecCbc, true, 20, 0},
        DataCase{"PdZeroBytes", Op::PadDecrypt, Kind::DecCbc, false, 0, 0},
        DataCase{"PdNegativeBytes", Op::PadDecrypt, Kind::DecCbc, false, -16, 0},
        DataCase{"Pd20Bytes", Op::PadDecrypt, Kind::DecCbc, false, 20, RJDL_BAD_DATA},
        DataCase{"Pd15Bytes", Op::PadDecrypt, Kind::DecEcb, false, 15, RJDL_BAD_DATA},
        DataCase{"PdLengthBeforeMode", Op::PadDecrypt, Kind::DecCfb1, false, 20, RJDL_BAD_DATA},
        DataCase{"PdCfb1", Op::PadDecrypt, Kind::DecCfb1, false, 32, RJDL_BAD_MODE},
        DataCase{"PdOddMode", Op::PadDecrypt, Kind::DecOddMode, false, 16, RJDL_BAD_MODE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RjdlData, NullStateIsNotReady)
{
    uint8_t buf[32] = {};
    EXPECT_EQ(RjdlInit(nullptr, RJDL_MODE_CBC, 1, kKey, RJDL_KEY_128, nullptr), RJDL_NOT_READY);
    EXPECT_EQ(RjdlBlockEncrypt(nullptr, buf, 128, buf), RJDL_NOT_READY);
    EXPECT_EQ(RjdlBlockDecrypt(nullptr, buf, 128, buf), RJDL_NOT_READY);
    EXPECT_EQ(RjdlPadEncrypt(nullptr, buf, 16, buf), RJDL_NOT_READY);
    EXPECT_EQ(RjdlPadDecrypt(nullptr, buf, 16, buf), RJDL_NOT_READY);
}

// ---- Padding (PKCS#7 itself and in-place calls: EachEngine against OpenSSL) ----

// Builds a two-block ciphertext whose second plaintext block is `last`.
Bytes CipherWithLastBlock(int mode, const std::array<uint8_t, 16>& last)
{
    uint8_t plain[32];
    std::memset(plain, 0x33, 16);
    std::memcpy(plain + 16, last.data(), 16);
    RjdlState enc = MakeState(mode, RJDL_DIR_ENCRYPT);
    Bytes cipher(32);
    EXPECT_EQ(RjdlBlockEncrypt(&enc, plain, 256, cipher.data()), 256);
    return cipher;
}

struct PadCase {
    const char* name;
    std::array<uint8_t, 16> last;
    int expected;
};

class RjdlPadDecryptLastBlock : public ::testing::TestWithParam<PadCase> {};

TEST_P(RjdlPadDecryptLastBlock, ChecksEveryPadByte)
{
    const auto& c = GetParam();
    for (int mode : {RJDL_MODE_ECB, RJDL_MODE_CBC}) {
        Bytes cipher = CipherWithLastBlock(mode, c.last);
        RjdlState dec = MakeState(mode, RJDL_DIR_DECRYPT);
        Bytes out(32, 0xee);
        int result = RjdlPadDecrypt(&dec, cipher.data(), 32, out.data());
        EXPECT_EQ(result, c.expected) << "mode " << mode;
        // The blocks before the last are written in any case.
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(16, 0x33));
        if (result > 0) {
            EXPECT_EQ(std::memcmp(out.data() + 16, c.last.data(), static_cast<size_t>(result - 16)), 0);
            for (int i = result; i < 32; ++i)
                ASSERT_EQ(out[i], 0xee) << "pad bytes copied out";
        } else {
            for (int i = 16; i < 32; ++i)
                ASSERT_EQ(out[i], 0xee) << "last block copied out on failure";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Padding, RjdlPadDecryptLastBlock,
    ::testing::Values(PadCase{"PadOne", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 1}, 31},
                      PadCase{"PadSixteen", {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16}, 16},
                      PadCase{"PadThree", {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 3, 3, 3}, 29},
                      PadCase{"PadZero", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, RJDL_BAD_DATA},
                      PadCase{"PadSeventeen", {17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17},
                              RJDL_BAD_DATA},
                      PadCase{"PadByteDiffers", {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 4, 3, 3}, RJDL_BAD_DATA},
                      PadCase{"FirstOfSixteenDiffers",
                              {15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16}, RJDL_BAD_DATA},
                      PadCase{"PadFF", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff}, RJDL_BAD_DATA}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Chains and the state --------------------------------------------------

// Every call starts from the state's IV: two calls of 16 bytes give the same
// first block as one call of 32, and a different second block.
TEST(RjdlChain, EachCallIsAFreshChain)
{
    RjdlState enc = MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
    RjdlState before = enc;
    uint8_t in[32];
    for (int i = 0; i < 32; ++i)
        in[i] = static_cast<uint8_t>(i * 7);
    uint8_t whole[32], split[32];
    ASSERT_EQ(RjdlBlockEncrypt(&enc, in, 256, whole), 256);
    ASSERT_EQ(RjdlBlockEncrypt(&enc, in, 128, split), 128);
    ASSERT_EQ(RjdlBlockEncrypt(&enc, in + 16, 128, split + 16), 128);
    EXPECT_EQ(std::memcmp(whole, split, 16), 0);
    EXPECT_NE(std::memcmp(whole + 16, split + 16, 16), 0);
    EXPECT_EQ(std::memcmp(&before, &enc, sizeof(enc)), 0);
}

// ---- CRjdl: byte lengths, AES-128-CBC from the zero IV ---------------------

// Byte lengths in, whole blocks processed, the engine's codes passed on.
// Lengths of 2^28 bytes and more are outside the supported range: the bit
// count wraps as 32-bit arithmetic does and nothing is processed. A call
// writes nothing past its result.
TEST(CRjdl, ByteLengthsCodesAndRoundTrips)
{
    const char key[17] = "0123456789abcdef";
    CRjdl enc, dec, fresh, badDirection, noKey;
    enc.Init(RJDL_DIR_ENCRYPT, key);
    dec.Init(RJDL_DIR_DECRYPT, key);
    badDirection.Init(0, key);
    noKey.Init(RJDL_DIR_ENCRYPT, nullptr);
    EXPECT_EQ(fresh.State().readiness, RJDL_NOT_READY_STATE);
    const struct {
        const char* name;
        const CRjdl* codec;
        Op op;
        int length;
        int expected;
    } cases[] = {
        {"20 bytes", &enc, Op::BlockEncrypt, 20, 16},
        {"15 bytes", &enc, Op::BlockEncrypt, 15, 0},
        {"15 bytes", &dec, Op::BlockDecrypt, 15, 0},
        {"2^28 bytes", &enc, Op::BlockEncrypt, 1 << 28, 0},
        {"INT_MAX bytes", &enc, Op::BlockEncrypt, 0x7fffffff, 0},
        {"-1 bytes", &dec, Op::BlockDecrypt, -1, 0},
        {"INT_MIN bytes", &dec, Op::BlockDecrypt, static_cast<int>(0x80000000u), 0},
        {"decrypt state", &dec, Op::BlockEncrypt, 16, 0},
        {"decrypt state", &dec, Op::PadEncrypt, 16, RJDL_NOT_READY},
        {"encrypt state", &enc, Op::BlockDecrypt, 16, 0},
        {"encrypt state", &enc, Op::PadDecrypt, 16, RJDL_WRONG_DIRECTION},
        {"not initialised", &fresh, Op::BlockEncrypt, 16, 0},
        {"not initialised", &fresh, Op::PadDecrypt, 16, RJDL_NOT_READY},
        {"bad direction", &badDirection, Op::PadEncrypt, 16, RJDL_NOT_READY},
        {"no key", &noKey, Op::BlockEncrypt, 16, 0},
        {"no key", &noKey, Op::PadEncrypt, 16, RJDL_NOT_READY},
        {"empty", &enc, Op::PadEncrypt, 0, 0},
        {"15 bytes padded", &enc, Op::PadEncrypt, 15, 16},
        {"20 bytes padded", &dec, Op::PadDecrypt, 20, RJDL_BAD_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char in[48] = "0123456789abcdefXYZ";
        char out[48];
        std::memset(out, 0x5a, sizeof out);
        int result = 0;
        switch (c.op) {
        case Op::BlockEncrypt: result = c.codec->BlockEncrypt(in, c.length, out); break;
        case Op::BlockDecrypt: result = c.codec->BlockDecrypt(in, c.length, out); break;
        case Op::PadEncrypt: result = c.codec->PadEncrypt(in, c.length, out); break;
        case Op::PadDecrypt: result = c.codec->PadDecrypt(in, c.length, out); break;
        }
        EXPECT_EQ(result, c.expected);
        for (int i = std::max(result, 0); i < 48; ++i)
            ASSERT_EQ(out[i], 0x5a) << i;
    }

    // Back again: 16 of 20 bytes block-wise, 16 bytes padded to 32.
    const char in[21] = "0123456789abcdefXYZ!";
    char out[32], back[32];
    ASSERT_EQ(enc.BlockEncrypt(in, 20, out), 16);
    ASSERT_EQ(dec.BlockDecrypt(out, 20, back), 16);
    EXPECT_EQ(std::memcmp(back, in, 16), 0);
    ASSERT_EQ(enc.PadEncrypt(in, 16, out), 32);
    ASSERT_EQ(dec.PadDecrypt(out, 32, back), 16);
    EXPECT_EQ(std::memcmp(back, in, 16), 0);
}

}  // namespace
