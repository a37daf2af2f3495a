// The objects behind the handles of the "XecureCrypto.dll" stand-in. Each
// starts with a kind word, so that a handle of one kind passed where another
// is expected is refused instead of misread.
#pragma once

#include "extcrypto/XecureCryptoApi.h"
#include "xecurecrypto/XecureCryptoCodes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#if defined(_WIN32)
#define XECURE_EXPORT extern "C" __declspec(dllexport)
#else
#define XECURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace xecure {

enum class Kind : uint32_t {
    SecretKey = 0x58534b31,
    CipherContext = 0x58435831,
    PublicKey = 0x58505531,
    PrivateKey = 0x58505231,
};

struct Object {
    explicit Object(Kind k) : kind(k) {}
    Kind kind;
};

// Returns the object behind `handle` when it is of kind `k`, else null.
template <typename T>
T* As(SFC_HANDLE handle, Kind k)
{
    if (handle == nullptr)
        return nullptr;
    auto* object = static_cast<Object*>(handle);
    return object->kind == k ? static_cast<T*>(object) : nullptr;
}

template <typename T>
SFC_HANDLE ToHandle(T* object)
{
    return static_cast<Object*>(object);
}

// A CBC chain over whole 16-byte blocks; the chain carries on across calls.
class BlockChain {
public:
    virtual ~BlockChain() = default;
    // `length` is a multiple of 16; `input` may be `output`.
    virtual bool Process(const unsigned char* input, unsigned char* output, size_t length) = 0;
};

// The library's calls are C: nothing is thrown across them. A call that runs
// out of memory answers SFC_ERR_MEMORY, having freed what it made.
template <typename Call>
int32_t WithoutExceptions(Call call) noexcept
{
    try {
        return call();
    } catch (...) {
        return SFC_ERR_MEMORY;
    }
}

std::unique_ptr<BlockChain> MakeAriaChain(const unsigned char* key, const unsigned char* iv, bool encrypt);
// Null when the library at `path` cannot be loaded or lacks the ATE calls.
std::unique_ptr<BlockChain> MakeAteChain(const std::string& path, const unsigned char* key, const unsigned char* iv,
                                         bool encrypt);

}  // namespace xecure
