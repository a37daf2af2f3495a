// The Rijndael engine's cipher routines: which engine a process runs
// (PVCODEC_AES_ENGINE and its fallbacks), and every engine this processor has
// against the table form and OpenSSL: key schedules byte for byte, block and
// pad operations in ECB, CBC and 1-bit CFB, both directions, in place and
// not, over random keys and lengths. Engines the processor lacks are skipped.
#include "codec/Rjdl.h"
#include "codec/RjdlEngine.h"
#include "support/OpenSslCipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using rjdl::Engine;
using Bytes = std::vector<uint8_t>;

constexpr unsigned Bit(Engine e)
{
    return 1u << static_cast<unsigned>(e);
}

constexpr unsigned kT = Bit(Engine::Table), kA = Bit(Engine::AesNi), kV2 = Bit(Engine::Vaes256),
                   kV5 = Bit(Engine::Vaes512), kArm = Bit(Engine::ArmCe);

// ---- Which engine -------------------------------------------------------

struct ChoiceCase {
    const char* request;
    unsigned available;
    Engine expected;
};

class EngineChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(EngineChoice, NamedOrNextWeakerOrStrongest)
{
    const auto& c = GetParam();
    EXPECT_EQ(rjdl::ChooseEngine(c.request, c.available), c.expected)
        << (c.request ? c.request : "(null)") << " on mask " << c.available;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, EngineChoice,
    ::testing::Values(ChoiceCase{nullptr, kT | kA | kV2 | kV5, Engine::Vaes512},
                      ChoiceCase{"", kT | kA | kV2, Engine::Vaes256}, ChoiceCase{"auto", kT | kA, Engine::AesNi},
                      ChoiceCase{"nonsense", kT | kA | kV2 | kV5, Engine::Vaes512},
                      ChoiceCase{"table", kT | kA | kV2 | kV5, Engine::Table},
                      ChoiceCase{"TABLE", kT | kA, Engine::Table},
                      ChoiceCase{"aesni", kT | kA | kV2 | kV5, Engine::AesNi},
                      ChoiceCase{"vaes256", kT | kA | kV2 | kV5, Engine::Vaes256},
                      ChoiceCase{"vaes512", kT | kA | kV2 | kV5, Engine::Vaes512},
                      // Forced but absent: the next weaker engine present.
                      ChoiceCase{"vaes512", kT | kA | kV2, Engine::Vaes256},
                      ChoiceCase{"vaes512", kT | kA, Engine::AesNi},
                      ChoiceCase{"vaes256", kT, Engine::Table}, ChoiceCase{"aesni", 0, Engine::Table},
                      // The ARM engine falls back to the table only.
                      ChoiceCase{"armce", kT | kA | kV2 | kV5, Engine::Table},
                      ChoiceCase{"armce", kT | kArm, Engine::ArmCe}, ChoiceCase{nullptr, kT | kArm, Engine::ArmCe},
                      ChoiceCase{"aesni", kT | kArm, Engine::Table}, ChoiceCase{nullptr, 0, Engine::Table}));

TEST(EngineAvailability, TableFirstThenStrongerEnginesEachAvailable)
{
    const auto engines = rjdl::AvailableEngines();
    ASSERT_FALSE(engines.empty());
    EXPECT_EQ(engines[0], Engine::Table);
    for (size_t i = 0; i < engines.size(); ++i) {
        EXPECT_TRUE(rjdl::EngineAvailable(engines[i]));
        if (i > 0) {
            EXPECT_LT(static_cast<int>(engines[i - 1]), static_cast<int>(engines[i]));
        }
    }
}

// Run under PVCODEC_AES_ENGINE=table by its own test entry as well.
TEST(EngineAvailability, ProcessEngineFollowsTheEnvironment)
{
    unsigned mask = 0;
    for (Engine e : rjdl::AvailableEngines())
        mask |= Bit(e);
    const char* request = std::getenv("PVCODEC_AES_ENGINE");
    EXPECT_EQ(rjdl::ProcessEngine(), rjdl::ChooseEngine(request, mask));
    if (request != nullptr && std::string(request) == "table") {
        EXPECT_EQ(rjdl::ProcessEngine(), Engine::Table);
    }
    EXPECT_EQ(rjdl::EngineForInit(), rjdl::ProcessEngine());
}

TEST(EngineAvailability, ScopedEngineSetsWhatInitRecordsAndNests)
{
    const uint8_t key[16] = {1, 2, 3};
    const Engine strongest = rjdl::AvailableEngines().back();
    RjdlState state{};
    {
        rjdl::ScopedEngine outer(Engine::Table);
        ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key, RJDL_KEY_128, nullptr), 0);
        EXPECT_EQ(state.engine, static_cast<uint8_t>(Engine::Table));
        {
            rjdl::ScopedEngine inner(strongest);
            ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key, RJDL_KEY_128, nullptr), 0);
            EXPECT_EQ(state.engine, static_cast<uint8_t>(strongest));
        }
        EXPECT_EQ(rjdl::EngineForInit(), Engine::Table);
    }
    EXPECT_EQ(rjdl::EngineForInit(), rjdl::ProcessEngine());
}

// ---- Every engine against the reference ------------------------------------

Bytes Random(std::mt19937& rng, size_t n)
{
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

int KeyCode(size_t keyBytes)
{
    return keyBytes == 16 ? RJDL_KEY_128 : keyBytes == 24 ? RJDL_KEY_192 : RJDL_KEY_256;
}

RjdlState InitWith(Engine engine, int mode, int direction, const Bytes& key, const uint8_t* iv)
{
    rjdl::ScopedEngine use(engine);
    RjdlState state{};
    EXPECT_EQ(RjdlInit(&state, mode, direction, key.data(), KeyCode(key.size()), iv), 0);
    EXPECT_EQ(state.engine, static_cast<uint8_t>(engine));
    return state;
}

class EachEngine : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (!rjdl::EngineAvailable(GetParam()))
            GTEST_SKIP() << rjdl::EngineName(GetParam()) << " is not available on this processor or build";
    }
};

TEST_P(EachEngine, KeyScheduleMatchesTheReferenceByteForByte)
{
    std::mt19937 rng(7);
    for (size_t keyBytes : {16u, 24u, 32u}) {
        for (int round = 0; round < 20; ++round) {
            const Bytes key = Random(rng, keyBytes);
            const int32_t rounds = static_cast<int32_t>(keyBytes / 4 + 6);
            uint8_t expected[15][16] = {};
            RjdlKeySchedule(key.data(), rounds, expected);

            RjdlState enc = InitWith(GetParam(), RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key, nullptr);
            ASSERT_EQ(std::memcmp(enc.roundKeys, expected, 16 * (rounds + 1)), 0) << keyBytes << "/" << round;

            RjdlState cfb = InitWith(GetParam(), RJDL_MODE_CFB1, RJDL_DIR_DECRYPT, key, nullptr);
            ASSERT_EQ(std::memcmp(cfb.forwardKeys, expected, 16 * (rounds + 1)), 0) << keyBytes << "/" << round;

            RjdlKeyEncToDec(expected, rounds);
            RjdlState dec = InitWith(GetParam(), RJDL_MODE_CBC, RJDL_DIR_DECRYPT, key, nullptr);
            ASSERT_EQ(std::memcmp(dec.roundKeys, expected, 16 * (rounds + 1)), 0) << keyBytes << "/" << round;
            ASSERT_EQ(std::memcmp(cfb.roundKeys, expected, 16 * (rounds + 1)), 0) << keyBytes << "/" << round;
        }
    }
}

enum class Op { BlockEncrypt, BlockDecrypt, PadEncrypt, PadDecrypt };

struct Outcome {
    int result;
    Bytes out;
};

// One operation on a copy of `in`, into a separate buffer or in place; the
// buffer is larger than any result and prefilled, so stray writes show.
Outcome RunOp(Op op, const RjdlState& state, const Bytes& in, int length, bool inPlace)
{
    Bytes buffer(in.size() + 48, 0xa5);
    Bytes source = in;
    uint8_t* out = buffer.data();
    const uint8_t* src = source.data();
    if (inPlace) {
        std::copy(in.begin(), in.end(), buffer.begin());
        src = buffer.data();
    }
    int r = 0;
    switch (op) {
    case Op::BlockEncrypt: r = RjdlBlockEncrypt(&state, src, length, out); break;
    case Op::BlockDecrypt: r = RjdlBlockDecrypt(&state, src, length, out); break;
    case Op::PadEncrypt: r = RjdlPadEncrypt(&state, src, length, out); break;
    case Op::PadDecrypt: r = RjdlPadDecrypt(&state, src, length, out); break;
    }
    return {r, buffer};
}

const EVP_CIPHER* Reference(int mode, size_t keyBytes)
{
    return mode == RJDL_MODE_ECB ? reference::AesEcb(keyBytes)
           : mode == RJDL_MODE_CBC ? reference::AesCbc(keyBytes)
                                   : reference::AesCfb1(keyBytes);
}

// Random keys, IVs, lengths (in bits for the block operations, not always
// whole blocks), modes and directions: the engine under test and the table
// engine give the same result and the same bytes everywhere in the output
// buffer, and the processed part is OpenSSL's.
TEST_P(EachEngine, OperationsMatchTheTableFormAndOpenSsl)
{
    std::mt19937 rng(20240612u + static_cast<unsigned>(GetParam()));
    const int modes[] = {RJDL_MODE_ECB, RJDL_MODE_CBC, RJDL_MODE_CFB1};
    for (int round = 0; round < 240; ++round) {
        const size_t keyBytes = 16 + 8 * (rng() % 3);
        const int mode = modes[rng() % 3];
        const Bytes key = Random(rng, keyBytes);
        const Bytes iv = Random(rng, 16);
        const uint8_t* ivp = rng() % 4 == 0 ? nullptr : iv.data();
        const Op op = static_cast<Op>(rng() % 4);
        const bool inPlace = rng() % 2 == 0;
        const bool encrypt = op == Op::BlockEncrypt || op == Op::PadEncrypt;
        // 1-bit CFB enciphers 128 times a block: keep it short. Up to 70
        // blocks reaches the widest paths and their tails.
        const size_t maxBytes = mode == RJDL_MODE_CFB1 ? 64 : 70 * 16;
        size_t bytes = rng() % (maxBytes + 1);
        Bytes data = Random(rng, bytes);
        if (op == Op::PadDecrypt && rng() % 4 != 0) {
            // Mostly a real padded encryption, so that the padding checks pass.
            const RjdlState enc = InitWith(Engine::Table, mode, RJDL_DIR_ENCRYPT, key, ivp);
            Bytes padded(bytes + 16);
            const int n = RjdlPadEncrypt(&enc, data.data(), static_cast<int>(bytes), padded.data());
            padded.resize(n > 0 ? static_cast<size_t>(n) : bytes / 16 * 16);
            data = padded;
            bytes = data.size();
        }
        const bool blockOp = op == Op::BlockEncrypt || op == Op::BlockDecrypt;
        const int length = blockOp ? static_cast<int>(8 * bytes - rng() % 8 * (bytes > 0)) : static_cast<int>(bytes);
        // Decryption states; in CFB-1 block decryption also takes an encrypt state.
        const int direction =
            encrypt ? RJDL_DIR_ENCRYPT
                    : (mode == RJDL_MODE_CFB1 && rng() % 2 == 0 ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT);
        const std::string where = std::string(rjdl::EngineName(GetParam())) + " round " + std::to_string(round) +
                                  " mode " + std::to_string(mode) + " op " + std::to_string(static_cast<int>(op)) +
                                  " bytes " + std::to_string(bytes) + (inPlace ? " in place" : "");

        const RjdlState tested = InitWith(GetParam(), mode, direction, key, ivp);
        const RjdlState table = InitWith(Engine::Table, mode, direction, key, ivp);
        const Outcome got = RunOp(op, tested, data, length, inPlace);
        const Outcome want = RunOp(op, table, data, length, inPlace);
        ASSERT_EQ(got.result, want.result) << where;
        ASSERT_EQ(got.out, want.out) << where;

        // The processed part against OpenSSL (padding: PKCS#7 is the same rule).
        if (got.result > 0) {
            const uint8_t zeroIv[16] = {};
            const size_t processedIn = blockOp ? static_cast<size_t>(got.result) / 8 : bytes;
            const auto ssl = reference::Evp(Reference(mode, keyBytes), encrypt, !blockOp, key.data(),
                                            mode == RJDL_MODE_ECB ? nullptr : (ivp ? ivp : zeroIv), data.data(),
                                            processedIn);
            ASSERT_TRUE(ssl) << where;
            ASSERT_GE(got.out.size(), ssl->size());
            ASSERT_EQ(Bytes(got.out.begin(), got.out.begin() + static_cast<std::ptrdiff_t>(ssl->size())), *ssl)
                << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, EachEngine,
                         ::testing::Values(Engine::Table, Engine::AesNi, Engine::Vaes256, Engine::Vaes512,
                                           Engine::ArmCe),
                         [](const auto& info) { return std::string(rjdl::EngineName(info.param)); });

}  // namespace
