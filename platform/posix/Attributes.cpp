// File attributes over permission bits and names (see platform/FileApi.h).
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"

#include <cerrno>
#include <sys/stat.h>

namespace plat {

DWORD GetFileAttributesW(LPCWSTR fileName)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return INVALID_FILE_ATTRIBUTES;
    posix::FileInfo info;
    if (int err = posix::StatPath(*native, info); err != 0) {
        posix::SetLastErrorFromErrno(err, *native);
        return INVALID_FILE_ATTRIBUTES;
    }
    return posix::AttributesOf(*native, info);
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes)
{
    struct stat st{};
    auto native = posix::StatPathOrFail(fileName, st);
    if (!native)
        return FALSE;
    const mode_t mode = posix::WithReadOnly(st.st_mode & 07777, (attributes & FILE_ATTRIBUTE_READONLY) != 0);
    if (mode != (st.st_mode & 07777) && ::chmod(native->c_str(), mode) != 0) {
        posix::SetLastErrorFromErrno(errno, *native);
        return FALSE;
    }
    return TRUE;
}

}  // namespace plat
