// ARIA (ARIA-128-CBC) and ATE (SEED-CBC), both with IV = key and PKCS#7 padding, in the raw functions and wrappers.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "extcrypto/Aria.h"
#include "standins/xecurecrypto/XecureCryptoCodes.h"
#include "support/OpenSslCipher.h"
#include "support/ReaderContainers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(int n, int seed)
{
    std::mt19937 gen(static_cast<unsigned>(seed));
    Bytes b(static_cast<size_t>(n));
    for (auto& x : b)
        x = static_cast<unsigned char>(gen());
    return b;
}

Bytes Hex(const std::string& text)
{
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

char* Chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

// CBC with the key as IV, padded or not; empty when the reference lacks the cipher.
Bytes Cbc(int algorithm, const Bytes& key, const Bytes& in, bool pad = true)
{
    const EVP_CIPHER* cipher = algorithm == ALG_ARIA ? reference::AriaCbc() : reference::SeedCbc();
    if (cipher == nullptr)
        return {};
    return reference::Evp(cipher, true, pad, key.data(), key.data(), in.data(), in.size()).value_or(Bytes{});
}

// RFC 5794 A.1 (ARIA-128) and RFC 4269 B (SEED); one CBC block with IV = key enciphers plain XOR key.
TEST(OutsideCiphers, KnownAnswers)
{
    const struct {
        int algorithm;
        const char *key, *plain, *cipher;
    } vectors[] = {
        {ALG_ARIA, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "d718fbd6ab644c739da95f3be6451778"},
        {ALG_ATE, "00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F",
         "5EBAC6E0054E166819AFF1CC6D346CDB"},
        {ALG_ATE, "000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000",
         "C11F22F20140505084483597E4370F43"},
        {ALG_ATE, "4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D",
         "EE54D13EBCAE706D226BC3142CD40D4A"},
        {ALG_ATE, "28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7",
         "9B9B7BFCD1813CB95D0B3618F40F5122"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        Bytes key = Hex(v.key), plain = Hex(v.plain), out(16);
        for (size_t i = 0; i < 16; ++i)
            plain[i] ^= key[i];
        const Bytes input = plain;
        ASSERT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(Chars(plain), Chars(out), Chars(key), 16, v.algorithm), 16);
        EXPECT_EQ(out, Hex(v.cipher));
        ASSERT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(Chars(out), Chars(out), Chars(key), 16, v.algorithm), 16);
        EXPECT_EQ(out, input);  // in place
    }
}

// Lengths around the block size against the reference (where it has the cipher) and back.
TEST(OutsideCiphers, PadAndBlockFunctionsAreCbcWithTheKeyAsIv)
{
    for (int algorithm : {ALG_ARIA, ALG_ATE}) {
        for (int length : {0, 1, 15, 16, 17, 31, 32, 1000, 4096}) {
            SCOPED_TRACE(testing::Message() << "algorithm " << algorithm << ", " << length << " bytes");
            Bytes key = Random(16, length), plain = Random(length + 16, 1), out(length + 32), back(length + 32);
            const int n = CPVCodec::SFPadEncryptEx(Chars(plain), Chars(out), Chars(key), length, algorithm);
            ASSERT_EQ(n, 16 * (length / 16 + 1));  // the raw functions may look at the 16 bytes after plain
            out.resize(n);
            plain.resize(length);
            const Bytes expected = Cbc(algorithm, key, plain);
            EXPECT_TRUE(expected.empty() || out == expected);
            ASSERT_EQ(CPVCodec::SFPadDecryptEx(Chars(out), Chars(back), Chars(key), n, algorithm), length);
            EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back.begin()));
            const int whole = length - length % 16;
            Bytes blocks(whole + 16);
            ASSERT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(Chars(plain), Chars(blocks), Chars(key), whole, algorithm),
                      whole);
            EXPECT_TRUE(std::equal(blocks.begin(), blocks.begin() + whole, out.begin()));  // the padded chain's start
            ASSERT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(Chars(blocks), Chars(back), Chars(key), whole, algorithm),
                      whole);
            EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + whole, back.begin()));
        }
    }
}

// Bytes kept from a call that was no whole block, then the rest in place: one chain (block calls also make bodies).
TEST(Aria, OneContextCarriesTheChainAcrossCalls)
{
    Bytes key = Random(16, 1), plain = Random(100, 2), buffer = plain;
    buffer.resize(128);
    CAria inPlace;
    ASSERT_EQ(inPlace.Init(1, Chars(key)), 0);
    EXPECT_EQ(inPlace.BlockEncrypt(Chars(buffer), 20, Chars(buffer)), 16);  // one block out, 4 bytes kept
    EXPECT_EQ(inPlace.PadEncrypt(Chars(buffer) + 20, 80, Chars(buffer) + 16), 96);
    buffer.resize(112);
    Bytes room = plain, whole(112);  // one call's chain, which the reference checks where it has ARIA
    room.resize(116);                 // the raw functions may look at the 16 bytes after plain
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(Chars(room), Chars(whole), Chars(key), 100, ALG_ARIA), 112);
    EXPECT_EQ(buffer, whole);
    CAria inPlaceBack;
    ASSERT_EQ(inPlaceBack.Init(2, Chars(key)), 0);
    EXPECT_EQ(inPlaceBack.PadDecrypt(Chars(buffer), 112, Chars(buffer)), 100);
    buffer.resize(100);
    EXPECT_EQ(buffer, plain);
}

// Refusals pass through block calls and become -1 in pad calls; null buffers and keys are -1.
TEST(Aria, RefusalsAndTheirResults)
{
    Bytes key = Hex("000102030405060708090a0b0c0d0e0f"), data(64), out(96);
    CAria enc;
    ASSERT_EQ(enc.Init(1, Chars(key)), 0);
    EXPECT_EQ(enc.BlockEncrypt(Chars(data), -16, Chars(out)), xecure::SFC_ERR_ARGUMENT);
    EXPECT_EQ(enc.PadEncrypt(Chars(data), -16, Chars(out)), -1);
    EXPECT_EQ(enc.BlockDecrypt(Chars(data), 16, Chars(out)), xecure::SFC_ERR_STATE);  // set up to encrypt
    EXPECT_EQ(enc.PadDecrypt(Chars(data), 16, Chars(out)), -1);
    EXPECT_EQ(enc.BlockEncrypt(nullptr, 16, Chars(out)), -1);
    EXPECT_EQ(enc.BlockEncrypt(Chars(data), 16, nullptr), -1);
    EXPECT_EQ(enc.PadEncrypt(nullptr, 16, Chars(out)), -1);
    EXPECT_EQ(enc.PadDecrypt(Chars(data), 16, nullptr), -1);
    SFC_HANDLE handle = enc.SFC_SKEY_SecretKey_New();
    EXPECT_EQ(enc.ImportSecretKey(handle, key.data(), 8, 1, xecure::kCipherAria), xecure::SFC_ERR_KEY);
    EXPECT_EQ(enc.ImportSecretKey(handle, key.data(), 16, 2, xecure::kCipherAria), xecure::SFC_ERR_KEY);
    EXPECT_EQ(enc.ImportSecretKey(handle, key.data(), 16, 1, 13), xecure::SFC_ERR_ALGORITHM);
    EXPECT_EQ(enc.ImportSecretKey(handle, key.data(), 33, 1, xecure::kCipherAria), -1);  // never overflows the blob
    EXPECT_EQ(enc.ImportSecretKey(handle, key.data(), 16, 1, xecure::kCipherAte), 0);
    enc.SFC_SKEY_SecretKey_Free(handle);
    EXPECT_EQ(CAria().Init(1, nullptr), -1);

}

// The update's length less the final count; where no whole message was written (bad padding, partial block): -1.
TEST(OutsideCiphers, PadDecryptOfNoWholeMessageAnswersMinusOne)
{
    Bytes key = Hex("000102030405060708090a0b0c0d0e0f"), other = Random(16, 9), plain = Random(40, 10), out(64);
    const struct {
        const char* name;
        bool wrongKey;
        int blockFirst;  // bytes block-decrypted before the pad call
        int padLength;
        int expected;
    } cases[] = {
        {"whole message", false, 0, 48, 40},          {"after a block call", false, 32, 16, 8},
        {"wrong key", true, 0, 48, -1},               {"partial block", false, 0, 20, -1},
        {"partial after a block call", false, 32, 4, -1}, {"less than a block", false, 0, 8, -1},
        {"nothing", false, 0, 0, -1},
        {"padding written by the block call", false, 48, 0, -1},
    };
    for (int algorithm : {ALG_ARIA, ALG_ATE}) {
        Bytes sealed(48);
        ASSERT_EQ(CPVCodec::SFPadEncryptEx(Chars(plain), Chars(sealed), Chars(key), 40, algorithm), 48);
        for (const auto& c : cases) {
            auto padDecrypt = [&](auto&& cipher) {  // CATE's Init hides CAria's
                EXPECT_EQ(cipher.Init(2, Chars(c.wrongKey ? other : key)), 0);
                if (c.blockFirst > 0) {
                    EXPECT_EQ(cipher.BlockDecrypt(Chars(sealed), c.blockFirst, Chars(out)), c.blockFirst);
                }
                return cipher.PadDecrypt(Chars(sealed) + c.blockFirst, c.padLength, Chars(out) + c.blockFirst);
            };
            EXPECT_EQ(algorithm == ALG_ARIA ? padDecrypt(CAria()) : padDecrypt(CATE()), c.expected)
                << c.name << ", algorithm " << algorithm;
        }
        EXPECT_EQ(CPVCodec::SFPadDecryptEx(Chars(sealed), Chars(out), Chars(key), 20, algorithm), -1);
    }
}

// An outside cipher's body is one CBC chain (IV = key), over the zero fill and 15 trailer bytes when it has them.
TEST(OutsideCiphers, ContainerBodyIsOneChainWithTheKeyAsIv)
{
    using readercontainers::Form;
    for (const auto& [form, size] : {std::pair{Form::ExtendedA, size_t{3000}}, {Form::ExtendedT, size_t{3000}},
                                     {Form::ExtendedT, size_t{2040}}}) {
        const int algorithm = form == Form::ExtendedA ? ALG_ARIA : ALG_ATE;
        const readercontainers::Bytes document = readercontainers::DocumentOf(size);
        Bytes plain(document.begin(), document.end());
        if (size % 1024 >= 1008) {
            const auto zeros = static_cast<unsigned char>(1024 - size % 1024);
            plain.resize(plain.size() + zeros, 0);
            plain.insert(plain.end(), {'V', 'Q', 'P', 'V', 'Z', 'P', zeros, 0, 0, 0, 0, 0, 0, 0, 0});
        }
        const Bytes expected =
            Cbc(algorithm, Bytes(readercontainers::kKey.begin(), readercontainers::kKey.end()), plain);
        if (expected.empty())
            continue;  // the reference lacks the cipher
        const readercontainers::Container& container = readercontainers::Make(form, size);
        EXPECT_EQ(Bytes(container.bytes.begin() + container.offset, container.bytes.end()), expected)
            << readercontainers::FormName(form) << " " << size;
    }
}

}  // namespace
