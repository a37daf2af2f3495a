#include "support/ReaderContainers.h"

#include "PVCodec.h"
#include "support/ContainerFiles.h"

#include <algorithm>
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
    Bytes header = Header();
    const char tag = form == Form::ExtendedT ? 'T' : form == Form::ExtendedA ? 'A' : 'R';
    Bytes magicOrPrefix = form == Form::CallerMagic ? Bytes{'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0}
                          : form == Form::Default   ? Bytes{}
                                                    : reference::ExtendedPrefix(tag);
    const unsigned mode = form == Form::Default ? 0 : form == Form::CallerMagic ? 1 : 2;
    const size_t headerPart = (mode == 2 ? 92 : 14) + header.size();
    Bytes image(32 + headerPart + document.size() + 64, 0);
    std::copy(document.begin(), document.end(), image.begin() + 32);
    int resultSize = -1;
    const int status = CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(document.size()),
                                                         &resultSize, KeyArg(key), header.data(),
                                                         static_cast<int>(header.size()), mode,
                                                         magicOrPrefix.empty() ? nullptr : magicOrPrefix.data());
    if (status != 1 || resultSize < 0)
        throw std::runtime_error(std::string("the memory writer refused a ") + FormName(form) + " container");
    return {Bytes(image.begin() + 32, image.begin() + 32 + resultSize), static_cast<int>(headerPart)};
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
    return (form != Form::ExtendedA && form != Form::ExtendedT) ||
           containerfiles::OutsideCipherAvailable(form == Form::ExtendedA ? 1 : 2);
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
