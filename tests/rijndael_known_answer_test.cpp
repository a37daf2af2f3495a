// Known-answer vectors for the Rijndael engine: FIPS-197 Appendix C (all
// three key sizes) and NIST SP 800-38A (CBC and 1-bit CFB), run through
// RjdlInit and the block and pad functions, forward and back, in place too.
#include "codec/Rjdl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

int KeyCode(size_t keyBytes)
{
    return keyBytes == 16 ? RJDL_KEY_128 : keyBytes == 24 ? RJDL_KEY_192 : RJDL_KEY_256;
}

RjdlState Ready(int mode, int direction, const Bytes& key, const uint8_t* iv)
{
    RjdlState state{};
    EXPECT_EQ(RjdlInit(&state, mode, direction, key.data(), KeyCode(key.size()), iv), 0);
    EXPECT_EQ(state.readiness, RJDL_READY);
    return state;
}

int Bits(const Bytes& b)
{
    return static_cast<int>(b.size() * 8);
}

// ---- FIPS-197 Appendix C.1 to C.3 --------------------------------------

struct Fips197Case {
    const char* name;
    const char* key;
    const char* cipher;
    int rounds;
};

const char* const kFipsPlain = "00112233445566778899aabbccddeeff";

class Fips197 : public ::testing::TestWithParam<Fips197Case> {};

// In ECB, and as one CBC block from the zero IV, which is the plain cipher.
TEST_P(Fips197, EcbAndOneCbcBlockFromTheZeroIv)
{
    const auto& c = GetParam();
    Bytes key = Hex(c.key), plain = Hex(kFipsPlain), cipher = Hex(c.cipher);
    for (int mode : {RJDL_MODE_ECB, RJDL_MODE_CBC}) {
        RjdlState enc = Ready(mode, RJDL_DIR_ENCRYPT, key, nullptr);
        EXPECT_EQ(enc.rounds, c.rounds);
        Bytes out(16);
        ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data(), 128, out.data()), 128);
        EXPECT_EQ(out, cipher) << "mode " << mode;
        RjdlState dec = Ready(mode, RJDL_DIR_DECRYPT, key, nullptr);
        ASSERT_EQ(RjdlBlockDecrypt(&dec, cipher.data(), 128, out.data()), 128);
        EXPECT_EQ(out, plain) << "mode " << mode;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AppendixC, Fips197,
    ::testing::Values(Fips197Case{"Aes128", "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
                      Fips197Case{"Aes192", "000102030405060708090a0b0c0d0e0f1011121314151617",
                                  "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
                      Fips197Case{"Aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                                  "8ea2b7ca516745bfeafc49904b496089", 14}),
    [](const auto& info) { return std::string(info.param.name); });

// FIPS-197 Appendix A.1: the last round key of the 128-bit expansion.
TEST(RjdlKeySchedule, Fips197AppendixA1LastRoundKey)
{
    Bytes key = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    uint8_t rk[15][16] = {};
    RjdlKeySchedule(key.data(), 10, rk);
    EXPECT_EQ(Bytes(rk[0], rk[0] + 16), key);
    EXPECT_EQ(Bytes(rk[10], rk[10] + 16), Hex("d014f9a8c9ee2589e13f0cc8b6630ca6"));
}

// ---- NIST SP 800-38A F.2 (CBC) -------------------------------------------

const char* const k38aPlain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                              "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char* const k38aIv = "000102030405060708090a0b0c0d0e0f";

struct Sp80038aCase {
    const char* name;
    const char* key;
    const char* cipher;  // CBC: all four blocks; CFB-1: the 16 published bits
};

class Sp80038aCbc : public ::testing::TestWithParam<Sp80038aCase> {};

TEST_P(Sp80038aCbc, BlockFunctionsBothWaysAndInPlace)
{
    const auto& c = GetParam();
    Bytes key = Hex(c.key), iv = Hex(k38aIv), plain = Hex(k38aPlain), cipher = Hex(c.cipher);
    RjdlState enc = Ready(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key, iv.data());
    RjdlState dec = Ready(RJDL_MODE_CBC, RJDL_DIR_DECRYPT, key, iv.data());

    Bytes out(plain.size());
    ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data(), Bits(plain), out.data()), 512);
    EXPECT_EQ(out, cipher);
    ASSERT_EQ(RjdlBlockDecrypt(&dec, cipher.data(), Bits(cipher), out.data()), 512);
    EXPECT_EQ(out, plain);

    Bytes buf = plain;
    ASSERT_EQ(RjdlBlockEncrypt(&enc, buf.data(), Bits(buf), buf.data()), 512);
    EXPECT_EQ(buf, cipher);
    ASSERT_EQ(RjdlBlockDecrypt(&dec, buf.data(), Bits(buf), buf.data()), 512);
    EXPECT_EQ(buf, plain);
}

// The pad functions give the same blocks and then one block of sixteen 16s.
TEST_P(Sp80038aCbc, PadFunctionsAddAWholeBlockToAMultipleOf16)
{
    const auto& c = GetParam();
    Bytes key = Hex(c.key), iv = Hex(k38aIv), plain = Hex(k38aPlain), cipher = Hex(c.cipher);
    RjdlState enc = Ready(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key, iv.data());
    RjdlState dec = Ready(RJDL_MODE_CBC, RJDL_DIR_DECRYPT, key, iv.data());

    Bytes buf = plain;
    buf.resize(plain.size() + 16);
    ASSERT_EQ(RjdlPadEncrypt(&enc, buf.data(), 64, buf.data()), 80);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 64), cipher);
    // The extra block is E(16 x 0x10 XOR last ciphertext block).
    RjdlState ecb = Ready(RJDL_MODE_ECB, RJDL_DIR_DECRYPT, key, nullptr);
    Bytes last(16);
    ASSERT_EQ(RjdlBlockDecrypt(&ecb, buf.data() + 64, 128, last.data()), 128);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(last[i] ^ cipher[48 + i], 16) << i;

    ASSERT_EQ(RjdlPadDecrypt(&dec, buf.data(), 80, buf.data()), 64);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 64), plain);
}

INSTANTIATE_TEST_SUITE_P(
    F2, Sp80038aCbc,
    ::testing::Values(
        Sp80038aCase{"CbcAes128", "2b7e151628aed2a6abf7158809cf4f3c",
                     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        Sp80038aCase{"CbcAes192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
                     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
                     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
        Sp80038aCase{"CbcAes256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- NIST SP 800-38A F.3.1 to F.3.6 (CFB-1) --------------------------------
// The published vectors cover the first 16 bits; 1-bit CFB is a bit stream,
// so those bits of a whole-block call depend on the first 16 input bits only.

class Sp80038aCfb1 : public ::testing::TestWithParam<Sp80038aCase> {};

TEST_P(Sp80038aCfb1, FirstSixteenBitsMatchBothWays)
{
    const auto& c = GetParam();
    Bytes key = Hex(c.key), iv = Hex(k38aIv), plain = Hex(k38aPlain), cipher = Hex(c.cipher);
    plain.resize(16);
    RjdlState enc = Ready(RJDL_MODE_CFB1, RJDL_DIR_ENCRYPT, key, iv.data());
    Bytes out(16);
    ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data(), 128, out.data()), 128);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), cipher);

    // Decryption runs the forward cipher: a state of either direction serves,
    // and both give the plaintext back.
    for (int direction : {RJDL_DIR_ENCRYPT, RJDL_DIR_DECRYPT}) {
        RjdlState dec = Ready(RJDL_MODE_CFB1, direction, key, iv.data());
        Bytes back = out;
        ASSERT_EQ(RjdlBlockDecrypt(&dec, back.data(), 128, back.data()), 128);
        EXPECT_EQ(back, plain) << "direction " << direction;
    }
}

INSTANTIATE_TEST_SUITE_P(
    F3, Sp80038aCfb1,
    ::testing::Values(Sp80038aCase{"Cfb1Aes128", "2b7e151628aed2a6abf7158809cf4f3c", "68b3"},
                      Sp80038aCase{"Cfb1Aes192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "9359"},
                      Sp80038aCase{"Cfb1Aes256",
                                   "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "9029"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
