// DeleteFileW and MoveFileW with Windows' rules: a read-only or open file is
// not deleted, an open file is not moved, and a move never replaces a file.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/ShareLock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace posix {
namespace {

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

bool Exists(const std::string& native)
{
    struct stat st{};
    return ::lstat(native.c_str(), &st) == 0;
}

// rename() where renameat2 cannot refuse to replace: look first.
BOOL RenameIfAbsent(const std::string& from, const std::string& to)
{
    if (Exists(to))
        return Fail(ERROR_ALREADY_EXISTS);
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Fail(Win32ErrorFromErrno(errno, to));
    return TRUE;
}

}  // namespace
}  // namespace posix

namespace backend {

using namespace posix;

BOOL RemoveFile(LPCWSTR fileName)
{
    auto native = NativePathOrFail(fileName);
    if (!native)
        return FALSE;
    struct stat st{};
    if (::lstat(native->c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno, *native);
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || IsReadOnlyMode(st.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    if (S_ISREG(st.st_mode) && IsHeldOpen(*native))
        return Fail(ERROR_SHARING_VIOLATION);
    if (::unlink(native->c_str()) != 0) {
        SetLastErrorFromErrno(errno, *native);
        return FALSE;
    }
    return TRUE;
}

BOOL RenameFile(LPCWSTR existingName, LPCWSTR newName)
{
    auto from = NativePathOrFail(existingName);
    if (!from)
        return FALSE;
    auto to = NativePathOrFail(newName);
    if (!to)
        return FALSE;
    struct stat st{};
    if (::lstat(from->c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno, *from);
        return FALSE;
    }
    if (S_ISREG(st.st_mode) && IsHeldOpen(*from))
        return Fail(ERROR_SHARING_VIOLATION);

    if (::renameat2(AT_FDCWD, from->c_str(), AT_FDCWD, to->c_str(), RENAME_NOREPLACE) == 0)
        return TRUE;
    const int err = errno;
    if (err == EEXIST)
        return Fail(ERROR_ALREADY_EXISTS);
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP)
        return Fail(Win32ErrorFromErrno(err, *to));

    // The file system cannot refuse to replace in one step. A hard link can:
    // it fails when the name exists; then the old name goes.
    if (S_ISDIR(st.st_mode))
        return RenameIfAbsent(*from, *to);
    if (::link(from->c_str(), to->c_str()) != 0) {
        const int linkErr = errno;
        if (linkErr == EEXIST)
            return Fail(ERROR_ALREADY_EXISTS);
        if (linkErr == EPERM || linkErr == ENOTSUP || linkErr == EMLINK || linkErr == ENOSYS)
            return RenameIfAbsent(*from, *to);
        return Fail(Win32ErrorFromErrno(linkErr, *to));
    }
    if (::unlink(from->c_str()) != 0) {
        const int unlinkErr = errno;
        (void)::unlink(to->c_str());
        return Fail(Win32ErrorFromErrno(unlinkErr, *from));
    }
    return TRUE;
}

}  // namespace backend
}  // namespace plat
