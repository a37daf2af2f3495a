// RSA keys, RSA encryption and decryption, key-pair proof and random bytes
// of the "XecureCrypto.dll" stand-in.
//
// Public-key algorithm 3 with the parameter block 4, 1, 1, 0, 0 is
// RSAES-OAEP with SHA-1 and MGF1-SHA-1 and an empty label, through
// libgcrypt. Keys are DER (DerReader.h): SubjectPublicKeyInfo or PKCS#1
// RSAPublicKey for public keys, PKCS#8 or PKCS#1 RSAPrivateKey for private
// keys. Encryption writes as many bytes as the modulus has; decryption
// writes the message only. No output capacity is passed in, so the
// caller's buffer must hold the modulus length.
#include "DerReader.h"
#include "Objects.h"
#include "XecureCryptoCodes.h"

#include "SystemServices.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <memory>
#include <type_traits>
#include <vector>

namespace xecure {
namespace {

struct SexpRelease {
    void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpRelease>;

struct MpiRelease {
    void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<std::remove_pointer_t<gcry_mpi_t>, MpiRelease>;

using Magnitude = std::vector<uint8_t>;

// Longer moduli (no real key has one) are refused at use: their arithmetic
// would hold a caller's thread for minutes.
constexpr size_t kModulusMaxBytes = 16384 / 8;

struct KeyObject : Object {
    explicit KeyObject(Kind k) : Object(k) {}
    Sexp key;        // null until a key is loaded
    Magnitude n, e;  // the public part, compared by ProveKeyPair
};

// libgcrypt is set up once, unless the host already did. It writes nothing
// to the host's standard error (on Windows its entropy gatherer would advise
// on disk statistics there).
bool GcryptReady()
{
    static const bool ready = [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P))
            return true;
        gcry_set_log_handler([](void*, int, const char*, va_list) {}, nullptr);
        if (gcry_check_version(GCRYPT_VERSION) == nullptr)
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

Mpi Unsigned(der::Bytes magnitude)
{
    gcry_mpi_t value = nullptr;
    if (gcry_mpi_scan(&value, GCRYMPI_FMT_USG, magnitude.data(), magnitude.size(), nullptr) != 0)
        return nullptr;
    return Mpi(value);
}

Sexp Build(const char* format, std::initializer_list<der::Bytes> parts)
{
    // The array form takes the address of each argument.
    std::vector<Mpi> values;
    std::vector<gcry_mpi_t> raw;
    for (der::Bytes part : parts) {
        values.push_back(Unsigned(part));
        if (!values.back())
            return nullptr;
        raw.push_back(values.back().get());
    }
    std::vector<void*> arguments;
    for (gcry_mpi_t& value : raw)
        arguments.push_back(&value);
    gcry_sexp_t built = nullptr;
    if (gcry_sexp_build_array(&built, nullptr, format, arguments.data()) != 0)
        return nullptr;
    return Sexp(built);
}

Sexp PublicSexp(const der::RsaPublicKey& k)
{
    return Build("(public-key(rsa(n%m)(e%m)))", {k.n, k.e});
}

// libgcrypt's CRT wants u = p^-1 mod q; PKCS#1 keeps q^-1 mod p: p and q swap.
Sexp PrivateSexp(const der::RsaPrivateKey& k)
{
    return Build("(private-key(rsa(n%m)(e%m)(d%m)(p%m)(q%m)(u%m)))", {k.n, k.e, k.d, k.q, k.p, k.qinv});
}

int32_t Load(SFC_HANDLE handle, Kind kind, const unsigned char* bytes, int32_t length)
{
    auto* object = As<KeyObject>(handle, kind);
    if (object == nullptr || bytes == nullptr || length <= 0)
        return SFC_ERR_ARGUMENT;
    if (!GcryptReady())
        return SFC_ERR_CRYPTO;
    const der::Bytes input(bytes, static_cast<size_t>(length));
    der::Bytes n, e;
    Sexp key;
    if (kind == Kind::PublicKey) {
        if (const auto parts = der::ReadRsaPublicKey(input)) {
            key = PublicSexp(*parts);
            n = parts->n;
            e = parts->e;
        }
    } else if (const auto parts = der::ReadRsaPrivateKey(input)) {
        key = PrivateSexp(*parts);
        n = parts->n;
        e = parts->e;
    }
    if (!key)
        return SFC_ERR_KEY_FORMAT;
    object->n.assign(n.begin(), n.end());
    object->e.assign(e.begin(), e.end());
    object->key = std::move(key);
    return SFC_OK;
}

// `value` below the modulus `n`, both big-endian.
bool BelowModulus(der::Bytes value, const Magnitude& n)
{
    while (!value.empty() && value[0] == 0)
        value = value.subspan(1);
    if (value.size() != n.size())
        return value.size() < n.size();
    return std::lexicographical_compare(value.begin(), value.end(), n.begin(), n.end());
}

// The OAEP encryption of `input`, as long as the modulus.
bool Encrypt(const KeyObject& object, der::Bytes input, Magnitude& output)
{
    static const uint8_t kNothing = 0;
    gcry_sexp_t data = nullptr, result = nullptr;
    if (gcry_sexp_build(&data, nullptr, "(data(flags oaep)(hash-algo sha1)(value%b))",
                        static_cast<int>(input.size()), input.empty() ? &kNothing : input.data()) != 0)
        return false;
    const Sexp dataOwner(data);
    if (gcry_pk_encrypt(&result, data, object.key.get()) != 0)
        return false;
    const Sexp resultOwner(result);
    const Sexp a(gcry_sexp_find_token(result, "a", 0));
    const Mpi value(a ? gcry_sexp_nth_mpi(a.get(), 1, GCRYMPI_FMT_USG) : nullptr);
    size_t length = 0;
    if (!value || gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &length, value.get()) != 0 ||
        length > output.size())
        return false;
    const size_t lead = output.size() - length;
    return gcry_mpi_print(GCRYMPI_FMT_USG, output.data() + lead, length, nullptr, value.get()) == 0;
}

// The message of the OAEP cipher text `input`.
bool Decrypt(const KeyObject& object, der::Bytes input, Magnitude& output)
{
    if (input.size() > object.n.size() || !BelowModulus(input, object.n))
        return false;
    const Mpi cipher = Unsigned(input);
    gcry_sexp_t data = nullptr, result = nullptr;
    if (!cipher ||
        gcry_sexp_build(&data, nullptr, "(enc-val(flags oaep)(hash-algo sha1)(rsa(a%m)))", cipher.get()) != 0)
        return false;
    const Sexp dataOwner(data);
    if (gcry_pk_decrypt(&result, data, object.key.get()) != 0)
        return false;
    const Sexp resultOwner(result);
    const Sexp value(gcry_sexp_find_token(result, "value", 0));
    size_t length = 0;
    const char* message = value ? gcry_sexp_nth_data(value.get(), 1, &length) : nullptr;
    if (message == nullptr && length != 0)
        return false;
    if (length > output.size())
        return false;
    std::memcpy(output.data(), message, length);
    output.resize(length);
    return true;
}

int32_t Run(unsigned char* output, int32_t* outputLength, const unsigned char* input, int32_t inputLength,
            int32_t algorithm, SFC_HANDLE handle, int32_t reserved, const uint32_t* param, Kind kind)
{
    auto* object = As<KeyObject>(handle, kind);
    if (output == nullptr || outputLength == nullptr || inputLength < 0 || (inputLength > 0 && input == nullptr) ||
        object == nullptr || param == nullptr)
        return SFC_ERR_ARGUMENT;
    if (algorithm != kPublicKeyRsa)
        return SFC_ERR_ALGORITHM;
    if (param[0] != kEncodingOaep || param[1] != kHashSha1 || param[2] != kMgf1Sha1 || param[3] != 0 ||
        param[4] != 0 || reserved != 0)
        return SFC_ERR_PARAMETER;
    if (!object->key)
        return SFC_ERR_KEY;
    if (object->n.size() > kModulusMaxBytes)
        return SFC_ERR_CRYPTO;
    Magnitude buffer(object->n.size());
    const der::Bytes in(input, static_cast<size_t>(inputLength));
    const bool done = kind == Kind::PublicKey ? Encrypt(*object, in, buffer) : Decrypt(*object, in, buffer);
    if (done) {
        std::memcpy(output, buffer.data(), buffer.size());
        *outputLength = static_cast<int32_t>(buffer.size());
    }
    os::SecureZero(buffer.data(), buffer.size());
    return done ? SFC_OK : SFC_ERR_CRYPTO;
}

}  // namespace
}  // namespace xecure

using namespace xecure;

XECURE_EXPORT SFC_HANDLE SFC_PKEY_PrivateKey_New(void)
{
    return ToHandle(new (std::nothrow) KeyObject(Kind::PrivateKey));
}

XECURE_EXPORT SFC_HANDLE SFC_PKEY_PublicKey_New(void)
{
    return ToHandle(new (std::nothrow) KeyObject(Kind::PublicKey));
}

XECURE_EXPORT void SFC_PKEY_PrivateKey_Free(SFC_HANDLE handle)
{
    delete As<KeyObject>(handle, Kind::PrivateKey);
}

XECURE_EXPORT void SFC_PKEY_PublicKey_Free(SFC_HANDLE handle)
{
    delete As<KeyObject>(handle, Kind::PublicKey);
}

XECURE_EXPORT int32_t SFC_PKEY_PrivateKey_FromBinary(SFC_HANDLE handle, const unsigned char* bytes, int32_t length)
{
    return WithoutExceptions([&] { return Load(handle, Kind::PrivateKey, bytes, length); });
}

XECURE_EXPORT int32_t SFC_PKEY_PublicKey_FromBinary(SFC_HANDLE handle, const unsigned char* bytes, int32_t length)
{
    return WithoutExceptions([&] { return Load(handle, Kind::PublicKey, bytes, length); });
}

XECURE_EXPORT int32_t SFC_PKEY_Encrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                       int32_t inputLength, int32_t algorithm, SFC_HANDLE key, int32_t reserved,
                                       const uint32_t* param)
{
    return WithoutExceptions([&] {
        return Run(output, outputLength, input, inputLength, algorithm, key, reserved, param, Kind::PublicKey);
    });
}

XECURE_EXPORT int32_t SFC_PKEY_Decrypt(unsigned char* output, int32_t* outputLength, const unsigned char* input,
                                       int32_t inputLength, int32_t algorithm, SFC_HANDLE key, int32_t reserved,
                                       const uint32_t* param)
{
    return WithoutExceptions([&] {
        return Run(output, outputLength, input, inputLength, algorithm, key, reserved, param, Kind::PrivateKey);
    });
}

XECURE_EXPORT int32_t SFC_PKEY_ProveKeyPair(SFC_HANDLE privateHandle, SFC_HANDLE publicHandle, int32_t reserved)
{
    auto* privateKey = As<KeyObject>(privateHandle, Kind::PrivateKey);
    auto* publicKey = As<KeyObject>(publicHandle, Kind::PublicKey);
    if (privateKey == nullptr || publicKey == nullptr || reserved != 0)
        return SFC_ERR_ARGUMENT;
    if (!privateKey->key || !publicKey->key)
        return SFC_ERR_KEY;
    return privateKey->n == publicKey->n && privateKey->e == publicKey->e ? SFC_OK : SFC_ERR_KEY_MISMATCH;
}

#ifndef XECURECRYPTO_WITHOUT_RANDOM
XECURE_EXPORT int32_t SFC_GetRandom(unsigned char* buffer, int32_t length)
{
    if (length < 0 || (length > 0 && buffer == nullptr))
        return SFC_ERR_ARGUMENT;
    return os::SystemRandom(buffer, static_cast<size_t>(length)) ? SFC_OK : SFC_ERR_RANDOM;
}
#endif
