// pvcodec rsa and pvcodec genkey: RSA encryption and decryption, key-pair
// checks and random document keys, all done by the outside crypto library
// through the codec's RSA functions.
#include "Commands.h"
#include "System.h"

#include <PVCodec.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace cli {
namespace {

constexpr size_t kMaxKeyFile = 1 << 20;
// RSA output is one modulus long (at most 16384 bits here); no capacity is
// passed to the library, so the buffer is made larger than any modulus.
constexpr size_t kMinOutput = 4096;
constexpr size_t kMaxRsaInput = 1 << 20;
constexpr int kDocumentKeyLength = 16;
constexpr int kLibraryMissing = -2;

// The key bytes, padded with zeros to at least 16 bytes: the codec reads 16
// bytes of the key buffer whatever the key's length.
std::optional<std::vector<char>> ReadKeyFile(const std::string& path, size_t& length)
{
    std::ifstream in(sys::FsPath(path), std::ios::binary);
    if (!in) {
        Fail("cannot read key file " + path);
        return std::nullopt;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > kMaxKeyFile) {
        Fail("key file " + path + " is empty or too large");
        return std::nullopt;
    }
    length = bytes.size();
    bytes.resize(std::max<size_t>(bytes.size(), 16), 0);
    return bytes;
}

std::string Describe(int code)
{
    if (code == kLibraryMissing)
        return "outside crypto library XecureCrypto.dll not found (code -2)";
    return "refused by the outside crypto library (code " + std::to_string(code) + ")";
}

int RunRsa(bool encrypt, const std::string& keyPath)
{
    size_t keyLength = 0;
    auto key = ReadKeyFile(keyPath, keyLength);
    if (!key)
        return 2;
    std::string input = ReadAllStdin();
    if (input.size() > kMaxRsaInput) {
        Fail("input too large for RSA (" + std::to_string(input.size()) + " bytes)");
        return 2;
    }
    std::vector<char> in(input.begin(), input.end());
    in.resize(std::max<size_t>(in.size(), 1));
    std::vector<char> output(std::max(kMinOutput, input.size() + kMinOutput));
    int n = encrypt ? CPVCodec::SFRSAEncrypt(in.data(), output.data(), key->data(), keyLength, input.size())
                    : CPVCodec::SFRSADecrypt(in.data(), output.data(), key->data(), keyLength, input.size());
    std::fill(key->begin(), key->end(), 0);
    if (n < 0) {
        Fail(std::string(encrypt ? "RSA encryption" : "RSA decryption") + " failed: " + Describe(n));
        return 1;
    }
    if (static_cast<size_t>(n) > output.size()) {
        Fail("the crypto library reported an impossible length");
        return 1;
    }
    bool written = WriteAllStdout(output.data(), static_cast<size_t>(n));
    std::fill(output.begin(), output.end(), 0);
    if (!written) {
        Fail("cannot write standard output");
        return 1;
    }
    return 0;
}

int RunCheck(const std::string& publicPath, const std::string& privatePath)
{
    size_t publicLength = 0, privateLength = 0;
    auto publicKey = ReadKeyFile(publicPath, publicLength);
    if (!publicKey)
        return 2;
    auto privateKey = ReadKeyFile(privatePath, privateLength);
    if (!privateKey)
        return 2;
    int result = CPVCodec::CheckRSAKey(publicKey->data(), publicLength, privateKey->data(), privateLength);
    std::fill(privateKey->begin(), privateKey->end(), 0);
    if (result == 0) {
        std::puts("the keys form a pair");
        return 0;
    }
    Fail("the keys do not form a pair: " + Describe(result));
    return 1;
}

int RunGenkey(const std::string& outPath)
{
    char key[kDocumentKeyLength] = {};
    int result = CPVCodec::GenerateRSADocuKey(key, kDocumentKeyLength);
    // Without the library the call answers 0 and leaves the buffer alone;
    // sixteen random zero bytes are not to be expected otherwise.
    if (result != 0 || std::all_of(std::begin(key), std::end(key), [](char c) { return c == 0; })) {
        Fail(result != 0 ? "random bytes failed: " + Describe(result)
                         : "no random bytes: outside crypto library XecureCrypto.dll not found");
        return 1;
    }
    int status = 0;
    if (outPath.empty()) {
        static const char digits[] = "0123456789abcdef";
        std::string hex;
        for (char c : key) {
            hex.push_back(digits[static_cast<unsigned char>(c) >> 4]);
            hex.push_back(digits[static_cast<unsigned char>(c) & 15]);
        }
        hex.push_back('\n');
        if (!WriteAllStdout(hex.data(), hex.size())) {
            Fail("cannot write standard output");
            status = 1;
        }
        std::fill(hex.begin(), hex.end(), 0);
    } else {
        const int fd = sys::OpenFile(outPath, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            Fail("cannot create " + outPath + ": " + std::strerror(errno) +
                 (errno == EEXIST ? " (an existing key file is never overwritten)" : ""));
            status = 1;
        } else {
            bool ok = sys::WriteAll(fd, key, sizeof key);
            ok = sys::CloseFile(fd) && ok;
            if (!ok) {
                Fail("cannot write " + outPath);
                sys::RemoveFile(outPath);
                status = 1;
            }
        }
    }
    std::fill(std::begin(key), std::end(key), 0);
    return status;
}

}  // namespace

void AddRsaCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* rsa = app.add_subcommand("rsa", "RSA-OAEP through the outside crypto library (DER keys)");
    rsa->require_subcommand(1);
    for (bool encrypt : {true, false}) {
        auto keyPath = std::make_shared<std::string>();
        CLI::App* sub = rsa->add_subcommand(encrypt ? "encrypt" : "decrypt",
                                            encrypt ? "Encrypt standard input with a public key"
                                                    : "Decrypt standard input with a private key");
        sub->add_option("--key", *keyPath, encrypt ? "Public key (DER: SubjectPublicKeyInfo or PKCS#1)"
                                                   : "Private key (DER: PKCS#8 or PKCS#1)")
            ->required();
        sub->callback([keyPath, encrypt, &exitStatus] { exitStatus = RunRsa(encrypt, *keyPath); });
    }
    auto paths = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* check = rsa->add_subcommand("check", "Check that a public and a private key form a pair");
    check->add_option("public", paths->first, "Public key file (DER)")->required();
    check->add_option("private", paths->second, "Private key file (DER)")->required();
    check->callback([paths, &exitStatus] { exitStatus = RunCheck(paths->first, paths->second); });
}

void AddGenkeyCommand(CLI::App& app, int& exitStatus)
{
    auto outPath = std::make_shared<std::string>();
    CLI::App* genkey = app.add_subcommand("genkey", "Make a random 16-byte document key");
    genkey->add_option("--out", *outPath, "Write the 16 bytes to this new file (mode 0600) instead of hex on stdout");
    genkey->callback([outPath, &exitStatus] { exitStatus = RunGenkey(*outPath); });
}

}  // namespace cli
