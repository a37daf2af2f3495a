// The COM task allocator: the system's own, which refuses a block it cannot
// back (Windows commits memory when it grants it).
#include "platform/Backend.h"
#include "platform/TaskMemory.h"
#include "platform/win32/WinApi.h"

namespace plat {

LPVOID backend::AllocateTaskMemory(SIZE_T size)
{
    LPVOID block = ::CoTaskMemAlloc(size);
    if (block == nullptr)
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

void CoTaskMemFree(LPVOID block)
{
    ::CoTaskMemFree(block);
}

}  // namespace plat
