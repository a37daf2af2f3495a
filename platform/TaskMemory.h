// The COM task allocator: whole-document images come from here.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

// The C allocator underneath; null when the memory is not there (or when the
// test seam says so).
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);

}  // namespace plat
