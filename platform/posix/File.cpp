// CFile: opening, reading, writing, positioning and closing one file.
#include "platform/File.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <unistd.h>
#include <utility>

namespace plat {
namespace {

// One read or write call moves at most this much (the kernel's own cap is a
// little below 2 GiB).
constexpr size_t kChunk = size_t{1} << 30;
// Reads and writes smaller than this go through the object's buffer.
constexpr size_t kBufferSize = size_t{128} << 10;

[[noreturn]] void ThrowInjected(const fault::Failure& failure, const std::u16string& name)
{
    SetLastError(failure.error);
    const int cause = failure.cause >= 0 ? failure.cause
                                         : CFileException::OsErrorToException(static_cast<LONG>(failure.error));
    throw CFileException(cause, static_cast<LONG>(failure.error), name.c_str());
}

}  // namespace

namespace posix {

// At most one direction at a time: bytes read ahead of the caller
// [next, end), or bytes the caller wrote that the file has not had yet [0, end).
struct IoBuffer {
    enum class Use { none, reading, writing };
    std::unique_ptr<char[]> bytes{new char[kBufferSize]};
    size_t next = 0;
    size_t end = 0;
    Use use = Use::none;
    bool writeThrough = false;  // writes go to the file at once
};

}  // namespace posix

CFile::CFile() = default;

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
      m_io(std::move(other.m_io)),
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
        m_io = std::move(other.m_io);
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

void CFile::ThrowErrno(int err) const
{
    posix::SetLastErrorFromErrno(err);
    ThrowLastError();
}

void CFile::ThrowIfClosed() const
{
    if (m_fd < 0)
        CFileException::ThrowOsError(static_cast<LONG>(ERROR_INVALID_HANDLE), m_strFileName.c_str());
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
    if (!m_io)
        m_io = std::make_unique<posix::IoBuffer>();
    m_io->writeThrough = (openFlags & (osWriteThrough | osNoBuffer)) != 0;
    m_canRead = request.share.read;
    m_canWrite = request.share.write;
    m_strFileName = name;
    return TRUE;
}

void CFile::SettleBuffer() const
{
    if (!m_io || m_fd < 0)
        return;
    posix::IoBuffer& io = *m_io;
    const posix::IoBuffer::Use use = std::exchange(io.use, posix::IoBuffer::Use::none);
    const size_t next = std::exchange(io.next, 0);
    const size_t end = std::exchange(io.end, 0);
    if (use == posix::IoBuffer::Use::reading && end > next) {
        // Give back what was read ahead, so the file position is the caller's.
        if (::lseek(m_fd, -static_cast<off_t>(end - next), SEEK_CUR) < 0)
            ThrowErrno(errno);
    } else if (use == posix::IoBuffer::Use::writing && end > 0) {
        // Once: a failed flush drops the bytes and reports it to this caller.
        const_cast<CFile*>(this)->WriteDirect(io.bytes.get(), end);
    }
}

ULONGLONG CFile::BufferedWritesEnd() const
{
    if (!m_io || m_fd < 0 || m_io->use != posix::IoBuffer::Use::writing)
        return 0;
    const off_t position = ::lseek(m_fd, 0, SEEK_CUR);
    return position < 0 ? 0 : static_cast<ULONGLONG>(position) + m_io->end;
}

UINT CFile::ReadDirect(char* out, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, out + done, std::min<size_t>(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<UINT>(done);
}

void CFile::WriteDirect(const char* in, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, in + done, std::min<size_t>(count - done, kChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            ThrowLastError();
        }
        done += static_cast<size_t>(n);
    }
}

UINT CFile::Read(void* buffer, UINT count)
{
    ThrowIfClosed();
    if (count == 0)
        return 0;
    if (auto failure = fault::Check(fault::Op::FileRead))
        ThrowInjected(*failure, m_strFileName);
    if (buffer == nullptr || !m_canRead) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    posix::IoBuffer& io = *m_io;
    if (io.use == posix::IoBuffer::Use::writing)
        SettleBuffer();
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    if (io.use == posix::IoBuffer::Use::reading) {
        done = std::min<size_t>(count, io.end - io.next);
        std::memcpy(out, io.bytes.get() + io.next, done);
        io.next += done;
        if (io.next == io.end)
            SettleBuffer();
    }
    if (done == count)
        return count;
    if (count - done >= kBufferSize)
        return static_cast<UINT>(done + ReadDirect(out + done, count - done));
    // Refill: a whole buffer, or what there is up to the end of the file.
    const size_t got = ReadDirect(io.bytes.get(), kBufferSize);
    const size_t take = std::min(got, count - done);
    std::memcpy(out + done, io.bytes.get(), take);
    if (got > take) {
        io.use = posix::IoBuffer::Use::reading;
        io.next = take;
        io.end = got;
    }
    return static_cast<UINT>(done + take);
}

void CFile::Write(const void* buffer, UINT count)
{
    ThrowIfClosed();
    if (count == 0)
        return;
    if (auto failure = fault::Check(fault::Op::FileWrite))
        ThrowInjected(*failure, m_strFileName);
    if (buffer == nullptr || !m_canWrite) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    posix::IoBuffer& io = *m_io;
    const auto* in = static_cast<const char*>(buffer);
    if (io.use == posix::IoBuffer::Use::reading || io.end + count > kBufferSize)
        SettleBuffer();
    if (io.writeThrough || count >= kBufferSize) {
        WriteDirect(in, count);
        return;
    }
    std::memcpy(io.bytes.get() + io.end, in, count);
    io.end += count;
    io.use = posix::IoBuffer::Use::writing;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    ThrowIfClosed();
    SettleBuffer();
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
    ThrowIfClosed();
    SettleBuffer();
    const off_t position = ::lseek(m_fd, 0, SEEK_CUR);
    if (position < 0)
        ThrowErrno(errno);
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetLength() const
{
    ThrowIfClosed();
    SettleBuffer();
    posix::FileInfo info;
    if (int err = posix::StatDescriptor(m_fd, info); err != 0)
        ThrowErrno(err);
    return info.size;
}

void CFile::SetLength(ULONGLONG newLength)
{
    ThrowIfClosed();
    if (!m_canWrite || newLength > static_cast<ULONGLONG>(std::numeric_limits<off_t>::max())) {
        SetLastError(!m_canWrite ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    SettleBuffer();
    if (::ftruncate(m_fd, static_cast<off_t>(newLength)) != 0 ||
        ::lseek(m_fd, static_cast<off_t>(newLength), SEEK_SET) < 0) {
        ThrowErrno(errno);
    }
}

void CFile::Flush()
{
    if (m_fd < 0)
        return;
    SettleBuffer();
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        ThrowErrno(errno);
}

void CFile::DeliverWrites()
{
    if (m_io && m_io->use == posix::IoBuffer::Use::writing)
        SettleBuffer();
}

void CFile::Close()
{
    if (m_fd < 0)
        return;
    try {
        SettleBuffer();
    } catch (const CFileException&) {
        Abort();
        throw;
    }
    const int fd = std::exchange(m_fd, -1);
    m_canRead = m_canWrite = false;
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}

void CFile::Abort() noexcept
{
    // What was written still reaches the file if it can. Nothing may leave
    // here (the destructor calls it): not even the exception's own allocation.
    try {
        DeliverWrites();
    } catch (...) {
    }
    // Nothing read ahead or held back survives into a later Open of this object.
    if (m_io) {
        m_io->use = posix::IoBuffer::Use::none;
        m_io->next = m_io->end = 0;
    }
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
