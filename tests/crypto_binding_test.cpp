// The binding's answers when the outside library, or part of it, is
// missing: the forwarding members' fixed values, the wrappers' -1, the RSA
// functions' -2 and GenerateRSADocuKey's untouched buffer.
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "extcrypto/Aria.h"
#include "platform/Debug.h"
#include "platform/WideString.h"
#include "support/CryptoLibraryFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

char kKey[] = "0123456789abcdef";

// Collects the debugger output while it lives.
class DebugCapture {
public:
    DebugCapture()
    {
        plat::SetDebugOutputHook([this](std::u16string_view text) { m_texts.emplace_back(text); });
    }
    ~DebugCapture() { plat::SetDebugOutputHook({}); }
    const std::vector<std::u16string>& Texts() const { return m_texts; }

private:
    std::vector<std::u16string> m_texts;
};

TEST(Forwarding, NullAddressesGiveTheFixedValues)
{
    PVEDAriaMgr table;  // nothing bound
    EXPECT_EQ(table.Module(), nullptr);
    for (int i = 0; i < xecure::kExportCount; ++i)
        EXPECT_EQ(table.Address(i), nullptr);
    unsigned char buffer[32] = {};
    int32_t length = 12345;
    uint32_t param[13] = {};
    EXPECT_EQ(table.SFC_SKEY_SecretKey_New(), nullptr);
    EXPECT_EQ(table.SFC_CIPHER_CTX_New(), nullptr);
    EXPECT_EQ(table.SFC_PKEY_PrivateKey_New(), nullptr);
    EXPECT_EQ(table.SFC_PKEY_PublicKey_New(), nullptr);
    table.SFC_SKEY_SecretKey_Free(buffer);
    table.SFC_CIPHER_CTX_Free(buffer);
    table.SFC_PKEY_PrivateKey_Free(buffer);
    table.SFC_PKEY_PublicKey_Free(buffer);
    EXPECT_EQ(table.SFC_SKEY_SecretKey_FromBinary(nullptr, buffer, 22), 0);
    EXPECT_EQ(table.SFC_Cipher_Encrypt_Init(nullptr, nullptr, 12, param), 0);
    EXPECT_EQ(table.SFC_Cipher_Decrypt_Init(nullptr, nullptr, 12, param), 0);
    EXPECT_EQ(table.SFC_Cipher_Encrypt_Update(nullptr, buffer, &length, buffer, 16), 0);
    EXPECT_EQ(table.SFC_Cipher_Decrypt_Update(nullptr, buffer, &length, buffer, 16), 0);
    EXPECT_EQ(table.SFC_Cipher_Encrypt_Final(nullptr, buffer, &length), 0);
    EXPECT_EQ(table.SFC_Cipher_Decrypt_Final(nullptr, &length), 0);
    EXPECT_EQ(table.SFC_PKEY_Encrypt(buffer, &length, buffer, 16, 3, nullptr, 0, param), 0);
    EXPECT_EQ(table.SFC_PKEY_Decrypt(buffer, &length, buffer, 16, 3, nullptr, 0, param), 0);
    EXPECT_EQ(table.SFC_GetRandom(buffer, 16), 0);
    EXPECT_EQ(length, 12345);  // no length written
    EXPECT_EQ(table.SFC_PKEY_PublicKey_FromBinary(nullptr, buffer, 16), -2);
    EXPECT_EQ(table.SFC_PKEY_PrivateKey_FromBinary(nullptr, buffer, 16), -2);
    EXPECT_EQ(table.SFC_PKEY_ProveKeyPair(nullptr, nullptr, 0), -1);
    EXPECT_EQ(table.SFC_Cipher_Set_Path(32, "/x/XecureATE.dll"), -1);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](unsigned char b) { return b == 0; }));
}

TEST(Forwarding, LoadCryptoLibraryNeedsTheFirst21Exports)
{
    PVEDAriaMgr full;
    EXPECT_EQ(full.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_LIBRARY).c_str()), 1);
    for (int i = 0; i < xecure::kExportCount; ++i)
        EXPECT_NE(full.Address(i), nullptr) << xecure::kExportNames[i];

    PVEDAriaMgr withoutSetPath;
    EXPECT_EQ(withoutSetPath.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_NO_SET_PATH).c_str()), 1);
    EXPECT_EQ(withoutSetPath.Address(PVEDAriaMgr::kSetPath), nullptr);

    // One of the 21 missing: not bound, but the addresses found stay.
    PVEDAriaMgr withoutRandom;
    EXPECT_EQ(withoutRandom.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_CRYPTO_NO_RANDOM).c_str()), 0);
    EXPECT_EQ(withoutRandom.Address(PVEDAriaMgr::kGetRandom), nullptr);
    EXPECT_NE(withoutRandom.Address(PVEDAriaMgr::kPkeyEncrypt), nullptr);
    EXPECT_NE(withoutRandom.Address(PVEDAriaMgr::kSetPath), nullptr);

    PVEDAriaMgr nothing;
    EXPECT_EQ(nothing.LoadCryptoLibrary(nullptr), 0);
    EXPECT_EQ(nothing.LoadCryptoLibrary(u""), 0);
    EXPECT_EQ(nothing.LoadCryptoLibrary(u"/nonexistent/XecureCrypto.dll"), 0);
    EXPECT_EQ(nothing.Module(), nullptr);
    // A library with none of the exports.
    EXPECT_EQ(nothing.LoadCryptoLibrary(plat::Utf8ToUtf16(PVCODEC_TEST_ATE_LIBRARY).c_str()), 0);
    EXPECT_NE(nothing.Module(), nullptr);
}

TEST(NoLibrary, CipherOperationsAnswerMinusOne)
{
    CryptoLibraryFolders folders;  // nothing anywhere
    char in[64] = "some plain text that fills a few blocks of sixteen b";
    char out[96] = {};
    for (int alg : {ALG_ARIA, ALG_ATE}) {
        EXPECT_EQ(CPVCodec::SFMemoryBlockEncrypt16Ex(in, out, kKey, 48, alg), -1);
        EXPECT_EQ(CPVCodec::SFMemoryBlockDecrypt16Ex(in, out, kKey, 48, alg), -1);
        EXPECT_EQ(CPVCodec::SFPadEncryptEx(in, out, kKey, 40, alg), -1);
        EXPECT_EQ(CPVCodec::SFPadDecryptEx(in, out, kKey, 48, alg), -1);
    }
    EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](char c) { return c == 0; }));
    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), -1);
    EXPECT_EQ(aria.BlockEncrypt(in, 16, out), -1);
}

TEST(NoLibrary, RsaFunctionsAnswerMinusTwoAndRandomLeavesTheBuffer)
{
    CryptoLibraryFolders folders;
    DebugCapture debug;
    char key[64] = "not looked at: there is no library to read it";
    char in[32] = "message", out[512] = {};
    EXPECT_EQ(CPVCodec::SFRSAEncrypt(in, out, key, sizeof key, 7), -2);
    EXPECT_EQ(debug.Texts(), std::vector<std::u16string>{u"EncKey Error"});
    EXPECT_EQ(CPVCodec::SFRSADecrypt(in, out, key, sizeof key, 7), -2);
    EXPECT_EQ(CPVCodec::CheckRSAKey(key, sizeof key, key, sizeof key), -2);
    EXPECT_EQ(debug.Texts().size(), 1u);  // SFRSADecrypt and CheckRSAKey write nothing

    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '\x5a');
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(buffer, 16), 0);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](char c) { return c == '\x5a'; }));
}

TEST(PartialLibrary, RsaFunctionsUseTheExportsFound)
{
    CryptoLibraryFolders folders;
    folders.PutCryptoWithoutRandom(Folder::Exe);
    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), -1);  // one of the 21 is missing
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '\x5a');
    EXPECT_EQ(CPVCodec::GenerateRSADocuKey(buffer, 16), 0);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](char c) { return c == '\x5a'; }));
    // Key import is there: a key the library refuses gets its own code, not -2.
    char bad[32] = "definitely not a DER RSA key";
    int result = CPVCodec::CheckRSAKey(bad, sizeof bad, bad, sizeof bad);
    EXPECT_LT(result, 0);
    EXPECT_NE(result, -2);
}

}  // namespace
