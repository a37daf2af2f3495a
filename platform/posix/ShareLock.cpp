#include "platform/posix/ShareLock.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::posix {
namespace {

// The lock bytes lie just below the largest offset a file can have.
constexpr off_t kLockBase = std::numeric_limits<off_t>::max() - 16;
enum LockByte : off_t { kReading = 0, kWriting = 1, kDenyingRead = 2, kDenyingWrite = 3, kDenyingDelete = 4 };

struct flock LockOf(LockByte byte, short type)
{
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase + byte;
    fl.l_len = 1;
    fl.l_pid = 0;  // required by open file description locks
    return fl;
}

int Hold(int fd, LockByte byte)
{
    struct flock fl = LockOf(byte, F_RDLCK);
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

void Release(int fd, LockByte byte)
{
    struct flock fl = LockOf(byte, F_UNLCK);
    (void)::fcntl(fd, F_OFD_SETLK, &fl);
}

// Whether an open other than `fd`'s holds `byte`.
bool HeldByOther(int fd, LockByte byte)
{
    struct flock fl = LockOf(byte, F_WRLCK);
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0)
        return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace

DWORD TakeShareLocks(int fd, const ShareMode& mode)
{
    LockByte wanted[5];
    size_t n = 0;
    if (mode.read)
        wanted[n++] = kReading;
    if (mode.write)
        wanted[n++] = kWriting;
    if (!mode.shareRead)
        wanted[n++] = kDenyingRead;
    if (!mode.shareWrite)
        wanted[n++] = kDenyingWrite;
    if (!mode.shareDelete)
        wanted[n++] = kDenyingDelete;

    for (size_t i = 0; i < n; ++i) {
        if (Hold(fd, wanted[i]) != 0) {
            // No locks here (file system, or a descriptor that cannot read):
            // this open takes part in no share modes.
            for (size_t j = 0; j < i; ++j)
                Release(fd, wanted[j]);
            return 0;
        }
    }
    const bool conflict = (mode.read && HeldByOther(fd, kDenyingRead)) ||
                          (mode.write && HeldByOther(fd, kDenyingWrite)) ||
                          (!mode.shareRead && HeldByOther(fd, kReading)) ||
                          (!mode.shareWrite && HeldByOther(fd, kWriting));
    if (!conflict)
        return 0;
    for (size_t i = 0; i < n; ++i)
        Release(fd, wanted[i]);
    return ERROR_SHARING_VIOLATION;
}

bool IsHeldOpen(const std::string& native)
{
    struct stat st{};
    if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool held = HeldByOther(fd, kDenyingDelete);
    ::close(fd);
    return held;
}

}  // namespace plat::posix
