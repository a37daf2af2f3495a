// A file's status: read from an open file or by name, and put on a file.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/FileTime.h"
#include "platform/LastError.h"
#include "platform/WideString.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

// What a status carries of a file's mode: owner, group and others; not the
// set-id and sticky bits, which a result does not take.
constexpr mode_t kPermissionBits = 0777;

void Fill(CFileStatus& status, const std::string& native, const posix::FileInfo& info)
{
    status.m_ctime = info.created;
    status.m_mtime = info.written;
    status.m_atime = info.accessed;
    status.m_size = info.size;
    status.m_attribute = static_cast<BYTE>(posix::AttributesOf(native, info) & ~FILE_ATTRIBUTE_NORMAL);
    status.m_szFullName = Utf8ToUtf16(posix::AbsolutePath(native));
    status.m_access = CFileStatus::Access{static_cast<DWORD>(info.mode & kPermissionBits), info.group};
}

// Gives the file the status's group where it has another; false when it
// cannot (the process is neither root nor in that group).
bool TakeGroup(const std::string& native, const struct stat& st, const CFileStatus& status)
{
    if (!status.m_access || st.st_gid == static_cast<gid_t>(status.m_access->group))
        return true;
    return ::chown(native.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(status.m_access->group)) == 0;
}

// The mode the file ends with: the status's permission bits where given (no
// group permissions when the group could not be given: they would grant to
// another group than the source's), else its own mode; with the status's
// read-only attribute on them.
mode_t ModeFor(const CFileStatus& status, mode_t current, bool groupTaken)
{
    mode_t mode = current;
    if (status.m_access) {
        mode = static_cast<mode_t>(status.m_access->permissions) & kPermissionBits;
        if (!groupTaken)
            mode &= static_cast<mode_t>(~S_IRWXG);
    }
    return posix::WithReadOnly(mode, (status.m_attribute & CFile::readOnly) != 0);
}

bool IsGiven(const FILETIME& time)
{
    return time.dwLowDateTime != 0 || time.dwHighDateTime != 0;
}

// Puts access and write times on the file, through an open for reading and
// writing that lets others read, as the framework does it.
BOOL SetTimes(const std::string& native, const CFileStatus& status)
{
    backend::OpenRequest request;
    request.share = backend::ShareMode{true, true, true, false, false};
    request.disposition = OPEN_EXISTING;
    DWORD error = 0;
    const int fd = posix::OpenFile(native, request, error);
    if (fd < 0)
        return FALSE;
    timespec times[2];
    times[0] = IsGiven(status.m_atime) ? FileTimeToTimespec(status.m_atime) : timespec{0, UTIME_OMIT};
    times[1] = FileTimeToTimespec(status.m_mtime);
    const int result = ::futimens(fd, times);
    const int err = errno;
    ::close(fd);
    if (result != 0) {
        posix::SetLastErrorFromErrno(err, native);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

namespace backend {

BOOL PathStatus(LPCWSTR fileName, CFileStatus& status)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return FALSE;
    posix::FileInfo info;
    if (int err = posix::StatPath(*native, info); err != 0) {
        posix::SetLastErrorFromErrno(err, *native);
        return FALSE;
    }
    Fill(status, *native, info);
    return TRUE;
}

BOOL HandleStatus(HANDLE file, const std::u16string& name, CFileStatus& status)
{
    auto native = ToNativePath(name.c_str());
    posix::FileInfo info;
    if (!native || posix::StatDescriptor(static_cast<int>(reinterpret_cast<intptr_t>(file)), info) != 0)
        return FALSE;
    Fill(status, *native, info);
    return TRUE;
}

BOOL PutStatus(LPCWSTR fileName, const CFileStatus& status)
{
    struct stat st{};
    auto native = posix::StatPathOrFail(fileName, st);
    if (!native)
        return FALSE;
    const mode_t current = st.st_mode & 07777;
    const mode_t wanted = ModeFor(status, current, TakeGroup(*native, st, status));
    const auto setMode = [&] {
        if (wanted != current && ::chmod(native->c_str(), wanted) != 0) {
            posix::SetLastErrorFromErrno(errno, *native);
            return false;
        }
        return true;
    };
    // A read-only file is made writable first, so that its times can be set.
    const bool readOnly = posix::IsReadOnlyMode(current);
    if (readOnly && !setMode())
        return FALSE;
    if (IsGiven(status.m_mtime) && !SetTimes(*native, status))
        return FALSE;
    if (!readOnly && !setMode())
        return FALSE;
    return TRUE;
}

}  // namespace backend
}  // namespace plat
