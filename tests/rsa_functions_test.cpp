// The exported RSA functions, random document keys and key-pair checks,
// with keys made here by OpenSSL: RSAES-OAEP (SHA-1, MGF1-SHA-1) that
// OpenSSL reads back, the library's results passed on unchanged, and the
// exact trace and debugger lines.
#include "PVCodec.h"
#include "platform/Debug.h"
#include "standins/xecurecrypto/XecureCryptoCodes.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<char>;

struct KeyPair {
    EVP_PKEY* key = nullptr;
    Bytes spki, pkcs1Public, pkcs1Private, pkcs8;
};

template <typename Encode>
Bytes Der(Encode encode)
{
    unsigned char* data = nullptr;
    int n = encode(&data);
    EXPECT_GT(n, 16);
    Bytes out(data, data + (n > 0 ? n : 0));
    OPENSSL_free(data);
    return out;
}

KeyPair Make(unsigned bits)
{
    KeyPair pair;
    pair.key = EVP_RSA_gen(bits);
    EXPECT_NE(pair.key, nullptr);
    pair.spki = Der([&](unsigned char** p) { return i2d_PUBKEY(pair.key, p); });
    pair.pkcs1Public = Der([&](unsigned char** p) { return i2d_PublicKey(pair.key, p); });
    pair.pkcs1Private = Der([&](unsigned char** p) { return i2d_PrivateKey(pair.key, p); });
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(pair.key);
    pair.pkcs8 = Der([&](unsigned char** p) { return i2d_PKCS8_PRIV_KEY_INFO(info, p); });
    PKCS8_PRIV_KEY_INFO_free(info);
    return pair;
}

// Made once: key generation is the slow part.
const KeyPair& Main()
{
    static const KeyPair pair = Make(2048);
    return pair;
}
const KeyPair& Other()
{
    static const KeyPair pair = Make(1024);
    return pair;
}

Bytes OpenSslOaep(EVP_PKEY* key, const Bytes& in, bool encrypt)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t n = 0;
    bool ok = (encrypt ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx)) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
              EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha1()) == 1 && EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha1()) == 1;
    auto* from = reinterpret_cast<const unsigned char*>(in.data());
    ok = ok && (encrypt ? EVP_PKEY_encrypt(ctx, nullptr, &n, from, in.size())
                        : EVP_PKEY_decrypt(ctx, nullptr, &n, from, in.size())) == 1;
    Bytes out(n);
    auto* to = reinterpret_cast<unsigned char*>(out.data());
    ok = ok && (encrypt ? EVP_PKEY_encrypt(ctx, to, &n, from, in.size())
                        : EVP_PKEY_decrypt(ctx, to, &n, from, in.size())) == 1;
    EVP_PKEY_CTX_free(ctx);
    EXPECT_TRUE(ok);
    out.resize(ok ? n : 0);
    return out;
}

class DebugCapture {
public:
    DebugCapture() { plat::SetDebugOutputHook([this](std::u16string_view t) { texts.emplace_back(t); }); }
    ~DebugCapture() { plat::SetDebugOutputHook({}); }
    std::vector<std::u16string> texts;
};

Bytes Message(size_t n)
{
    Bytes m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = static_cast<char>('a' + i % 26);
    return m;
}

class RsaEncryptKeyFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(RsaEncryptKeyFormat, OpenSslDecryptsWhatSFRSAEncryptMade)
{
    Bytes pub = std::string(GetParam()) == "spki" ? Main().spki : Main().pkcs1Public;
    Bytes message = Message(32), out(512);
    TraceCapture trace;
    DebugCapture debug;
    int n = CPVCodec::SFRSAEncrypt(message.data(), out.data(), pub.data(), pub.size(), message.size());
    ASSERT_EQ(n, 256);  // the length the library reports: the modulus, not the input
    out.resize(256);
    EXPECT_EQ(OpenSslOaep(Main().key, out, false), message);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::SFRSAEncrypt() WATCH! Enter..[32]"});
    EXPECT_TRUE(debug.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, RsaEncryptKeyFormat, ::testing::Values("spki", "pkcs1"));

class RsaDecryptKeyFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(RsaDecryptKeyFormat, SFRSADecryptReadsWhatOpenSslMade)
{
    Bytes priv = std::string(GetParam()) == "pkcs8" ? Main().pkcs8 : Main().pkcs1Private;
    Bytes message = Message(214);  // the longest OAEP-SHA-1 message of a 2048-bit key
    Bytes cipher = OpenSslOaep(Main().key, message, true);
    Bytes out(512);
    TraceCapture trace;
    int n = CPVCodec::SFRSADecrypt(cipher.data(), out.data(), priv.data(), priv.size(), cipher.size());
    ASSERT_EQ(n, 214);
    out.resize(214);
    EXPECT_EQ(out, message);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::SFRSADecrypt() WATCH! Enter.."});
}

INSTANTIATE_TEST_SUITE_P(Formats, RsaDecryptKeyFormat, ::testing::Values("pkcs8", "pkcs1"));

TEST(Rsa, RoundTripOfADocumentKey)
{
    Bytes pub = Main().spki, priv = Main().pkcs8, key(16), cipher(512), back(512);
    ASSERT_EQ(CPVCodec::GenerateRSADocuKey(key.data(), 16), 0);
    ASSERT_EQ(CPVCodec::SFRSAEncrypt(key.data(), cipher.data(), pub.data(), pub.size(), 16), 256);
    ASSERT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), back.data(), priv.data(), priv.size(), 256), 16);
    back.resize(16);
    EXPECT_EQ(back, key);
}

TEST(Rsa, RefusedPublicKeyWritesEncKeyError)
{
    DebugCapture debug;
    Bytes garbage(64, 'x'), message = Message(8), out(512);
    EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), garbage.data(), garbage.size(), 8),
              xecure::SFC_ERR_KEY_FORMAT);
    // A private key is no public key.
    Bytes priv = Main().pkcs1Private;
    EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), priv.data(), priv.size(), 8),
              xecure::SFC_ERR_KEY_FORMAT);
    // A cut key is refused, not read past its length.
    Bytes cut = Main().spki;
    EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), cut.data(), cut.size() - 1, 8),
              xecure::SFC_ERR_KEY_FORMAT);
    EXPECT_EQ(debug.texts, (std::vector<std::u16string>{u"EncKey Error", u"EncKey Error", u"EncKey Error"}));
}

// Bytes placed where readable memory ends: a read past them faults.
class AtPageEnd {
public:
    explicit AtPageEnd(const Bytes& bytes) : m_page(static_cast<size_t>(::sysconf(_SC_PAGESIZE)))
    {
        m_map = static_cast<char*>(
            ::mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(m_map, MAP_FAILED);
        EXPECT_EQ(::mprotect(m_map + m_page, m_page, PROT_NONE), 0);
        m_data = m_map + m_page - bytes.size();
        if (!bytes.empty())
            std::memcpy(m_data, bytes.data(), bytes.size());
    }
    ~AtPageEnd() { ::munmap(m_map, 2 * m_page); }
    AtPageEnd(const AtPageEnd&) = delete;
    AtPageEnd& operator=(const AtPageEnd&) = delete;
    char* data() const { return m_data; }

private:
    size_t m_page;
    char* m_map = nullptr;
    char* m_data = nullptr;
};

// Keys shorter than a cipher key (16 bytes): read only within their length,
// and refused by the library as any key it cannot read.
TEST(Rsa, ShortKeysAreRefusedWithinTheirLength)
{
    struct Case {
        size_t length;
        int expected;
    };
    const Case cases[] = {{0, xecure::SFC_ERR_ARGUMENT},
                          {1, xecure::SFC_ERR_KEY_FORMAT},
                          {4, xecure::SFC_ERR_KEY_FORMAT},
                          {15, xecure::SFC_ERR_KEY_FORMAT}};
    Bytes message = Message(8), cipher = OpenSslOaep(Main().key, message, true), out(512);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        AtPageEnd pub(Bytes(Main().spki.begin(), Main().spki.begin() + static_cast<long>(c.length)));
        AtPageEnd priv(Bytes(Main().pkcs8.begin(), Main().pkcs8.begin() + static_cast<long>(c.length)));
        DebugCapture debug;
        EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), pub.data(), c.length, message.size()),
                  c.expected);
        EXPECT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), priv.data(), c.length, cipher.size()),
                  c.expected);
        EXPECT_EQ(CPVCodec::CheckRSAKey(pub.data(), c.length, priv.data(), c.length), c.expected);
        EXPECT_EQ(debug.texts, std::vector<std::u16string>{u"EncKey Error"});
    }
}

TEST(Rsa, EncryptionRefusedWritesEncryptError)
{
    DebugCapture debug;
    Bytes pub = Main().spki, message = Message(215), out(512);  // one byte too long for OAEP
    EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), pub.data(), pub.size(), message.size()),
              xecure::SFC_ERR_CRYPTO);
    EXPECT_EQ(debug.texts, std::vector<std::u16string>{u"Encrypt Error"});
}

TEST(Rsa, DecryptFailuresWriteNoDebuggerLine)
{
    DebugCapture debug;
    Bytes garbage(64, 'y'), cipher = OpenSslOaep(Main().key, Message(10), true), out(512);
    EXPECT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), garbage.data(), garbage.size(), cipher.size()),
              xecure::SFC_ERR_KEY_FORMAT);
    Bytes wrong = Other().pkcs8;
    EXPECT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), wrong.data(), wrong.size(), cipher.size()),
              xecure::SFC_ERR_CRYPTO);
    Bytes right = Main().pkcs8;
    cipher[100] ^= 1;
    EXPECT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), right.data(), right.size(), cipher.size()),
              xecure::SFC_ERR_CRYPTO);
    EXPECT_TRUE(debug.texts.empty());
}

enum class KeyBytes { MainSpki, MainPkcs1Public, MainPkcs1Private, MainPkcs8, OtherPkcs8, Garbage };

Bytes Select(KeyBytes which)
{
    switch (which) {
    case KeyBytes::MainSpki: return Main().spki;
    case KeyBytes::MainPkcs1Public: return Main().pkcs1Public;
    case KeyBytes::MainPkcs1Private: return Main().pkcs1Private;
    case KeyBytes::MainPkcs8: return Main().pkcs8;
    case KeyBytes::OtherPkcs8: return Other().pkcs8;
    case KeyBytes::Garbage: break;
    }
    return Bytes(40, 'z');
}

struct CheckCase {
    const char* name;
    KeyBytes publicKey;
    KeyBytes privateKey;
    int expected;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckRsaKey : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckRsaKey, ReturnsWhatTheLibraryAnswers)
{
    const CheckCase& c = GetParam();
    Bytes pub = Select(c.publicKey), priv = Select(c.privateKey);
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::CheckRSAKey(pub.data(), pub.size(), priv.data(), priv.size()), c.expected);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::CheckRSAKey() WATCH! Enter.."});
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CheckRsaKey,
    ::testing::Values(CheckCase{"SpkiWithPkcs8", KeyBytes::MainSpki, KeyBytes::MainPkcs8, 0},
                      CheckCase{"Pkcs1WithPkcs1", KeyBytes::MainPkcs1Public, KeyBytes::MainPkcs1Private, 0},
                      CheckCase{"Mismatched", KeyBytes::MainSpki, KeyBytes::OtherPkcs8, xecure::SFC_ERR_KEY_MISMATCH},
                      CheckCase{"BadPublicKey", KeyBytes::Garbage, KeyBytes::MainPkcs8, xecure::SFC_ERR_KEY_FORMAT},
                      CheckCase{"BadPrivateKey", KeyBytes::MainSpki, KeyBytes::Garbage, xecure::SFC_ERR_KEY_FORMAT},
                      CheckCase{"PrivateKeyAsPublic", KeyBytes::MainPkcs8, KeyBytes::MainPkcs8, xecure::SFC_ERR_KEY_FORMAT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DocumentKey, RandomBytesFromTheLibrary)
{
    TraceCapture trace;
    char a[16] = {}, b[16] = {};
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(a, 16), 0);
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(b, 16), 0);
    EXPECT_NE(std::string(a, 16), std::string(b, 16));
    EXPECT_NE(std::string(a, 16), std::string(16, '\0'));
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(a, 0), 0);
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(a, -1), xecure::SFC_ERR_ARGUMENT);  // the library's result, passed on
    ASSERT_EQ(trace.Lines().size(), 4u);
    EXPECT_EQ(trace.Lines()[0], "[PVCodec.dll]CPVCodec::GenerateRSADocuKey() WATCH! Enter..");
}

}  // namespace
