// CFile: opening, reading, writing, positioning and closing one file, and
// its static operations on files by name, over the backend's open files.
#include "platform/File.h"

#include "platform/Backend.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace plat {
namespace {

// Reads and writes smaller than this go through the object's buffer.
constexpr size_t kBufferSize = size_t{128} << 10;

CFileException Injected(const fault::Failure& failure, LPCWSTR name)
{
    SetLastError(failure.error);
    const int cause = failure.cause >= 0 ? failure.cause
                                         : CFileException::OsErrorToException(static_cast<LONG>(failure.error));
    return CFileException(cause, static_cast<LONG>(failure.error), name);
}

[[noreturn]] void ThrowInjected(const fault::Failure& failure, LPCWSTR name)
{
    throw Injected(failure, name);
}

[[noreturn]] void ThrowLastErrorFor(LPCWSTR name)
{
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), name);
}

}  // namespace

// At most one direction at a time: bytes read ahead of the caller
// [next, end), or bytes the caller wrote that the file has not had yet [0, end).
struct CFile::IoBuffer {
    enum class Use { none, reading, writing };
    std::unique_ptr<char[]> bytes{new char[kBufferSize]};
    size_t next = 0;
    size_t end = 0;
    Use use = Use::none;
    bool writeThrough = false;  // writes go to the file at once
    // Written behind the Write calls that answer for them (WriteBehind).
    struct Behind {
        ULONGLONG written = 0;
        ULONGLONG answered = 0;
        std::optional<CFileException> failure;  // at offset `written`
        // The failure could not even be told (no memory for its exception):
        // the Write answering for it runs out of memory as it would have.
        bool outOfMemory = false;
        bool Failed() const { return failure.has_value() || outOfMemory; }
    } behind;
};

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
    : m_hFile(std::exchange(other.m_hFile, INVALID_HANDLE_VALUE)),
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
        m_hFile = std::exchange(other.m_hFile, INVALID_HANDLE_VALUE);
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

void CFile::ThrowIfFailed(DWORD error) const
{
    if (error != 0) {
        SetLastError(error);
        ThrowLastError();
    }
}

void CFile::ThrowIfClosed() const
{
    if (!IsOpen())
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
    backend::OpenRequest request;
    request.share.read = access != modeWrite;
    request.share.write = access != modeRead;
    request.share.shareRead = share == shareDenyWrite || share == shareDenyNone;
    request.share.shareWrite = share == shareDenyRead || share == shareDenyNone;
    request.share.shareDelete = false;
    request.disposition = (openFlags & modeCreate) != 0 ? ((openFlags & modeNoTruncate) != 0 ? 4u : 2u) : 3u;
    request.writeThrough = (openFlags & osWriteThrough) != 0;

    DWORD error = 0;
    const HANDLE file = backend::OpenHandle(fileName, request, error);
    if (file == INVALID_HANDLE_VALUE)
        return fail(error, -1);
    m_hFile = file;
    if (!m_io)
        m_io = std::make_unique<IoBuffer>();
    m_io->writeThrough = (openFlags & (osWriteThrough | osNoBuffer)) != 0;
    m_io->behind = {};
    m_canRead = request.share.read;
    m_canWrite = request.share.write;
    m_strFileName = name;
    return TRUE;
}

void CFile::SettleBuffer() const
{
    if (!m_io || !IsOpen())
        return;
    IoBuffer& io = *m_io;
    const IoBuffer::Use use = std::exchange(io.use, IoBuffer::Use::none);
    const size_t next = std::exchange(io.next, 0);
    const size_t end = std::exchange(io.end, 0);
    if (use == IoBuffer::Use::reading && end > next) {
        // Give back what was read ahead, so the file position is the caller's.
        ULONGLONG position = 0;
        ThrowIfFailed(backend::SeekHandle(m_hFile, -static_cast<LONGLONG>(end - next), current, position));
    } else if (use == IoBuffer::Use::writing && end > 0) {
        // Once: a failed flush drops the bytes and reports it to this caller.
        const_cast<CFile*>(this)->WriteDirect(io.bytes.get(), end);
    }
}

ULONGLONG CFile::BufferedWritesEnd() const
{
    ULONGLONG position = 0;
    if (!m_io || !IsOpen() || m_io->use != IoBuffer::Use::writing ||
        backend::SeekHandle(m_hFile, 0, current, position) != 0)
        return 0;
    return position + m_io->end;
}

UINT CFile::ReadDirect(char* out, size_t count)
{
    size_t done = 0;
    ThrowIfFailed(backend::ReadHandle(m_hFile, out, count, done));
    return static_cast<UINT>(done);
}

void CFile::WriteDirect(const char* in, size_t count)
{
    ThrowIfFailed(backend::WriteHandle(m_hFile, in, count));
}

UINT CFile::Read(void* buffer, UINT count)
{
    ThrowIfClosed();
    if (count == 0)
        return 0;
    if (auto failure = fault::Check(fault::Op::FileRead))
        ThrowInjected(*failure, m_strFileName.c_str());
    if (buffer == nullptr || !m_canRead) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    IoBuffer& io = *m_io;
    if (io.use == IoBuffer::Use::writing)
        SettleBuffer();
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    if (io.use == IoBuffer::Use::reading) {
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
        io.use = IoBuffer::Use::reading;
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
        ThrowInjected(*failure, m_strFileName.c_str());
    if (buffer == nullptr || !m_canWrite) {
        SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    IoBuffer& io = *m_io;
    const auto* in = static_cast<const char*>(buffer);
    if (io.use == IoBuffer::Use::reading || io.end + count > kBufferSize)
        SettleBuffer();
    if (io.writeThrough || count >= kBufferSize) {
        WriteDirect(in, count);
        return;
    }
    std::memcpy(io.bytes.get() + io.end, in, count);
    io.end += count;
    io.use = IoBuffer::Use::writing;
}

CFile::PieceRun CFile::ReadPieces(void* buffer, UINT pieceSize, UINT pieces)
{
    PieceRun run;
    if (pieceSize == 0 || pieces == 0)
        return run;
    auto* out = static_cast<char*>(buffer);
    const size_t total = size_t{pieceSize} * pieces;
    ULONGLONG start = 0;
    size_t got = 0;
    try {
        ThrowIfClosed();
        if (buffer == nullptr || !m_canRead || total > std::numeric_limits<UINT>::max()) {
            SetLastError(buffer == nullptr || m_canRead ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
            ThrowLastError();
        }
        SettleBuffer();
        ThrowIfFailed(backend::SeekHandle(m_hFile, 0, current, start));
        got = ReadDirect(out, total);
    } catch (const CFileException& e) {
        // The first piece's call meets the seam before anything else.
        if (auto failure = fault::Check(fault::Op::FileRead))
            run.failure = Injected(*failure, m_strFileName.c_str());
        else
            run.failure = e;
        return run;
    }
    // The calls the pieces stand for: up to and including the first short one.
    const size_t calls = got == total ? pieces : got / pieceSize + 1;
    for (size_t i = 0; i < calls; ++i) {
        if (auto failure = fault::Check(fault::Op::FileRead)) {
            run.failure = Injected(*failure, m_strFileName.c_str());
            run.bytes = i * pieceSize;
            // The file stands where the failing call would have left it.
            ULONGLONG position = 0;
            backend::SeekHandle(m_hFile, static_cast<LONGLONG>(start + run.bytes), begin, position);
            return run;
        }
    }
    run.bytes = got;
    return run;
}

CFile::PieceRun CFile::WritePieces(const void* buffer, UINT pieceSize, UINT pieces)
{
    PieceRun run;
    // The calls up to the first that the seam fails.
    size_t calls = 0;
    std::optional<fault::Failure> injected;
    for (; calls < pieces && !injected; ++calls)
        injected = fault::Check(fault::Op::FileWrite);
    const size_t whole = injected ? calls - 1 : calls;
    const size_t total = size_t{pieceSize} * whole;
    std::optional<ULONGLONG> start;
    try {
        if (total > 0) {
            ThrowIfClosed();
            if (buffer == nullptr || !m_canWrite) {
                SetLastError(buffer == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
                ThrowLastError();
            }
            SettleBuffer();
            ULONGLONG position = 0;
            ThrowIfFailed(backend::SeekHandle(m_hFile, 0, current, position));
            start = position;
            WriteDirect(static_cast<const char*>(buffer), total);
        }
    } catch (const CFileException& e) {
        run.failure = e;
        // The whole pieces that reached the file before the system refused.
        run.bytes = static_cast<size_t>(WrittenSince(start) / pieceSize) * pieceSize;
        return run;
    }
    run.bytes = total;
    if (injected)
        run.failure = Injected(*injected, m_strFileName.c_str());
    return run;
}

UINT CFile::ReadInPartsThrough(UINT count, std::span<char> window, PartCall part)
{
    ThrowIfClosed();
    if (count == 0)
        return 0;
    if (auto failure = fault::Check(fault::Op::FileRead))
        ThrowInjected(*failure, m_strFileName.c_str());
    if (window.empty() || !m_canRead) {
        SetLastError(window.empty() ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        ThrowLastError();
    }
    SettleBuffer();
    size_t done = 0;
    size_t kept = 0;
    while (done < count) {
        if (kept >= window.size()) {  // the caller keeps the whole window: no room to read on
            SetLastError(ERROR_INVALID_PARAMETER);
            ThrowLastError();
        }
        const size_t room = std::min(window.size() - kept, size_t{count} - done);
        const size_t got = ReadDirect(window.data() + kept, room);
        done += got;
        const size_t filled = kept + got;
        kept = std::min(part.call(part.target, window.first(filled)), filled);
        std::memmove(window.data(), window.data() + filled - kept, kept);
        if (got < room)
            break;  // the end of the file
    }
    return static_cast<UINT>(done);
}

ULONGLONG CFile::WrittenSince(std::optional<ULONGLONG> start) const noexcept
{
    ULONGLONG position = 0;
    if (start && backend::SeekHandle(m_hFile, 0, current, position) == 0 && position > *start)
        return position - *start;
    return 0;
}

void CFile::WriteBehind(std::span<const char> bytes) noexcept
{
    if (!m_io || bytes.empty())
        return;
    IoBuffer::Behind& behind = m_io->behind;
    if (behind.Failed())
        return;
    std::optional<ULONGLONG> start;
    try {
        ThrowIfClosed();
        if (!m_canWrite) {
            SetLastError(ERROR_ACCESS_DENIED);
            ThrowLastError();
        }
        SettleBuffer();
        ULONGLONG position = 0;
        ThrowIfFailed(backend::SeekHandle(m_hFile, 0, current, position));
        start = position;
        WriteDirect(bytes.data(), bytes.size());
        behind.written += bytes.size();
    } catch (const CFileException& e) {
        try {
            behind.failure = e;
        } catch (...) {  // no memory for the name: the cause still counts
            behind.failure.emplace(e.m_cause, e.m_lOsError);
        }
        behind.written += WrittenSince(start);  // what reached the file before the refusal still counts
    } catch (...) {  // std::bad_alloc while the failure's exception was built
        behind.outOfMemory = true;
        behind.written += WrittenSince(start);
    }
}

void CFile::AnswerWrite(UINT count)
{
    ThrowIfClosed();
    if (count == 0)
        return;
    if (auto failure = fault::Check(fault::Op::FileWrite))
        ThrowInjected(*failure, m_strFileName.c_str());
    IoBuffer::Behind& behind = m_io->behind;
    if (behind.Failed() && behind.written < behind.answered + count) {
        if (behind.failure)
            throw *behind.failure;
        throw std::bad_alloc();
    }
    if (behind.written < behind.answered + count) {  // more than was written behind
        SetLastError(ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    behind.answered += count;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    ThrowIfClosed();
    SettleBuffer();
    if (from > end) {
        SetLastError(ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    ULONGLONG position = 0;
    ThrowIfFailed(backend::SeekHandle(m_hFile, offset, from, position));
    return position;
}

ULONGLONG CFile::GetPosition() const
{
    ThrowIfClosed();
    SettleBuffer();
    ULONGLONG position = 0;
    ThrowIfFailed(backend::SeekHandle(m_hFile, 0, current, position));
    return position;
}

ULONGLONG CFile::GetLength() const
{
    ThrowIfClosed();
    SettleBuffer();
    ULONGLONG length = 0;
    ThrowIfFailed(backend::HandleLength(m_hFile, length));
    return length;
}

void CFile::SetLength(ULONGLONG newLength)
{
    ThrowIfClosed();
    if (!m_canWrite || newLength > static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())) {
        SetLastError(!m_canWrite ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        ThrowLastError();
    }
    SettleBuffer();
    ThrowIfFailed(backend::SetHandleLength(m_hFile, newLength));
}

void CFile::Flush()
{
    if (!IsOpen())
        return;
    SettleBuffer();
    ThrowIfFailed(backend::SyncHandle(m_hFile));
}

void CFile::DeliverWrites()
{
    if (m_io && m_io->use == IoBuffer::Use::writing)
        SettleBuffer();
}

void CFile::Close()
{
    if (!IsOpen())
        return;
    try {
        SettleBuffer();
    } catch (const CFileException&) {
        Abort();
        throw;
    }
    const HANDLE file = std::exchange(m_hFile, INVALID_HANDLE_VALUE);
    m_canRead = m_canWrite = false;
    ThrowIfFailed(backend::CloseFileHandle(file));
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
        m_io->use = IoBuffer::Use::none;
        m_io->next = m_io->end = 0;
    }
    if (IsOpen())
        (void)backend::CloseFileHandle(std::exchange(m_hFile, INVALID_HANDLE_VALUE));
    m_canRead = m_canWrite = false;
}

BOOL CFile::GetStatus(CFileStatus& status) const
{
    if (!IsOpen() || !backend::HandleStatus(m_hFile, m_strFileName, status))
        return FALSE;
    // The size counts the bytes still held in the object's buffer. They stay
    // there: a write error is left to the calls that throw (Close at last).
    status.m_size = std::max(status.m_size, BufferedWritesEnd());
    return TRUE;
}

BOOL CFile::GetStatus(LPCWSTR fileName, CFileStatus& status)
{
    return backend::PathStatus(fileName, status);
}

void CFile::SetStatus(LPCWSTR fileName, const CFileStatus& status)
{
    if (auto failure = fault::Check(fault::Op::FileSetStatus))
        ThrowInjected(*failure, fileName);
    if (!backend::PutStatus(fileName, status))
        ThrowLastErrorFor(fileName);
}

void CFile::Rename(LPCWSTR oldName, LPCWSTR newName)
{
    if (auto failure = fault::Check(fault::Op::FileRename))
        ThrowInjected(*failure, oldName);
    if (!backend::RenameFile(oldName, newName))
        ThrowLastErrorFor(oldName);
}

void CFile::Remove(LPCWSTR fileName)
{
    if (auto failure = fault::Check(fault::Op::FileRemove))
        ThrowInjected(*failure, fileName);
    if (!backend::RemoveFile(fileName))
        ThrowLastErrorFor(fileName);
}

}  // namespace plat
