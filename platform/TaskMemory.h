// The COM task allocator: whole-document images come from here.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

// Null when the memory is not there (or when the test seam says so). A block
// of 4 MiB or more is granted only when the machine can back it: it must fit,
// beside the large blocks already out and with 32 MiB to spare, in the memory
// the process can still be given (the machine's available memory, and the
// room under its memory limits). So a document image that cannot be had is
// refused here, and the driver that asked streams, rather than the process
// being killed when it touches the image.
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);

}  // namespace plat
