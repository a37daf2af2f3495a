#include "support/ReaderContainers.h"

#include "PVCodec.h"
#include "support/ContainerFiles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>

namespace readercontainers {
namespace {

std::mutex g_mutex;
std::map<std::tuple<Form, size_t, std::string>, Container> g_made;

Container Write(Form form, const Bytes& document, const std::string& key)
{
    if (form == Form::Bare)
        return {reference::SegmentedBody(key, document), 0};
    Image image(document);
    if (image.EncryptAs(form, key) != 1 || image.result < 0)
        throw std::runtime_error(std::string("the memory writer refused a ") + FormName(form) + " container");
    return {image.Container(), OffsetOf(form)};
}

}  // namespace

const char* FormName(Form form)
{
    static const char* const names[] = {"bare", "default", "caller_magic", "extended_R", "extended_T", "extended_A"};
    return names[static_cast<int>(form)];
}

const Bytes& Header()
{
    static const Bytes header = {'h', 'e', 'a', 'd', 0, 1, 2, 3, 'e', 'r'};
    return header;
}

Bytes DocumentOf(size_t size)
{
    return reference::Document(size, static_cast<uint32_t>(size));
}

bool Available(Form form)
{
    char in[16] = {}, out[64];  // the outside crypto library serves the cipher here
    return (form != Form::ExtendedA && form != Form::ExtendedT) ||
           CPVCodec::SFPadEncryptEx(in, out, KeyArg(kKey), 16, form == Form::ExtendedA ? 1 : 2) > 0;
}

int OffsetOf(Form form)
{
    return form == Form::Bare ? 0 : int(form >= Form::ExtendedR ? 92 : 14) + int(Header().size());
}

Image::Image(const Bytes& document) : bytes(32 + 92 + 64 + document.size() + 32 + 64, kFill), size(document.size())
{
    std::copy(document.begin(), document.end(), bytes.begin() + 32);
}

int Image::Encrypt(size_t n, const Bytes& header, unsigned mode, const char* magic, char* key)
{
    Bytes h = header;
    char* const hp = h.empty() ? nullptr : h.data();
    char* const m = const_cast<char*>(magic);
    if (mode == 0 && magic == nullptr)
        return CPVCodec::EncryptMemoryToMemory(bytes.data(), int(n), &result, key, hp, int(h.size()));
    if (mode == 0)
        return CPVCodec::EncryptMemoryToMemoryEx(bytes.data(), int(n), &result, key, hp, int(h.size()), mode, m);
    return CPVCodec::DoEncryptMemoryToMemory(bytes.data(), int(n), &result, key, hp, int(h.size()), mode, m);
}

int Image::EncryptAs(Form form, const std::string& key)
{
    const Bytes prefix = reference::ExtendedPrefix(form == Form::ExtendedT ? 'T' : form == Form::ExtendedA ? 'A' : 'R');
    const unsigned mode = form == Form::Default ? 0 : form == Form::CallerMagic ? 1 : 2;
    return Encrypt(size, Header(), mode, mode == 1 ? "VQPVA003" : mode == 2 ? prefix.data() : nullptr, KeyArg(key));
}

int32_t Image::Stored() const
{
    int32_t stored = 0;
    std::memcpy(&stored, bytes.data(), 4);
    return stored;
}

Bytes Image::Container() const
{
    return Bytes(bytes.begin() + 32, bytes.begin() + 32 + std::max(result, 0));
}

bool Image::Untouched(size_t from) const
{
    return std::count(bytes.begin() + 4, bytes.begin() + 32, kFill) == 28 &&
           std::count(bytes.begin() + std::ptrdiff_t(from), bytes.end(), kFill) == std::ptrdiff_t(bytes.size() - from);
}

const Container& Make(Form form, size_t size, const std::string& key)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto slot = std::make_tuple(form, size, key);
    auto found = g_made.find(slot);
    if (found == g_made.end())
        found = g_made.emplace(slot, Write(form, DocumentOf(size), key)).first;
    return found->second;
}

}  // namespace readercontainers
