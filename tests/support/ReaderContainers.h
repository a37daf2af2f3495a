// The readers' containers in each form, made once per form, size and key by the memory writer.
#pragma once

#include "support/ReferenceContainer.h"

#include <string>

namespace readercontainers {

using reference::Bytes;

// A body alone (Rijndael); "VQPVA002", N, header; "VQPVA003" under header mode 1;
// the 92-byte prefix with tag 'R', 'T' (ATE) or 'A' (ARIA, a whole-document body).
enum class Form { Bare, Default, CallerMagic, ExtendedR, ExtendedT, ExtendedA };
const char* FormName(Form form);

inline const std::string kKey = "0123456789abcdef";
inline const std::string kWrongKey = "fedcba9876543210";
// The caller's opaque header of every form that has one.
const Bytes& Header();

struct Container {
    Bytes bytes;
    int offset = 0;  // nOffsetToMain
};

// The container of DocumentOf(size) in `form` (the ARIA form needs a document of a byte or more).
const Container& Make(Form form, size_t size, const std::string& key = kKey);
// The document Make enciphered.
Bytes DocumentOf(size_t size);
// Whether the cipher of `form` is at hand (the outside library for ATE and ARIA).
bool Available(Form form);

// Key pointer for the library's char* parameters.
inline char* KeyArg(const std::string& key)
{
    return const_cast<char*>(key.data());
}

inline constexpr char kFill = static_cast<char>(0x5A);
// nOffsetToMain of `form`'s container.
int OffsetOf(Form form);

// A memory image: the document at 32, the fill around it and after the largest container.
struct Image {
    explicit Image(const Bytes& document);
    // The plain entry for the default form, Ex for a magic in mode 0, else DoEncryptMemoryToMemory.
    int Encrypt(size_t size, const Bytes& header, unsigned mode = 0, const char* magic = nullptr,
                char* key = KeyArg(kKey));
    // The whole document in `form` (not bare) with Header().
    int EncryptAs(Form form, const std::string& key = kKey);
    int32_t Stored() const;
    Bytes Container() const;
    bool Untouched(size_t from) const;  // bytes 4..31 and those from `from` on
    Bytes bytes;
    int result = -1;
    size_t size = 0;
};

}  // namespace readercontainers
