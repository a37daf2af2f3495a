// CFile's static operations on a file by name: status, renaming, removal.
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/FileTime.h"
#include "platform/LastError.h"
#include "platform/WideString.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/FileOps.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

// What a status carries of a file's mode: owner, group and others; not the
// set-id and sticky bits, which a result does not take.
constexpr mode_t kPermissionBits = 0777;

[[noreturn]] void ThrowInjected(const fault::Failure& failure, LPCWSTR name)
{
    SetLastError(failure.error);
    const int cause = failure.cause >= 0 ? failure.cause
                                         : CFileException::OsErrorToException(static_cast<LONG>(failure.error));
    throw CFileException(cause, static_cast<LONG>(failure.error), name);
}

[[noreturn]] void ThrowLastErrorFor(LPCWSTR name)
{
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), name);
}

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
void SetTimes(LPCWSTR fileName, const CFileStatus& status)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        ThrowLastErrorFor(fileName);
    posix::OpenRequest request;
    request.share = posix::ShareMode{true, true, true, false, false};
    request.disposition = OPEN_EXISTING;
    DWORD error = 0;
    const int fd = posix::OpenFile(*native, request, error);
    if (fd < 0)
        ThrowLastErrorFor(fileName);
    timespec times[2];
    times[0] = IsGiven(status.m_atime) ? FileTimeToTimespec(status.m_atime) : timespec{0, UTIME_OMIT};
    times[1] = FileTimeToTimespec(status.m_mtime);
    const int result = ::futimens(fd, times);
    const int err = errno;
    ::close(fd);
    if (result != 0) {
        posix::SetLastErrorFromErrno(err, *native);
        ThrowLastErrorFor(fileName);
    }
}

}  // namespace

BOOL CFile::GetStatus(LPCWSTR fileName, CFileStatus& status)
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

BOOL CFile::GetStatus(CFileStatus& status) const
{
    if (m_fd < 0)
        return FALSE;
    auto native = ToNativePath(m_strFileName.c_str());
    posix::FileInfo info;
    if (!native || posix::StatDescriptor(m_fd, info) != 0)
        return FALSE;
    Fill(status, *native, info);
    // The size counts the bytes still held in the object's buffer. They stay
    // there: a write error is left to the calls that throw (Close at last).
    status.m_size = std::max(status.m_size, BufferedWritesEnd());
    return TRUE;
}

void CFile::SetStatus(LPCWSTR fileName, const CFileStatus& status)
{
    if (auto failure = fault::Check(fault::Op::FileSetStatus))
        ThrowInjected(*failure, fileName);
    struct stat st{};
    auto native = posix::StatPathOrFail(fileName, st);
    if (!native)
        ThrowLastErrorFor(fileName);
    const mode_t current = st.st_mode & 07777;
    const mode_t wanted = ModeFor(status, current, TakeGroup(*native, st, status));
    const auto setMode = [&] {
        if (wanted != current && ::chmod(native->c_str(), wanted) != 0) {
            posix::SetLastErrorFromErrno(errno, *native);
            ThrowLastErrorFor(fileName);
        }
    };
    // A read-only file is made writable first, so that its times can be set.
    const bool readOnly = posix::IsReadOnlyMode(current);
    if (readOnly)
        setMode();
    if (IsGiven(status.m_mtime))
        SetTimes(fileName, status);
    if (!readOnly)
        setMode();
}

void CFile::Rename(LPCWSTR oldName, LPCWSTR newName)
{
    if (auto failure = fault::Check(fault::Op::FileRename))
        ThrowInjected(*failure, oldName);
    if (!posix::MoveFileUncounted(oldName, newName))
        ThrowLastErrorFor(oldName);
}

void CFile::Remove(LPCWSTR fileName)
{
    if (auto failure = fault::Check(fault::Op::FileRemove))
        ThrowInjected(*failure, fileName);
    if (!posix::DeleteFileUncounted(fileName))
        ThrowLastErrorFor(fileName);
}

}  // namespace plat
