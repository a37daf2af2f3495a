#include "platform/TaskMemory.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <cstdlib>

namespace plat {

LPVOID CoTaskMemAlloc(SIZE_T size)
{
    if (auto failure = fault::Check(fault::Op::CoTaskMemAlloc)) {
        SetLastError(failure->error);
        return nullptr;
    }
    // A block of 0 bytes is still a block that can be freed.
    return std::malloc(size != 0 ? size : 1);
}

void CoTaskMemFree(LPVOID block)
{
    std::free(block);
}

}  // namespace plat
