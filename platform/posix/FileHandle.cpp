// Open files as CFile uses them: a handle is the file descriptor.
#include "platform/Backend.h"
#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace plat {
namespace {

// One read or write call moves at most this much (the kernel's own cap is a
// little below 2 GiB).
constexpr size_t kChunk = size_t{1} << 30;

int Descriptor(HANDLE file)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

DWORD Failed(int err)
{
    return posix::SetLastErrorFromErrno(err);
}

}  // namespace

namespace backend {

HANDLE OpenHandle(LPCWSTR fileName, const OpenRequest& request, DWORD& error)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native) {
        error = GetLastError();
        return INVALID_HANDLE_VALUE;
    }
    const int fd = posix::OpenFile(*native, request, error);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

DWORD ReadHandle(HANDLE file, void* buffer, size_t count, size_t& done)
{
    auto* out = static_cast<char*>(buffer);
    done = 0;
    while (done < count) {
        const ssize_t n = ::read(Descriptor(file), out + done, std::min(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Failed(errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return 0;
}

DWORD WriteHandle(HANDLE file, const void* buffer, size_t count)
{
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(Descriptor(file), in + done, std::min(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Failed(errno);
        }
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            return ERROR_DISK_FULL;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

DWORD SeekHandle(HANDLE file, LONGLONG offset, UINT from, ULONGLONG& position)
{
    const int whence = from == CFile::begin ? SEEK_SET : from == CFile::current ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(Descriptor(file), static_cast<off_t>(offset), whence);
    if (at < 0) {
        const DWORD error = errno == EINVAL ? ERROR_NEGATIVE_SEEK : posix::Win32ErrorFromErrno(errno);
        SetLastError(error);
        return error;
    }
    position = static_cast<ULONGLONG>(at);
    return 0;
}

DWORD HandleLength(HANDLE file, ULONGLONG& length)
{
    posix::FileInfo info;
    if (int err = posix::StatDescriptor(Descriptor(file), info); err != 0)
        return Failed(err);
    length = info.size;
    return 0;
}

DWORD SetHandleLength(HANDLE file, ULONGLONG length)
{
    if (::ftruncate(Descriptor(file), static_cast<off_t>(length)) != 0 ||
        ::lseek(Descriptor(file), static_cast<off_t>(length), SEEK_SET) < 0)
        return Failed(errno);
    return 0;
}

DWORD SyncHandle(HANDLE file)
{
    // File systems that cannot sync say EINVAL: nothing more to do there.
    if (::fsync(Descriptor(file)) != 0 && errno != EINVAL)
        return Failed(errno);
    return 0;
}

DWORD CloseFileHandle(HANDLE file)
{
    if (::close(Descriptor(file)) != 0 && errno != EINTR)
        return Failed(errno);
    return 0;
}

}  // namespace backend

namespace {

BOOL SyncPath(const std::string& native, int extraFlags)
{
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | extraFlags);
    if (fd < 0) {
        posix::SetLastErrorFromErrno(errno, native);
        return FALSE;
    }
    const int result = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // File systems that cannot sync a folder say EINVAL: nothing more to do there.
    if (result != 0 && err != EINVAL) {
        posix::SetLastErrorFromErrno(err, native);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL FlushFolderToDisk(LPCWSTR path)
{
    auto native = posix::NativePathOrFail(path);
    if (!native)
        return FALSE;
    return SyncPath(posix::ParentFolder(*native), O_DIRECTORY);
}

BOOL FlushFileToDisk(LPCWSTR fileName)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return FALSE;
    return SyncPath(*native, 0) && SyncPath(posix::ParentFolder(*native), O_DIRECTORY);
}

}  // namespace plat
