// The runtime library's stream functions the library reads containers with
// (_wfopen is the backend's).
#include "platform/Stdio.h"

namespace plat {

int fseek(FILE* stream, long offset, int origin)
{
    return std::fseek(stream, offset, origin);
}

long ftell(FILE* stream)
{
    return std::ftell(stream);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream)
{
    return std::fread(buffer, size, count, stream);
}

int fclose(FILE* stream)
{
    return std::fclose(stream);
}

}  // namespace plat
