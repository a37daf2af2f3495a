// The framework's file class. Open reports failure by returning 0 and
// filling a CFileException; Read, Write, Seek, SetLength, Flush, Close and
// the static Remove, Rename and SetStatus throw a CFileException. A CFile
// closes its file when it is destroyed.
//
// Small reads and writes (below 128 KiB) go through a buffer of the object's
// own, so that a file read or written 1 KiB at a time costs one system call
// per 128 KiB: written bytes reach the file when the buffer fills and before
// any other operation on the object (Seek, GetLength, Flush, Close, Abort and
// destruction included; GetStatus counts them in the size and leaves them).
// A write error may therefore surface at one of those later calls.
// osWriteThrough and osNoBuffer opens write at once.
//
// Open and share modes keep the framework's values and meaning: an open that
// conflicts with the access or share mode of another open of the same file,
// in this process or in another process that uses this layer, fails with
// sharingViolation (ERROR_SHARING_VIOLATION). Only opens made through this
// layer take part where the system has no share modes of its own (see
// platform/posix/ShareLock.h); other programs are not held back there.
#pragma once

#include "platform/FileException.h"
#include "platform/WinTypes.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

namespace plat {

// A file's status as the framework reports it. Times are exact to 100 ns; a
// time of zero is "not given" to SetStatus, which then leaves it alone.
//
// Who may use the file travels with the status where the file keeps that
// itself: here, its permission bits and the group they grant to (m_access,
// ours). A Windows file takes its access list from its folder instead, so
// there it stays empty. This is how a result keeps who may read its source:
// a file the layer creates (CFile modeCreate, CreateFileW, GetTempFileNameW)
// is its owner's alone, whatever the process umask, until a status is put on
// it; a result that gets no status stays so.
struct CFileStatus {
    FILETIME m_ctime{};  // creation
    FILETIME m_mtime{};  // last write
    FILETIME m_atime{};  // last access
    ULONGLONG m_size = 0;
    BYTE m_attribute = 0;            // CFile::Attribute bits (the low byte of the file attributes)
    std::u16string m_szFullName;     // absolute path
    // The permission bits (owner, group, others: 0777) and the group they
    // grant to, where files carry them; empty is "not given" to SetStatus.
    // m_attribute's readOnly decides the write permissions over them, as
    // SetFileAttributesW does.
    struct Access {
        DWORD permissions = 0;
        DWORD group = 0;
    };
    std::optional<Access> m_access;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x00000,
        modeWrite = 0x00001,
        modeReadWrite = 0x00002,
        shareCompat = 0x00000,  // acts as shareExclusive
        shareExclusive = 0x00010,
        shareDenyWrite = 0x00020,
        shareDenyRead = 0x00030,
        shareDenyNone = 0x00040,
        modeNoInherit = 0x00080,
        modeCreate = 0x01000,
        modeNoTruncate = 0x02000,
        typeText = 0x04000,
        typeBinary = 0x08000,
        osNoBuffer = 0x10000,
        osWriteThrough = 0x20000,
        osRandomAccess = 0x40000,
        osSequentialScan = 0x80000,
    };
    enum Attribute : BYTE {
        normal = 0x00,
        readOnly = 0x01,
        hidden = 0x02,
        system = 0x04,
        volume = 0x08,
        directory = 0x10,
        archive = 0x20,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile();
    // Opens at once; throws the CFileException that Open would fill.
    CFile(LPCWSTR fileName, UINT openFlags);
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;

    // Opens `fileName`; a file already open in this object is closed first.
    // Returns 0 on failure with *pError filled (cause, OS error, the name as
    // passed) and the last error set.
    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* pError = nullptr);
    // Reads up to `count` bytes; fewer only at the end of the file.
    UINT Read(void* buffer, UINT count);
    // Writes all `count` bytes.
    void Write(const void* buffer, UINT count);
    ULONGLONG Seek(LONGLONG offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    ULONGLONG GetPosition() const;
    ULONGLONG GetLength() const;
    // Cuts or extends the file; the position moves to the new end.
    void SetLength(ULONGLONG newLength);
    // Writes the file's data and metadata through to the disk.
    void Flush();
    // Hands the bytes held back from small writes to the file now, without
    // the disk sync of Flush: a caller that handles failed writes calls it
    // where the last write ends, so that a write error is met there.
    void DeliverWrites();
    // Runs of equal pieces, for a caller that streams a file in fixed pieces
    // but wants few system calls: the outcome of `pieces` calls of Read (or
    // Write) with `pieceSize` bytes each, in order, stopping at the first
    // call that throws (and, reading, after the first piece that comes back
    // short: the end of the file). Each piece counts as one call at the
    // fault seam. A failure does not throw: the run reports it, so that the
    // caller can first deal with the pieces before it, as it would have
    // after each single call. A write that the system refuses part of the
    // way counts the whole pieces that reached the file; held-back bytes of
    // earlier small writes go first.
    struct PieceRun {
        size_t bytes = 0;                       // bytes of the pieces done (reading: the short piece's too)
        std::optional<CFileException> failure;  // what the failing piece's call would have thrown
    };
    PieceRun ReadPieces(void* buffer, UINT pieceSize, UINT pieces);
    PieceRun WritePieces(const void* buffer, UINT pieceSize, UINT pieces);
    // One Read call of `count` bytes (one call at the fault seam, its result
    // and its exceptions) for a caller that works on the bytes as they
    // arrive instead of holding them all: they arrive in `window`, part by
    // part, and `part` is handed each filled part. It answers how many bytes
    // at the part's end it has not used yet; those move to the window's
    // start, and the next part follows them. Returns the bytes read, fewer
    // only at the end of the file. A failure part of the way throws after
    // the parts before it were handed over.
    template <class Part>
    UINT ReadInParts(UINT count, std::span<char> window, Part&& part)
    {
        // Called through a plain pointer: handing the part over allocates nothing.
        using Target = std::remove_reference_t<Part>;
        return ReadInPartsThrough(count, window, PartCall{&part, [](void* target, std::span<char> filled) -> size_t {
                                                       return (*static_cast<Target*>(target))(filled);
                                                   }});
    }
    // Writing behind: a writer that produces its output while it still reads
    // its input puts the bytes into the file at once, and answers for them
    // with Write calls of its own order later. WriteBehind writes the bytes
    // after those written before and never throws: the first failure is
    // kept, and nothing behind it is written. AnswerWrite is then one Write
    // call for the next `count` bytes written behind: the fault seam counts
    // it, and it throws what that call would have thrown, the seam's failure
    // or the kept failure when it lies within those bytes.
    void WriteBehind(std::span<const char> bytes) noexcept;
    void AnswerWrite(UINT count);
    // Closes the file; closing a closed CFile does nothing.
    void Close();
    // Closes without throwing.
    void Abort() noexcept;

    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    BOOL GetStatus(CFileStatus& status) const;
    const std::u16string& GetFilePath() const { return m_strFileName; }

    // Renames a file or folder (MoveFileW: fails when the new name exists).
    static void Rename(LPCWSTR oldName, LPCWSTR newName);
    // Deletes a file (DeleteFileW: a read-only file refuses).
    static void Remove(LPCWSTR fileName);
    // FALSE when the file cannot be found; `status` then holds nothing valid.
    static BOOL GetStatus(LPCWSTR fileName, CFileStatus& status);
    // Puts the status's non-zero times (access and write; a creation time
    // cannot be set here), its access when given, and its attributes on the
    // file. A file that cannot be given the status's group gets no group
    // permissions, which would name another group.
    static void SetStatus(LPCWSTR fileName, const CFileStatus& status);

private:
    struct IoBuffer;
    struct PartCall {
        void* target;
        size_t (*call)(void*, std::span<char>);
    };
    UINT ReadInPartsThrough(UINT count, std::span<char> window, PartCall part);

    [[noreturn]] void ThrowLastError() const;
    // ThrowLastError with `error` as the last error, unless it is 0.
    void ThrowIfFailed(DWORD error) const;
    // A CFileException (ERROR_INVALID_HANDLE) unless the file is open.
    void ThrowIfClosed() const;
    // Buffered bytes reach the file (writing) or are given back (reading), so
    // that the handle's position is the object's.
    void SettleBuffer() const;
    // How far the file's position moved on from `start` (0 without one): the
    // bytes of a write that reached the file before the system refused.
    ULONGLONG WrittenSince(std::optional<ULONGLONG> start) const noexcept;
    // Where the bytes held back from writes end in the file; 0 when none are.
    ULONGLONG BufferedWritesEnd() const;
    UINT ReadDirect(char* out, size_t count);
    void WriteDirect(const char* in, size_t count);

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    mutable std::unique_ptr<IoBuffer> m_io;  // small reads and writes; see above
    bool m_canRead = false;
    bool m_canWrite = false;
    std::u16string m_strFileName;
};

// Durability: writes a file's data, then the folder entry that names it,
// through to the disk. FALSE with the last error set when either fails.
BOOL FlushFileToDisk(LPCWSTR fileName);
// Writes the folder that holds `path` through to the disk (after a rename
// or removal in it).
BOOL FlushFolderToDisk(LPCWSTR path);

}  // namespace plat
