// What the file drivers (file encryption and file decryption) share: the
// short path forms, the "~PV" temporary name and its discarding, opening the
// source with retries, the progress messages, writing a large image in
// 16 MiB pieces, the final rename with its MoveFileW retries, and the flushes
// that keep a document recoverable across a crash.
//
// Trace texts that name a driver take it as `driver`, the class and operation
// as they appear in that driver's lines (u"CPVCodec::DoEncryptFile()",
// u"CPVCodec::DecryptFile()", ...); the rest of each line is fixed here.
//
// Hook points stay with the drivers: each calls plat::HookPoint at its own
// moments (platform/FaultInjection.h).
#pragma once

#include "container/ContainerLayout.h"
#include "platform/File.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace container::files {

// ---- Sizes and numbers

// A path of this many characters or more is replaced by its short form.
inline constexpr size_t kShortFormThreshold = 256;
// Path buffers of every driver, for short forms and temporary names alike:
// what one driver writes in a folder, every other one must be able to read
// there, so none of them stops at the classic 260 characters.
inline constexpr plat::DWORD kLargePathBuffer = 1024;
// Characters of the destination path kept when its folder is worked out.
inline constexpr size_t kTempFolderMaxChars = 1022;
inline constexpr char16_t kTempPrefix[] = u"~PV";

inline constexpr plat::DWORD kRetryWaitMilliseconds = 1000;
inline constexpr int kSourceOpenAttempts = 3;
inline constexpr int kMoveRetries = 5;

// Pieces in which a whole image is written.
inline constexpr plat::UINT kWritePieceSize = 16 * 1024 * 1024;

// Progress message (WM_USER + 7): percent in wParam, 0 in lParam.
inline constexpr plat::UINT kProgressMessage = plat::WM_USER + 7;
inline constexpr int kProgressDone = 100;

// Documents (and bodies) are 32-bit: the largest size a driver takes.
inline constexpr int64_t kLargestDocumentSize = INT32_MAX;
constexpr bool IsSupportedDocumentSize(uint64_t size)
{
    return size <= static_cast<uint64_t>(kLargestDocumentSize);
}

// ---- Paths

// A null or empty path names no file: a driver refuses it before it touches
// the disk (an empty destination would put the temporary file in the
// process's working folder, and nothing could be renamed to it).
constexpr bool IsMissingPath(plat::LPCWSTR path)
{
    return path == nullptr || path[0] == 0;
}

// The form used for existence checks, status and deletion: a path of 256
// characters or more becomes its short form from GetShortPathNameW in a
// buffer of 1024 characters; a shorter one is copied. Empty when the path is
// null, or has no short form (GetShortPathNameW fails for a path that does
// not exist, or the form does not fit).
std::u16string ShortForm(plat::LPCWSTR path);

// Whether the two paths name the same file as the drivers compare them:
// equal without regard to case. Null equals nothing.
bool SamePath(plat::LPCWSTR a, plat::LPCWSTR b);

// The share mode a driver opens its source with: deny reading to others when
// the source is also the destination, deny nothing otherwise.
plat::UINT SourceShareMode(plat::LPCWSTR source, plat::LPCWSTR destination);

struct TemporaryName {
    bool ok = false;
    std::u16string folder;  // the destination's folder (at most 1022 characters of its path, file name stripped)
    std::u16string path;    // tmpDestPath, when ok
};

// A unique "~PV" name in the destination's folder: GetTempFileNameW
// (folder, "~PV", 0) into a buffer of 1024 characters creates the file, which
// is deleted at once; the name is kept. Not ok when GetTempFileNameW fails
// (`folder` is still filled, for the driver's trace).
TemporaryName MakeTemporaryName(plat::LPCWSTR destination);

// Discards a temporary file: DeleteFileW, then SHChangeNotify(SHCNE_DELETE,
// SHCNF_PATHW | SHCNF_FLUSH | SHCNF_FLUSHNOWAIT, path, null). Never throws: a
// discard that fails (even for want of memory) leaves the file in place.
void DiscardTemporaryFile(const std::u16string& path) noexcept;

// ---- Files

// Open flags of the temporary file: created (or truncated), write-only, exclusive.
inline constexpr plat::UINT kTemporaryOpenFlags =
    plat::CFile::modeCreate | plat::CFile::modeWrite | plat::CFile::shareExclusive | plat::CFile::typeBinary;

// Opens the source with `openFlags`, up to `attempts` times. When
// `failedAttemptTrace` is not null, every failed attempt is followed by a
// wait of 1000 ms and then that trace line. FALSE when every attempt failed;
// `error` then holds the last attempt's exception.
plat::BOOL OpenSource(plat::CFile& file, plat::LPCWSTR path, plat::UINT openFlags, int attempts,
                      const char16_t* failedAttemptTrace, plat::CFileException& error);

// Traces `format` ("...CODE=%d, MSG=%s") with the exception's cause code and
// its message text, at most 1024 characters of it.
void TraceFileError(const char16_t* format, const plat::CFileException& error);

// Writes `length` bytes to `file` in pieces of 16 MiB, the last holding the
// rest, all of them in the file on return (a short body is not left in
// CFile's buffer). Throws the CFileException of the first failing write.
void WriteInPieces(plat::CFile& file, const char* data, int64_t length);
// The same Write calls for `length` bytes already written behind
// (CFile::WriteBehind): each answers for its piece, and throws what its write
// would have thrown.
void AnswerInPieces(plat::CFile& file, int64_t length);

// ---- Whole images worked on behind the read

// The whole-image drivers' window for a Rijndael body: 256 KiB, which stays in
// the processor's cache between the read, the cipher and the write.
inline constexpr uint64_t kBehindWindow = uint64_t{256} << 10;

// What a read with the body worked on behind it has done: the full segments
// enciphered or deciphered and written behind, and the final partial
// segment's bytes left at the window's start.
struct SegmentsBehind {
    SegmentRun run;
    int tail = 0;
};

// One read of `count` bytes (CFile::ReadInParts) whose full segments are
// enciphered (direction 1) or deciphered (2) in place, a window at a time as
// they arrive, and written behind to `temp` (CFile::WriteBehind); after a
// segment that the cipher refuses, nothing more is worked on or written.
// The observer hears of nothing: the driver tells it of the segments once
// the read is over, in the order of a read followed by the body.
plat::UINT ReadSegmentsBehind(plat::CFile& source, plat::CFile& temp, CRawCodec& codec, int direction,
                              plat::UINT count, std::span<char> window, SegmentsBehind& done);

// ---- Progress

// The progress messages of a driver that works through 1024-byte segments:
// after segment number i (counted from 1) the percent is i x step truncated,
// step being 102400.0 / size for a size above 1024 and 100.0 otherwise, both
// single-precision. A percent is sent only when it is greater than the last
// one computed and is not 100; Finish sends the 100 that ends a call.
// Nothing is computed or sent without a window.
class ProgressReporter final : public SegmentObserver {
public:
    ProgressReporter(plat::HWND window, int64_t size);

    void SegmentDone() override;
    // SegmentDone for each of `count` segments done together.
    void SegmentsDone(int64_t count);
    // Sends 100, when there is a window.
    void Finish() const;
    plat::HWND Window() const { return m_window; }
    float Step() const { return m_step; }

private:
    plat::HWND m_window;
    float m_step;
    int m_counter = 1;
    int m_last = 0;
};

// ---- Putting the result in place

// Renames the temporary file to the destination with CFile::Rename. When that
// throws: trace "[PVCodec.dll]<driver> ERROR! Fail CFile::Rename(), m_cause=%d",
// then up to 5 times trace "[PVCodec.dll] WATCH! i=%d, Sleep and MoveFile",
// wait 1000 ms and try MoveFileW; "[PVCodec.dll] GOOD! MoveFile Success" on the
// first success; after the fifth failure "[PVCodec.dll]<driver> ERROR! Fail
// MoveFile()" and false, the temporary file left where it is. On success the
// destination's folder is flushed to the disk.
bool RenameIntoPlace(const std::u16string& temporaryPath, plat::LPCWSTR destination, std::u16string_view driver);

// Durability. Before an existing destination is wiped or removed, the
// finished (closed) temporary file is flushed to the disk with its folder
// entry; after the rename, the folder. Failures (even for want of memory)
// change nothing and are not reported: the flushes only narrow what a crash
// can lose.
void FlushTemporaryFile(const std::u16string& temporaryPath) noexcept;
void FlushFolderOf(plat::LPCWSTR path) noexcept;

}  // namespace container::files
