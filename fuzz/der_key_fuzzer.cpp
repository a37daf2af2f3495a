// The DER reader of the stand-in crypto library's RSA keys, on its own: the
// key bytes sit in a buffer of exactly their length, so that a read beyond
// them is seen. A key it takes has positive components without a leading
// zero byte, each within the input, and no shorter input that the key begins
// with is taken too (a key fills its input).
// Input: a selector byte (even: public key, odd: private key), then the key.
#include "FuzzSupport.h"

#include "standins/xecurecrypto/DerReader.h"

#include <initializer_list>

namespace {

void CheckParts(der::Bytes input, std::initializer_list<der::Bytes> parts)
{
    for (der::Bytes part : parts) {
        fuzz::Check(!part.empty() && part[0] != 0, "a component is a positive magnitude");
        fuzz::Check(part.data() >= input.data() && part.data() + part.size() <= input.data() + input.size(),
                    "a component lies within the input");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool isPrivate = data[0] & 1;
    const fuzz::Exact key(data + 1, size - 1);
    const der::Bytes input(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    bool taken = false;
    if (isPrivate) {
        if (const auto k = der::ReadRsaPrivateKey(input)) {
            CheckParts(input, {k->n, k->e, k->d, k->p, k->q, k->dp, k->dq, k->qinv});
            taken = true;
        }
    } else if (const auto k = der::ReadRsaPublicKey(input)) {
        CheckParts(input, {k->n, k->e});
        taken = true;
    }
    if (taken && !input.empty()) {
        const der::Bytes shorter = input.first(input.size() - 1);
        fuzz::Check(!(isPrivate ? der::ReadRsaPrivateKey(shorter).has_value()
                                : der::ReadRsaPublicKey(shorter).has_value()),
                    "a key cut short is refused");
    }
    return 0;
}
