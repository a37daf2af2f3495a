// The Rijndael engine on every engine here: vectors, OpenSSL, choice, codes, CRjdl, segments.
#include "codec/CRjdl.h"
#include "codec/Rjdl.h"
#include "codec/RjdlChains.h"
#include "codec/RawCodec.h"
#include "codec/RjdlEngine.h"
#include "support/OpenSslCipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using rjdl::Engine;
using Bytes = std::vector<uint8_t>;
constexpr size_t kSegment = RJDL_SEGMENT_BYTES;
const uint8_t kZeroIv[16] = {};

Bytes Hex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

using reference::Random;

RjdlState Init(Engine engine, int mode, int direction, const Bytes& key, const uint8_t* iv)
{
    rjdl::ScopedEngine use(engine);
    RjdlState state{};
    const int keyCode = key.size() == 16 ? RJDL_KEY_128 : key.size() == 24 ? RJDL_KEY_192 : RJDL_KEY_256;
    EXPECT_EQ(RjdlInit(&state, mode, direction, key.data(), keyCode, iv), 0);
    EXPECT_EQ(state.engine, static_cast<uint8_t>(engine));
    return state;
}

const char* const kK128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const kK192 = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
const char* const kK256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char* const kFipsPlain = "00112233445566778899aabbccddeeff";
const char* const kSpPlain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                             "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

// FIPS-197 C (CBC: zero IV), SP 800-38A F.2 (CBC), F.3 (CFB-1: 16 bits), both ways, in place.
TEST(RjdlKnownAnswers, Fips197AndSp80038aOnEveryEngine)
{
    const std::tuple<int, const char*, const char*, const char*, bool, int> cases[] = {
        {RJDL_MODE_ECB, "000102030405060708090a0b0c0d0e0f",
         kFipsPlain, "69c4e0d86a7b0430d8cdb78070b4c55a", false, 10},
        {RJDL_MODE_CBC, "000102030405060708090a0b0c0d0e0f1011121314151617",
         kFipsPlain, "dda97ca4864cdfe06eaf70a0ec0d7191", false, 12},
        {RJDL_MODE_ECB, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         kFipsPlain, "8ea2b7ca516745bfeafc49904b496089", false, 14},
        {RJDL_MODE_CBC, kK128, kSpPlain, "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                          "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7", true, 10},
        {RJDL_MODE_CBC, kK192, kSpPlain, "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
                                          "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd", true, 12},
        {RJDL_MODE_CBC, kK256, kSpPlain, "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                                          "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b", true, 14},
        {RJDL_MODE_CFB1, kK128, kSpPlain, "68b3", true, 10}, {RJDL_MODE_CFB1, kK256, kSpPlain, "9029", true, 14},
    };
    const Bytes nistIv = Hex("000102030405060708090a0b0c0d0e0f");
    for (Engine engine : rjdl::AvailableEngines())
        for (const auto& [mode, keyHex, plainHex, cipherHex, withIv, rounds] : cases) {
            SCOPED_TRACE(std::string(rjdl::EngineName(engine)) + " " + keyHex + " mode " + std::to_string(mode));
            const Bytes key = Hex(keyHex), cipher = Hex(cipherHex);
            const uint8_t* iv = withIv ? nistIv.data() : nullptr;
            Bytes plain = Hex(plainHex);
            if (mode == RJDL_MODE_CFB1)
                plain.resize(16);
            const int bits = static_cast<int>(plain.size() * 8);
            const RjdlState enc = Init(engine, mode, RJDL_DIR_ENCRYPT, key, iv);
            EXPECT_EQ(enc.rounds, rounds);
            Bytes out(plain.size() + 16);
            ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data(), bits, out.data()), bits);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(cipher.size())), cipher);
            const RjdlState dec = Init(engine, mode, RJDL_DIR_DECRYPT, key, iv);
            ASSERT_EQ(RjdlBlockDecrypt(&dec, out.data(), bits, out.data()), bits);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(plain.size())), plain);
        }
}

// A named engine, else the next weaker one present (ARM: the table only), else the strongest.
TEST(RjdlEngine, ChoiceAvailabilityAndScope)
{
    constexpr auto Bit = [](Engine e) { return 1u << static_cast<unsigned>(e); };
    constexpr unsigned T = Bit(Engine::Table), A = Bit(Engine::AesNi), V2 = Bit(Engine::Vaes256),
                       V5 = Bit(Engine::Vaes512), Arm = Bit(Engine::ArmCe);
    const std::tuple<const char*, unsigned, Engine> cases[] = {{nullptr, T | A | V2 | V5, Engine::Vaes512}, {"", T | A | V2, Engine::Vaes256}, {"auto", T | A, Engine::AesNi},
                 {"nonsense", T | A | V2 | V5, Engine::Vaes512}, {"table", T | A | V2 | V5, Engine::Table},
                 {"TABLE", T | A, Engine::Table}, {"aesni", T | A | V2 | V5, Engine::AesNi}, {"aesni", 0, Engine::Table},
                 {"vaes256", T | A | V2 | V5, Engine::Vaes256}, {"vaes512", T | A | V2 | V5, Engine::Vaes512},
                 {"vaes512", T | A | V2, Engine::Vaes256}, {"vaes512", T | A, Engine::AesNi}, {"vaes256", T, Engine::Table},
                 {"armce", T | A | V2 | V5, Engine::Table}, {"armce", T | Arm, Engine::ArmCe}, {nullptr, T | Arm, Engine::ArmCe},
                 {"aesni", T | Arm, Engine::Table}, {nullptr, 0, Engine::Table}};
    for (const auto& [request, available, expected] : cases)
        EXPECT_EQ(rjdl::ChooseEngine(request, available), expected) << (request ? request : "(null)") << " on " << available;

    unsigned mask = 0;
    for (Engine engine : rjdl::AvailableEngines())
        mask |= Bit(engine);
    // The process engine follows PVCODEC_AES_ENGINE (its own ctest entry forces "table").
    const char* request = std::getenv("PVCODEC_AES_ENGINE");
    EXPECT_EQ(rjdl::ProcessEngine(), rjdl::ChooseEngine(request, mask));
    EXPECT_TRUE(request == nullptr || std::string(request) != "table" || rjdl::ProcessEngine() == Engine::Table);
    EXPECT_EQ(rjdl::EngineForInit(), rjdl::ProcessEngine());
}

enum class Op { BlockEncrypt, BlockDecrypt, PadEncrypt, PadDecrypt };

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

// Random keys, IVs, modes, operations, bit lengths: each engine = the table engine = OpenSSL.
TEST(RjdlEngines, EveryEngineMatchesTheTableFormAndOpenSsl)
{
    const int modes[] = {RJDL_MODE_ECB, RJDL_MODE_CBC, RJDL_MODE_CFB1};
    for (Engine engine : rjdl::AvailableEngines()) {
        std::mt19937 rng(20240612u + static_cast<unsigned>(engine));
        for (int round = 0; round < 240; ++round) {
            const size_t keyBytes = 16 + 8 * (rng() % 3);
            const int mode = modes[rng() % 3];
            const Bytes key = Random(rng, keyBytes), iv = Random(rng, 16);
            const uint8_t* ivp = rng() % 4 == 0 ? nullptr : iv.data();
            const Op op = static_cast<Op>(rng() % 4);
            const bool inPlace = rng() % 2 == 0, blockOp = op == Op::BlockEncrypt || op == Op::BlockDecrypt;
            const bool encrypt = op == Op::BlockEncrypt || op == Op::PadEncrypt;
            // Up to 70 blocks reaches the widest paths and their tails; CFB-1 is slow.
            Bytes data = Random(rng, rng() % ((mode == RJDL_MODE_CFB1 ? 64 : 70 * 16) + 1));
            if (op == Op::PadDecrypt && rng() % 4 != 0) {  // mostly a real padded text
                const RjdlState sealer = Init(Engine::Table, mode, RJDL_DIR_ENCRYPT, key, ivp);
                Bytes padded(data.size() + 16);
                const int n = RjdlPadEncrypt(&sealer, data.data(), int(data.size()), padded.data());
                padded.resize(n > 0 ? size_t(n) : data.size() / 16 * 16);
                data = padded;
            }
            const size_t bytes = data.size();
            const int length = blockOp ? int(8 * bytes - rng() % 8 * (bytes > 0)) : int(bytes);
            const int direction = encrypt ? RJDL_DIR_ENCRYPT
                                  : mode == RJDL_MODE_CFB1 && rng() % 2 == 0 ? RJDL_DIR_ENCRYPT
                                                                             : RJDL_DIR_DECRYPT;
            SCOPED_TRACE(std::string(rjdl::EngineName(engine)) + " round " + std::to_string(round));
            int results[2];
            Bytes outs[2];
            for (int i = 0; i < 2; ++i) {
                const RjdlState state = Init(i == 0 ? engine : Engine::Table, mode, direction, key, ivp);
                outs[i].assign(bytes + 48, 0xa5);
                if (inPlace)
                    std::copy(data.begin(), data.end(), outs[i].begin());
                results[i] = RunOp(op, &state, inPlace ? outs[i].data() : data.data(), length, outs[i].data());
            }
            ASSERT_EQ(results[0], results[1]);
            ASSERT_EQ(outs[0], outs[1]);
            if (results[0] > 0) {
                const auto ssl = reference::Evp(mode == RJDL_MODE_ECB   ? reference::AesEcb(keyBytes)
                                                : mode == RJDL_MODE_CBC ? reference::AesCbc(keyBytes)
                                                                        : reference::AesCfb1(keyBytes),
                                                encrypt, !blockOp, key.data(),
                                                mode == RJDL_MODE_ECB ? nullptr : (ivp ? ivp : kZeroIv), data.data(),
                                                blockOp ? size_t(results[0]) / 8 : bytes);
                ASSERT_TRUE(ssl);
                ASSERT_TRUE(std::equal(ssl->begin(), ssl->end(), outs[0].begin()));
            }
        }
    }
}

const uint8_t kKey[32] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15,
                          0x88, 0x09, 0xcf, 0x4f, 0x3c, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

RjdlState MakeState(int mode, int direction)
{
    RjdlState state{};
    EXPECT_EQ(RjdlInit(&state, mode, direction, kKey, RJDL_KEY_128, nullptr), 0);
    return state;
}

// A failure leaves the state not ready; of several faults the first check answers.
TEST(RjdlCodes, InitFailures)
{
    const std::tuple<int, int, int, bool, int> cases[] = {{2, 1, RJDL_KEY_128, 0, RJDL_BAD_MODE}, {6, 1, RJDL_KEY_128, 0, RJDL_BAD_MODE},  // modes: 3 ECB, 4 CBC, 5 CFB-1
                 {259, 1, RJDL_KEY_128, 0, RJDL_BAD_MODE}, {4, 0, RJDL_KEY_128, 0, RJDL_BAD_DIRECTION},
                 {3, 3, RJDL_KEY_128, 0, RJDL_BAD_DIRECTION}, {4, 257, RJDL_KEY_128, 0, RJDL_BAD_DIRECTION},
                 {4, 1, 9, 0, RJDL_BAD_KEY_LENGTH}, {4, 2, 5, 0, RJDL_BAD_KEY_LENGTH}, {4, 1, RJDL_KEY_128, 1, RJDL_NO_KEY},
                 {2, 0, 9, 1, RJDL_BAD_MODE}, {5, 0, 9, 1, RJDL_BAD_DIRECTION}, {3, 2, 9, 1, RJDL_BAD_KEY_LENGTH}};
    for (const auto& [mode, direction, keyCode, nullKey, expected] : cases) {
        SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(direction) + "/" + std::to_string(keyCode));
        RjdlState state = MakeState(RJDL_MODE_CBC, RJDL_DIR_ENCRYPT);
        ASSERT_EQ(state.readiness, RJDL_READY);
        EXPECT_EQ(RjdlInit(&state, mode, direction, nullKey ? nullptr : kKey, keyCode, nullptr), expected);
        EXPECT_EQ(state.readiness, RJDL_NOT_READY_STATE);  // DataOperations: what a not-ready state answers
    }
    uint8_t in[32] = {}, out[48] = {};
    for (Op op : {Op::BlockEncrypt, Op::BlockDecrypt, Op::PadEncrypt, Op::PadDecrypt})
        EXPECT_EQ(RunOp(op, nullptr, in, 128, out), RJDL_NOT_READY);
    EXPECT_EQ(RjdlInit(nullptr, RJDL_MODE_CBC, 1, kKey, RJDL_KEY_128, nullptr), RJDL_NOT_READY);
    RjdlState state{};  // a null IV is the zero IV, also after a state that had another
    ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, kKey, RJDL_KEY_128, kKey + 16), 0);
    ASSERT_EQ(RjdlInit(&state, RJDL_MODE_CBC, RJDL_DIR_DECRYPT, kKey, RJDL_KEY_128, nullptr), 0);
    EXPECT_EQ(Bytes(state.iv, state.iv + 16), Bytes(16, 0));
}

enum class Kind { NotReady, EncEcb, EncCbc, EncCfb1, DecEcb, DecCbc, DecCfb1, EncOdd, DecOdd };

RjdlState StateOf(Kind kind)
{
    const int k = static_cast<int>(kind), modes[] = {RJDL_MODE_CFB1, RJDL_MODE_ECB, RJDL_MODE_CBC};
    RjdlState s = MakeState(kind >= Kind::EncOdd ? RJDL_MODE_CBC : modes[k % 3],
                            k <= 3 || kind == Kind::EncOdd ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT);
    s.mode = kind >= Kind::EncOdd ? 7 : s.mode;  // ready, with a mode no operation serves (a damaged record)
    s.readiness = kind == Kind::NotReady ? RJDL_NOT_READY_STATE : s.readiness;
    return s;
}

// Codes in order (readiness, direction, input, length, mode); failures write nothing; state kept.
TEST(RjdlCodes, DataOperations)
{
    using K = Kind;
    constexpr int NR = RJDL_NOT_READY, WD = RJDL_WRONG_DIRECTION, BM = RJDL_BAD_MODE, BD = RJDL_BAD_DATA;
    constexpr Op BE = Op::BlockEncrypt, BDe = Op::BlockDecrypt, PE = Op::PadEncrypt, PD = Op::PadDecrypt;
    const std::tuple<Op, Kind, bool, int, int> cases[] = {
        {BE, K::NotReady, 1, 0, NR}, {BE, K::DecCbc, 1, 0, WD}, {BE, K::DecCfb1, 0, 128, WD}, {BE, K::EncCbc, 1, 128, 0},
        {BE, K::EncCbc, 0, 0, 0}, {BE, K::EncCbc, 0, -128, 0}, {BE, K::EncCbc, 0, 127, 0}, {BE, K::EncOdd, 1, 128, 0},
        {BE, K::EncOdd, 0, 127, 0}, {BE, K::EncOdd, 0, 128, BM}, {BE, K::EncEcb, 0, 300, 256}, {BE, K::EncCfb1, 0, 128, 128},
        {BDe, K::NotReady, 1, 0, NR}, {BDe, K::EncCbc, 1, 0, WD}, {BDe, K::EncEcb, 0, 128, WD}, {BDe, K::EncCfb1, 0, 128, 128},
        {BDe, K::DecCfb1, 0, 256, 256}, {BDe, K::DecCbc, 1, 128, 0}, {BDe, K::DecCbc, 0, -1, 0}, {BDe, K::DecOdd, 1, 128, 0},
        {BDe, K::DecOdd, 0, 128, BM}, {PE, K::NotReady, 1, 0, NR}, {PE, K::DecCbc, 0, 16, NR}, {PE, K::DecCfb1, 1, 0, NR},
        {PE, K::EncCbc, 1, 16, 0}, {PE, K::EncCbc, 0, 0, 0}, {PE, K::EncEcb, 0, -16, 0}, {PE, K::EncCfb1, 1, 5, 0},
        {PE, K::EncCfb1, 0, 5, BM}, {PE, K::EncOdd, 0, 16, BM}, {PD, K::NotReady, 1, 0, NR}, {PD, K::EncCbc, 1, 0, WD},
        {PD, K::EncCfb1, 0, 32, WD}, {PD, K::DecCbc, 1, 20, 0}, {PD, K::DecCbc, 0, 0, 0}, {PD, K::DecCbc, 0, -16, 0},
        {PD, K::DecCbc, 0, 20, BD}, {PD, K::DecEcb, 0, 15, BD}, {PD, K::DecCfb1, 0, 20, BD}, {PD, K::DecCfb1, 0, 32, BM},
        {PD, K::DecOdd, 0, 16, BM}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [op, kind, nullInput, length, expected] = cases[i];  // length: bits, bytes for pad operations
        SCOPED_TRACE("row " + std::to_string(i));
        const RjdlState state = StateOf(kind), before = state;
        std::array<uint8_t, 64> in{}, out{};
        out.fill(0xee);
        const int result = RunOp(op, &state, nullInput ? nullptr : in.data(), length, out.data());
        EXPECT_EQ(result, expected);
        EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
        EXPECT_TRUE(result > 0 || std::count(out.begin(), out.end(), 0xee) == 64) << "written despite " << result;
    }
}

// A two-block text ending in `last`: the first block is always written, pad bytes never.
TEST(RjdlCodes, PadDecryptionChecksEveryPadByte)
{
    const std::pair<const char*, int> cases[] = {
        {"0102030405060708090a0b0c0d0e0f01", 31}, {"10101010101010101010101010101010", 16},
        {"09090909090909090909090909030303", 29}, {"00000000000000000000000000000000", RJDL_BAD_DATA},
        {"11111111111111111111111111111111", RJDL_BAD_DATA}, {"09090909090909090909090909040303", RJDL_BAD_DATA},
        {"0f101010101010101010101010101010", RJDL_BAD_DATA}, {"000000000000000000000000000000ff", RJDL_BAD_DATA}};
    for (const auto& [last, expected] : cases)
        for (int mode : {RJDL_MODE_ECB, RJDL_MODE_CBC}) {
            SCOPED_TRACE(std::string(last) + " mode " + std::to_string(mode));
            Bytes plain = Hex(std::string(32, '3') + last), cipher(32), out(32, 0xee);
            const RjdlState enc = MakeState(mode, RJDL_DIR_ENCRYPT), dec = MakeState(mode, RJDL_DIR_DECRYPT);
            ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data(), 256, cipher.data()), 256);
            const int result = RjdlPadDecrypt(&dec, cipher.data(), 32, out.data());
            EXPECT_EQ(result, expected);
            const int kept = std::max(result, 16);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + kept, plain.begin()));
            EXPECT_EQ(std::count(out.begin() + kept, out.end(), 0xee), 32 - kept);
        }
}

// The multi-segment entry on every engine against OpenSSL per segment: every interleave width and
// remainder, alignments, in place; 32 MiB streams decrypted stores (output on a line or off it by 16,
// 32, 48 bytes, apart and in place) or not (misaligned).
TEST(RjdlSegments, EveryEngineMatchesOneChainPerSegment)
{
    std::vector<int> counts(41);
    std::iota(counts.begin(), counts.end(), 0);
    counts.insert(counts.end(), {47, 48, 63, 71, int(rjdl::kStreamBytes / kSegment)});
    std::mt19937 rng(99);
    for (int count : counts) {
        const Bytes key = Random(rng, 16);
        const size_t bytes = kSegment * size_t(count);
        const Bytes plain = Random(rng, bytes + 1);
        Bytes expected(plain);
        for (size_t at = 0; at < bytes; at += kSegment) {
            const auto ssl = reference::Evp(reference::AesCbc(16), true, false, key.data(), kZeroIv,
                                            plain.data() + at, kSegment);
            std::copy(ssl->begin(), ssl->end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
        }
        const size_t inAt = std::array<size_t, 4>{0, 16, 48, 7}[size_t(count) % 4];
        const size_t outAt = std::array<size_t, 5>{0, 32, 16, 1, 48}[size_t(count) % 5];
        for (Engine engine : rjdl::AvailableEngines()) {
            if (engine == Engine::Table && bytes >= rjdl::kStreamBytes)
                continue;  // the table engine has no streaming stores
            SCOPED_TRACE(std::string(rjdl::EngineName(engine)) + " count " + std::to_string(count));
            rjdl::ScopedEngine use(engine);
            CRjdl enc, dec;
            enc.Init(RJDL_DIR_ENCRYPT, reinterpret_cast<const char*>(key.data()));
            dec.Init(RJDL_DIR_DECRYPT, reinterpret_cast<const char*>(key.data()));
            ASSERT_EQ(enc.State().engine, static_cast<uint8_t>(engine));
            Bytes inArea(bytes + 128), outArea(bytes + 128);
            auto at64 = [](Bytes& area, size_t offset) {
                const size_t skip = (64 - reinterpret_cast<uintptr_t>(area.data()) % 64) % 64;
                return reinterpret_cast<char*>(area.data()) + skip + offset;
            };
            char* in = at64(inArea, inAt);
            char* out = at64(outArea, outAt);
            std::memcpy(in, plain.data(), bytes + 1);
            out[bytes] = in[bytes];
            ASSERT_EQ(enc.BlockEncryptSegments(in, out, count), int(bytes));
            ASSERT_EQ(std::memcmp(out, expected.data(), bytes + 1), 0);
            ASSERT_EQ(dec.BlockDecryptSegments(out, in, count), int(bytes));
            ASSERT_EQ(std::memcmp(in, plain.data(), bytes + 1), 0);
            if (bytes >= rjdl::kStreamBytes) {
                // Streamed to an output off a line by 16, 32, 48 bytes (the lines chains share),
                // apart and in place, with nothing written before or after the output.
                for (size_t shift : {16, 32, 48}) {
                    SCOPED_TRACE("streamed at " + std::to_string(shift));
                    std::fill(inArea.begin(), inArea.end(), 0xa5);
                    char* to = at64(inArea, shift);
                    ASSERT_EQ(dec.BlockDecryptSegments(out, to, count), int(bytes));
                    ASSERT_EQ(std::memcmp(to, plain.data(), bytes), 0);
                    const auto filler = std::count(inArea.begin(), inArea.end(), 0xa5);
                    ASSERT_EQ(filler, std::ptrdiff_t(inArea.size() - bytes) + std::count(to, to + bytes, char(0xa5)));
                    std::memcpy(to, expected.data(), bytes);
                    ASSERT_EQ(dec.BlockDecryptSegments(to, to, count), int(bytes));
                    ASSERT_EQ(std::memcmp(to, plain.data(), bytes), 0);
                }
            }
            ASSERT_EQ(dec.BlockDecryptSegments(out, out, count), int(bytes));
            ASSERT_EQ(std::memcmp(out, plain.data(), bytes + 1), 0);
            ASSERT_EQ(enc.BlockEncryptSegments(out, out, count), int(bytes));
            ASSERT_EQ(std::memcmp(out, expected.data(), bytes + 1), 0);
        }
    }
}

// CRjdl's refusals answer 0 and write nothing.
TEST(RjdlSegments, CRjdlRefusals)
{
    // Direction (0: never initialised), decryption call, null input, count (2^21 segments: 2^31 bytes).
    const std::tuple<int, bool, bool, int> cases[] = {{0, false, false, 2}, {0, true, false, 2}, {RJDL_DIR_DECRYPT, false, false, 2},
                 {RJDL_DIR_ENCRYPT, true, false, 1}, {RJDL_DIR_ENCRYPT, false, true, 2},
                 {RJDL_DIR_ENCRYPT, false, false, 0}, {RJDL_DIR_DECRYPT, true, false, -1},
                 {RJDL_DIR_ENCRYPT, false, false, 1 << 21}};
    for (const auto& [direction, decryptCall, nullInput, count] : cases) {
        SCOPED_TRACE(std::to_string(direction) + " count " + std::to_string(count));
        const char key16[16] = {7};
        CRjdl engine;
        if (direction != 0)
            engine.Init(direction, key16);
        std::vector<char> in(2 * kSegment, 3), out(2 * kSegment, 0x44);
        const char* src = nullInput ? nullptr : in.data();
        EXPECT_EQ(decryptCall ? engine.BlockDecryptSegments(src, out.data(), count)
                                : engine.BlockEncryptSegments(src, out.data(), count),
                  0);
        EXPECT_EQ(out, std::vector<char>(2 * kSegment, 0x44));
    }
    char key[16] = {7}, in2[kSegment] = {}, out2[kSegment] = {};
    EXPECT_EQ(CRawCodec(RJDL_DIR_ENCRYPT, key, ALG_RIJNDAEL).BlockEncryptSegments(in2, 0, out2), 0);
    EXPECT_EQ(CRawCodec(RJDL_DIR_DECRYPT, key, ALG_RIJNDAEL).BlockDecryptSegments(in2, 1 << 21, out2), 0);
    CRjdl enc;  // single calls: from 2^28 bytes the bit count wraps and nothing is processed
    enc.Init(RJDL_DIR_ENCRYPT, "0123456789abcdef");
    std::vector<char> in(48, 3), out(48, 0x44);
    for (int length : {1 << 28, 0x7fffffff, -1, INT32_MIN})
        EXPECT_EQ(enc.BlockEncrypt(in.data(), length, out.data()) + enc.PadDecrypt(in.data(), length, out.data()),
                  RJDL_WRONG_DIRECTION) << length;
    EXPECT_EQ(out, std::vector<char>(48, 0x44));
}

}  // namespace
