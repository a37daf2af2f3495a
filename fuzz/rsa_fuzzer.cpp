// The RSA functions with fuzzed keys and input: every key and the input sit
// in buffers of exactly their length, so that a read beyond a key (as the
// binding of the library once did with keys shorter than 16 bytes) is seen.
// A key the library refuses gets the library's negative result.
// Input: a selector byte (0 SFRSAEncrypt, 1 SFRSADecrypt, 2 CheckRSAKey), a
// 2-byte key length L, L key bytes, then the input - or for CheckRSAKey the
// private key.
#include "FuzzSupport.h"

#include "PVCodec.h"

namespace {

// The output of an RSA operation is one modulus long, and a key cannot hold
// a modulus longer than itself; no output capacity is passed.
size_t OutputRoom(size_t keyLength)
{
    return keyLength + 16;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::IsolateRegistry();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const int selector = data[0] % 3;
    const size_t keyLength = std::min<size_t>(data[1] | data[2] << 8, size - 3);
    const fuzz::Exact key(data + 3, keyLength);
    const fuzz::Exact rest(data + 3 + keyLength, size - 3 - keyLength);
    int result = 0;
    if (selector == 2) {
        result = CPVCodec::CheckRSAKey(key.data(), key.size(), rest.data(), rest.size());
    } else {
        const fuzz::Exact output(OutputRoom(keyLength));
        result = selector == 0 ? CPVCodec::SFRSAEncrypt(rest.data(), output.data(), key.data(), key.size(), rest.size())
                               : CPVCodec::SFRSADecrypt(rest.data(), output.data(), key.data(), key.size(), rest.size());
        fuzz::Check(result < 0 || static_cast<size_t>(result) <= output.size(), "the output fits the modulus");
    }
    // A key of fewer than 16 bytes holds no RSA key.
    if (keyLength < 16)
        fuzz::Check(result < 0, "a key shorter than 16 bytes is refused");
    return 0;
}
