#include "platform/posix/MemoryRoom.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>

namespace plat::posix {
namespace {

// Where the hierarchies are mounted wherever systemd or a container runtime
// mounts them: cgroup v2 alone, v2 beside v1 (hybrid), and v1's memory
// hierarchy.
constexpr const char* kUnifiedMounts[] = {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"};
constexpr const char* kMemoryMount = "/sys/fs/cgroup/memory";

// The number a cgroup file holds; nullopt for "max" (no limit) or a file
// that is not there.
std::optional<ULONGLONG> ReadNumber(const std::string& path)
{
    std::ifstream in(path);
    ULONGLONG value = 0;
    if (in >> value)
        return value;
    return std::nullopt;
}

// The sum of the values of `keys` in a "key value" file (memory.stat).
ULONGLONG SumOf(const std::string& path, std::initializer_list<std::string_view> keys)
{
    std::ifstream in(path);
    std::string name;
    ULONGLONG value = 0, sum = 0;
    while (in >> name >> value)
        if (std::find(keys.begin(), keys.end(), name) != keys.end())
            sum += value;
    return sum;
}

// MemAvailable of /proc/meminfo, in bytes.
std::optional<ULONGLONG> MachineAvailable()
{
    std::ifstream in("/proc/meminfo");
    std::string name, unit;
    ULONGLONG value = 0;
    while (in >> name >> value >> unit)  // "MemAvailable:   123456 kB"
        if (name == "MemAvailable:")
            return value * 1024;
    return std::nullopt;
}

struct LimitFiles {
    const char* limit;
    const char* usage;
    std::string_view activeFile;  // memory.stat keys of the group's page cache
    std::string_view inactiveFile;
};
constexpr LimitFiles kV2{"memory.max", "memory.current", "active_file", "inactive_file"};
constexpr LimitFiles kV1{"memory.limit_in_bytes", "memory.usage_in_bytes", "total_active_file",
                         "total_inactive_file"};

// Narrows `room` to what is left under the limit of `group` and of every
// group above it that the mount shows: the limit that binds may be set on
// any of them. The group's page cache counts as room, since the kernel
// reclaims it before it kills.
void NarrowByGroup(const std::string& mount, std::string group, const LimitFiles& files,
                   std::optional<ULONGLONG>& room)
{
    while (true) {
        const std::string dir = mount + (group == "/" ? "" : group);
        const auto limit = ReadNumber(dir + "/" + files.limit);
        const auto usage = limit ? ReadNumber(dir + "/" + files.usage) : std::nullopt;
        if (limit && usage) {
            const ULONGLONG cache = SumOf(dir + "/memory.stat", {files.activeFile, files.inactiveFile});
            const ULONGLONG used = *usage > cache ? *usage - cache : 0;
            const ULONGLONG left = *limit > used ? *limit - used : 0;
            room = room ? std::min(*room, left) : left;
        }
        const size_t slash = group.find_last_of('/');
        if (group.size() <= 1 || slash == std::string::npos)
            return;
        group.resize(slash == 0 ? 1 : slash);  // the group above
    }
}

}  // namespace

std::optional<ULONGLONG> AvailableMemory()
{
    std::optional<ULONGLONG> room = MachineAvailable();
    // One line per hierarchy, "id:controllers:path"; cgroup v2 is "0::path".
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        // Built by append: GCC 12 at -O3 warns falsely (-Wrestrict) on "," + std::string&&.
        std::string controllers(1, ',');
        controllers.append(line, first + 1, second - first - 1).push_back(',');
        const std::string group = line.substr(second + 1);
        if (controllers == ",,") {
            for (const char* mount : kUnifiedMounts)
                NarrowByGroup(mount, group, kV2, room);
        } else if (controllers.find(",memory,") != std::string::npos) {
            NarrowByGroup(kMemoryMount, group, kV1, room);
        }
    }
    return room;
}

}  // namespace plat::posix
