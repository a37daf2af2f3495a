// Internal to the layer: how much more memory this process can be given
// without being killed for it, from the kernel's own figures.
#pragma once

#include "platform/WinTypes.h"

#include <optional>

namespace plat::posix {

// The least of the machine's available memory (MemAvailable in
// /proc/meminfo) and the room under the memory limit of each cgroup this
// process lies in (limit - usage + the group's page cache, which the kernel
// can reclaim). nullopt when none of these can be read.
std::optional<ULONGLONG> AvailableMemory();

}  // namespace plat::posix
