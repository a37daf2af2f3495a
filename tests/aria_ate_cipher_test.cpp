// ARIA and ATE behind the dispatcher and in the wrappers: ARIA bodies are
// ARIA-128-CBC with IV = key and PKCS#7 padding (checked against OpenSSL),
// ATE is SEED in the same shape (RFC 4269 vectors, and OpenSSL's SEED when
// its legacy provider is at hand), one context carries its chain from
// block calls into the closing padded call (so a container body is one
// chain), and a pad decryption without a whole padded message answers -1.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "extcrypto/Aria.h"
#include "standins/xecurecrypto/XecureCryptoCodes.h"
#include "standins/xecureate/XecureATE.h"
#include "support/ReaderContainers.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <dlfcn.h>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes b(n);
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

// OpenSSL's CBC with PKCS#7 padding (or none), IV = key.
Bytes OpenSslCbc(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& in, bool encrypt, bool pad = true)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), key.data(), encrypt ? 1 : 0) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok);
    out.resize(ok ? static_cast<size_t>(n1 + n2) : 0);
    return out;
}

char* Chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

const Bytes kKey = Hex("000102030405060708090a0b0c0d0e0f");

class AriaAgainstOpenSsl : public ::testing::TestWithParam<size_t> {};

TEST_P(AriaAgainstOpenSsl, PadEncryptIsAria128CbcWithKeyAsIv)
{
    size_t length = GetParam();
    Bytes plain = Random(length, static_cast<unsigned>(length));
    plain.resize(length + 16);  // room the raw functions may look at
    Bytes key = kKey;
    Bytes out(length + 32);
    int n = CPVCodec::SFPadEncryptEx(Chars(plain), Chars(out), Chars(key), static_cast<int>(length), ALG_ARIA);
    plain.resize(length);
    Bytes expected = OpenSslCbc(EVP_aria_128_cbc(), key, plain, true);
    ASSERT_EQ(n, static_cast<int>(16 * (length / 16 + 1)));
    out.resize(static_cast<size_t>(n));
    EXPECT_EQ(out, expected);

    Bytes back(out.size() + 16);
    n = CPVCodec::SFPadDecryptEx(Chars(out), Chars(back), Chars(key), static_cast<int>(out.size()), ALG_ARIA);
    ASSERT_EQ(n, static_cast<int>(length));
    back.resize(length);
    EXPECT_EQ(back, plain);
}

INSTANTIATE_TEST_SUITE_P(Lengths, AriaAgainstOpenSsl, ::testing::Values(0, 1, 15, 16, 17, 31, 32, 1000, 4096));

TEST(Aria, BlockEncryptIsUnpaddedCbc)
{
    Bytes key = Random(16, 7), plain = Random(64, 8), out(64);
    EXPECT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(Chars(plain), Chars(out), Chars(key), 64, ALG_ARIA), 64);
    EXPECT_EQ(out, OpenSslCbc(EVP_aria_128_cbc(), key, plain, true, false));
    Bytes back(64);
    EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(Chars(out), Chars(back), Chars(key), 64, ALG_ARIA), 64);
    EXPECT_EQ(back, plain);
}

TEST(Aria, BlockCallsAndTheClosingPadCallAreOneChain)
{
    // The shape of an ARIA container body: whole blocks, then a padded piece.
    Bytes key = Random(16, 1), plain = Random(1024 + 48 + 5, 2);
    Bytes out(plain.size() + 16);
    CAria enc;
    ASSERT_EQ(enc.Init(1, Chars(key)), 0);
    int a = enc.BlockEncrypt(Chars(plain), 1024, Chars(out));
    int b = enc.BlockEncrypt(Chars(plain) + 1024, 48, Chars(out) + 1024);
    int c = enc.PadEncrypt(Chars(plain) + 1072, 5, Chars(out) + 1072);
    ASSERT_EQ(a, 1024);
    ASSERT_EQ(b, 48);
    ASSERT_EQ(c, 16);
    out.resize(1088);
    EXPECT_EQ(out, OpenSslCbc(EVP_aria_128_cbc(), key, plain, true));

    CAria dec;
    ASSERT_EQ(dec.Init(2, Chars(key)), 0);
    Bytes back(out.size());
    ASSERT_EQ(dec.BlockDecrypt(Chars(out), 1072, Chars(back)), 1072);
    // Pad decryption: the update's 16 bytes less the final's 11 bytes of padding.
    ASSERT_EQ(dec.PadDecrypt(Chars(out) + 1072, 16, Chars(back) + 1072), 5);
    back.resize(plain.size());
    EXPECT_EQ(back, plain);
}

TEST(Aria, InPlaceWithBytesKeptFromAnEarlierCall)
{
    Bytes key = Random(16, 3), plain = Random(100, 4);
    Bytes buffer = plain;
    buffer.resize(128);
    CAria enc;
    ASSERT_EQ(enc.Init(1, Chars(key)), 0);
    // 20 bytes: one block out, 4 kept; then the rest in place, behind them.
    ASSERT_EQ(enc.BlockEncrypt(Chars(buffer), 20, Chars(buffer)), 16);
    ASSERT_EQ(enc.PadEncrypt(Chars(buffer) + 20, 80, Chars(buffer) + 16), 96);
    buffer.resize(112);
    EXPECT_EQ(buffer, OpenSslCbc(EVP_aria_128_cbc(), key, plain, true));
    CAria dec;
    ASSERT_EQ(dec.Init(2, Chars(key)), 0);
    ASSERT_EQ(dec.PadDecrypt(Chars(buffer), 112, Chars(buffer)), 100);
    buffer.resize(100);
    EXPECT_EQ(buffer, plain);
}

TEST(Aria, LibraryResultsPassThroughBlockCallsAndBecomeMinusOneInPadCalls)
{
    Bytes key = kKey, data(64), out(96);
    CAria enc;
    ASSERT_EQ(enc.Init(1, Chars(key)), 0);
    // Same library refusal (a negative length) through both kinds of call.
    EXPECT_EQ(enc.BlockEncrypt(Chars(data), -16, Chars(out)), xecure::SFC_ERR_ARGUMENT);
    EXPECT_EQ(enc.PadEncrypt(Chars(data), -16, Chars(out)), -1);
    // A context set up for encryption refuses decryption.
    EXPECT_EQ(enc.BlockDecrypt(Chars(data), 16, Chars(out)), xecure::SFC_ERR_STATE);
    EXPECT_EQ(enc.PadDecrypt(Chars(data), 16, Chars(out)), -1);
    // Null buffers: -1 without a library call.
    EXPECT_EQ(enc.BlockEncrypt(nullptr, 16, Chars(out)), -1);
    EXPECT_EQ(enc.BlockEncrypt(Chars(data), 16, nullptr), -1);
    EXPECT_EQ(enc.PadEncrypt(nullptr, 16, Chars(out)), -1);
    EXPECT_EQ(enc.PadDecrypt(Chars(data), 16, nullptr), -1);
}

TEST(Aria, KeyImportRefusedByTheLibrary)
{
    CAria aria;
    ASSERT_EQ(aria.Init(1, reinterpret_cast<const char*>(kKey.data())), 0);
    SFC_HANDLE key = aria.SFC_SKEY_SecretKey_New();
    EXPECT_EQ(aria.ImportSecretKey(key, kKey.data(), 8, 1, xecure::kCipherAria), xecure::SFC_ERR_KEY);
    EXPECT_EQ(aria.ImportSecretKey(key, kKey.data(), 16, 2, xecure::kCipherAria), xecure::SFC_ERR_KEY);
    EXPECT_EQ(aria.ImportSecretKey(key, kKey.data(), 16, 1, 13), xecure::SFC_ERR_ALGORITHM);
    EXPECT_EQ(aria.ImportSecretKey(key, kKey.data(), 33, 1, xecure::kCipherAria), -1);  // never overflows the blob
    EXPECT_EQ(aria.ImportSecretKey(key, kKey.data(), 16, 1, xecure::kCipherAte), 0);
    aria.SFC_SKEY_SecretKey_Free(key);
    EXPECT_EQ(aria.Init(1, nullptr), -1);
}

// The wrapper takes the update's length less the final call's count, whose
// result it never reads. Where the last update wrote no whole message (bad
// padding, a partial block, no block at all) the library's count is one more
// than that update wrote: the pad call answers -1, for ARIA and ATE alike.
TEST(AriaAndAte, PadDecryptOfNoWholeMessageAnswersMinusOne)
{
    Bytes key = kKey, plain = Random(40, 10), sealed(48), out(64);
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(Chars(plain), Chars(sealed), Chars(key), 40, ALG_ARIA), 48);
    Bytes ateSealed(48);
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(Chars(plain), Chars(ateSealed), Chars(key), 40, ALG_ATE), 48);
    Bytes other = Random(16, 9);
    const struct {
        const char* name;
        bool wrongKey;
        int blockFirst;  // bytes block-decrypted before the pad call
        int padLength;
        int expected;
    } cases[] = {
        {"whole message", false, 0, 48, 40},
        {"after a block call", false, 32, 16, 8},
        {"wrong key", true, 0, 48, -1},
        {"partial block", false, 0, 20, -1},
        {"partial block after a block call", false, 32, 4, -1},
        {"less than a block", false, 0, 8, -1},
        {"nothing", false, 0, 0, -1},
        // The padded block came from the block call; the pad call wrote none.
        {"padding written by the block call", false, 48, 0, -1},
    };
    for (int algorithm : {ALG_ARIA, ALG_ATE}) {
        Bytes& input = algorithm == ALG_ARIA ? sealed : ateSealed;
        for (const auto& c : cases) {
            // CATE's Init hides CAria's: each object is used as its own type.
            auto padDecrypt = [&](auto&& cipher) {
                EXPECT_EQ(cipher.Init(2, Chars(c.wrongKey ? other : key)), 0);
                if (c.blockFirst > 0) {
                    EXPECT_EQ(cipher.BlockDecrypt(Chars(input), c.blockFirst, Chars(out)), c.blockFirst);
                }
                return cipher.PadDecrypt(Chars(input) + c.blockFirst, c.padLength, Chars(out) + c.blockFirst);
            };
            const int result = algorithm == ALG_ARIA ? padDecrypt(CAria()) : padDecrypt(CATE());
            EXPECT_EQ(result, c.expected) << c.name << ", algorithm " << algorithm;
        }
    }
    // Through the raw function: 20 bytes, one block and part of another.
    EXPECT_EQ(CPVCodec::SFPadDecryptEx(Chars(ateSealed), Chars(out), Chars(key), 20, ALG_ATE), -1);
    EXPECT_EQ(CPVCodec::SFPadDecryptEx(Chars(sealed), Chars(out), Chars(key), 20, ALG_ARIA), -1);
}

// ---- ATE.

struct SeedVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// RFC 4269, Appendix B.
const SeedVector kSeedVectors[] = {
    {"00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F", "5EBAC6E0054E166819AFF1CC6D346CDB"},
    {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000", "C11F22F20140505084483597E4370F43"},
    {"4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D", "EE54D13EBCAE706D226BC3142CD40D4A"},
    {"28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7", "9B9B7BFCD1813CB95D0B3618F40F5122"},
};

class AteLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = dlopen(PVCODEC_TEST_ATE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_module, nullptr);
        m_new = reinterpret_cast<PFN_XATE_CBC_New>(dlsym(m_module, "XATE_CBC_New"));
        m_process = reinterpret_cast<PFN_XATE_CBC_Process>(dlsym(m_module, "XATE_CBC_Process"));
        m_free = reinterpret_cast<PFN_XATE_CBC_Free>(dlsym(m_module, "XATE_CBC_Free"));
        ASSERT_TRUE(m_new && m_process && m_free);
    }
    void TearDown() override
    {
        if (m_module != nullptr)
            dlclose(m_module);
    }
    void* m_module = nullptr;
    PFN_XATE_CBC_New m_new = nullptr;
    PFN_XATE_CBC_Process m_process = nullptr;
    PFN_XATE_CBC_Free m_free = nullptr;
};

TEST_F(AteLibrary, SeedVectorsOfRfc4269)
{
    // One block of CBC from a zero IV is the bare block cipher.
    const Bytes zero(16, 0);
    for (const SeedVector& v : kSeedVectors) {
        Bytes key = Hex(v.key), plain = Hex(v.plain), cipher = Hex(v.cipher), out(16);
        XATE_Cipher* enc = m_new(key.data(), 16, zero.data(), 16, 1);
        ASSERT_NE(enc, nullptr);
        ASSERT_EQ(m_process(enc, plain.data(), out.data(), 16), 0);
        EXPECT_EQ(out, cipher) << v.key;
        m_free(enc);
        XATE_Cipher* dec = m_new(key.data(), 16, zero.data(), 16, 0);
        ASSERT_EQ(m_process(dec, out.data(), out.data(), 16), 0);  // in place
        EXPECT_EQ(out, plain) << v.key;
        m_free(dec);
    }
}

TEST_F(AteLibrary, RefusesBadArguments)
{
    Bytes key(16), iv(16), data(32);
    EXPECT_EQ(m_new(key.data(), 15, iv.data(), 16, 1), nullptr);
    EXPECT_EQ(m_new(key.data(), 16, iv.data(), 8, 1), nullptr);
    EXPECT_EQ(m_new(nullptr, 16, iv.data(), 16, 1), nullptr);
    XATE_Cipher* c = m_new(key.data(), 16, iv.data(), 16, 1);
    EXPECT_EQ(m_process(c, data.data(), data.data(), 17), -1);
    EXPECT_EQ(m_process(nullptr, data.data(), data.data(), 16), -1);
    m_free(c);
    m_free(nullptr);
}

class AteRoundTrip : public ::testing::TestWithParam<size_t> {};

TEST_P(AteRoundTrip, PadAndBlockThroughTheDispatcher)
{
    size_t length = GetParam();
    Bytes key = Random(16, 11), plain = Random(length, 12);
    plain.resize(length + 16);
    Bytes out(length + 32), back(length + 32);
    int n = CPVCodec::SFPadEncryptEx(Chars(plain), Chars(out), Chars(key), static_cast<int>(length), ALG_ATE);
    ASSERT_EQ(n, static_cast<int>(16 * (length / 16 + 1)));
    EXPECT_EQ(CPVCodec::SFPadDecryptEx(Chars(out), Chars(back), Chars(key), n, ALG_ATE), static_cast<int>(length));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(length), back.begin()));

    // ATE differs from ARIA under the same key.
    Bytes aria(length + 32);
    ASSERT_EQ(CPVCodec::SFPadEncryptEx(Chars(plain), Chars(aria), Chars(key), static_cast<int>(length), ALG_ARIA), n);
    EXPECT_FALSE(std::equal(out.begin(), out.begin() + n, aria.begin()));

    size_t whole = length - length % 16;
    EXPECT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(Chars(plain), Chars(out), Chars(key), static_cast<unsigned>(whole),
                                                 ALG_ATE),
              static_cast<int>(whole));
    EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(Chars(out), Chars(back), Chars(key), static_cast<unsigned>(whole),
                                                 ALG_ATE),
              static_cast<int>(whole));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(whole), back.begin()));
}

INSTANTIATE_TEST_SUITE_P(Lengths, AteRoundTrip, ::testing::Values(0, 1, 16, 33, 1024, 3000));

// OpenSSL's SEED-CBC, from its legacy provider; null where that is missing.
class OpenSslSeed {
public:
    OpenSslSeed()
        : m_libctx(OSSL_LIB_CTX_new()), m_legacy(OSSL_PROVIDER_load(m_libctx, "legacy")),
          m_base(OSSL_PROVIDER_load(m_libctx, "default")),
          m_cipher(m_legacy != nullptr ? EVP_CIPHER_fetch(m_libctx, "SEED-CBC", nullptr) : nullptr)
    {
    }
    ~OpenSslSeed()
    {
        EVP_CIPHER_free(m_cipher);
        OSSL_PROVIDER_unload(m_legacy);
        OSSL_PROVIDER_unload(m_base);
        OSSL_LIB_CTX_free(m_libctx);
    }
    OpenSslSeed(const OpenSslSeed&) = delete;
    OpenSslSeed& operator=(const OpenSslSeed&) = delete;
    const EVP_CIPHER* Cipher() const { return m_cipher; }

private:
    OSSL_LIB_CTX* m_libctx;
    OSSL_PROVIDER* m_legacy;
    OSSL_PROVIDER* m_base;
    EVP_CIPHER* m_cipher;
};

TEST(Ate, MatchesOpenSslSeedCbcWhenAvailable)
{
    OpenSslSeed seed;
    if (seed.Cipher() == nullptr)
        GTEST_SKIP() << "OpenSSL's legacy provider (SEED) is not available";
    Bytes key = Random(16, 13), plain = Random(777, 14), out(800);
    plain.resize(800);
    int n = CPVCodec::SFPadEncryptEx(Chars(plain), Chars(out), Chars(key), 777, ALG_ATE);
    plain.resize(777);
    ASSERT_EQ(n, 784);
    out.resize(784);
    EXPECT_EQ(out, OpenSslCbc(seed.Cipher(), key, plain, true));
}

// A container body of either outside cipher is one CBC chain from its first
// block to its last, with the key as IV: the 1024-byte segments of an ATE
// body carry the chain on, where Rijndael's each start afresh from a zero
// IV. With the trailer the chain runs over the zero-filled last segment and
// the 15 trailer bytes, padded.
TEST(AriaAndAte, ContainerBodyIsOneChainWithTheKeyAsIv)
{
    OpenSslSeed seed;
    const struct {
        readercontainers::Form form;
        size_t size;
    } cases[] = {{readercontainers::Form::ExtendedA, 3000},
                 {readercontainers::Form::ExtendedT, 3000},
                 {readercontainers::Form::ExtendedT, 2040}};
    for (const auto& c : cases) {
        const bool aria = c.form == readercontainers::Form::ExtendedA;
        if (!aria && seed.Cipher() == nullptr) {
            std::printf("OpenSSL's legacy provider (SEED) is not available: the ATE bodies are left out\n");
            continue;
        }
        const readercontainers::Container& container = readercontainers::Make(c.form, c.size);
        const readercontainers::Bytes document = readercontainers::DocumentOf(c.size);
        Bytes plain(document.begin(), document.end());
        if (c.size % 1024 >= 1008) {
            const auto zeros = static_cast<unsigned char>(1024 - c.size % 1024);
            const unsigned char trailer[15] = {'V', 'Q', 'P', 'V', 'Z', 'P', zeros};
            plain.resize(plain.size() + zeros, 0);
            plain.insert(plain.end(), std::begin(trailer), std::end(trailer));
        }
        const Bytes key(readercontainers::kKey.begin(), readercontainers::kKey.end());
        const Bytes body(container.bytes.begin() + container.offset, container.bytes.end());
        EXPECT_EQ(body, OpenSslCbc(aria ? EVP_aria_128_cbc() : seed.Cipher(), key, plain, true))
            << readercontainers::FormName(c.form) << " " << c.size;
    }
}

}  // namespace
