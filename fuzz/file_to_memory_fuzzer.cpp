// DecryptFileToMemory and DecryptFileToMemory2 on a fuzzed container file and
// nOffsetToMain: the output is exactly 32 + the body length, the
// out-argument is written only on success, offset 0 holds the body length
// once decryption began, and the two readers agree with each other byte for
// byte - and with DecryptMemoryToMemory wherever it reads the body the same
// way (every cipher but ARIA).
#include "FuzzSupport.h"

#include "PVCodec.h"
#include "container/ContainerLayout.h"
#include "platform/WideString.h"

#include <optional>

namespace {

constexpr char kUntouched = static_cast<char>(0xA5);
constexpr int32_t kUnset = -7;

const fuzz::ScratchFolder& Folder()
{
    static const fuzz::ScratchFolder folder;
    return folder;
}

struct Outcome {
    int result = 0;
    std::string plain;  // on success
};

using Reader = int (*)(const PVWCHAR*, char*, int*, char*, int);

Outcome Read(Reader reader, const std::u16string& path, int64_t body, bool readable, int32_t offset)
{
    const fuzz::Exact output(32 + (readable ? static_cast<size_t>(body) : 0), kUntouched);
    int32_t plain = kUnset;
    Outcome outcome;
    outcome.result = reader(path.c_str(), output.data(), &plain, fuzz::kKey, offset);
    fuzz::Check(outcome.result == 0 || outcome.result == 1, "the result is 1 or 0");
    for (int i = 4; i < 32; ++i)
        fuzz::Check(output.data()[i] == kUntouched, "bytes 4 to 31 of the output stay untouched");
    int32_t stored;
    std::memcpy(&stored, output.data(), 4);
    if (outcome.result == 0) {
        fuzz::Check(plain == kUnset, "the size out-argument is written only on success");
        return outcome;
    }
    fuzz::Check(readable, "a body before the file or beyond its end is refused");
    fuzz::Check(stored == body, "offset 0 holds the body length");
    fuzz::Check(plain >= 0 && plain <= body, "the plain document is never longer than the body");
    outcome.plain.assign(output.data() + 32, static_cast<size_t>(plain));
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::IsolateRegistry();
    Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::ContainerInput input = fuzz::SplitContainerInput(data, size);
    const std::string file = Folder() / "container.pvc";
    fuzz::WriteFile(file, input.bytes, input.size);
    const std::u16string path = plat::Utf8ToUtf16(file);
    const int64_t body = static_cast<int64_t>(input.size) - input.offset;
    const bool readable = input.offset >= 0 && body >= 0;

    const Outcome whole = Read(&CPVCodec::DecryptFileToMemory, path, body, readable, input.offset);
    const Outcome streamed = Read(&CPVCodec::DecryptFileToMemory2, path, body, readable, input.offset);
    fuzz::Check(whole.result == streamed.result && whole.plain == streamed.plain,
                "DecryptFileToMemory and DecryptFileToMemory2 agree");

    // The file readers take the cipher from 12 whole bytes, the memory reader
    // from what there is; both read a segmented body unless it is ARIA.
    const int fileAlgorithm =
        input.size >= 12 ? container::ReaderAlgorithm(reinterpret_cast<const char*>(input.bytes), 12) : 0;
    const int memoryAlgorithm =
        container::ReaderAlgorithm(reinterpret_cast<const char*>(input.bytes), static_cast<int64_t>(input.size));
    if (fileAlgorithm != memoryAlgorithm || fileAlgorithm == container::kAlgorithmAria)
        return 0;
    const fuzz::Exact source(input.bytes, input.size);
    const fuzz::Exact output(32 + (readable ? static_cast<size_t>(body) : 0));
    int32_t plain = kUnset;
    const int result = CPVCodec::DecryptMemoryToMemory(source.data(), output.data(), static_cast<int>(input.size),
                                                       &plain, fuzz::kKey, input.offset);
    fuzz::Check(result == whole.result, "the memory reader gives the file readers' result");
    if (result == 1)
        fuzz::Check(whole.plain == std::string(output.data() + 32, static_cast<size_t>(plain)),
                    "the memory reader gives the file readers' document");
    return 0;
}
