// File encryption: a plain file becomes a container file, at a new path or in
// place. The container is written completely into a "~PV" temporary file in
// the destination's folder and its size checked; only then is an existing
// destination wiped out (or deleted) and the temporary file renamed into its
// place, with the source's times and attributes.
//
// Two writers: DoEncryptFile takes images of the whole document and body and
// knows the header modes (a Rijndael body is worked on in a window of the
// body image, behind the one read); EncryptFile2 streams the default form
// with Rijndael, segment by segment as the host sees it (256 at a time in
// fact), and is DoEncryptFile's fallback when memory or system resources run
// out.
//
// Choices where the container format and the writers leave the ending open:
// - Null paths, a source of 2 GiB or more, an ARIA document of 0 bytes (no
//   final piece to pad-encrypt) and header mode 2 with a header but no prefix
//   are refused with 0 before anything on disk is touched (the size is looked
//   at again once the source is open).
// - A file exception from a step that the writers do not guard (reading the
//   first bytes, writing the header, a streaming read, EncryptFile2's status
//   copy or rename, closing a file) and any other exception end the call with
//   0 at the exported function: nothing escapes into the host. The temporary
//   file is discarded while the destination is untouched; once the
//   replacement has begun it may hold the only copy of the document and stays.
// - A cipher result that cannot be a length stops the body without being
//   counted, so the call ends in the "Src file Read size is incorrect" failure.
// - A destination of 256 characters or more that did not exist at the start
//   has no short form then; it is made again after the rename, so that the
//   source's status still reaches the result.
// - Short forms take buffers of 1024 characters in both writers: a short form
//   here is the path itself, which a 260-character buffer would not hold.
// - The ".wipeout" name must fit its 1024-character buffer; when it does not,
//   the destination is wiped under its own name.
//
// Durability: before an existing destination is wiped or removed, the
// finished temporary file is flushed to the disk; after the rename, the
// folder. At every moment the document survives a crash: the original under
// its name, or the complete container under its name or its "~PV" name.
#include "PVCodec.h"
#include "PVCommon.h"
#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "container/FileDriverSupport.h"
#include "fileops/FileChecks.h"
#include "module/HostTypes.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/FileFind.h"
#include "platform/LastError.h"
#include "platform/Shell.h"
#include "platform/TaskMemory.h"
#include "platform/Timing.h"
#include "platform/WideString.h"

#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>

using namespace container;
using namespace container::files;
using plat::CFile;
using plat::CFileException;
using plat::CFileStatus;

namespace {

constexpr int kEncrypt = 1;
constexpr plat::DWORD kProbeWaitMilliseconds = 20;
constexpr char16_t kWipeoutSuffix[] = u".wipeout";
constexpr size_t kWipeoutBuffer = 1024;

// What a call leaves for its exported function to clean up when an exception
// ends it: the temporary file, while discarding it loses nothing.
struct CallState {
    std::u16string temporaryPath;
    bool temporaryDisposable = false;
    // The container has the destination's name: whatever fails afterwards,
    // the call has done what it answers 1 for.
    bool placed = false;
};

struct TaskMemoryFree {
    void operator()(void* block) const { plat::CoTaskMemFree(block); }
};
using TaskMemory = std::unique_ptr<char, TaskMemoryFree>;

TaskMemory AllocateTaskMemory(uint64_t size)
{
    return TaskMemory(static_cast<char*>(plat::CoTaskMemAlloc(static_cast<plat::SIZE_T>(size))));
}

// The size check of both writers: the container's length less N + 14, in
// unsigned 64-bit arithmetic, must not fall below the document's size. A
// header size of 0 or less still subtracts 14 + N (wrapping for an empty
// document, which passes).
uint64_t EncryptedDocSize(uint64_t containerLength, int headerSize)
{
    return containerLength - static_cast<uint64_t>(static_cast<int64_t>(headerSize) + kFixedHeaderSize);
}

// The streaming writer's segments in hand: a batch of 256 (256 KiB, which
// stays in the processor's cache) for a codec that enciphers segments side
// by side; one segment for any other codec, or when even the batch's memory
// is refused (the writer is the fallback for want of memory).
class SegmentBatch {
public:
    explicit SegmentBatch(bool together)
        : m_heap(together ? new (std::nothrow) char[size_t{kBatchSegments} * ENC_BUFFER_SIZE] : nullptr)
    {
    }
    char* Data() { return m_heap ? m_heap.get() : m_one; }
    plat::UINT Segments() const { return m_heap ? kBatchSegments : 1; }

private:
    static constexpr plat::UINT kBatchSegments = 256;
    std::unique_ptr<char[]> m_heap;
    char m_one[ENC_BUFFER_SIZE];
};

// The destination replacement's trace lines, which name the writer.
struct ReplacementTraces {
    const char16_t* startWipeoutAt;       // %s: the ".wipeout" name
    const char16_t* endWipeoutAt;         // %s: the ".wipeout" name
    const char16_t* failWipeout;
    const char16_t* startWipeout;
    const char16_t* endWipeout;
    const char16_t* normalDelete;         // %s: the destination path
    const char16_t* normalDeleteFailed;   // %s: the destination path
};

constexpr ReplacementTraces kDoEncryptReplacement{
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Start Wipeout=%s",
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! End of Wipeout=%s",
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() BAD! FAIL Wipeout",
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Start Wipeout",
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! End of Wipeout",
    u"[PVCodec.dll]CCCCPVCodec::DoEncryptFile() BAD! FAIL or SKIP Wipeout NOW NORMAL DELETE FILE..., szDestPath=%s",
    u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! FAIL NORMAL DELETE FILE Encryption Fail..., szDestPath=%s",
};

constexpr ReplacementTraces kEncrypt2Replacement{
    u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! Start Wipeout=%s",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! End of Wipeout=%s",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() BAD! FAIL Wipeout",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! Start Wipeout",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! End of Wipeout",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() BAD! FAIL or SKIP Wipeout NOW NORMAL DELETE FILE..., szDestPath=%s",
    u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! FAIL NORMAL DELETE FILE Encryption Fail..., szDestPath=%s",
};

// Wipes out or deletes a file at the destination so that the temporary file
// can take its name. False only when the normal deletion fails.
bool ReplaceDestination(plat::LPCWSTR destination, const std::u16string& shortDestination,
                        const std::u16string& temporaryPath, const ReplacementTraces& traces)
{
    plat::CFileFind find;
    if (!find.FindFile(shortDestination.c_str()))
        return true;
    find.Close();
    // The container must be on the disk before the only other copy goes.
    FlushTemporaryFile(temporaryPath);

    plat::SetFileAttributesW(shortDestination.c_str(), plat::FILE_ATTRIBUTE_NORMAL);
    if (FileInLocalDrive(destination) != 0) {
        bool wiped = false;
        bool triedNamed = false;
        const size_t length = plat::WideLength(destination);
        if (IsExplorerIconsOnly() == 1 && length + std::size(kWipeoutSuffix) <= kWipeoutBuffer) {
            const std::u16string wipeName = std::u16string(destination, length) + kWipeoutSuffix;
            if (plat::MoveFileW(destination, wipeName.c_str()) && plat::PathFileExistsW(wipeName.c_str())) {
                triedNamed = true;
                QZTraceW(traces.startWipeoutAt, wipeName.c_str());
                wiped = CFileWipeOut::WipeOutFile(wipeName.c_str()) != 0;
                if (wiped)
                    QZTraceW(traces.endWipeoutAt, wipeName.c_str());
                else
                    QZTraceW(traces.failWipeout);
            }
        }
        if (!triedNamed) {
            QZTraceW(traces.startWipeout);
            wiped = CFileWipeOut::WipeOutFile(destination) != 0;
            QZTraceW(wiped ? traces.endWipeout : traces.failWipeout);
        }
        if (wiped)
            return true;
    }

    QZTraceW(traces.normalDelete, destination);
    try {
        CFile::Remove(shortDestination.c_str());
    } catch (const CFileException&) {
        QZTraceW(traces.normalDeleteFailed, destination);
        return false;
    }
    return true;
}

// Runs one writer for its exported function: no exception reaches the host.
template <typename Body>
int Guarded(const char16_t* fileExceptionTrace, const char16_t* otherExceptionTrace, Body body)
{
    CallState state;
    try {
        return body(state);
    } catch (const CFileException& e) {
        QZTraceW(fileExceptionTrace, e.m_cause);
    } catch (...) {
        QZTraceW(otherExceptionTrace);
    }
    // The writer's files are closed by now.
    if (state.temporaryDisposable)
        DiscardTemporaryFile(state.temporaryPath);
    return state.placed ? 1 : 0;
}

// The source's size before anything on disk is touched; nullopt when it
// cannot be looked up (the open then fails in its own way).
std::optional<uint64_t> SourceSize(plat::LPCWSTR source)
{
    CFileStatus status;
    if (!CFile::GetStatus(source, status))
        return std::nullopt;
    return status.m_size;
}

// EncryptFile2 on the library's own types, guarded: DoEncryptFile's fallback.
int GuardedEncryptFile2(plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, char* header, int headerSize,
                        plat::HWND hWnd);

// ---- DoEncryptFile

int DoEncryptFileBody(CallState& state, plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, char* header,
                      int headerSize, plat::HWND hWnd, unsigned int headerMode, char* magicOrPrefix)
{
    if (IsMissingPath(srcPath) || IsMissingPath(destPath)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! No source or destination path");
        return 0;
    }
    // 1. Short forms.
    std::u16string shortSrcPath = ShortForm(srcPath);
    std::u16string shortDestPath = ShortForm(destPath);

    // Requests that cannot be carried out end here, before the disk is touched.
    const std::optional<HeaderPlan> plan = PlanHeader(header, headerSize, headerMode, magicOrPrefix);
    if (!plan) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! No header prefix for the extended header");
        return 0;
    }
    const auto refuseSize = [&](uint64_t size) {
        if (!IsSupportedDocumentSize(size)) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Source file is too large, nDocSize=%I64d",
                     static_cast<long long>(size));
            return true;
        }
        if (plan->algorithm == kAlgorithmAria && size == 0) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Algorithm ARIA needs at least one byte, "
                     u"nDocSize=%d",
                     0);
            return true;
        }
        return false;
    };
    if (std::optional<uint64_t> size = SourceSize(srcPath); size && refuseSize(*size))
        return 0;

    // 2. Destination probe: can the destination be opened for writing?
    {
        plat::CFileFind find;
        if (find.FindFile(shortDestPath.c_str())) {
            find.Close();
            const plat::DWORD saved = plat::GetFileAttributesW(shortDestPath.c_str());
            plat::SetFileAttributesW(shortDestPath.c_str(), plat::FILE_ATTRIBUTE_NORMAL);
            plat::Sleep(kProbeWaitMilliseconds);
            plat::HANDLE probe =
                plat::CreateFileW(shortDestPath.c_str(), plat::GENERIC_WRITE, plat::FILE_SHARE_READ, nullptr,
                                  plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL, nullptr);
            const bool writable = probe != plat::INVALID_HANDLE_VALUE;
            if (writable)
                plat::CloseHandle(probe);
            if (saved != plat::INVALID_FILE_ATTRIBUTES)
                plat::SetFileAttributesW(shortDestPath.c_str(), saved);
            if (!writable) {
                QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! File WriteMode Open Fail, path=%s", destPath);
                return 0;
            }
        }
    }

    // 3. Temporary name.
    const TemporaryName temporary = MakeTemporaryName(destPath);
    if (!temporary.ok) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() BAD! Fail GetTempFileName path=%s", temporary.folder.c_str());
        return 0;
    }
    const std::u16string& tmpDestPath = temporary.path;
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Entering the Function V2, tmpDestPath=%s",
             tmpDestPath.c_str());

    // 4. Source, up to 3 attempts.
    CFile source;
    CFileException openError;
    if (!OpenSource(source, srcPath, CFile::modeRead | CFile::typeBinary | SourceShareMode(srcPath, destPath),
                    kSourceOpenAttempts, u"[PVCodec.dll]CPVCodec::DoEncryptFile() BAD! Source open fail!!",
                    openError)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Source open fail!!");
        TraceFileError(u"[PVCodec.dll]CODE=%d, MSG=%s", openError);
        return 0;
    }

    // 5. Temporary file.
    CFile temp;
    if (!temp.Open(tmpDestPath.c_str(), kTemporaryOpenFlags)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! temp Dest open fail");
        source.Close();
        DiscardTemporaryFile(tmpDestPath);
        return 0;
    }
    state.temporaryPath = tmpDestPath;
    state.temporaryDisposable = true;
    plat::HookPoint(plat::hook::kTempCreated);

    const auto discardAndFail = [&]() {
        temp.Close();
        source.Close();
        DiscardTemporaryFile(tmpDestPath);
        state.temporaryDisposable = false;
        return 0;
    };

    // 6. D. The source may have changed since it was first looked at.
    const uint64_t length = source.GetLength();
    if (refuseSize(length))
        return discardAndFail();
    const int nDocSize = static_cast<int>(length);
    const plat::UINT docSize = static_cast<plat::UINT>(nDocSize);

    // 7. Header.
    if (plan->form != HeaderForm::None) {
        unsigned char first[kMagicFieldSize] = {};
        if (source.Read(first, kMagicFieldSize) == kMagicFieldSize && IsContainerMagic(first)) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Already encrypted");
            return discardAndFail();
        }
        source.SeekToBegin();
        if (plan->form == HeaderForm::Extended) {
            temp.Write(plan->prefix, kHeaderPrefixSize);
        } else {
            unsigned char size[4];
            WriteLittleEndian32(size, static_cast<uint32_t>(headerSize));
            temp.Write(plan->magicField.data(), kMagicFieldSize);
            temp.Write(size, sizeof size);
        }
        temp.Write(header, static_cast<plat::UINT>(headerSize));
        // A header that cannot be written fails here, unguarded, and not
        // later as a failed body write.
        temp.DeliverWrites();
    }

    // 8, 9.
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! sourceFileSize=%d, sourceFile=%s", nDocSize, srcPath);
    ProgressReporter progress(hWnd, nDocSize);

    // 10, 11. The codec, and the document and body images.
    auto codec = std::make_unique<CRawCodec>(kEncrypt, key, plan->algorithm);
    TaskMemory document = AllocateTaskMemory(docSize);
    TaskMemory body = document ? AllocateTaskMemory(uint64_t{docSize} + ENC_BUFFER_SIZE) : TaskMemory();
    if (!document || !body) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Out of memory for %d Bytes", nDocSize);
        document.reset();
        body.reset();
        codec.reset();
        discardAndFail();
        return GuardedEncryptFile2(srcPath, destPath, key, header, headerSize, hWnd);
    }

    // A Rijndael body is enciphered and written behind the read, a window at
    // the start of the body image at a time, while the window is still in
    // the processor's cache: the images are allocated, so that the call
    // needs the same memory and falls back on the same conditions, but
    // barely touched. What the host sees keeps the order of one read, then
    // the body with its progress and traces, then the writes: progress and
    // traces come after the read, and each write answers for its bytes
    // (CFile::AnswerWrite). ARIA and ATE bodies go from the document image
    // to the body image.
    const bool behind = plan->algorithm == kAlgorithmRijndael && TakesSegmentsTogether(*codec, kEncrypt);
    const std::span<char> window(body.get(), static_cast<size_t>(std::min<uint64_t>(uint64_t{docSize} + ENC_BUFFER_SIZE,
                                                                                       kBehindWindow)));
    SegmentsBehind done;

    // 12. The whole document in one read.
    plat::UINT got = 0;
    bool readFailed = false;
    try {
        got = behind ? ReadSegmentsBehind(source, temp, *codec, kEncrypt, docSize, window, done)
                     : source.Read(document.get(), docSize);
    } catch (const CFileException& e) {
        // The refused large read's code is the exception's: the system's last
        // error need not outlive the throw.
        if (static_cast<plat::DWORD>(e.m_lOsError) == plat::ERROR_NO_SYSTEM_RESOURCES) {
            document.reset();
            body.reset();
            codec.reset();
            temp.Close();
            source.Close();
            plat::DeleteFileW(tmpDestPath.c_str());
            state.temporaryDisposable = false;
            return GuardedEncryptFile2(srcPath, destPath, key, header, headerSize, hWnd);
        }
        readFailed = true;
    }
    if (readFailed || got < docSize) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! read fail");
        document.reset();
        body.reset();
        return discardAndFail();
    }

    // 13. The body.
    static constexpr TailEncipherTraces kTailTraces{
        u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! PadEncrypt, nRead=%d",
        u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Pad 0, nPadBlockSize=%d, nRead=%d",
        u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Pad 1, VQPVZP+size(%d)",
    };
    BodyWrite written;
    if (behind) {
        progress.SegmentsDone(done.run.segments);
        written.consumed = done.run.segments * ENC_BUFFER_SIZE;
        written.produced = done.run.produced;
        written.failed = done.run.failed;
        if (!written.failed && done.tail > 0) {
            char work[kTailWorkSize];
            const TailWrite end = EncipherTail(*codec, window.data(), done.tail, work, kTailTraces);
            written.failed = end.failed;
            if (!end.failed) {
                temp.WriteBehind({work, static_cast<size_t>(end.produced)});
                written.consumed += done.tail;
                written.produced += end.produced;
            }
        }
    } else if (plan->algorithm == kAlgorithmAria) {
        const WholeDocumentCut cut = CutWholeDocument(nDocSize);
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Algorithm ARIA DocSize[%d], BufferSize[%d], "
                 u"PadSize[%d]",
                 nDocSize, static_cast<int>(cut.block), static_cast<int>(cut.pad));
        written = EncipherWholeDocument(*codec, document.get(), nDocSize, body.get());
    } else {
        written = EncipherSegmentedDocument(*codec, document.get(), nDocSize, body.get(), kTailTraces, &progress);
    }

    // 14. Written in 16 MiB pieces.
    try {
        if (behind)
            AnswerInPieces(temp, written.produced);
        else
            WriteInPieces(temp, body.get(), written.produced);
    } catch (const CFileException& e) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Dest File Write Fail, m_cause=%d", e.m_cause);
        progress.Finish();
        temp.Abort();
        source.Close();
        document.reset();
        body.reset();
        return discardAndFail();
    }

    // 15. Every byte of the document went in.
    document.reset();
    body.reset();
    const int nTotalSrcFileReadSize = static_cast<int>(written.consumed);
    if (written.consumed != static_cast<int64_t>(docSize)) {
        temp.Close();
        source.Close();
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Src file Read size is incorrect, "
                 u"nTotalSrcFileReadSize=%d, nDocSize=%d",
                 nTotalSrcFileReadSize, nDocSize);
        return discardAndFail();
    }

    // 16. Size check.
    const uint64_t nEncryptedDocSize = EncryptedDocSize(temp.GetLength(), headerSize);
    if (nEncryptedDocSize < docSize) {
        temp.Close();
        source.Close();
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Encrypted file size is incorrect, "
                 u"nEncryptedDocSize=%d, nDocSize=%d, nEncHeaderSize=%d",
                 static_cast<int>(nEncryptedDocSize), nDocSize, headerSize);
        return discardAndFail();
    }
    temp.Close();
    source.Close();

    // 17. The source's status.
    CFileStatus status;
    bool haveStatus = false;
    if (IsFileTimeInRange(shortSrcPath.c_str()) == 1)
        haveStatus = CFile::GetStatus(shortSrcPath.c_str(), status) != 0;
    else
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() BAD! File Time is out of range, szShortSrcPath=%s",
                 shortSrcPath.c_str());
    plat::HookPoint(plat::hook::kBeforeReplace);

    // 18. From here on the temporary file may hold the only copy of the document.
    state.temporaryDisposable = false;
    if (!ReplaceDestination(destPath, shortDestPath, tmpDestPath, kDoEncryptReplacement))
        return 0;
    plat::HookPoint(plat::hook::kDestinationRemoved);

    // 19. Rename.
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Start Rename");
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Start Rename [%s][%s]", tmpDestPath.c_str(), destPath);
    if (!RenameIntoPlace(tmpDestPath, destPath, u"CPVCodec::DoEncryptFile()"))
        return 0;
    state.placed = true;
    plat::HookPoint(plat::hook::kAfterRename);

    // 20. Status.
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! End Rename ");
    if (haveStatus) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Start SetStatus ");
        if (shortDestPath.empty())
            shortDestPath = ShortForm(destPath);
        try {
            CFile::SetStatus(shortDestPath.c_str(), status);
        } catch (const CFileException& e) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Fail CFile::SetStatus(), m_cause=%d", e.m_cause);
        }
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! End SetStatus ");

    // 21.
    progress.Finish();
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptFile() GOOD! End of the function");
    return 1;
}

// ---- EncryptFile2

int EncryptFile2Body(CallState& state, plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, char* header,
                     int headerSize, plat::HWND hWnd)
{
    if (IsMissingPath(srcPath) || IsMissingPath(destPath)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! No source or destination path");
        return 0;
    }
    // 1. Short forms.
    const std::u16string shortSrcPath = ShortForm(srcPath);
    const std::u16string shortDestPath = ShortForm(destPath);
    const auto tooLarge = [](uint64_t size) {
        if (IsSupportedDocumentSize(size))
            return false;
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Source file is too large, nDocSize=%I64d",
                 static_cast<long long>(size));
        return true;
    };
    if (std::optional<uint64_t> size = SourceSize(srcPath); size && tooLarge(*size))
        return 0;

    // 2. Temporary name.
    const TemporaryName temporary = MakeTemporaryName(destPath);
    if (!temporary.ok) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() BAD! Fail GetTempFileName path=%s", temporary.folder.c_str());
        return 0;
    }
    const std::u16string& tmpDestPath = temporary.path;
    QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! Entering the Function V2, tmpDestPath=%s",
             tmpDestPath.c_str());

    // 3. One attempt at the source, denying reading to others.
    CFile source;
    CFileException openError;
    if (!source.Open(srcPath, CFile::modeRead | CFile::typeBinary | CFile::shareDenyRead, &openError)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Source open fail");
        return 0;
    }

    // 4. Temporary file.
    CFile temp;
    if (!temp.Open(tmpDestPath.c_str(), kTemporaryOpenFlags)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! temp Dest open fail");
        source.Close();
        return 0;
    }
    state.temporaryPath = tmpDestPath;
    state.temporaryDisposable = true;
    plat::HookPoint(plat::hook::kTempCreated);

    // The streaming writer leaves its temporary file behind on its own failures.
    const auto leaveAndFail = [&]() {
        temp.Close();
        source.Close();
        state.temporaryDisposable = false;
        return 0;
    };

    // 5. Header: the default form only.
    if (header != nullptr && headerSize >= 1) {
        unsigned char first[kMagicFieldSize] = {};
        if (source.Read(first, kMagicFieldSize) == kMagicFieldSize && IsContainerMagic(first)) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Already encrypted");
            return leaveAndFail();
        }
        source.SeekToBegin();
        const auto magic = MagicField(HEADER_MODE_DEFAULT, nullptr);
        unsigned char size[4];
        WriteLittleEndian32(size, static_cast<uint32_t>(headerSize));
        temp.Write(magic.data(), kMagicFieldSize);
        temp.Write(size, sizeof size);
        temp.Write(header, static_cast<plat::UINT>(headerSize));
        temp.DeliverWrites();  // as in DoEncryptFile
    }

    // 6. D.
    const uint64_t length = source.GetLength();
    if (tooLarge(length)) {
        temp.Close();
        source.Close();
        DiscardTemporaryFile(tmpDestPath);
        state.temporaryDisposable = false;
        return 0;
    }
    const int64_t nDocSize = static_cast<int64_t>(length);
    QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! sourceFileSize=%d, sourceFile=%s",
             static_cast<int>(nDocSize), srcPath);
    ProgressReporter progress(hWnd, nDocSize);

    // 7.
    CRawCodec codec(kEncrypt, key, kAlgorithmRijndael);

    // A failed write of the body: traced, 100 sent, the partial temporary file left.
    const auto writeFailed = [&](const char16_t* line) {
        QZTraceW(line);
        progress.Finish();
        temp.Abort();
        return leaveAndFail();
    };

    // 8. Full segments as they are read. Many are read, enciphered side by
    // side and written at a time; each is still its own read, encryption,
    // write and progress step, in that order, up to the step that fails.
    static constexpr const char16_t* kSegmentWriteFailed =
        u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Temp Dest File Write Fail";
    SegmentBatch batch(TakesSegmentsTogether(codec, kEncrypt));
    char out[kTailWorkSize];
    int64_t nTotalSrcFileReadSize = 0;
    const char* tailBytes = nullptr;
    int tail = 0;
    for (;;) {
        const CFile::PieceRun read = source.ReadPieces(batch.Data(), ENC_BUFFER_SIZE, batch.Segments());
        const int64_t full = static_cast<int64_t>(read.bytes / ENC_BUFFER_SIZE);
        const SegmentRun run = EncipherSegments(codec, batch.Data(), full, batch.Data());
        nTotalSrcFileReadSize += run.segments * ENC_BUFFER_SIZE;
        // A batch's segments give 1024 bytes each; a single segment may give fewer.
        const auto pieceSize = static_cast<plat::UINT>(run.segments > 1 ? ENC_BUFFER_SIZE : run.produced);
        const CFile::PieceRun written =
            temp.WritePieces(batch.Data(), pieceSize, pieceSize == 0 ? 0 : static_cast<plat::UINT>(run.segments));
        const int64_t segmentsWritten = written.failure ? static_cast<int64_t>(written.bytes / pieceSize) : run.segments;
        progress.SegmentsDone(segmentsWritten);
        if (written.failure)
            return writeFailed(kSegmentWriteFailed);
        if (run.failed)
            break;  // not counted: the count check below ends the call
        if (read.failure)
            throw *read.failure;
        if (full < static_cast<int64_t>(batch.Segments())) {
            tailBytes = batch.Data() + full * ENC_BUFFER_SIZE;
            tail = static_cast<int>(read.bytes % ENC_BUFFER_SIZE);
            break;
        }
    }

    // 9. The tail.
    if (tail > 0) {
        static constexpr TailEncipherTraces kTailTraces{
            u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! PadEncrypt, nRead=%d",
            u"[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! Pad 0, nPadBlockSize=%d, nRead=%d",
            nullptr,
        };
        const TailWrite end = EncipherTail(codec, tailBytes, tail, out, kTailTraces);
        if (!end.failed) {
            nTotalSrcFileReadSize += tail;
            try {
                temp.Write(out, static_cast<plat::UINT>(end.produced));
                temp.DeliverWrites();
            } catch (const CFileException&) {
                return writeFailed(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Padding Temp Dest File Write Fail");
            }
        }
    }

    // 10. Every byte of the document went in.
    if (nTotalSrcFileReadSize != nDocSize) {
        leaveAndFail();
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Src file Read size is incorrect, "
                 u"nTotalSrcFileReadSize=%d, nDocSize=%d",
                 static_cast<int>(nTotalSrcFileReadSize), static_cast<int>(nDocSize));
        return 0;
    }

    // 11. Size check.
    const uint64_t nEncryptedDocSize = EncryptedDocSize(temp.GetLength(), headerSize);
    if (nEncryptedDocSize < static_cast<uint64_t>(nDocSize)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Encrypted file size is incorrect, "
                 u"nEncryptedDocSize=%d, nDocSize=%d, nEncHeaderSize=%d",
                 static_cast<int>(nEncryptedDocSize), static_cast<int>(nDocSize), headerSize);
        return leaveAndFail();
    }
    temp.Close();
    source.Close();

    // 12. The source's status goes onto the temporary file.
    CFileStatus status;
    if (IsFileTimeInRange(shortSrcPath.c_str()) != 1)
        QZTraceW(u"[PVCodec.dll]CPVCodec::EncryptFile2() BAD! File Time is out of range, szShortSrcPath=%s",
                 shortSrcPath.c_str());
    else if (CFile::GetStatus(shortSrcPath.c_str(), status))
        CFile::SetStatus(tmpDestPath.c_str(), status);
    plat::HookPoint(plat::hook::kBeforeReplace);

    // 13. From here on the temporary file may hold the only copy of the document.
    state.temporaryDisposable = false;
    if (!ReplaceDestination(destPath, shortDestPath, tmpDestPath, kEncrypt2Replacement))
        return 0;
    plat::HookPoint(plat::hook::kDestinationRemoved);

    // 14. One rename.
    CFile::Rename(tmpDestPath.c_str(), destPath);
    state.placed = true;
    FlushFolderOf(destPath);
    plat::HookPoint(plat::hook::kAfterRename);

    // 15.
    progress.Finish();
    return 1;
}

int GuardedEncryptFile2(plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, char* header, int headerSize,
                        plat::HWND hWnd)
{
    return Guarded(u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Unexpected file exception, m_cause=%d",
                   u"[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Unexpected exception", [&](CallState& state) {
                       return EncryptFile2Body(state, srcPath, destPath, key, header, headerSize, hWnd);
                   });
}

}  // namespace

int CPVCodec::DoEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize,
                            PVHWND hWnd, unsigned int headerMode, char* magicOrPrefix)
{
    return Guarded(u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Unexpected file exception, m_cause=%d",
                   u"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Unexpected exception", [&](CallState& state) {
                       return DoEncryptFileBody(state, host::Path(srcPath), host::Path(destPath), key, header,
                                                headerSize, host::Window(hWnd), headerMode, magicOrPrefix);
                   });
}

int CPVCodec::EncryptFileEx(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize,
                            PVHWND hWnd, unsigned int headerMode, char* magicOrPrefix)
{
    return DoEncryptFile(srcPath, destPath, key, header, headerSize, hWnd, headerMode, magicOrPrefix);
}

int CPVCodec::EncryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize,
                           PVHWND hWnd)
{
    return DoEncryptFile(srcPath, destPath, key, header, headerSize, hWnd, HEADER_MODE_DEFAULT, nullptr);
}

int CPVCodec::EncryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize)
{
    return EncryptFileW(srcPath, destPath, key, header, headerSize, nullptr);
}

int CPVCodec::RDEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize,
                            PVHWND hWnd)
{
    return EncryptFileW(srcPath, destPath, key, header, headerSize, hWnd);
}

int CPVCodec::RDEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize)
{
    return EncryptFileW(srcPath, destPath, key, header, headerSize);
}

int CPVCodec::EncryptFile2(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header, int headerSize,
                           PVHWND hWnd)
{
    return GuardedEncryptFile2(host::Path(srcPath), host::Path(destPath), key, header, headerSize,
                               host::Window(hWnd));
}
