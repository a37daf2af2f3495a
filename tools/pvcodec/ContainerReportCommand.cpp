// pvcodec inspect: describes a container without its key - the header form
// and magic, the header size N and the offset of the body, the cipher the
// readers will use, and whether the body's length fits a segmented body.
#include "Commands.h"

#include "container/ContainerFormat.h"

#include <PVCodec.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace cli {
namespace {

using namespace container;

struct InspectOptions {
    std::string file;
    std::optional<int64_t> headerSize;
    bool json = false;
};

// The first bytes of the container (enough for every header test) and its length.
struct Input {
    std::string start;
    int64_t length = 0;
};

std::optional<Input> ReadInput(const std::string& file, std::string& error)
{
    constexpr size_t kStart = kHeaderPrefixSize + 16;
    Input input;
    if (file.empty() || file == "-") {
        std::string all = ReadAllStdin();
        input.length = static_cast<int64_t>(all.size());
        input.start = all.substr(0, kStart);
        return input;
    }
    std::ifstream in(file, std::ios::binary);
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

enum class Form { Default, CallerMagic, Extended, Bare };

struct Description {
    Form form = Form::Bare;
    std::string magic;              // the magic field up to its first zero byte
    std::optional<int64_t> headerSize;
    std::optional<int64_t> bodyOffset;
    std::string offsetRule;         // "14 + N", "92 + N", "0"
    int algorithm = kAlgorithmRijndael;
    std::optional<unsigned char> tag;
    int64_t length = 0;
    std::optional<int64_t> bodyLength;
    std::vector<std::string> notes;
};

std::string Printable(const std::string& bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// A magic field that a caller could have given under header mode 1: 1 to 10
// printable characters, zero-filled.
bool LooksLikeCallerMagic(const unsigned char* field)
{
    int i = 0;
    while (i < kMagicFieldSize && field[i] >= 0x20 && field[i] < 0x7F)
        ++i;
    if (i == 0)
        return false;
    for (int j = i; j < kMagicFieldSize; ++j)
        if (field[j] != 0)
            return false;
    return true;
}

Description Describe(const Input& input, std::optional<int64_t> givenHeaderSize)
{
    Description d;
    d.length = input.length;
    unsigned char probe[kHeaderPrefixSize] = {};
    std::copy(input.start.begin(), input.start.begin() + std::min<size_t>(input.start.size(), sizeof probe),
              reinterpret_cast<char*>(probe));
    const bool fullField = input.length >= kFixedHeaderSize;
    const int64_t storedN = fullField ? static_cast<int32_t>(ReadLittleEndian32(probe + kHeaderSizeFieldOffset)) : -1;
    auto magicText = [&] {
        std::string field(reinterpret_cast<const char*>(probe), kMagicFieldSize);
        return field.substr(0, field.find('\0'));
    };

    if (input.length >= kMagicLength + 1 && IsExtendedForm(probe)) {
        d.form = Form::Extended;
        d.magic = MAGIC_EXTENDED;
        d.offsetRule = "92 + N";
        if (input.length > kAlgorithmTagOffset) {
            d.tag = probe[kAlgorithmTagOffset];
            d.algorithm = CPVCodec::ConvertFileAlgToProgAlg(*d.tag);
        }
        if (input.length < kHeaderPrefixSize)
            d.notes.push_back("shorter than the 92-byte header prefix");
        d.headerSize = givenHeaderSize;
        if (d.headerSize)
            d.bodyOffset = kHeaderPrefixSize + *d.headerSize;
        else
            d.notes.push_back("the extended form does not store N: give --header-size N for the body");
    } else if (input.length >= kMagicLength + 1 &&
               (HoldsMagic(probe, MAGIC_DEFAULT) || HoldsMagic(probe, MAGIC_CALLER))) {
        d.form = Form::Default;
        d.magic = magicText();
        d.offsetRule = "14 + N";
        if (fullField) {
            d.headerSize = storedN;
            d.bodyOffset = kFixedHeaderSize + storedN;
        } else {
            d.notes.push_back("shorter than the 14-byte fixed header");
        }
    } else if (fullField && LooksLikeCallerMagic(probe) && storedN >= 1 &&
               storedN <= input.length - kFixedHeaderSize) {
        d.form = Form::CallerMagic;
        d.magic = magicText();
        d.offsetRule = "14 + N";
        d.headerSize = storedN;
        d.bodyOffset = kFixedHeaderSize + storedN;
        if (!givenHeaderSize || *givenHeaderSize != storedN)
            d.notes.push_back("no known magic: read as the default form with a caller's magic; if it is a bare "
                              "body, its offset is 0");
    } else {
        d.form = Form::Bare;
        d.offsetRule = "0";
        d.bodyOffset = 0;
    }
    if (d.form == Form::Default || d.form == Form::CallerMagic) {
        if (givenHeaderSize && d.headerSize && *givenHeaderSize != *d.headerSize)
            d.notes.push_back("--header-size " + std::to_string(*givenHeaderSize) +
                              " differs from the stored N; the stored N is used");
    }
    if (d.bodyOffset) {
        d.bodyLength = input.length - *d.bodyOffset;
        if (*d.bodyLength < 0)
            d.notes.push_back("the container is shorter than the body offset: readers refuse it");
    }
    return d;
}

const char* FormName(Form form)
{
    switch (form) {
    case Form::Default: return "default";
    case Form::CallerMagic: return "default (caller's magic)";
    case Form::Extended: return "extended";
    case Form::Bare: return "bare body";
    }
    return "";
}

const char* FormKey(Form form)
{
    switch (form) {
    case Form::Default: return "default";
    case Form::CallerMagic: return "caller-magic";
    case Form::Extended: return "extended";
    case Form::Bare: return "bare";
    }
    return "";
}

const char* AlgorithmName(int algorithm)
{
    switch (algorithm) {
    case kAlgorithmAria: return "ARIA";
    case kAlgorithmAte: return "ATE";
    default: return "Rijndael";
    }
}

const char* FitKey(SegmentedBodyShape::Fit fit)
{
    using Fit = SegmentedBodyShape::Fit;
    switch (fit) {
    case Fit::FullSegments: return "full-segments";
    case Fit::PaddedTail: return "padded-tail";
    case Fit::TrailerOrPaddedTail: return "trailer-or-padded-tail";
    case Fit::ShortTail: return "short-tail";
    case Fit::UnalignedTail: return "unaligned-tail";
    }
    return "";
}

std::string Range(int64_t min, int64_t max)
{
    return min == max ? std::to_string(min) : std::to_string(min) + ".." + std::to_string(max);
}

// One sentence on what a reader makes of the body.
std::string BodyText(const Description& d)
{
    int64_t length = *d.bodyLength;
    if (d.algorithm == kAlgorithmAria) {
        if (length >= 16 && length % 16 == 0)
            return "whole-document body: a block piece of " + std::to_string(length - 16) +
                   " bytes and a 16-byte padded piece";
        return "does not fit a whole-document body (not a positive multiple of 16 bytes)";
    }
    using Fit = SegmentedBodyShape::Fit;
    SegmentedBodyShape s = DescribeSegmentedBody(length);
    std::string segments = std::to_string(s.fullSegments) + " full segment" + (s.fullSegments == 1 ? "" : "s");
    switch (s.fit) {
    case Fit::FullSegments:
        return segments + ", no final piece (document of " + std::to_string(length) + " bytes for Rijndael)";
    case Fit::PaddedTail:
        return segments + " and a padded final piece of " + std::to_string(s.finalPiece) + " bytes (document of " +
               Range(s.minDocument, s.maxDocument) + " bytes for Rijndael)";
    case Fit::TrailerOrPaddedTail:
        return segments + " and a 16-byte final piece: the padding trailer (document of " +
               Range(s.minDocumentWithTrailer, s.maxDocumentWithTrailer) + " bytes) or a padded tail (document of " +
               Range(s.minDocument, s.maxDocument) + " bytes)";
    case Fit::ShortTail:
        return "does not fit: " + segments + " and " + std::to_string(s.finalPiece) +
               " bytes after them, less than a block (the streaming and memory readers drop them; DecryptFileW fails its size check)";
    case Fit::UnalignedTail:
        return "does not fit: " + segments + " and a final piece of " + std::to_string(s.finalPiece) +
               " bytes, not whole 16-byte blocks";
    }
    return "";
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    char hex[8];
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(hex, sizeof hex, "\\u%04X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

template <typename T>
std::string JsonOptional(const std::optional<T>& value)
{
    return value ? std::to_string(*value) : "null";
}

std::string Json(const Description& d)
{
    std::ostringstream out;
    out << "{\"form\":" << JsonString(FormKey(d.form)) << ",\"magic\":"
        << (d.magic.empty() ? "null" : JsonString(d.magic)) << ",\"headerSize\":" << JsonOptional(d.headerSize)
        << ",\"bodyOffset\":" << JsonOptional(d.bodyOffset) << ",\"bodyOffsetRule\":" << JsonString(d.offsetRule)
        << ",\"tag\":" << (d.tag ? JsonString(std::string(1, static_cast<char>(*d.tag))) : "null")
        << ",\"algorithm\":" << JsonString(AlgorithmName(d.algorithm)) << ",\"algorithmId\":" << d.algorithm
        << ",\"containerLength\":" << d.length << ",\"bodyLength\":" << JsonOptional(d.bodyLength);
    if (d.bodyLength && *d.bodyLength >= 0 && d.algorithm != kAlgorithmAria) {
        SegmentedBodyShape s = DescribeSegmentedBody(*d.bodyLength);
        out << ",\"fit\":" << JsonString(FitKey(s.fit)) << ",\"fullSegments\":" << s.fullSegments
            << ",\"finalPiece\":" << s.finalPiece;
        if (s.minDocument <= s.maxDocument)
            out << ",\"documentSize\":{\"min\":" << s.minDocument << ",\"max\":" << s.maxDocument << "}";
        if (s.minDocumentWithTrailer <= s.maxDocumentWithTrailer)
            out << ",\"documentSizeWithTrailer\":{\"min\":" << s.minDocumentWithTrailer
                << ",\"max\":" << s.maxDocumentWithTrailer << "}";
    } else if (d.bodyLength && *d.bodyLength >= 0) {
        bool fits = *d.bodyLength >= 16 && *d.bodyLength % 16 == 0;
        out << ",\"fit\":" << JsonString(fits ? "whole-document" : "unaligned-whole-document");
    }
    out << ",\"notes\":[";
    for (size_t i = 0; i < d.notes.size(); ++i)
        out << (i ? "," : "") << JsonString(d.notes[i]);
    out << "]}\n";
    return out.str();
}

std::string Text(const Description& d)
{
    std::ostringstream out;
    out << "form: " << FormName(d.form) << "\n";
    if (!d.magic.empty())
        out << "magic: " << Printable(d.magic) << "\n";
    if (d.tag)
        out << "tag: " << Printable(std::string(1, static_cast<char>(*d.tag))) << "\n";
    out << "algorithm: " << AlgorithmName(d.algorithm) << "\n";
    if (d.form != Form::Bare)
        out << "header size N: " << (d.headerSize ? std::to_string(*d.headerSize) : "unknown") << "\n";
    out << "body offset: ";
    if (d.bodyOffset)
        out << *d.bodyOffset << (d.form == Form::Bare ? "" : " (" + d.offsetRule + ")") << "\n";
    else
        out << d.offsetRule << ", N unknown\n";
    out << "container length: " << d.length << "\n";
    out << "body length: " << (d.bodyLength ? std::to_string(*d.bodyLength) : "unknown") << "\n";
    if (d.bodyLength && *d.bodyLength >= 0)
        out << "body: " << BodyText(d) << "\n";
    for (const std::string& note : d.notes)
        out << "note: " << note << "\n";
    return out.str();
}

int Run(const InspectOptions& options)
{
    if (options.headerSize && (*options.headerSize < 0 || *options.headerSize > INT32_MAX)) {
        Fail("--header-size must be 0 to 2147483647");
        return 2;
    }
    std::string error;
    auto input = ReadInput(options.file, error);
    if (!input) {
        Fail(error);
        return 1;
    }
    Description d = Describe(*input, options.headerSize);
    std::string text = options.json ? Json(d) : Text(d);
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
