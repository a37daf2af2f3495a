// The raw buffer functions' own rules (null input and key, unknown
// algorithms, the "ALG" setting read per call; whole blocks and fresh chains
// are in raw_buffer_differential_test.cpp against OpenSSL), the
// dispatcher's answers by direction and algorithm, the algorithm tags, and the
// refused instance interface of CPVCodec.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "platform/Framework.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

char kKey[17] = "0123456789abcdef";

std::vector<char> Pattern(size_t n)
{
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<char>(i * 31 + 7);
    return v;
}

// ---- Raw functions: result codes ------------------------------------------

struct CodeCase {
    const char* name;
    bool nullInput;
    bool nullKey;
    int length;
    int algorithm;
    int blockEncrypt, blockDecrypt, padEncrypt, padDecrypt;
};

class RawBufferCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(RawBufferCodes, ResultsOfAllFourExFunctions)
{
    const auto& c = GetParam();
    std::vector<char> in = Pattern(64), out(96, 0x5a);
    char* input = c.nullInput ? nullptr : in.data();
    char* key = c.nullKey ? nullptr : kKey;
    const auto length = static_cast<unsigned int>(c.length);
    EXPECT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(input, out.data(), key, length, c.algorithm), c.blockEncrypt);
    EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(input, out.data(), key, length, c.algorithm), c.blockDecrypt);
    EXPECT_EQ(CPVCodec::SFPadEncryptEx(input, out.data(), key, c.length, c.algorithm), c.padEncrypt);
    EXPECT_EQ(CPVCodec::SFPadDecryptEx(input, out.data(), key, c.length, c.algorithm), c.padDecrypt);
    if (c.blockEncrypt <= 0 && c.blockDecrypt <= 0 && c.padEncrypt <= 0 && c.padDecrypt <= 0) {
        for (char b : out)
            ASSERT_EQ(b, 0x5a) << "written by a failing call";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RawBufferCodes,
    ::testing::Values(
        // The pad decryption of 17 bytes fails the multiple-of-16 test.
        CodeCase{"Odd17Bytes", false, false, 17, 0, 16, 16, 32, -7},
        CodeCase{"NullInput", true, false, 32, 0, 0, 0, 0, 0},
        CodeCase{"ZeroLength", false, false, 0, 0, 0, 0, 0, 0},
        // A negative int is a huge unsigned length for the block functions;
        // the bit count wraps to a negative number and nothing is processed.
        CodeCase{"NegativeLength", false, false, -16, 0, 0, 0, 0, 0},
        // A null key leaves the engine not ready: 0 from blocks, -5 from pads.
        CodeCase{"NullKey", false, true, 32, 0, 0, 0, -5, -5},
        CodeCase{"NullKeyAndInput", true, true, 32, 0, 0, 0, -5, -5},
        CodeCase{"Algorithm5", false, false, 17, 5, -1, -1, -1, -1},
        CodeCase{"Algorithm3", false, false, 32, 3, -1, -1, -1, -1},
        CodeCase{"AlgorithmMinus2", false, false, 32, -2, -1, -1, -1, -1},
        CodeCase{"AlgorithmIntMin", true, true, 0, INT_MIN, -1, -1, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// The names without "Ex" read "ALG" afresh on every call.
TEST(RawBuffer, SettingsFormsFollowAlgChangesBetweenCalls)
{
    RegistrySandbox registry;
    auto in = Pattern(16);
    char expected[32], out[32];
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(in.data(), expected, kKey, 16, 0), 32);

    auto setAlg = [&](int value) {
        char line[96];
        std::snprintf(line, sizeof(line), "\"ALG\"=dword:%08x\n", value);
        registry.WriteUtf8("HKEY_CURRENT_USER",
                           std::string("[HKEY_CURRENT_USER\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n") + line);
    };
    setAlg(0);
    ASSERT_EQ(CPVCodec::SFPadEncrypt(in.data(), out, kKey, 16), 32);
    EXPECT_EQ(std::memcmp(out, expected, 32), 0);
    // ARIA, from the outside library next to the test binary.
    char aria[32];
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(in.data(), aria, kKey, 16, 1), 32);
    setAlg(1);
    ASSERT_EQ(CPVCodec::SFPadEncrypt(in.data(), out, kKey, 16), 32);
    EXPECT_EQ(std::memcmp(out, aria, 32), 0);
    EXPECT_NE(std::memcmp(out, expected, 32), 0);
    ASSERT_EQ(CPVCodec::SFMemoryBlockEncrypt16(in.data(), out, kKey, 16), 16);
    EXPECT_EQ(std::memcmp(out, aria, 16), 0);
    setAlg(3);
    EXPECT_EQ(CPVCodec::SFPadDecrypt(expected, out, kKey, 32), -1);
    EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16(expected, out, kKey, 32), -1);
    registry.Remove("HKEY_CURRENT_USER");
    ASSERT_EQ(CPVCodec::SFPadDecrypt(expected, out, kKey, 32), 16);
    EXPECT_EQ(std::memcmp(out, in.data(), 16), 0);
    ASSERT_EQ(CPVCodec::SFMemoryBlockEncrypt16(in.data(), out, kKey, 16), 16);
    EXPECT_EQ(std::memcmp(out, expected, 16), 0);
}

// ---- The dispatcher by direction and algorithm ----------------------------

struct DispatchCase {
    const char* name;
    int direction;
    int algorithm;
    int blockEncrypt, blockDecrypt, padEncrypt, padDecrypt;
};

class DispatcherAnswers : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatcherAnswers, FourOperations)
{
    const auto& c = GetParam();
    CRawCodec codec(c.direction, kKey, c.algorithm);
    EXPECT_EQ(codec.Algorithm(), c.algorithm);
    std::vector<char> in = Pattern(32), out(48);
    EXPECT_EQ(codec.BlockEncrypt(in.data(), 32, out.data()), c.blockEncrypt);
    EXPECT_EQ(codec.BlockDecrypt(in.data(), 32, out.data()), c.blockDecrypt);
    EXPECT_EQ(codec.PadEncrypt(in.data(), 20, out.data()), c.padEncrypt);
    EXPECT_EQ(codec.PadDecrypt(in.data(), 32, out.data()), c.padDecrypt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatcherAnswers,
    ::testing::Values(DispatchCase{"DecryptRijndael", 2, 0, 0, 32, -5, -7},
                      DispatchCase{"EncryptRijndael", 1, 0, 32, 0, 32, -6},
                      DispatchCase{"Direction0Rijndael", 0, 0, 0, 0, -5, -5},
                      DispatchCase{"Direction3Rijndael", 3, 0, 0, 0, -5, -5},
                      DispatchCase{"Algorithm3", 1, 3, -1, -1, -1, -1},
                      DispatchCase{"AlgorithmMinus2", 2, -2, -1, -1, -1, -1},
                      DispatchCase{"Algorithm256", 1, 256, -1, -1, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Algorithm tags ---------------------------------------------------------

TEST(AlgorithmTags, FileTagToProgramIdForEveryByte)
{
    for (int tag = 0; tag < 256; ++tag) {
        int expected = tag == 'A' ? 1 : tag == 'T' ? 2 : 0;
        EXPECT_EQ(CPVCodec::ConvertFileAlgToProgAlg(static_cast<unsigned char>(tag)), expected) << tag;
    }
}

TEST(AlgorithmTags, ProgramIdToFileTag)
{
    const struct {
        int id;
        unsigned char tag;
    } cases[] = {{0, 'R'}, {1, 'A'}, {2, 'T'}, {3, 'R'}, {-1, 'R'}, {-2, 'R'}, {'A', 'R'},
                 {257, 'R'}, {258, 'R'}, {INT_MIN, 'R'}, {INT_MAX, 'R'}};
    for (const auto& c : cases)
        EXPECT_EQ(CPVCodec::ConvertProgAlgToFileAlg(c.id), c.tag) << c.id;
    for (unsigned char tag : {'R', 'A', 'T'})
        EXPECT_EQ(CPVCodec::ConvertProgAlgToFileAlg(CPVCodec::ConvertFileAlgToProgAlg(tag)), tag);
}

// ---- The refused instance interface -----------------------------------------

struct Shown {
    std::u16string text;
    plat::UINT type;
    plat::UINT help;
};

class InstanceInterface : public ::testing::Test {
protected:
    std::vector<Shown> shown;
    void SetUp() override
    {
        plat::SetMessageBoxHook([this](std::u16string_view text, plat::UINT type, plat::UINT help) {
            shown.push_back({std::u16string(text), type, help});
            return plat::IDOK;
        });
    }
    void TearDown() override { plat::SetMessageBoxHook({}); }
};

TEST_F(InstanceInterface, InitRijndaelAcceptsAnything)
{
    CPVCodec codec(0, nullptr, 0, 0, nullptr);
    EXPECT_EQ(codec.InitRijndael(0, nullptr, 0, 0, nullptr), 1);
    EXPECT_EQ(codec.InitRijndael(1, kKey, 6, 4, reinterpret_cast<unsigned char*>(kKey)), 1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(InstanceInterface, BufferMethodsShowTheirNumberAndFail)
{
    CPVCodec codec;
    codec.InitRijndael(1, kKey, 6, 4, nullptr);
    CPVCodec copy(codec);
    copy = codec;
    char buf[32] = {};
    EXPECT_EQ(copy.BlockEncrypt(buf, 16, buf), -1);
    EXPECT_EQ(copy.BlockDecrypt(nullptr, -1, nullptr), -1);
    EXPECT_EQ(copy.PadEncrypt(buf, 16, buf), -1);
    EXPECT_EQ(copy.PadDecrypt(nullptr, 0, nullptr), -1);
    ASSERT_EQ(shown.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        std::u16string expected = u"[PVCodec.dll] Error!! Invalid call " + std::u16string(1, char16_t(u'1' + i));
        EXPECT_TRUE(shown[i].text == expected) << i;
        EXPECT_EQ(shown[i].type, 0u);
        EXPECT_EQ(shown[i].help, 0u);
    }
    for (char b : buf)
        EXPECT_EQ(b, 0);
}

}  // namespace
