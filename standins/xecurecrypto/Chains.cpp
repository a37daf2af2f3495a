// The block chains behind the cipher contexts: ARIA-128-CBC through
// OpenSSL, and ATE through the "XecureATE.dll" library named by
// SFC_Cipher_Set_Path.
#include "Objects.h"

#include "xecureate/XecureATE.h"

#include <climits>
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace xecure {
namespace {

class AriaChain final : public BlockChain {
public:
    explicit AriaChain(EVP_CIPHER_CTX* context) : m_context(context) {}
    ~AriaChain() override { EVP_CIPHER_CTX_free(m_context); }
    AriaChain(const AriaChain&) = delete;
    AriaChain& operator=(const AriaChain&) = delete;

    bool Process(const unsigned char* input, unsigned char* output, size_t length) override
    {
        while (length > 0) {
            int piece = length > (INT_MAX & ~15) ? (INT_MAX & ~15) : static_cast<int>(length);
            int written = 0;
            if (EVP_CipherUpdate(m_context, output, &written, input, piece) != 1 || written != piece) {
                ERR_clear_error();
                return false;
            }
            input += piece;
            output += piece;
            length -= static_cast<size_t>(piece);
        }
        return true;
    }

private:
    EVP_CIPHER_CTX* m_context;
};

class AteChain final : public BlockChain {
public:
    AteChain(void* module, PFN_XATE_CBC_Process process, PFN_XATE_CBC_Free release, XATE_Cipher* cipher)
        : m_module(module), m_process(process), m_free(release), m_cipher(cipher)
    {
    }
    ~AteChain() override
    {
        m_free(m_cipher);
        dlclose(m_module);
    }
    AteChain(const AteChain&) = delete;
    AteChain& operator=(const AteChain&) = delete;

    bool Process(const unsigned char* input, unsigned char* output, size_t length) override
    {
        return m_process(m_cipher, input, output, length) == 0;
    }

private:
    void* m_module;
    PFN_XATE_CBC_Process m_process;
    PFN_XATE_CBC_Free m_free;
    XATE_Cipher* m_cipher;
};

}  // namespace

std::unique_ptr<BlockChain> MakeAriaChain(const unsigned char* key, const unsigned char* iv, bool encrypt)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                             &EVP_CIPHER_CTX_free);
    if (context == nullptr)
        return nullptr;
    if (EVP_CipherInit_ex(context.get(), EVP_aria_128_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    auto chain = std::make_unique<AriaChain>(context.get());
    context.release();  // the chain owns it now
    return chain;
}

std::unique_ptr<BlockChain> MakeAteChain(const std::string& path, const unsigned char* key, const unsigned char* iv,
                                         bool encrypt)
{
    if (path.empty())
        return nullptr;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    auto create = reinterpret_cast<PFN_XATE_CBC_New>(dlsym(module, "XATE_CBC_New"));
    auto process = reinterpret_cast<PFN_XATE_CBC_Process>(dlsym(module, "XATE_CBC_Process"));
    auto release = reinterpret_cast<PFN_XATE_CBC_Free>(dlsym(module, "XATE_CBC_Free"));
    XATE_Cipher* cipher = nullptr;
    if (create != nullptr && process != nullptr && release != nullptr)
        cipher = create(key, kKeyLength, iv, kKeyLength, encrypt ? 1 : 0);
    if (cipher == nullptr) {
        dlclose(module);
        return nullptr;
    }
    try {
        return std::make_unique<AteChain>(module, process, release, cipher);
    } catch (...) {
        release(cipher);
        dlclose(module);
        throw;
    }
}

}  // namespace xecure
