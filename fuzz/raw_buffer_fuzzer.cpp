// The eight raw buffer functions on fuzzed bytes, with each algorithm id:
// input and output exactly as long as the documented results allow, and the
// results those documents give (Rijndael exactly; the outside ciphers within
// the room). Input: a selector byte (bits 0-2 the function, bit 3 a null
// key), the algorithm id as a signed byte, then the buffer.
#include "FuzzSupport.h"

#include "PVCodec.h"

namespace {

enum Function {
    BlockEncryptEx,
    BlockDecryptEx,
    PadEncryptEx,
    PadDecryptEx,
    BlockEncrypt,
    BlockDecrypt,
    PadEncrypt,
    PadDecrypt,
};

// Bytes a call may write for `length` input bytes.
size_t Room(int function, size_t length)
{
    switch (function % 4) {
    case 0:
    case 1: return length - length % 16;        // whole blocks only
    case 2: return 16 * (length / 16 + 1);      // 1 to 16 bytes of padding
    default: return length;                     // the plain text is shorter
    }
}

int Call(int function, char* in, char* out, char* key, int length, int algorithm)
{
    const auto u = static_cast<unsigned>(length);
    switch (function) {
    case BlockEncryptEx: return CPVCodec::SFMemoryBlockEncrypt16Ex(in, out, key, u, algorithm);
    case BlockDecryptEx: return CPVCodec::SFMemoryBlockDecrypt16Ex(in, out, key, u, algorithm);
    case PadEncryptEx: return CPVCodec::SFPadEncryptEx(in, out, key, length, algorithm);
    case PadDecryptEx: return CPVCodec::SFPadDecryptEx(in, out, key, length, algorithm);
    case BlockEncrypt: return CPVCodec::SFMemoryBlockEncrypt16(in, out, key, u);
    case BlockDecrypt: return CPVCodec::SFMemoryBlockDecrypt16(in, out, key, u);
    case PadEncrypt: return CPVCodec::SFPadEncrypt(in, out, key, length);
    default: return CPVCodec::SFPadDecrypt(in, out, key, length);
    }
}

// What Rijndael answers (the "ALG" setting is at its default, Rijndael).
// Without a key the engine is not ready: block calls give 0, pad calls -5.
void CheckRijndael(int function, int length, bool nullKey, int result)
{
    const bool block = function % 4 < 2;
    if (nullKey) {
        fuzz::Check(result == (block ? 0 : -5), "without a key: 0 from a block call, -5 from a pad call");
        return;
    }
    switch (function % 4) {
    case 0:
    case 1:
        fuzz::Check(result == length - length % 16, "a block call processes the whole blocks");
        break;
    case 2:
        fuzz::Check(result == (length == 0 ? 0 : 16 * (length / 16 + 1)), "a pad encryption adds 1 to 16 bytes");
        break;
    default:
        fuzz::Check(length == 0 ? result == 0
                                : result == -7 || (length % 16 == 0 && result >= length - 16 && result < length),
                    "a pad decryption drops 1 to 16 bytes of padding, or gives -7");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::IsolateRegistry();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int function = data[0] & 7;
    const bool nullKey = (data[0] & 8) != 0;
    const bool ex = function < BlockEncrypt;
    const int algorithm = static_cast<int8_t>(data[1]);
    const fuzz::Exact in(data + 2, size - 2);
    const int length = static_cast<int>(in.size());
    const size_t room = Room(function, in.size());
    const fuzz::Exact out(room);

    const int result = Call(function, in.data(), out.data(), nullKey ? nullptr : fuzz::kKey, length, algorithm);
    fuzz::Check(result < 0 || static_cast<size_t>(result) <= room, "a result is never more than the room");
    if (ex && (algorithm < -1 || algorithm > 2))
        fuzz::Check(result == -1, "an unknown algorithm gives -1");
    else if (!ex || algorithm <= 0)  // -1: the setting's default
        CheckRijndael(function, length, nullKey, result);
    return 0;
}
