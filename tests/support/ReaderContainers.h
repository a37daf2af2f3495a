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

}  // namespace readercontainers
