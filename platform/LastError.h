// The calling thread's last-error value, as Win32 keeps it: every call of the
// platform layer that fails stores its Win32 error code here.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

DWORD GetLastError();
void SetLastError(DWORD error);

}  // namespace plat
