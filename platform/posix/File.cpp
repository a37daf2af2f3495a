// CFile: opening, reading, writing, positioning and closing one file.
#include "platform/File.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <utility>

namespace plat {
namespace {

// One read or write call moves at most this much (the kernel's own cap is a
// little below 2 GiB).
constexpr size_t kChunk = size_t{1} << 30;

[[noreturn]] void ThrowInjected(const fault::Failure& failure, const std::u16string& name)
{
    SetLastError(failure.error);
    const int cause = failure.cause >= 0 ? failure.cause
                                         : CFileException::OsErrorToException(static_cast<LONG>(failure.error));
    throw CFileException(cause, static_cast<LONG>(failure.error), name.c_str());
}

}  // namespace

CFile::CFile(LPCWSTR fileName, UINT openFlags)
{
    CFileException error;
    if (!Open(fileName, openFlags, &error))
        throw error;
}

CFile::~CFile()
{
    Abort();
}

CFile::CFile(CFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_canRead(other.m_canRead),
      m_canWrite(other.m_canWrite),
      m_strFileName(std::move(other.m_strFileName))
{
}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        Abort();
        m_fd = std::exchange(other.m_fd, -1);
        m_canRead = other.m_canRead;
        m_canWrite = other.m_canWrite;
        m_strFileName = std::move(other.m_strFileName);
    }
    return *this;
}

void CFile::ThrowLastError() const
{
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName.c_str());
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* pError)
{
    Abort();
    const std::u16string name = fileName != nullptr ? std::u16string(fileName) : std::u16string();
    const auto fail = [&](DWORD error, int cause) {
        SetLastError(error);
        if (pError != nullptr) {
            pError->m_lOsError = static_cast<LONG>(error);
            pError->m_cause = cause >= 0 ? cause : CFileException::OsErrorToException(static_cast<LONG>(error));
            pError->m_strFileName = name;
        }
        return FALSE;
    };
    if (auto failure = fault::Check(fault::Op::FileOpen))
        return fail(failure->error, failure->cause);

    const UINT access = openFlags & 0x3;
    const UINT share = openFlags & 0x70;
    if (access == 0x3 || share > shareDenyNone)
        return fail(ERROR_INVALID_PARAMETER, -1);
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return fail(GetLastError(), -1);

    posix::OpenRequest request;
    request.share.read = access != modeWrite;
    request.share.write = access != modeRead;
    request.share.shareRead = share == shareDenyWrite || share == shareDenyNone;
    request.share.shareWrite = share == shareDenyRead || share == shareDenyNone;
    request.share.shareDelete = false;
    request.disposition = (openFlags & modeCreate) != 0 ? ((openFlags & modeNoTruncate) != 0 ? 4u : 2u) : 3u;
    request.writeThrough = (openFlags & osWriteThrough) != 0;

    DWORD error = 0;
    const int fd = posix::OpenFile(*native, request, error);
    if (fd < 0)
        return fail(error, -1);
    m_fd = fd;
    m_canRead = request.share.read;
    m_canWrite = request.share.write;
    m_strFileName = name;
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count)
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    if (count == 0)
        return 0;
    if (auto failure = fault::Check(fault::Op::FileRead))
        ThrowInjected(*failure, m_strFileName);
    if (buffer == nullptr || !m_canRead) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, out + done, std::min<size_t>(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            posix::SetLastErrorFromErrno(errno);
            ThrowLastError();
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<UINT>(done);
}

void CFile::Write(const void* buffer, UINT count)
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    if (count == 0)
        return;
    if (auto failure = fault::Check(fault::Op::FileWrite))
        ThrowInjected(*failure, m_strFileName);
    if (buffer == nullptr || !m_canWrite) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, in + done, std::min<size_t>(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            posix::SetLastErrorFromErrno(errno);
            ThrowLastError();
        }
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            ThrowLastError();
        }
        done += static_cast<size_t>(n);
    }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    int whence;
    switch (from) {
    case begin: whence = SEEK_SET; break;
    case current: whence = SEEK_CUR; break;
    case end: whence = SEEK_END; break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    const off_t position = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : posix::Win32ErrorFromErrno(errno));
        ThrowLastError();
    }
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetPosition() const
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    const off_t position = ::lseek(m_fd, 0, SEEK_CUR);
    if (position < 0) {
        posix::SetLastErrorFromErrno(errno);
        ThrowLastError();
    }
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetLength() const
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    posix::FileInfo info;
    if (int err = posix::StatDescriptor(m_fd, info); err != 0) {
        posix::SetLastErrorFromErrno(err);
        ThrowLastError();
    }
    return info.size;
}

void CFile::SetLength(ULONGLONG newLength)
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
    if (!m_canWrite || newLength > static_cast<ULONGLONG>(std::numeric_limits<off_t>::max())) {
        SetLastError(!m_canWrite ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    if (::ftruncate(m_fd, static_cast<off_t>(newLength)) != 0 ||
        ::lseek(m_fd, static_cast<off_t>(newLength), SEEK_SET) < 0) {
        posix::SetLastErrorFromErrno(errno);
        ThrowLastError();
    }
}

void CFile::Flush()
{
    if (m_fd < 0)
        return;
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        posix::SetLastErrorFromErrno(errno);
        ThrowLastError();
    }
}

void CFile::Close()
{
    if (m_fd < 0)
        return;
    const int fd = std::exchange(m_fd, -1);
    m_canRead = m_canWrite = false;
    if (::close(fd) != 0 && errno != EINTR) {
        posix::SetLastErrorFromErrno(errno);
        ThrowLastError();
    }
}

void CFile::Abort() noexcept
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    m_canRead = m_canWrite = false;
}

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
