// Writes the seed corpora of the fuzz targets into <folder>/<target>/, from
// the library itself: containers of both header forms and all three ciphers,
// with full-segment, padded and trailer endings (the memory writer, with the
// key the targets use); raw buffers enciphered by the raw functions; RSA keys
// in each encoding the outside library reads, with ciphertexts, and alone for
// the DER reader; and .reg files in both encodings holding the values the
// library reads. Built and run at build time, so that the repository keeps
// no binary seeds.
#include "FuzzSupport.h"

#include "PVCodec.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <functional>

namespace {

using Bytes = std::string;

std::string g_root;
int g_written = 0;

void Put(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::string folder = g_root + "/" + target;
    std::filesystem::create_directories(folder);
    fuzz::WriteFile(folder + "/" + name, bytes.data(), bytes.size());
    ++g_written;
}

Bytes Int32(int32_t value)
{
    Bytes out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
    return out;
}

Bytes Document(size_t size)
{
    Bytes document(size, '\0');
    for (size_t i = 0; i < size; ++i)
        document[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return document;
}

// ---- Containers

struct Form {
    const char* name;
    unsigned mode;  // header mode of the writer
    bool bare;      // the default form's body alone (the writers refuse most
                    // bare bodies: their size check counts a header)
    char tag;       // extended form
};

const Form kForms[] = {
    {"bare", 0, true, 0},          {"default", 0, false, 0},      {"caller", 1, false, 0},
    {"extended-R", 2, false, 'R'}, {"extended-A", 2, false, 'A'}, {"extended-T", 2, false, 'T'},
};

// Full segments, padded tails, and the tails that end in the trailer.
const size_t kSizes[] = {0, 1, 16, 17, 1007, 1008, 1016, 1023, 1024, 1025, 2040, 2048, 3000};

void Containers()
{
    const Bytes header("hdr\0\1\2opaque", 12);
    const int n = static_cast<int>(header.size());
    for (const Form& form : kForms) {
        Bytes prefix = form.mode == 1 ? Bytes("VQPVA003\0\0", 10) : Bytes("VQPVA004\0x", 10);
        if (form.mode == 2) {
            prefix.push_back(form.tag);
            for (int i = 11; i < 92; ++i)
                prefix.push_back(static_cast<char>(i));
        }
        for (size_t size : kSizes) {
            const Bytes document = Document(size);
            Bytes image(32 + 92 + header.size() + size + 64, '\0');
            std::copy(document.begin(), document.end(), image.begin() + 32);
            int length = -1;
            Bytes headerCopy = header;
            if (CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(size), &length, fuzz::kKey,
                                                  headerCopy.data(), n, form.mode,
                                                  form.mode == 0 ? nullptr : prefix.data()) != 1)
                continue;  // ARIA refuses an empty document; a cipher may be missing
            const int offset = form.mode == 2 ? 92 + n : 14 + n;
            const Bytes written = image.substr(32, static_cast<size_t>(length));
            const Bytes seed = form.bare ? Int32(0) + written.substr(static_cast<size_t>(offset))
                                         : Int32(offset) + written;
            const std::string name = std::string(form.name) + "-" + std::to_string(size);
            for (const char* target : {"decrypt_memory", "file_to_memory", "file_decryption", "inspect"})
                Put(target, name, seed);
        }
    }
}

// ---- Raw buffers: selector (function), algorithm, bytes

void RawBuffers()
{
    for (int algorithm : {0, 1, 2}) {
        for (size_t size : {size_t{0}, size_t{5}, size_t{16}, size_t{33}, size_t{64}}) {
            Bytes plain = Document(size);
            Bytes padded(size + 16, '\0'), blocks(size, '\0');
            const int p = CPVCodec::SFPadEncryptEx(plain.data(), padded.data(), fuzz::kKey, static_cast<int>(size),
                                                   algorithm);
            const int b = CPVCodec::SFMemoryBlockEncrypt16Ex(plain.data(), blocks.data(), fuzz::kKey,
                                                              static_cast<unsigned>(size), algorithm);
            const std::string suffix = "-alg" + std::to_string(algorithm) + "-" + std::to_string(size);
            const Bytes alg(1, static_cast<char>(algorithm));
            for (char function : {0, 2, 4, 6})  // the encrypting ones, Ex and from the setting
                Put("raw_buffer", "plain-f" + std::to_string(int{function}) + suffix, Bytes(1, function) + alg + plain);
            if (p > 0)
                Put("raw_buffer", "padded" + suffix, Bytes(1, 3) + alg + padded.substr(0, static_cast<size_t>(p)));
            if (b > 0)
                Put("raw_buffer", "blocks" + suffix, Bytes(1, 1) + alg + blocks.substr(0, static_cast<size_t>(b)));
        }
    }
}

// ---- RSA: selector, key length (2 bytes), key, input

Bytes Der(const std::function<int(unsigned char**)>& encode)
{
    unsigned char* data = nullptr;
    const int n = encode(&data);
    Bytes out(n > 0 ? reinterpret_cast<char*>(data) : "", n > 0 ? static_cast<size_t>(n) : 0);
    OPENSSL_free(data);
    return out;
}

Bytes RsaSeed(int selector, const Bytes& key, const Bytes& rest)
{
    const auto length = static_cast<uint16_t>(key.size());
    return Bytes(1, static_cast<char>(selector)) + static_cast<char>(length & 0xFF) + static_cast<char>(length >> 8) +
           key + rest;
}

void RsaKeys()
{
    EVP_PKEY* pair = EVP_RSA_gen(1024);  // small: each fuzzed call runs the key's operations
    if (pair == nullptr)
        return;
    const Bytes spki = Der([&](unsigned char** p) { return i2d_PUBKEY(pair, p); });
    const Bytes pkcs1Public = Der([&](unsigned char** p) { return i2d_PublicKey(pair, p); });
    const Bytes pkcs1Private = Der([&](unsigned char** p) { return i2d_PrivateKey(pair, p); });
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(pair);
    const Bytes pkcs8 = Der([&](unsigned char** p) { return i2d_PKCS8_PRIV_KEY_INFO(info, p); });
    PKCS8_PRIV_KEY_INFO_free(info);
    EVP_PKEY_free(pair);

    Bytes message = Document(16);
    Bytes cipher(256, '\0');
    const int c = CPVCodec::SFRSAEncrypt(message.data(), cipher.data(), const_cast<char*>(spki.data()), spki.size(),
                                         message.size());
    cipher.resize(c > 0 ? static_cast<size_t>(c) : 0);
    Put("rsa", "encrypt-spki", RsaSeed(0, spki, message));
    Put("rsa", "encrypt-pkcs1", RsaSeed(0, pkcs1Public, message));
    Put("rsa", "decrypt-pkcs8", RsaSeed(1, pkcs8, cipher));
    Put("rsa", "decrypt-pkcs1", RsaSeed(1, pkcs1Private, cipher));
    Put("rsa", "check-spki-pkcs8", RsaSeed(2, spki, pkcs8));
    Put("rsa", "check-pkcs1", RsaSeed(2, pkcs1Public, pkcs1Private));
    Put("rsa", "short-key", RsaSeed(1, spki.substr(0, 4), cipher));
    // The DER reader alone: a selector byte (0 public, 1 private), then the key.
    Put("der_key", "spki", '\0' + spki);
    Put("der_key", "pkcs1-public", '\0' + pkcs1Public);
    Put("der_key", "pkcs8", '\1' + pkcs8);
    Put("der_key", "pkcs1-private", '\1' + pkcs1Private);
}

// ---- Registry files

const char kRegistryText[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\r\n"
    "\"ALG\"=dword:00000001\r\n"
    "\"Other\"=hex(7):41,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\PVDirectory]\r\n"
    "\"PVVPVPath\"=\"C:\\\\Program Files\\\\Velquist\\\\VPV\"\r\n"
    "@=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\r\n"
    "\"IconsOnly\"=dword:00000000\r\n"
    "\"Removed\"=-\r\n"
    "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
    "; a comment\r\n";

void RegistryFiles()
{
    const Bytes utf8 = kRegistryText;
    Put("registry", "utf8", utf8);
    Put("registry", "utf8-bom", "\xEF\xBB\xBF" + utf8);
    Bytes utf16 = "\xFF\xFE";
    for (char c : utf8) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    Put("registry", "utf16", utf16);
    Put("registry", "regedit4", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\PVDirectory]\n\"PVVPVPath\"=\"\"\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    fuzz::IsolateRegistry();
    Containers();
    RawBuffers();
    RsaKeys();
    RegistryFiles();
    std::printf("%d seeds in %s\n", g_written, g_root.c_str());
    return g_written > 0 ? 0 : 1;
}
