// Waiting on the caller's thread.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

// Waits `milliseconds`. Under the test seam's virtual clock
// (platform/FaultInjection.h) it only advances that clock and records the
// length; either way the "sleep" hook point runs afterwards.
void Sleep(DWORD milliseconds);

}  // namespace plat
