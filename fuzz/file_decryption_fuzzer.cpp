// DecryptFileW into a new destination and DecryptFile2 in place, on a fuzzed
// container file and nOffsetToMain, in a folder of their own. What each call
// must leave on disk:
// - success: the destination holds the document, no "~PV" file remains, and
//   a source that is not the destination is unchanged;
// - failure: the source is unchanged, no destination appears, and at most
//   one "~PV" file remains - none when the call was refused before it made
//   one (a negative offset, a file shorter than the offset);
// - nothing else ever appears in the folder.
// The two drivers agree on the document; they differ only where the body
// ends in 1 to 15 bytes after its segments (DecryptFile2 drops them,
// DecryptFileW fails its size check). DecryptFile2 agrees with
// DecryptFileToMemory2 on Rijndael bodies.
#include "FuzzSupport.h"

#include "PVCodec.h"
#include "container/ContainerLayout.h"
#include "platform/WideString.h"

namespace {

const fuzz::ScratchFolder& Folder()
{
    static const fuzz::ScratchFolder folder;
    return folder;
}

const std::string kSource = "container.pvc";
const std::string kDestination = "document.txt";

std::u16string Wide(const std::string& name)
{
    return plat::Utf8ToUtf16(Folder() / name);
}

// The "~PV" files in the folder; every other name must be one of `allowed`.
int TemporariesLeft(std::initializer_list<std::string> allowed)
{
    int temporaries = 0;
    for (const std::string& name : Folder().Entries()) {
        if (name.rfind("~PV", 0) == 0)
            ++temporaries;
        else
            fuzz::Check(std::find(allowed.begin(), allowed.end(), name) != allowed.end(),
                        "nothing but the source, the destination and a temporary file appears");
    }
    return temporaries;
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
    const std::string container(reinterpret_cast<const char*>(input.bytes), input.size);
    const int64_t body = static_cast<int64_t>(input.size) - input.offset;
    const bool refusedEarly = input.offset < 0 || body < 0;
    const bool aria = container::ReaderAlgorithm(container.data(), static_cast<int64_t>(container.size())) ==
                          container::kAlgorithmAria &&
                      container.size() >= 12;
    const std::u16string source = Wide(kSource), destination = Wide(kDestination);
    Folder().Empty();

    // DecryptFileW into a new destination.
    fuzz::WriteFile(Folder() / kSource, container.data(), container.size());
    const int full = CPVCodec::DecryptFileW(source.c_str(), destination.c_str(), fuzz::kKey, nullptr, input.offset);
    fuzz::Check(full == 0 || full == 1, "DecryptFileW gives 1 or 0");
    fuzz::Check(fuzz::ReadFile(Folder() / kSource) == container, "the source is unchanged");
    const int fullTemporaries = TemporariesLeft({kSource, kDestination});
    std::string document;
    if (full == 1) {
        fuzz::Check(fullTemporaries == 0, "DecryptFileW leaves no temporary file after success");
        document = fuzz::ReadFile(Folder() / kDestination);
        fuzz::Check(static_cast<int64_t>(document.size()) <= body, "the document is never longer than the body");
    } else {
        fuzz::Check(fullTemporaries <= (refusedEarly ? 0 : 1), "a failed DecryptFileW leaves at most its temporary file");
        fuzz::Check(!std::filesystem::exists(Folder() / kDestination), "a failed DecryptFileW makes no destination");
    }
    Folder().Empty();

    // DecryptFile2 in place.
    fuzz::WriteFile(Folder() / kSource, container.data(), container.size());
    const int streamed = CPVCodec::DecryptFile2(source.c_str(), source.c_str(), fuzz::kKey, nullptr, input.offset);
    fuzz::Check(streamed == 0 || streamed == 1, "DecryptFile2 gives 1 or 0");
    const int streamedTemporaries = TemporariesLeft({kSource});
    const std::string inPlace = fuzz::ReadFile(Folder() / kSource);
    if (streamed == 1) {
        fuzz::Check(streamedTemporaries == 0, "DecryptFile2 leaves no temporary file after success");
    } else {
        fuzz::Check(streamedTemporaries <= (refusedEarly ? 0 : 1), "a failed DecryptFile2 leaves at most its temporary file");
        fuzz::Check(inPlace == container, "a failed DecryptFile2 leaves the source unchanged");
    }
    Folder().Empty();

    if (full == 1)
        fuzz::Check(streamed == 1 && inPlace == document, "DecryptFile2 gives DecryptFileW's document");
    else if (streamed == 1)
        fuzz::Check(!aria && body % 1024 >= 1 && body % 1024 <= 15,
                    "only a tail of 1 to 15 bytes fails DecryptFileW where DecryptFile2 succeeds");

    // The streaming reader into memory reads a Rijndael body as DecryptFile2 does.
    if (streamed == 1 && container::ReaderAlgorithm(container.data(), static_cast<int64_t>(container.size())) ==
                             container::kAlgorithmRijndael) {
        fuzz::WriteFile(Folder() / kSource, container.data(), container.size());
        const fuzz::Exact output(32 + static_cast<size_t>(body));
        int32_t plain = -1;
        fuzz::Check(CPVCodec::DecryptFileToMemory2(source.c_str(), output.data(), &plain, fuzz::kKey, input.offset) == 1,
                    "DecryptFileToMemory2 reads what DecryptFile2 read");
        fuzz::Check(std::string(output.data() + 32, static_cast<size_t>(plain)) == inPlace,
                    "DecryptFileToMemory2 gives DecryptFile2's document");
        Folder().Empty();
    }
    return 0;
}
