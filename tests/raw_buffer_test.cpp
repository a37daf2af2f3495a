// Raw buffer functions against OpenSSL, their codes, the dispatcher, tags, the "ALG" setting.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "support/OpenSslCipher.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
char kKey[17] = "0123456789abcdef";
#define DAT_M "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n"
#define DAT_U "[HKEY_CURRENT_USER\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n"

char* C(Bytes& b)
{
    return reinterpret_cast<char*>(b.data());
}

using reference::Random;

// AES-128-CBC, zero IV: whole blocks (the tail left alone), or PKCS#7 padded.
TEST(RawBuffer, AgainstOpenSslOverRandomKeysAndLengths)
{
    RegistrySandbox registry;
    const uint8_t zeroIv[16] = {};
    for (bool settings : {false, true}) {  // the "Ex" forms with algorithm 0; the settings forms (no "ALG")
        std::mt19937 rng(7);
        std::vector<size_t> lengths = {0, 1, 15, 16, 17, 31, 32, 33, 1023, 1024, 1025, 4095, 4096};
        for (int i = 0; i < 60; ++i)
            lengths.push_back(rng() % 4097);
        for (size_t n : lengths) {
            SCOPED_TRACE(std::to_string(settings) + " " + std::to_string(n));
            Bytes key = Random(rng, 16), data = Random(rng, n), out(n + 32, 0xcd);
            const size_t whole = n / 16 * 16;
            for (bool encrypt : {true, false}) {
                std::fill(out.begin(), out.end(), 0xcd);
                const unsigned len = unsigned(n);
                const int got = settings ? (encrypt ? CPVCodec::SFMemoryBlockEncrypt16(C(data), C(out), C(key), len)
                                                    : CPVCodec::SFMemoryBlockDecrypt16(C(data), C(out), C(key), len))
                                : encrypt ? CPVCodec::SFMemoryBlockEncrypt16Ex(C(data), C(out), C(key), len, 0)
                                          : CPVCodec::SFMemoryBlockDecrypt16Ex(C(data), C(out), C(key), len, 0);
                ASSERT_EQ(got, int(whole));
                auto want = reference::Evp(reference::AesCbc(16), encrypt, false, key.data(), zeroIv, data.data(), whole);
                ASSERT_EQ(Bytes(out.begin(), out.begin() + whole), *want);
                ASSERT_EQ(out[whole], 0xcd);
            }
            const int padded = n == 0 ? 0 : int(whole + 16);
            std::fill(out.begin(), out.end(), 0xcd);
            ASSERT_EQ(settings ? CPVCodec::SFPadEncrypt(C(data), C(out), C(key), int(n))
                               : CPVCodec::SFPadEncryptEx(C(data), C(out), C(key), int(n), 0), padded);
            ASSERT_EQ(out[size_t(padded)], 0xcd);
            if (n == 0)
                continue;
            Bytes cipher(out.begin(), out.begin() + padded), back(cipher.size(), 0xcd);
            ASSERT_EQ(cipher, *reference::Evp(reference::AesCbc(16), true, true, key.data(), zeroIv, data.data(), n));
            ASSERT_EQ(settings ? CPVCodec::SFPadDecrypt(C(cipher), C(back), C(key), padded)
                               : CPVCodec::SFPadDecryptEx(C(cipher), C(back), C(key), padded, 0), int(n));
            ASSERT_EQ(Bytes(back.begin(), back.begin() + n), data);
        }
    }
}

// The "Ex" functions (direction 0) and the dispatcher: codes by direction, input, key, length, algorithm.
TEST(RawBuffer, ResultCodesByDirectionAndAlgorithm)
{
    const std::tuple<int, bool, bool, int, int, int, int, int, int> cases[] = {
        {0, false, false, 17, 0, 16, 16, 32, -7},  // pad decryption wants a multiple of 16
        {0, true, false, 32, 0, 0, 0, 0, 0}, {0, false, false, 0, 0, 0, 0, 0, 0},
        {0, false, false, -16, 0, 0, 0, 0, 0},  // a huge unsigned length for the blocks
        {0, false, true, 32, 0, 0, 0, -5, -5}, {0, true, true, 32, 0, 0, 0, -5, -5},
        {0, false, false, 17, 5, -1, -1, -1, -1}, {0, false, false, 32, 3, -1, -1, -1, -1},
        {0, false, false, 32, -2, -1, -1, -1, -1}, {0, true, true, 0, INT_MIN, -1, -1, -1, -1},
        {2, false, false, 32, 0, 0, 32, -5, -7}, {1, false, false, 32, 0, 32, 0, 48, -6},
        {3, false, false, 32, 0, 0, 0, -5, -5}, {1, false, false, 32, 3, -1, -1, -1, -1},
        {2, false, false, 32, -2, -1, -1, -1, -1}, {1, false, false, 32, 256, -1, -1, -1, -1},
    };
    for (const auto& [direction, nullInput, nullKey, length, algorithm, blockEncrypt, blockDecrypt, padEncrypt, padDecrypt] :
         cases) {
        SCOPED_TRACE(std::to_string(direction) + " " + std::to_string(length) + " " + std::to_string(algorithm));
        std::vector<char> in(64, 'p'), out(96, 0x5a);
        char* input = nullInput ? nullptr : in.data();
        char* key = nullKey ? nullptr : kKey;
        const auto bytes = static_cast<unsigned int>(length);
        CRawCodec codec(direction, key, algorithm);
        const bool ex = direction == 0;
        EXPECT_EQ(ex ? CPVCodec::SFMemoryBlockEncrypt16Ex(input, out.data(), key, bytes, algorithm)
                     : codec.BlockEncrypt(input, length, out.data()), blockEncrypt);
        EXPECT_EQ(ex ? CPVCodec::SFMemoryBlockDecrypt16Ex(input, out.data(), key, bytes, algorithm)
                     : codec.BlockDecrypt(input, length, out.data()), blockDecrypt);
        EXPECT_EQ(ex ? CPVCodec::SFPadEncryptEx(input, out.data(), key, length, algorithm)
                     : codec.PadEncrypt(input, length, out.data()), padEncrypt);
        EXPECT_EQ(ex ? CPVCodec::SFPadDecryptEx(input, out.data(), key, length, algorithm)
                     : codec.PadDecrypt(input, length, out.data()), padDecrypt);
        EXPECT_TRUE(!ex || blockEncrypt > 0 || padEncrypt > 0 || out == std::vector<char>(96, 0x5a));
        EXPECT_TRUE(ex || codec.Algorithm() == algorithm);
    }
}

// "ALG" (algorithm -1): the user's hive before the machine's.
TEST(Settings, AlgValueFromTheHives)
{
    // Name, the machine's and the user's hive bodies ("" = no file; the user's is UTF-16), the id.
    const std::tuple<const char*, std::string, std::string, int> cases[] = {
        {"no value anywhere is Rijndael", "", "", 0},
        {"user wins over machine", DAT_M "\"ALG\"=dword:00000002\n", DAT_U "\"ALG\"=dword:00000001\n", 1},
        {"machine only", DAT_M "\"ALG\"=dword:00000002\n", "", 2},
        {"user key without the value", DAT_M "\"ALG\"=dword:00000001\n", DAT_U "\"Other\"=dword:1\n", 1},
        {"names ignore case", "[hklm\\software\\velquist\\VELQUIST PAPER VAULT\\dat]\n\"alg\"=dword:2\n", "", 2},
        {"shorter value fills the low bytes", DAT_M "\"ALG\"=hex:02\n", "", 2},
        {"longer value fails the read", DAT_M "\"ALG\"=hex(b):01,00,00,00,00,00,00,00\n", "", 0},
        {"string type is not checked", DAT_M "\"ALG\"=hex(1):01,00\n", "", 1},
        {"unknown id stays", DAT_M "\"ALG\"=dword:00000003\n", "", 3},
    };
    for (const auto& [name, machine, user, expected] : cases) {
        SCOPED_TRACE(name);
        RegistrySandbox registry;
        if (!machine.empty())
            registry.WriteUtf8("HKEY_LOCAL_MACHINE", machine);
        if (!user.empty())
            registry.WriteUtf16("HKEY_CURRENT_USER", user);
        EXPECT_EQ(CRawCodec(1, kKey, -1).Algorithm(), expected);
        char in[16] = "abcdefghijklmno", out[32] = {}, want[32] = {};  // the settings forms read it on every call
        EXPECT_EQ(CPVCodec::SFPadEncrypt(in, out, kKey, 16), CPVCodec::SFPadEncryptEx(in, want, kKey, 16, expected));
        EXPECT_TRUE(expected > 2 || std::memcmp(out, want, 32) == 0);
    }
}

}  // namespace
