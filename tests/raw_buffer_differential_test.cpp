// The eight raw buffer functions against OpenSSL's AES-128-CBC from the zero
// IV: no padding for the block functions (whole blocks only), PKCS#7 for the
// pad functions. Run with the algorithm given (0) and taken from the settings
// (-1 with no "ALG" value anywhere), over random keys and lengths 0 to 4 KiB.
#include "PVCodec.h"
#include "support/OpenSslCipher.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kZeroIv[16] = {};

char* C(Bytes& b)
{
    return reinterpret_cast<char*>(b.data());
}

struct Functions {
    int (*blockEncrypt)(char*, char*, char*, unsigned int);
    int (*blockDecrypt)(char*, char*, char*, unsigned int);
    int (*padEncrypt)(char*, char*, char*, int);
    int (*padDecrypt)(char*, char*, char*, int);
};

// The "Ex" forms with algorithm 0, and the settings forms.
const Functions kWithAlgorithm0{
    [](char* i, char* o, char* k, unsigned int n) { return CPVCodec::SFMemoryBlockEncrypt16Ex(i, o, k, n, 0); },
    [](char* i, char* o, char* k, unsigned int n) { return CPVCodec::SFMemoryBlockDecrypt16Ex(i, o, k, n, 0); },
    [](char* i, char* o, char* k, int n) { return CPVCodec::SFPadEncryptEx(i, o, k, n, 0); },
    [](char* i, char* o, char* k, int n) { return CPVCodec::SFPadDecryptEx(i, o, k, n, 0); }};
const Functions kFromSettings{CPVCodec::SFMemoryBlockEncrypt16, CPVCodec::SFMemoryBlockDecrypt16,
                              CPVCodec::SFPadEncrypt, CPVCodec::SFPadDecrypt};

struct Family {
    const char* name;
    const Functions* functions;
};

class RawAgainstOpenSsl : public ::testing::TestWithParam<Family> {};

TEST_P(RawAgainstOpenSsl, RandomKeysAndLengths)
{
    RegistrySandbox registry;  // no "ALG": -1 means Rijndael
    const Functions& f = *GetParam().functions;
    std::mt19937 rng(7);
    std::vector<size_t> lengths = {0, 1, 15, 16, 17, 31, 32, 33, 1023, 1024, 1025, 4095, 4096};
    for (int i = 0; i < 120; ++i)
        lengths.push_back(rng() % 4097);

    for (size_t n : lengths) {
        Bytes key(16), data(n);
        for (auto& b : key)
            b = static_cast<uint8_t>(rng());
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        const size_t whole = n / 16 * 16;
        const EVP_CIPHER* aes = EVP_aes_128_cbc();

        // Block encryption: whole blocks, the tail neither read nor written.
        Bytes out(n + 32, 0xcd);
        ASSERT_EQ(f.blockEncrypt(C(data), C(out), C(key), static_cast<unsigned>(n)), static_cast<int>(whole));
        auto expected = reference::Evp(aes, true, false, key.data(), kZeroIv, data.data(), whole);
        ASSERT_TRUE(expected);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + whole), *expected) << n;
        ASSERT_EQ(out[whole], 0xcd) << n;

        // Block decryption of arbitrary data.
        std::fill(out.begin(), out.end(), 0xcd);
        ASSERT_EQ(f.blockDecrypt(C(data), C(out), C(key), static_cast<unsigned>(n)), static_cast<int>(whole));
        expected = reference::Evp(aes, false, false, key.data(), kZeroIv, data.data(), whole);
        ASSERT_TRUE(expected);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + whole), *expected) << n;
        ASSERT_EQ(out[whole], 0xcd) << n;

        // Pad encryption: PKCS#7, nothing at all for an empty input.
        const int padded = n == 0 ? 0 : static_cast<int>(whole + 16);
        std::fill(out.begin(), out.end(), 0xcd);
        ASSERT_EQ(f.padEncrypt(C(data), C(out), C(key), static_cast<int>(n)), padded) << n;
        if (n == 0) {
            ASSERT_EQ(out[0], 0xcd);
            continue;
        }
        expected = reference::Evp(aes, true, true, key.data(), kZeroIv, data.data(), n);
        ASSERT_TRUE(expected);
        Bytes cipher(out.begin(), out.begin() + padded);
        ASSERT_EQ(cipher, *expected) << n;
        ASSERT_EQ(out[padded], 0xcd) << n;

        // Pad decryption gives the data back.
        Bytes back(cipher.size(), 0xcd);
        ASSERT_EQ(f.padDecrypt(C(cipher), C(back), C(key), padded), static_cast<int>(n));
        ASSERT_EQ(Bytes(back.begin(), back.begin() + n), data) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, RawAgainstOpenSsl,
                         ::testing::Values(Family{"Algorithm0", &kWithAlgorithm0},
                                           Family{"FromSettings", &kFromSettings}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
