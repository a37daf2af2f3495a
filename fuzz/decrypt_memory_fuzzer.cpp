// DecryptMemoryToMemory on a fuzzed container image and nOffsetToMain: the
// source and the output are exactly as long as the call may read and write
// (32 + the body length), the out-argument is written only on success, and
// bytes 4 to 31 of the output are never touched.
#include "FuzzSupport.h"

#include "PVCodec.h"

namespace {

constexpr char kUntouched = static_cast<char>(0xA5);
constexpr int32_t kUnset = -7;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::IsolateRegistry();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::ContainerInput input = fuzz::SplitContainerInput(data, size);
    const fuzz::Exact source(input.bytes, input.size);
    const int64_t body = static_cast<int64_t>(input.size) - input.offset;
    const bool readable = input.offset >= 0 && body >= 0;
    const fuzz::Exact output(32 + (readable ? static_cast<size_t>(body) : 0), kUntouched);

    int32_t plain = kUnset;
    const int result = CPVCodec::DecryptMemoryToMemory(source.data(), output.data(), static_cast<int>(input.size),
                                                       &plain, fuzz::kKey, input.offset);
    fuzz::Check(result == 0 || result == 1, "the result is 1 or 0");
    for (int i = 4; i < 32; ++i)
        fuzz::Check(output.data()[i] == kUntouched, "bytes 4 to 31 of the output stay untouched");
    if (result == 0) {
        fuzz::Check(plain == kUnset, "the size out-argument is written only on success");
        return 0;
    }
    fuzz::Check(readable, "a body before the image or beyond its end is refused");
    fuzz::Check(plain >= 0 && plain <= body, "the plain document is never longer than the body");
    int32_t stored;
    std::memcpy(&stored, output.data(), 4);
    fuzz::Check(stored == plain, "offset 0 holds the plain length");
    return 0;
}
