// The last error is the system's own, so that a failed system call and the
// layer's own failures show through the same GetLastError.
#include "platform/LastError.h"

#include "platform/win32/WinApi.h"

namespace plat {

DWORD GetLastError()
{
    return static_cast<DWORD>(::GetLastError());
}

void SetLastError(DWORD error)
{
    ::SetLastError(error);
}

}  // namespace plat
