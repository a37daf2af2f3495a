// pvcodec inspect: reads a container (a file or standard input) and prints
// what ContainerReport.h makes of it, as lines or as JSON.
#include "Commands.h"
#include "ContainerReport.h"
#include "System.h"

#include "container/ContainerFormat.h"

#include <fstream>
#include <optional>

namespace cli {
namespace {

using namespace container;
using report::Input;

struct InspectOptions {
    std::string file;
    std::optional<int64_t> headerSize;
    bool json = false;
};

std::optional<Input> ReadInput(const std::string& file, std::string& error)
{
    constexpr size_t kStart = report::kInputStart;
    Input input;
    if (file.empty() || file == "-") {
        std::string all = ReadAllStdin();
        input.length = static_cast<int64_t>(all.size());
        input.start = all.substr(0, kStart);
        return input;
    }
    std::ifstream in(sys::FsPath(file), std::ios::binary);
    if (!in) {
        error = "cannot open " + file;
        return std::nullopt;
    }
    input.start.resize(kStart);
    in.read(input.start.data(), static_cast<std::streamsize>(kStart));
    input.start.resize(static_cast<size_t>(in.gcount()));
    in.clear();
    in.seekg(0, std::ios::end);
    input.length = static_cast<int64_t>(in.tellg());
    if (input.length < 0) {
        error = "cannot read " + file;
        return std::nullopt;
    }
    return input;
}

int Run(const InspectOptions& options)
{
    if (options.headerSize && !IsExtendedHeaderSize(*options.headerSize)) {
        Fail("--header-size must be 0 to " + std::to_string(kLargestExtendedHeaderSize));
        return 2;
    }
    std::string error;
    auto input = ReadInput(options.file, error);
    if (!input) {
        Fail(error);
        return 1;
    }
    const report::Description d = report::Describe(*input, options.headerSize);
    const std::string text = options.json ? report::Json(d) : report::Text(d);
    if (!WriteAllStdout(text.data(), text.size())) {
        Fail("cannot write standard output");
        return 1;
    }
    return 0;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<InspectOptions>();
    CLI::App* inspect =
        app.add_subcommand("inspect", "Describe a container without its key: form, header size, body offset, "
                                      "algorithm and body length");
    inspect->add_option("file", options->file, "Container file (standard input when left out or \"-\")");
    inspect->add_option("--header-size", options->headerSize,
                        "N, the caller's header size, for the extended form, which does not store it");
    inspect->add_flag("--json", options->json, "One JSON object instead of lines");
    inspect->callback([options, &exitStatus] { exitStatus = Run(*options); });
}

}  // namespace cli
