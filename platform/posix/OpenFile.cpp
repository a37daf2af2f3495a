#include "platform/posix/OpenFile.h"

#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::posix {
namespace {

// The five dispositions; opening an existing file needs no step of its own.
[[maybe_unused]] constexpr DWORD kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4,
                                 kTruncateExisting = 5;

int Fail(DWORD code, DWORD& error)
{
    error = code;
    SetLastError(code);
    return -1;
}

}  // namespace

int OpenFile(const std::string& native, const OpenRequest& request, DWORD& error)
{
    const DWORD disposition = request.disposition;
    if (disposition < kCreateNew || disposition > kTruncateExisting)
        return Fail(ERROR_INVALID_PARAMETER, error);
    const bool write = request.share.write;
    const bool replaces = disposition == kCreateAlways || disposition == kTruncateExisting;

    FileInfo before;
    if (StatPath(native, before) == 0) {
        if (before.IsFolder())
            return Fail(ERROR_ACCESS_DENIED, error);
        // Windows keeps a read-only file from being written or replaced, whoever asks.
        if (disposition != kCreateNew && (write || replaces) && IsReadOnlyMode(before.mode))
            return Fail(ERROR_ACCESS_DENIED, error);
    }

    // Writers open for reading too where they may, so that they can hold
    // their share locks (which need a readable descriptor).
    const int access = write ? O_RDWR : O_RDONLY;
    const int common = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (request.writeThrough ? O_DSYNC : 0);
    const auto openOnce = [&](int creation) {
        int fd = ::open(native.c_str(), access | common | creation, kNewFileMode);
        if (fd < 0 && errno == EACCES && write)
            fd = ::open(native.c_str(), O_WRONLY | common | creation, kNewFileMode);
        return fd;
    };

    int fd = -1;
    bool existed = false;
    switch (disposition) {
    case kCreateNew:
        fd = openOnce(O_CREAT | O_EXCL);
        break;
    case kCreateAlways:
    case kOpenAlways:
        // Create it, or open what is there; tell the two apart for the last error.
        for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
            fd = openOnce(O_CREAT | O_EXCL);
            if (fd >= 0 || errno != EEXIST)
                break;
            fd = openOnce(0);
            existed = fd >= 0;
            if (fd < 0 && errno != ENOENT)
                break;
        }
        break;
    default:
        fd = openOnce(0);
        existed = true;
        break;
    }
    if (fd < 0)
        return Fail(Win32ErrorFromErrno(errno, native), error);

    FileInfo opened;
    if (StatDescriptor(fd, opened) != 0 || opened.IsFolder()) {
        ::close(fd);
        return Fail(ERROR_ACCESS_DENIED, error);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    if (DWORD conflict = TakeShareLocks(fd, request.share); conflict != 0) {
        ::close(fd);
        return Fail(conflict, error);
    }
    if (existed && replaces && ::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(Win32ErrorFromErrno(err, native), error);
    }
    error = 0;
    SetLastError(existed && (disposition == kCreateAlways || disposition == kOpenAlways) ? ERROR_ALREADY_EXISTS
                                                                                          : 0);
    return fd;
}

}  // namespace plat::posix
