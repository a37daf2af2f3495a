#include "container/FileDriverSupport.h"

#include "QZTracer.h"
#include "platform/FileApi.h"
#include "platform/Messaging.h"
#include "platform/Shell.h"
#include "platform/Timing.h"
#include "platform/WideString.h"

#include <algorithm>
#include <vector>

using namespace plat;

namespace container::files {

std::u16string ShortForm(plat::LPCWSTR path)
{
    if (path == nullptr)
        return {};
    const size_t length = WideLength(path);
    if (length < kShortFormThreshold)
        return std::u16string(path, length);
    std::vector<char16_t> buffer(kLargePathBuffer, 0);
    const DWORD written = GetShortPathNameW(path, buffer.data(), kLargePathBuffer);
    // 0: no short form; the buffer's size or more: the size it would need.
    if (written == 0 || written >= kLargePathBuffer)
        return {};
    return std::u16string(buffer.data(), written);
}

bool SamePath(plat::LPCWSTR a, plat::LPCWSTR b)
{
    if (a == nullptr || b == nullptr)
        return false;
    return WideCompareNoCase(std::u16string_view(a, WideLength(a)), std::u16string_view(b, WideLength(b))) == 0;
}

UINT SourceShareMode(plat::LPCWSTR source, plat::LPCWSTR destination)
{
    return SamePath(source, destination) ? CFile::shareDenyRead : CFile::shareDenyNone;
}

TemporaryName MakeTemporaryName(plat::LPCWSTR destination)
{
    TemporaryName name;
    std::u16string folder(destination != nullptr ? destination : u"");
    if (folder.size() > kTempFolderMaxChars)
        folder.resize(kTempFolderMaxChars);
    folder.push_back(0);
    PathRemoveFileSpecW(folder.data());
    folder.resize(WideLength(folder.c_str()));
    name.folder = folder;

    std::vector<char16_t> buffer(kLargePathBuffer, 0);
    if (GetTempFileNameW(name.folder.c_str(), kTempPrefix, 0, buffer.data(), kLargePathBuffer) == 0)
        return name;
    name.path.assign(buffer.data(), WideLength(buffer.data()));
    // Only the name is wanted: the file is created again, exclusively, by the driver.
    DeleteFileW(name.path.c_str());
    name.ok = true;
    return name;
}

void DiscardTemporaryFile(const std::u16string& path) noexcept
{
    try {
        DeleteFileW(path.c_str());
        SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW | SHCNF_FLUSH | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
    } catch (...) {
    }
}

BOOL OpenSource(CFile& file, plat::LPCWSTR path, UINT openFlags, int attempts, const char16_t* failedAttemptTrace,
                CFileException& error)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (file.Open(path, openFlags, &error))
            return TRUE;
        if (failedAttemptTrace != nullptr) {
            Sleep(kRetryWaitMilliseconds);
            QZTraceW(failedAttemptTrace);
        }
    }
    return FALSE;
}

void TraceFileError(const char16_t* format, const CFileException& error)
{
    char16_t message[1024] = {};
    error.GetErrorMessage(message, 1024);
    QZTraceW(format, error.m_cause, message);
}

void WriteInPieces(CFile& file, const char* data, int64_t length)
{
    int64_t written = 0;
    while (written < length) {
        const UINT piece = static_cast<UINT>(std::min<int64_t>(length - written, kWritePieceSize));
        file.Write(data + written, piece);
        written += piece;
    }
    file.DeliverWrites();
}

void AnswerInPieces(CFile& file, int64_t length)
{
    for (int64_t answered = 0; answered < length;) {
        const UINT piece = static_cast<UINT>(std::min<int64_t>(length - answered, kWritePieceSize));
        file.AnswerWrite(piece);
        answered += piece;
    }
}

plat::UINT ReadSegmentsBehind(CFile& source, CFile& temp, CRawCodec& codec, int direction, plat::UINT count,
                              std::span<char> window, SegmentsBehind& done)
{
    return source.ReadInParts(count, window, [&](std::span<char> part) -> size_t {
        const size_t rest = part.size() % ENC_BUFFER_SIZE;
        const int64_t segments = static_cast<int64_t>(part.size() / ENC_BUFFER_SIZE);
        if (!done.run.failed && segments > 0) {
            const SegmentRun run = direction == 1 ? EncipherSegments(codec, part.data(), segments, part.data())
                                                  : DecipherSegments(codec, part.data(), segments, part.data());
            temp.WriteBehind(part.first(static_cast<size_t>(run.produced)));
            done.run.segments += run.segments;
            done.run.produced += run.produced;
            done.run.failed = run.failed;
        }
        done.tail = static_cast<int>(rest);
        return rest;
    });
}

ProgressReporter::ProgressReporter(plat::HWND window, int64_t size)
    : m_window(window), m_step(size > ENC_BUFFER_SIZE ? static_cast<float>(102400.0 / static_cast<double>(size)) : 100.0f)
{
}

void ProgressReporter::SegmentDone()
{
    if (m_window == nullptr)
        return;
    const int percent = static_cast<int>(static_cast<float>(m_counter) * m_step);
    if (percent > m_last && percent != kProgressDone)
        SendMessageW(m_window, kProgressMessage, static_cast<WPARAM>(percent), 0);
    m_last = percent;
    ++m_counter;
}

void ProgressReporter::SegmentsDone(int64_t count)
{
    for (int64_t i = 0; i < count; ++i)
        SegmentDone();
}

void ProgressReporter::Finish() const
{
    if (m_window != nullptr)
        SendMessageW(m_window, kProgressMessage, static_cast<WPARAM>(kProgressDone), 0);
}

bool RenameIntoPlace(const std::u16string& temporaryPath, plat::LPCWSTR destination, std::u16string_view driver)
{
    const std::u16string prefix = u"[PVCodec.dll]" + std::u16string(driver);
    bool placed = false;
    try {
        CFile::Rename(temporaryPath.c_str(), destination);
        placed = true;
    } catch (const CFileException& e) {
        QZTraceW((prefix + u" ERROR! Fail CFile::Rename(), m_cause=%d").c_str(), e.m_cause);
    }
    for (int i = 0; !placed && i < kMoveRetries; ++i) {
        QZTraceW(u"[PVCodec.dll] WATCH! i=%d, Sleep and MoveFile", i);
        Sleep(kRetryWaitMilliseconds);
        if (MoveFileW(temporaryPath.c_str(), destination)) {
            QZTraceW(u"[PVCodec.dll] GOOD! MoveFile Success");
            placed = true;
        }
    }
    if (!placed) {
        QZTraceW((prefix + u" ERROR! Fail MoveFile()").c_str());
        return false;
    }
    FlushFolderOf(destination);
    return true;
}

void FlushTemporaryFile(const std::u16string& temporaryPath) noexcept
{
    try {
        FlushFileToDisk(temporaryPath.c_str());
    } catch (...) {
    }
}

void FlushFolderOf(plat::LPCWSTR path) noexcept
{
    try {
        if (path != nullptr)
            FlushFolderToDisk(path);
    } catch (...) {
    }
}

}  // namespace container::files
