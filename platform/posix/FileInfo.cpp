#include "platform/posix/FileInfo.h"

#include "platform/FileTime.h"
#include "platform/posix/NativePath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace plat::posix {
namespace {

FILETIME ToFileTime(const struct statx_timestamp& t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t.tv_sec);
    ts.tv_nsec = static_cast<long>(t.tv_nsec);
    FILETIME out{};
    if (!TimespecToFileTime(ts, &out))
        out = FILETIME{};  // before 1601: the earliest time there is
    return out;
}

int Fill(int dirfd, const char* path, int flags, FileInfo& info)
{
    struct statx stx{};
    if (::statx(dirfd, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return errno;
    info.mode = stx.stx_mode;
    info.group = stx.stx_gid;
    info.size = stx.stx_size;
    info.accessed = ToFileTime(stx.stx_atime);
    info.written = ToFileTime(stx.stx_mtime);
    info.hasBirthTime = (stx.stx_mask & STATX_BTIME) != 0;
    info.created = info.hasBirthTime ? ToFileTime(stx.stx_btime) : info.written;
    return 0;
}

}  // namespace

bool FileInfo::IsFolder() const
{
    return S_ISDIR(mode);
}

bool FileInfo::IsRegular() const
{
    return S_ISREG(mode);
}

int StatPath(const std::string& native, FileInfo& info)
{
    return Fill(AT_FDCWD, native.c_str(), 0, info);
}

int StatDescriptor(int fd, FileInfo& info)
{
    return Fill(fd, "", AT_EMPTY_PATH, info);
}

bool IsReadOnlyMode(mode_t mode)
{
    return (mode & S_IWUSR) == 0;
}

mode_t WithReadOnly(mode_t mode, bool readOnly)
{
    return readOnly ? mode & static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH)) : mode | S_IWUSR;
}

DWORD AttributesOf(const std::string& native, const FileInfo& info)
{
    DWORD attributes = 0;
    if (info.IsFolder())
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (IsReadOnlyMode(info.mode))
        attributes |= FILE_ATTRIBUTE_READONLY;
    const std::string name = LastComponent(native);
    if (name.size() > 1 && name[0] == '.' && name != "..")
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace plat::posix
