// The runtime library's stream functions, with a wide path to open. The
// stream takes part in share modes as an open for reading or writing that
// denies nothing (as the runtime library opens files).
#pragma once

#include "platform/WinTypes.h"

#include <cstdio>

namespace plat {

// `mode` as for fopen ("rb", "wb", "r+b"...). Null with the last error and
// errno set when the file cannot be opened.
FILE* _wfopen(LPCWSTR fileName, LPCWSTR mode);
int fseek(FILE* stream, long offset, int origin);
long ftell(FILE* stream);
size_t fread(void* buffer, size_t size, size_t count, FILE* stream);
int fclose(FILE* stream);

}  // namespace plat
