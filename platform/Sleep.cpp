#include "platform/FaultInjection.h"
#include "platform/Timing.h"

#include <chrono>
#include <thread>

namespace plat {

void Sleep(DWORD milliseconds)
{
    if (!fault::VirtualSleep(milliseconds))
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    HookPoint(hook::kSleep);
}

}  // namespace plat
