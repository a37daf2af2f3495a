// The outside crypto library's binding, and RSAES-OAEP (SHA-1) on it against the reference, with or without the library.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "extcrypto/Aria.h"
#include "platform/Debug.h"
#include "platform/WideString.h"
#include "standins/xecurecrypto/XecureCryptoCodes.h"
#include "support/CryptoLibraryFolders.h"
#include "support/OpenSslKeys.h"
#include "support/PageEnd.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using Bytes = std::vector<char>;
using Texts = std::vector<std::u16string>;
char kKey[] = "0123456789abcdef";

// The debugger output while it lives.
struct DebugCapture {
    DebugCapture() { plat::SetDebugOutputHook([this](std::u16string_view t) { texts.emplace_back(t); }); }
    ~DebugCapture() { plat::SetDebugOutputHook({}); }
    Texts texts;
};

TEST(Forwarding, LoadCryptoLibraryNeedsTheFirst21Exports)
{
    PVEDAriaMgr full, withoutSetPath, withoutRandom, nothing;
    EXPECT_EQ(full.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_LIBRARY).c_str()), 1);
    for (int i = 0; i < xecure::kExportCount; ++i)
        EXPECT_NE(full.Address(i), nullptr) << xecure::kExportNames[i];
    EXPECT_EQ(withoutSetPath.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_NO_SET_PATH).c_str()), 1);
    EXPECT_EQ(withoutSetPath.Address(PVEDAriaMgr::kSetPath), nullptr);
    // One of the 21 missing: not bound, but the addresses found stay.
    EXPECT_EQ(withoutRandom.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_NO_RANDOM).c_str()), 0);
    EXPECT_EQ(withoutRandom.Address(PVEDAriaMgr::kGetRandom), nullptr);
    EXPECT_NE(withoutRandom.Address(PVEDAriaMgr::kPkeyEncrypt), nullptr);
    EXPECT_NE(withoutRandom.Address(PVEDAriaMgr::kSetPath), nullptr);
    for (const char16_t* path : {static_cast<const char16_t*>(nullptr), u"", u"/nonexistent/XecureCrypto.dll"})
        EXPECT_EQ(nothing.LoadCryptoLibrary(path), 0);
    EXPECT_EQ(nothing.Module(), nullptr);
    EXPECT_EQ(nothing.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_ATE_LIBRARY).c_str()),
              0);  // none of the exports
    EXPECT_NE(nothing.Module(), nullptr);
}

// No library anywhere, or one without SFC_GetRandom (the other exports used).
TEST(MissingLibrary, CiphersAnswerMinusOneRsaMinusTwoAndRandomLeavesTheBuffer)
{
    for (bool partial : {false, true}) {
        SCOPED_TRACE(partial ? "without SFC_GetRandom" : "no library");
        CryptoLibraryFolders folders;
        if (partial)
            folders.PutCryptoWithoutRandom(Folder::Exe);
        char in[64] = "some plain text that fills a few blocks of sixteen b", out[512] = {};
        for (int alg : {ALG_ARIA, ALG_ATE}) {
            EXPECT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(in, out, kKey, 48, alg), -1);
            EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(in, out, kKey, 48, alg), -1);
            EXPECT_EQ(CPVCodec::SFPadEncryptEx(in, out, kKey, 40, alg), -1);
            EXPECT_EQ(CPVCodec::SFPadDecryptEx(in, out, kKey, 48, alg), -1);
        }
        EXPECT_TRUE(std::ranges::all_of(out, [](char c) { return c == 0; }));
        CAria aria;
        EXPECT_EQ(aria.Init(1, kKey), -1);
        EXPECT_EQ(aria.BlockEncrypt(in, 16, out), -1);
        char buffer[16];
        std::ranges::fill(buffer, '\x5a');
        EXPECT_EQ(CPVCodec::GenerateRSADocuKey(buffer, 16), 0);
        EXPECT_TRUE(std::ranges::all_of(buffer, [](char c) { return c == '\x5a'; }));
        DebugCapture debug;
        char key[64] = "not a DER RSA key";
        const int expected = partial ? xecure::SFC_ERR_KEY_FORMAT : -2;  // key import is there: the library's code
        EXPECT_EQ(CPVCodec::SFRSAEncrypt(in, out, key, sizeof key, 7), expected);
        EXPECT_EQ(CPVCodec::SFRSADecrypt(in, out, key, sizeof key, 7), expected);
        EXPECT_EQ(CPVCodec::CheckRSAKey(key, sizeof key, key, sizeof key), expected);
        EXPECT_EQ(debug.texts, Texts{u"EncKey Error"});  // SFRSADecrypt and CheckRSAKey write nothing
    }
}

// ---- RSA with keys -----------------------------------------------------------

using reference::KeyPair;
const KeyPair& Pair(unsigned bits) { return reference::RsaPair(bits); }
const KeyPair& Main() { return Pair(2048); }

Bytes Oaep(const Bytes& in, bool encrypt)
{
    Bytes out = reference::Oaep(Main(), in, encrypt);
    EXPECT_FALSE(out.empty());
    return out;
}

Bytes Message(size_t n) { return Bytes(n, 'm'); }

TEST(Rsa, OaepBothWaysInEveryKeyFormatWithTheTraceLines)
{
    for (const Bytes* pub : {&Main().spki, &Main().pkcs1Public}) {
        Bytes message = Message(32), out(512), key = *pub;
        TraceCapture trace;
        DebugCapture debug;
        ASSERT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), key.data(), key.size(), 32), 256);  // the modulus
        out.resize(256);
        EXPECT_EQ(Oaep(out, false), message);
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::SFRSAEncrypt() WATCH! Enter..[32]"});
        EXPECT_TRUE(debug.texts.empty());
    }
    for (const Bytes* priv : {&Main().pkcs8, &Main().pkcs1Private}) {
        Bytes message = Message(214), cipher = Oaep(message, true), out(512),
              key = *priv;  // the longest message
        TraceCapture trace;
        ASSERT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), key.data(), key.size(), cipher.size()), 214);
        out.resize(214);
        EXPECT_EQ(out, message);
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::SFRSADecrypt() WATCH! Enter.."});
    }
    Bytes key(16), back(16);
    TraceCapture trace;
    ASSERT_EQ(CPVCodec::GenerateRSADocuKey(key.data(), 16), 0);
    ASSERT_EQ(CPVCodec::GenerateRSADocuKey(back.data(), 16), 0);
    EXPECT_NE(key, Bytes(16, 0));
    EXPECT_NE(key, back);
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(key.data(), 0), 0);
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(key.data(), -1), xecure::SFC_ERR_ARGUMENT);  // the library's, passed on
    EXPECT_EQ(trace.Lines(), std::vector<std::string>(4, "[PVCodec.dll]CPVCodec::GenerateRSADocuKey() WATCH! Enter.."));
}

int Encrypt(const Bytes& key, size_t keyLength, size_t messageLength)
{
    Bytes message = Message(messageLength), out(512), copy = key;
    return CPVCodec::SFRSAEncrypt(message.data(), out.data(), copy.data(), keyLength, messageLength);
}
int Decrypt(const Bytes& key, size_t damaged = 0)
{
    Bytes cipher = Oaep(Message(8), true), out(512), copy = key;
    cipher[damaged] ^= static_cast<char>(damaged != 0);
    return CPVCodec::SFRSADecrypt(cipher.data(), out.data(), copy.data(), copy.size(), cipher.size());
}
int Check(const Bytes& publicKey, const Bytes& privateKey)
{
    Bytes pub = publicKey, priv = privateKey;
    TraceCapture trace;
    const int result = CPVCodec::CheckRSAKey(pub.data(), pub.size(), priv.data(), priv.size());
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::CheckRSAKey() WATCH! Enter.."});
    return result;
}

// The library's answer passed on; a debugger line only from SFRSAEncrypt; short keys read within their length.
TEST(Rsa, RefusalsPassOnTheLibrarysCode)
{
    const Bytes garbage(64, 'z');
    const KeyPair& key = Main();
    // One thing wrong in a key's DER (offsets in a 2048-bit key's encoding).
    auto with = [](Bytes der, size_t at, char value) {
        der[at] = value;
        return der;
    };
    auto refusedPublic = [&](const Bytes& der) { return Encrypt(der, der.size(), 8); };
    Bytes trailing = key.spki, longLength = with(key.pkcs1Public, 1, '\x83');
    trailing.push_back(0);
    longLength.insert(longLength.begin() + 2, 0);  // a length in three bytes where two do
    Bytes huge = {0x30, '\x82', 0x08, 0x0b, 0x02, '\x82', 0x08, 0x02, 0x00};  // a modulus of 16392 bits
    huge.resize(huge.size() + 2049, '\xff');
    huge.insert(huge.end(), {0x02, 0x03, 0x01, 0x00, 0x01});
    const struct {
        std::function<int()> call;
        int expected;
        const char16_t* debug;
    } cases[] = {
        {[&] { return Encrypt(garbage, 64, 8); }, xecure::SFC_ERR_KEY_FORMAT, u"EncKey Error"},
        {[&] { return Encrypt(key.pkcs1Private, key.pkcs1Private.size(), 8); }, xecure::SFC_ERR_KEY_FORMAT,
         u"EncKey Error"},
        {[&] { return Encrypt(key.spki, key.spki.size() - 1, 8); }, xecure::SFC_ERR_KEY_FORMAT, u"EncKey Error"},
        {[&] { return Encrypt(key.spki, key.spki.size(), 215); }, xecure::SFC_ERR_CRYPTO,
         u"Encrypt Error"},  // too long
        {[&] { return Decrypt(garbage); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},
        {[&] { return Decrypt(Pair(1024).pkcs8); }, xecure::SFC_ERR_CRYPTO, nullptr},
        {[&] { return Decrypt(key.pkcs8, 100); }, xecure::SFC_ERR_CRYPTO, nullptr},  // a damaged cipher text
        {[&] { return Check(key.spki, key.pkcs8); }, 0, nullptr},
        {[&] { return Check(key.pkcs1Public, key.pkcs1Private); }, 0, nullptr},
        {[&] { return Check(key.spki, Pair(1024).pkcs8); }, xecure::SFC_ERR_KEY_MISMATCH, nullptr},
        {[&] { return Check(garbage, key.pkcs8); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},
        {[&] { return Check(key.spki, garbage); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},
        {[&] { return Check(key.pkcs8, key.pkcs8); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},
        {[&] { return refusedPublic(trailing); }, xecure::SFC_ERR_KEY_FORMAT, u"EncKey Error"},
        {[&] { return refusedPublic(longLength); }, xecure::SFC_ERR_KEY_FORMAT, u"EncKey Error"},
        {[&] { return refusedPublic(with(key.spki, 16, 0x0a)); }, xecure::SFC_ERR_KEY_FORMAT,
         u"EncKey Error"},  // RSASSA-PSS
        {[&] { return refusedPublic(with(key.spki, 23, 1)); }, xecure::SFC_ERR_KEY_FORMAT,
         u"EncKey Error"},  // a bit string of no whole bytes
        {[&] { return refusedPublic(with(key.pkcs1Public, 8, '\xff')); }, xecure::SFC_ERR_KEY_FORMAT,
         u"EncKey Error"},  // a negative modulus
        {[&] { return refusedPublic(huge); }, xecure::SFC_ERR_CRYPTO, u"Encrypt Error"},  // taken, but not used
        {[&] { return Decrypt(with(key.pkcs8, 6, 2)); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},  // version 2
        {[&] { return Decrypt(with(key.pkcs1Private, 6, 1)); }, xecure::SFC_ERR_KEY_FORMAT, nullptr},  // more primes
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        DebugCapture debug;
        EXPECT_EQ(cases[i].call(), cases[i].expected);
        EXPECT_EQ(debug.texts, cases[i].debug != nullptr ? Texts{cases[i].debug} : Texts{});
    }
    Bytes message = Message(8), cipher = Oaep(message, true), out(512);
    for (size_t length : {0, 1, 4, 15}) {
        SCOPED_TRACE(length);
        const int expected = length == 0 ? xecure::SFC_ERR_ARGUMENT : xecure::SFC_ERR_KEY_FORMAT;
        AtPageEnd pub(key.spki, length), priv(key.pkcs8, length);
        DebugCapture debug;
        EXPECT_EQ(CPVCodec::SFRSAEncrypt(message.data(), out.data(), pub.data(), length, message.size()), expected);
        EXPECT_EQ(CPVCodec::SFRSADecrypt(cipher.data(), out.data(), priv.data(), length, cipher.size()), expected);
        EXPECT_EQ(CPVCodec::CheckRSAKey(pub.data(), length, priv.data(), length), expected);
        EXPECT_EQ(debug.texts, Texts{u"EncKey Error"});
    }
}

}  // namespace
