// pvcodec inspect's reader on fuzzed containers, with and without a given
// header size N (the first 4 input bytes, as for the other container
// targets). A body offset is reported only where decrypt would take it
// (0 to 2^31 - 1), the body length follows from it, the default form's
// offset is the one decrypt reads, and the JSON is printable ASCII.
#include "FuzzSupport.h"

#include "ContainerReport.h"
#include "container/ContainerFormat.h"

#include <optional>

namespace {

using namespace cli::report;

void CheckDescription(const Input& input, const Description& d)
{
    if (d.headerSize)
        fuzz::Check(*d.headerSize >= 0, "a reported N is not negative");
    if (d.bodyOffset) {
        fuzz::Check(*d.bodyOffset >= 0 && *d.bodyOffset <= INT32_MAX, "a reported body offset is one decrypt takes");
        fuzz::Check(d.bodyLength && *d.bodyLength == input.length - *d.bodyOffset,
                    "the body length follows from the offset");
    }
    const auto* start = reinterpret_cast<const unsigned char*>(input.start.data());
    const auto available = static_cast<int64_t>(input.start.size());
    if (container::ReadMagicForm(start, available) == container::MagicForm::Default) {
        const container::HeaderSizeField field = container::ReadHeaderSizeField(start, available);
        const bool valid = field.state == container::HeaderSizeField::State::Valid;
        fuzz::Check(d.bodyOffset.has_value() == valid && (!valid || *d.bodyOffset == field.bodyOffset),
                    "the default form's offset is the one decrypt reads");
    }
    const std::string json = Json(d);
    fuzz::Check(!json.empty() && json.back() == '\n', "the JSON ends its line");
    for (size_t i = 0; i + 1 < json.size(); ++i)
        fuzz::Check(json[i] >= 0x20 && json[i] < 0x7F, "the JSON is printable ASCII");
    fuzz::Check(!Text(d).empty(), "the text says something");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::ContainerInput container = fuzz::SplitContainerInput(data, size);
    Input input;
    input.length = static_cast<int64_t>(container.size);
    if (container.size > 0)
        input.start.assign(reinterpret_cast<const char*>(container.bytes), std::min(container.size, kInputStart));
    CheckDescription(input, Describe(input, std::nullopt));
    CheckDescription(input, Describe(input, container.offset));
    return 0;
}
