#include "ContainerReport.h"

#include "container/ContainerFormat.h"

#include <PVCodec.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace cli::report {
namespace {

using namespace container;

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

// A default form's N and the offset of its body, as decrypt reads them.
void DescribeHeaderSize(const HeaderSizeField& field, Description& d)
{
    switch (field.state) {
    case HeaderSizeField::State::Missing:
        d.notes.push_back("shorter than the 14-byte fixed header");
        break;
    case HeaderSizeField::State::OutOfRange:
        d.storedHeaderSize = field.stored;
        d.notes.push_back("damaged header: its header size field holds " + std::to_string(field.stored) +
                          " (readable: 0 to " + std::to_string(kLargestDefaultHeaderSize) + "); decrypt refuses it");
        break;
    case HeaderSizeField::State::Valid:
        d.headerSize = field.stored;
        d.bodyOffset = field.bodyOffset;
        break;
    }
}

}  // namespace

Description Describe(const Input& input, std::optional<int64_t> givenHeaderSize)
{
    Description d;
    d.length = input.length;
    unsigned char probe[kHeaderPrefixSize] = {};
    const size_t got = std::min<size_t>(input.start.size(), sizeof probe);
    std::copy(input.start.begin(), input.start.begin() + static_cast<std::ptrdiff_t>(got),
              reinterpret_cast<char*>(probe));
    const int64_t available = std::min<int64_t>(static_cast<int64_t>(got), input.length);
    const HeaderSizeField field = ReadHeaderSizeField(probe, available);
    auto magicText = [&] {
        std::string text(reinterpret_cast<const char*>(probe), kMagicFieldSize);
        return text.substr(0, text.find('\0'));
    };

    switch (ReadMagicForm(probe, available)) {
    case MagicForm::Extended:
        d.form = Form::Extended;
        d.magic = MAGIC_EXTENDED;
        d.offsetRule = "92 + N";
        if (const int tag = ReaderTag(probe, available); tag >= 0) {
            d.tag = static_cast<unsigned char>(tag);
            d.algorithm = CPVCodec::ConvertFileAlgToProgAlg(*d.tag);
        }
        if (available < kHeaderPrefixSize)
            d.notes.push_back("shorter than the 92-byte header prefix");
        if (!givenHeaderSize) {
            d.notes.push_back("the extended form does not store N: give --header-size N for the body");
        } else if (!IsExtendedHeaderSize(*givenHeaderSize)) {
            d.notes.push_back("--header-size " + std::to_string(*givenHeaderSize) + " is out of range (0 to " +
                              std::to_string(kLargestExtendedHeaderSize) + ")");
        } else {
            d.headerSize = givenHeaderSize;
            d.bodyOffset = kHeaderPrefixSize + *givenHeaderSize;
        }
        break;
    case MagicForm::Default:
        d.form = Form::Default;
        d.magic = magicText();
        d.offsetRule = "14 + N";
        DescribeHeaderSize(field, d);
        break;
    case MagicForm::None:
        if (field.state == HeaderSizeField::State::Valid && field.stored >= 1 && field.bodyOffset <= input.length &&
            LooksLikeCallerMagic(probe)) {
            d.form = Form::CallerMagic;
            d.magic = magicText();
            d.offsetRule = "14 + N";
            DescribeHeaderSize(field, d);
            if (!givenHeaderSize || *givenHeaderSize != field.stored)
                d.notes.push_back("no known magic: read as the default form with a caller's magic; if it is a "
                                  "bare body, its offset is 0");
        } else {
            d.form = Form::Bare;
            d.offsetRule = "0";
            d.bodyOffset = 0;
        }
        break;
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

namespace {

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

}  // namespace

std::string Json(const Description& d)
{
    std::ostringstream out;
    out << "{\"form\":" << JsonString(FormKey(d.form)) << ",\"magic\":"
        << (d.magic.empty() ? "null" : JsonString(d.magic)) << ",\"headerSize\":" << JsonOptional(d.headerSize)
        << (d.storedHeaderSize ? ",\"storedHeaderSize\":" + std::to_string(*d.storedHeaderSize) : "")
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
    const char* noN = d.storedHeaderSize ? "damaged" : "unknown";
    if (d.form != Form::Bare) {
        out << "header size N: ";
        if (d.headerSize)
            out << *d.headerSize << "\n";
        else if (d.storedHeaderSize)
            out << noN << " (" << *d.storedHeaderSize << ")\n";
        else
            out << noN << "\n";
    }
    out << "body offset: ";
    if (d.bodyOffset)
        out << *d.bodyOffset << (d.form == Form::Bare ? "" : " (" + d.offsetRule + ")") << "\n";
    else
        out << d.offsetRule << ", N " << noN << "\n";
    out << "container length: " << d.length << "\n";
    out << "body length: " << (d.bodyLength ? std::to_string(*d.bodyLength) : "unknown") << "\n";
    if (d.bodyLength && *d.bodyLength >= 0)
        out << "body: " << BodyText(d) << "\n";
    for (const std::string& note : d.notes)
        out << "note: " << note << "\n";
    return out.str();
}


}  // namespace cli::report
