// The block chains behind the cipher contexts: ARIA-128-CBC of our own
// (Aria128.h), and ATE through the "XecureATE.dll" library named by
// SFC_Cipher_Set_Path, loaded with dlopen or, on Windows, LoadLibraryW.
#include "Aria128.h"
#include "Objects.h"

#include "SystemServices.h"
#include "xecureate/XecureATE.h"

#include <cstring>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace xecure {
namespace {

class AriaChain final : public BlockChain {
public:
    AriaChain(const unsigned char* key, const unsigned char* iv, bool encrypt) : m_encrypt(encrypt)
    {
        if (encrypt)
            aria::ExpandEncryptionKey(key, m_schedule);
        else
            aria::ExpandDecryptionKey(key, m_schedule);
        std::memcpy(m_chain, iv, sizeof m_chain);
    }
    ~AriaChain() override
    {
        os::SecureZero(&m_schedule, sizeof m_schedule);
        os::SecureZero(m_chain, sizeof m_chain);
    }
    AriaChain(const AriaChain&) = delete;
    AriaChain& operator=(const AriaChain&) = delete;

    bool Process(const unsigned char* input, unsigned char* output, size_t length) override
    {
        unsigned char block[aria::kBlockSize];
        for (size_t at = 0; at < length; at += aria::kBlockSize) {
            std::memcpy(block, input + at, aria::kBlockSize);  // `input` may be `output`
            if (m_encrypt) {
                for (int i = 0; i < aria::kBlockSize; ++i)
                    m_chain[i] ^= block[i];
                aria::ProcessBlock(m_schedule, m_chain, m_chain);
                std::memcpy(output + at, m_chain, aria::kBlockSize);
            } else {
                aria::ProcessBlock(m_schedule, block, output + at);
                for (int i = 0; i < aria::kBlockSize; ++i)
                    output[at + i] ^= m_chain[i];
                std::memcpy(m_chain, block, aria::kBlockSize);
            }
        }
        os::SecureZero(block, sizeof block);
        return true;
    }

private:
    aria::KeySchedule m_schedule;
    unsigned char m_chain[aria::kBlockSize];  // the last cipher block, the IV at first
    bool m_encrypt;
};

// The ATE library, loaded for one chain and unloaded with it.
class AteModule {
public:
    explicit AteModule(const std::string& path)
    {
#if defined(_WIN32)
        // The path is in the ANSI code page.
        const int units = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
        if (units <= 0)
            return;
        std::wstring wide(static_cast<size_t>(units), L'\0');
        if (::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), units) == units)
            m_module = ::LoadLibraryW(wide.c_str());
#else
        m_module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~AteModule()
    {
        if (m_module == nullptr)
            return;
#if defined(_WIN32)
        ::FreeLibrary(m_module);
#else
        ::dlclose(m_module);
#endif
    }
    AteModule(const AteModule&) = delete;
    AteModule& operator=(const AteModule&) = delete;

    bool Loaded() const { return m_module != nullptr; }

    template <typename Function>
    Function Find(const char* name) const
    {
#if defined(_WIN32)
        return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
#else
        return reinterpret_cast<Function>(::dlsym(m_module, name));
#endif
    }

private:
#if defined(_WIN32)
    ::HMODULE m_module = nullptr;
#else
    void* m_module = nullptr;
#endif
};

class AteChain final : public BlockChain {
public:
    AteChain(std::unique_ptr<AteModule> module, PFN_XATE_CBC_Process process, PFN_XATE_CBC_Free release,
             XATE_Cipher* cipher)
        : m_module(std::move(module)), m_process(process), m_free(release), m_cipher(cipher)
    {
    }
    ~AteChain() override { m_free(m_cipher); }
    AteChain(const AteChain&) = delete;
    AteChain& operator=(const AteChain&) = delete;

    bool Process(const unsigned char* input, unsigned char* output, size_t length) override
    {
        return m_process(m_cipher, input, output, length) == 0;
    }

private:
    std::unique_ptr<AteModule> m_module;  // outlives the cipher it made
    PFN_XATE_CBC_Process m_process;
    PFN_XATE_CBC_Free m_free;
    XATE_Cipher* m_cipher;
};

}  // namespace

std::unique_ptr<BlockChain> MakeAriaChain(const unsigned char* key, const unsigned char* iv, bool encrypt)
{
    return std::make_unique<AriaChain>(key, iv, encrypt);
}

std::unique_ptr<BlockChain> MakeAteChain(const std::string& path, const unsigned char* key, const unsigned char* iv,
                                         bool encrypt)
{
    if (path.empty())
        return nullptr;
    auto module = std::make_unique<AteModule>(path);
    if (!module->Loaded())
        return nullptr;
    auto create = module->Find<PFN_XATE_CBC_New>("XATE_CBC_New");
    auto process = module->Find<PFN_XATE_CBC_Process>("XATE_CBC_Process");
    auto release = module->Find<PFN_XATE_CBC_Free>("XATE_CBC_Free");
    XATE_Cipher* cipher = nullptr;
    if (create != nullptr && process != nullptr && release != nullptr)
        cipher = create(key, kKeyLength, iv, kKeyLength, encrypt ? 1 : 0);
    if (cipher == nullptr)
        return nullptr;
    try {
        return std::make_unique<AteChain>(std::move(module), process, release, cipher);
    } catch (...) {
        release(cipher);
        throw;
    }
}

}  // namespace xecure
