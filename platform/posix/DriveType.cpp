// GetDriveTypeW: the kind of file system that holds a path, since paths here
// carry no drive letter.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/PathText.h"
#include "platform/WideString.h"
#include "platform/posix/NativePath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace plat {
namespace {

// statfs f_type values (linux/magic.h and the file systems' own headers).
constexpr unsigned long kNetworkMagics[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x564C,      // NCP
    0x73757245,  // Coda
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x01021997,  // 9p
    0x00C36400,  // Ceph
    0x0BD00BD0,  // Lustre
    0x47504653,  // GPFS
    0x13661366,  // OrangeFS
    0x19830326,  // FhGFS / BeeGFS
};
constexpr unsigned long kFuseMagic = 0x65735546;
constexpr unsigned long kRamMagics[] = {0x01021994 /* tmpfs */, 0x858458F6 /* ramfs */};
constexpr unsigned long kOpticalMagics[] = {0x9660 /* ISO 9660 */, 0x15013346 /* UDF */};

// FUSE file systems that reach another machine, by their mount subtype.
constexpr std::string_view kNetworkFuse[] = {"sshfs",  "rclone",    "s3fs",      "gcsfuse", "goofys",
                                             "curlftpfs", "davfs",  "smbnetfs",  "glusterfs", "ceph-fuse",
                                             "afpfs",  "webdav",    "juicefs",   "nfs",     "cifs"};

template <size_t N>
bool In(unsigned long magic, const unsigned long (&list)[N])
{
    for (unsigned long m : list)
        if (m == magic)
            return true;
    return false;
}

// The file system type named in /proc/self/mountinfo for the device `dev`.
std::string MountType(dev_t dev)
{
    std::ifstream info("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::string line;
    std::string type;
    while (std::getline(info, line)) {
        std::istringstream fields(line);
        std::string id, parent, device;
        fields >> id >> parent >> device;
        if (device != wanted)
            continue;
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        tail >> type;  // the last mount of the device wins, as it is the one on top
    }
    return type;
}

bool IsNetworkFuse(dev_t dev)
{
    std::string type = MountType(dev);
    if (type.rfind("fuse.", 0) == 0)
        type = type.substr(5);
    else if (type.rfind("fuseblk", 0) == 0 || type == "fuse")
        return false;
    for (std::string_view name : kNetworkFuse)
        if (type == name)
            return true;
    return false;
}

// Whether the block device that holds `dev` (the disk, for a partition) says
// it is removable.
bool IsRemovableDevice(dev_t dev)
{
    const std::string link = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    char resolved[PATH_MAX];
    if (::realpath(link.c_str(), resolved) == nullptr)
        return false;
    for (const std::string& candidate : {std::string(resolved) + "/removable", std::string(resolved) + "/../removable"}) {
        std::ifstream flag(candidate);
        char c = 0;
        if (flag.get(c))
            return c == '1';
    }
    return false;
}

UINT TypeOfFileSystem(const std::string& native)
{
    // The path itself, or the nearest folder above it that exists.
    std::string probe = native;
    struct statfs fs{};
    struct stat st{};
    for (;;) {
        if (::statfs(probe.c_str(), &fs) == 0 && ::stat(probe.c_str(), &st) == 0)
            break;
        if ((errno != ENOENT && errno != ENOTDIR) || probe == "/" || probe == ".")
            return DRIVE_NO_ROOT_DIR;
        probe = posix::ParentFolder(probe);
    }
    const auto magic = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
    if (In(magic, kNetworkMagics) || (magic == kFuseMagic && IsNetworkFuse(st.st_dev)))
        return DRIVE_REMOTE;
    if (In(magic, kRamMagics))
        return DRIVE_RAMDISK;
    if (In(magic, kOpticalMagics))
        return DRIVE_CDROM;
    if (IsRemovableDevice(st.st_dev))
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

}  // namespace

UINT GetDriveTypeW(LPCWSTR rootPath)
{
    if (rootPath == nullptr)
        return TypeOfFileSystem(".");
    const std::u16string_view path(rootPath, WideLength(rootPath));
    if (HasDriveLetter(path))
        return DRIVE_NO_ROOT_DIR;  // no drive letters here
    if (IsSharePath(path))
        return DRIVE_REMOTE;
    auto native = ToNativePath(rootPath);
    if (!native)
        return DRIVE_NO_ROOT_DIR;
    return TypeOfFileSystem(native->empty() ? "." : *native);
}

bool backend::VolumeRoot(LPCWSTR path, std::u16string& root)
{
    root.assign(path, WideLength(path));  // judged by the file system that holds it
    return true;
}

}  // namespace plat
