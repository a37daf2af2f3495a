// File decryption: a container file back into the plain document, through a
// "~PV" temporary file in the destination's folder that takes the
// destination's name only once the whole body is decrypted and counted. The
// destination may be the source itself (decryption in place).
//
// DecryptFileW reads the body into an image with one read, decrypts it in
// memory and writes the plain document in 16 MiB pieces; it hands the whole
// call to DecryptFile2 when its images cannot be allocated or the large read
// is refused for lack of system resources (1450). DecryptFile2 streams the
// body through 1024-byte buffers (an ARIA body through two body-sized ones).
// RDDecryptFile is DecryptFileW.
//
// Choices where the container format leaves the ending open, each a result
// of 0:
// - null paths, a negative offset and bodies of 2 GiB or more are refused
//   before anything on disk is touched (a body that measures 2 GiB or more
//   only once the source is open ends like one that is too small: files
//   closed, temporary file removed);
// - a cipher result that cannot be a length (a segment's, either ARIA
//   piece's) ends the body there, uncounted, so that the consumed-bytes check
//   fails; a trailer never shortens the output below empty;
// - a failing write of DecryptFile2's ARIA output is handled like one of its
//   segments ("Temp Dest File Write Fail", progress 100);
// - a file exception from a step that the drivers do not guard (reading the
//   source in DecryptFile2, seeking, setting the length, removing the
//   temporary file of a short source) never reaches the host: it is traced
//   "Unexpected file exception, m_cause=%d", the files are closed and the
//   partial temporary file is deleted - the destination is still untouched at
//   any such point;
// - an existing destination whose removal fails gets its attributes back.
// Short path forms are made in buffers of 1024 characters, so that a long
// path keeps its short form where short forms are no shorter than the path.
// DecryptFileW writes its output image straight from the cipher calls, with
// no working copies beside the two images; a Rijndael body is deciphered in
// a window of the output image and written behind the read. The status goes onto the short
// form of the destination, made again after the rename when the destination
// had none before it existed.
//
// Durability: before an existing destination is removed, the finished
// temporary file is flushed to the disk; after the rename, its folder. A
// crash at any moment leaves the container under its name, or the complete
// plain document under the destination's name or under its "~PV" name.
#include "PVCodec.h"

#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "container/FileDriverSupport.h"
#include "module/ExportGuard.h"
#include "module/HostTypes.h"
#include "fileops/FileChecks.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/FileFind.h"
#include "platform/LastError.h"
#include "platform/TaskMemory.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace container;
using namespace container::files;
using plat::CFile;
using plat::CFileException;

namespace {

constexpr int kDecrypt = 2;

enum class Driver {
    Full,       // DecryptFileW
    Streaming,  // DecryptFile2
};

std::u16string_view DriverName(Driver driver)
{
    return driver == Driver::Full ? u"CPVCodec::DecryptFile()" : u"CPVCodec::DecryptFile2()";
}

// One trace line of `driver`: "[PVCodec.dll]" + its name + " " + `text`.
// A line that cannot be put together for want of memory is dropped, as the
// trace library drops one: tracing never changes how a call ends.
template <typename... Args>
void Trace(Driver driver, std::u16string_view text, Args... args) noexcept
{
    try {
        std::u16string line = u"[PVCodec.dll]";
        line += DriverName(driver);
        line += u' ';
        line += text;
        QZTraceW(line.c_str(), args...);
    } catch (...) {
    }
}

struct TaskMemoryFree {
    void operator()(char* block) const { plat::CoTaskMemFree(block); }
};
using TaskMemory = std::unique_ptr<char, TaskMemoryFree>;

TaskMemory AllocateImage(int64_t size)
{
    return TaskMemory(static_cast<char*>(plat::CoTaskMemAlloc(static_cast<plat::SIZE_T>(size))));
}

// Everything one call works with.
struct Call {
    Call(Driver driver, plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, plat::HWND hWnd, int nOffsetToMain)
        : driver(driver), srcPath(srcPath), destPath(destPath), key(key), hWnd(hWnd), nOffsetToMain(nOffsetToMain)
    {
    }

    const Driver driver;
    plat::LPCWSTR const srcPath;
    plat::LPCWSTR const destPath;
    char* const key;
    const plat::HWND hWnd;
    const int nOffsetToMain;

    std::u16string shortSrcPath;
    std::u16string shortDestPath;
    std::u16string tmpDestPath;
    CFile source;
    CFile temp;
    int64_t docSize = 0;  // nDocSize
    int algorithm = kAlgorithmRijndael;
    // The temporary file exists and holds nothing anyone needs: an
    // unexpected failure deletes it.
    bool temporaryDisposable = false;
    // The document has the destination's name: whatever fails afterwards,
    // the call has done what it answers 1 for.
    bool placed = false;

    void CloseFiles()
    {
        source.Close();
        temp.Close();
    }
    // A removal that fails, even for want of memory for the path, leaves the
    // (owner-only) temporary file where it is; it never ends the call differently.
    void DeleteTemporaryFile() noexcept
    {
        try {
            plat::DeleteFileW(tmpDestPath.c_str());
        } catch (...) {
        }
        temporaryDisposable = false;
    }
};

// Requests that cannot be carried out end before the disk is touched.
bool Refused(const Call& c)
{
    if (IsMissingPath(c.srcPath) || IsMissingPath(c.destPath)) {
        Trace(c.driver, u"ERROR! No source or destination path");
        return true;
    }
    if (c.nOffsetToMain < 0) {
        Trace(c.driver, u"ERROR! nOffsetToMain is negative, nOffsetToMain=%d", c.nOffsetToMain);
        return true;
    }
    // A source that cannot be looked up fails to open in its own way.
    plat::CFileStatus status;
    if (!CFile::GetStatus(c.srcPath, status))
        return false;
    const int64_t docSize = static_cast<int64_t>(status.m_size) - c.nOffsetToMain;
    if (docSize > kLargestDocumentSize) {
        Trace(c.driver, u"ERROR! encrypted doc size is too large nDocSize=%I64d, nOffsetToMain=%d",
              static_cast<long long>(docSize), c.nOffsetToMain);
        return true;
    }
    return false;
}

// Preparation: short paths, the temporary name, the source and the temporary
// file open, nDocSize, the cipher, the source at the body. False after a
// traced failure.
bool Prepare(Call& c)
{
    c.shortSrcPath = ShortForm(c.srcPath);
    c.shortDestPath = ShortForm(c.destPath);

    const TemporaryName name = MakeTemporaryName(c.destPath);
    if (!name.ok) {
        Trace(c.driver, u"BAD! Fail GetTempFileName path=%s", name.folder.c_str());
        return false;
    }
    c.tmpDestPath = name.path;
    Trace(c.driver, u"WATCH! Entering the Function V2, tmpDestPath=%s", c.tmpDestPath.c_str());

    CFileException openError;
    const bool inPlace = SamePath(c.srcPath, c.destPath);
    const char16_t* failedAttempt = c.driver == Driver::Full
                                        ? u"[PVCodec.dll]CPVCodec::DecryptFile() BAD! Source open fail"
                                        : u"[PVCodec.dll]CPVCodec::DecryptFile2DecryptFile() BAD! Source open fail";
    if (!OpenSource(c.source, c.srcPath, CFile::modeRead | SourceShareMode(c.srcPath, c.destPath),
                    inPlace ? kSourceOpenAttempts : 1, inPlace ? failedAttempt : nullptr, openError)) {
        Trace(c.driver, u"BAD! src file open fail path=%s", c.srcPath);
        TraceFileError(u"CODE=%d, MSG=%s", openError);
        return false;
    }

    CFileException tempError;
    if (!c.temp.Open(c.tmpDestPath.c_str(), kTemporaryOpenFlags, &tempError)) {
        Trace(c.driver, u"BAD! tmpDest file open fail path=%s", c.tmpDestPath.c_str());
        c.source.Close();
        return false;
    }
    c.temporaryDisposable = true;
    plat::HookPoint(plat::hook::kTempCreated);

    const int64_t docSize = static_cast<int64_t>(c.source.SeekToEnd()) - c.nOffsetToMain;
    if (docSize < 0 || !IsSupportedDocumentSize(static_cast<uint64_t>(docSize))) {
        c.CloseFiles();
        CFile::Remove(c.tmpDestPath.c_str());
        c.temporaryDisposable = false;
        if (docSize < 0)
            Trace(c.driver, u"ERROR! encrypted doc size is too small nDocSize=%d, nOffsetToMain=%d",
                  static_cast<int>(docSize), c.nOffsetToMain);
        else
            Trace(c.driver, u"ERROR! encrypted doc size is too large nDocSize=%I64d, nOffsetToMain=%d",
                  static_cast<long long>(docSize), c.nOffsetToMain);
        return false;
    }
    c.docSize = docSize;

    c.source.SeekToBegin();
    char probe[kAlgorithmProbeSize] = {};
    const plat::UINT probed = c.source.Read(probe, kAlgorithmProbeSize);
    c.algorithm = probed == kAlgorithmProbeSize ? ReaderAlgorithm(probe, kAlgorithmProbeSize) : kAlgorithmRijndael;

    c.source.Seek(c.nOffsetToMain, CFile::begin);
    return true;
}

void TracePadFailure(const Call& c, const TailRead& tail)
{
    Trace(c.driver, u"ERROR! padDecrypt fail nRead=%d, nSizeResult=%d", tail.deciphered, tail.result);
}

void TraceAriaCut(const Call& c)
{
    const WholeDocumentCut cut = CutWholeDocument(c.docSize);
    Trace(c.driver, u"WATCH! Algorithm ARIA DocSize[%d],BufferSize[%d],PadSize[%d]", static_cast<int>(c.docSize),
          static_cast<int>(cut.block), static_cast<int>(cut.pad));
}

// Removes an existing destination so that the temporary file can take its
// name. False, after its trace, when the removal fails.
bool RemoveDestination(const Call& c)
{
    plat::CFileFind find;
    if (!find.FindFile(c.shortDestPath.c_str()))
        return true;
    find.Close();
    // The plain document must be on the disk before the file it replaces goes.
    FlushTemporaryFile(c.tmpDestPath);
    const plat::DWORD attributes = plat::GetFileAttributesW(c.shortDestPath.c_str());
    plat::SetFileAttributesW(c.shortDestPath.c_str(), plat::FILE_ATTRIBUTE_NORMAL);
    try {
        CFile::Remove(c.shortDestPath.c_str());
    } catch (const CFileException&) {
        if (attributes != plat::INVALID_FILE_ATTRIBUTES)
            plat::SetFileAttributesW(c.shortDestPath.c_str(), attributes);
        Trace(c.driver, u"ERROR! Dest Path remove fail szShortDestPath=%s", c.shortDestPath.c_str());
        return false;
    }
    return true;
}

// The end of both drivers, their files closed: the size check, the source's
// status, the destination replaced, the status put on the result.
int Finish(Call& c, const ProgressReporter& progress, int64_t consumed)
{
    if (consumed != c.docSize) {
        Trace(c.driver, u"ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=%d, nDocSize=%d",
              static_cast<int>(consumed), static_cast<int>(c.docSize));
        return 0;
    }

    plat::CFileStatus status;
    bool haveStatus = false;
    if (IsFileTimeInRange(c.shortSrcPath.c_str()) == 1)
        haveStatus = CFile::GetStatus(c.shortSrcPath.c_str(), status) != 0;
    else
        Trace(c.driver, u"BAD! File Time is out of range, szShortSrcPath=%s", c.shortSrcPath.c_str());
    plat::HookPoint(plat::hook::kBeforeReplace);

    // From here on the temporary file may hold the only copy of the document.
    c.temporaryDisposable = false;
    if (!RemoveDestination(c))
        return 0;
    plat::HookPoint(plat::hook::kDestinationRemoved);

    if (!RenameIntoPlace(c.tmpDestPath, c.destPath, DriverName(c.driver)))
        return 0;
    c.placed = true;
    plat::HookPoint(plat::hook::kAfterRename);

    if (haveStatus) {
        if (c.shortDestPath.empty())
            c.shortDestPath = ShortForm(c.destPath);
        try {
            CFile::SetStatus(c.shortDestPath.c_str(), status);
        } catch (const CFileException&) {
            // The result keeps the times of its own making.
        }
    }
    progress.Finish();
    Trace(c.driver, u"GOOD! End of the function");
    return 1;
}

// ---- DecryptFile2

// A failed write of plain data: traced, progress 100, both files closed; the
// temporary file stays.
bool StreamWriteFailed(Call& c, const ProgressReporter& progress, std::u16string_view trace)
{
    Trace(c.driver, trace);
    progress.Finish();
    c.CloseFiles();
    return false;
}

// The segments CFile still holds back reach the temporary file: a write
// error is a segment's. False when the call ended here.
bool SegmentsDelivered(Call& c, const ProgressReporter& progress)
{
    try {
        c.temp.DeliverWrites();
    } catch (const CFileException&) {
        return StreamWriteFailed(c, progress, u"ERROR! Temp Dest File Write Fail");
    }
    return true;
}

// Algorithms 0 and 2. False when the call ended here.
bool StreamSegmentedBody(Call& c, CRawCodec& codec, ProgressReporter& progress, int64_t& consumed)
{
    char szInBuff[ENC_BUFFER_SIZE] = {};
    char szOutBuff[ENC_BUFFER_SIZE] = {};
    int nRead = 0;
    while ((nRead = static_cast<int>(c.source.Read(szInBuff, ENC_BUFFER_SIZE))) == ENC_BUFFER_SIZE) {
        const int produced = DecipherSegment(codec, szInBuff, szOutBuff);
        if (produced == kPieceFailed)
            return SegmentsDelivered(c, progress);  // the rest is not counted: the size check ends the call
        consumed += ENC_BUFFER_SIZE;
        try {
            c.temp.Write(szOutBuff, static_cast<plat::UINT>(produced));
        } catch (const CFileException&) {
            return StreamWriteFailed(c, progress, u"ERROR! Temp Dest File Write Fail");
        }
        progress.SegmentDone();
    }
    if (!SegmentsDelivered(c, progress))
        return false;

    consumed += nRead;
    if (nRead < 16)
        return true;  // the body's end (0), or a remainder that is not deciphered
    const TailRead tail = DecipherTail(codec, szInBuff, nRead, szOutBuff);
    if (tail.trailer) {
        const int64_t total = ShortenByTrailer(consumed - kTrailerPieceSize, tail.padBlockSize);
        c.temp.SetLength(static_cast<plat::ULONGLONG>(total));
        Trace(c.driver, u"WATCH! Pad 1, VQPVZP+size(%d)", static_cast<int>(tail.padBlockSize));
    }
    if (tail.failed) {
        c.CloseFiles();
        TracePadFailure(c, tail);
        return false;
    }
    if (tail.plainBytes > 0) {
        try {
            c.temp.Write(szOutBuff, static_cast<plat::UINT>(tail.plainBytes));
            c.temp.DeliverWrites();
        } catch (const CFileException&) {
            return StreamWriteFailed(c, progress, u"ERROR! Padding Temp Dest File Write Fail");
        }
    }
    return true;
}

// Algorithm 1: the block part and the padded part, each read straight from
// the source. Only bytes of the body are read. False when the call ended here.
bool StreamWholeDocumentBody(Call& c, CRawCodec& codec, const ProgressReporter& progress, int64_t& consumed)
{
    TraceAriaCut(c);
    const WholeDocumentCut cut = CutWholeDocument(c.docSize);
    std::vector<char> in(static_cast<size_t>(c.docSize));
    std::vector<char> out(static_cast<size_t>(c.docSize));
    int64_t read = 0;
    if (cut.block > 0)
        read += c.source.Read(in.data(), static_cast<plat::UINT>(cut.block));
    if (cut.block >= 0 && read == cut.block)
        read += c.source.Read(in.data() + cut.block, static_cast<plat::UINT>(cut.pad));
    if (read != c.docSize)
        return true;  // the source came short: nothing counted, the size check ends the call

    const BodyRead body = DecipherWholeDocument(codec, in.data(), c.docSize, out.data());
    consumed = body.consumed;
    try {
        WriteInPieces(c.temp, out.data(), body.produced);
    } catch (const CFileException&) {
        return StreamWriteFailed(c, progress, u"ERROR! Temp Dest File Write Fail");
    }
    return true;
}

int DecryptFile2Body(Call& c)
{
    if (Refused(c) || !Prepare(c))
        return 0;
    ProgressReporter progress(c.hWnd, c.docSize);
    CRawCodec codec(kDecrypt, c.key, c.algorithm);
    int64_t consumed = 0;
    const bool carriedOn = c.algorithm == kAlgorithmAria ? StreamWholeDocumentBody(c, codec, progress, consumed)
                                                         : StreamSegmentedBody(c, codec, progress, consumed);
    if (!carriedOn)
        return 0;
    c.CloseFiles();
    return Finish(c, progress, consumed);
}

// ---- DecryptFileW

int DecryptFile2Call(plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, plat::HWND hWnd, int nOffsetToMain);

// The whole call handed to DecryptFile2, this call's files closed and its
// temporary file deleted.
int HandOver(Call& c)
{
    c.CloseFiles();
    c.DeleteTemporaryFile();
    return DecryptFile2Call(c.srcPath, c.destPath, c.key, c.hWnd, c.nOffsetToMain);
}

int DecryptFileWBody(Call& c)
{
    if (Refused(c) || !Prepare(c))
        return 0;
    const int64_t docSize = c.docSize;

    TaskMemory inImage = AllocateImage(docSize);
    TaskMemory outImage = inImage ? AllocateImage(docSize) : nullptr;
    if (!inImage || !outImage) {
        Trace(c.driver, u"ERROR! Out of memory for %d Bytes", static_cast<int>(docSize));
        inImage.reset();
        return HandOver(c);
    }

    // A Rijndael body is deciphered and written behind the read, a window at
    // the start of the output image at a time, while the window is still in
    // the processor's cache: the images are allocated, so that the call
    // needs the same memory and hands over on the same conditions, but
    // barely touched. What the host sees keeps the order of one read, then
    // the body with its progress and traces, then the writes, which answer
    // for the bytes written behind; the temporary file of a call that ends
    // before the writes is emptied again. Other ciphers go from the input
    // image to the output image (their codec is made once the body is read,
    // as always).
    std::optional<CRawCodec> codec;
    if (c.algorithm == kAlgorithmRijndael)
        codec.emplace(kDecrypt, c.key, c.algorithm);
    const bool behind = codec && TakesSegmentsTogether(*codec, kDecrypt);
    char* const out = outImage.get();
    char* const in = inImage.get();
    const std::span<char> window(out, static_cast<size_t>(std::min<uint64_t>(docSize, kBehindWindow)));
    SegmentsBehind done;
    const auto leaveEmpty = [&] {
        if (!behind)
            return;
        try {
            c.temp.SetLength(0);
        } catch (const CFileException&) {
            c.CloseFiles();
            c.DeleteTemporaryFile();
        }
    };

    plat::UINT read = 0;
    try {
        read = behind ? ReadSegmentsBehind(c.source, c.temp, *codec, kDecrypt, static_cast<plat::UINT>(docSize), window,
                                           done)
                      : c.source.Read(in, static_cast<plat::UINT>(docSize));
    } catch (const CFileException& e) {
        // As for encryption: the refused large read's code travels in the exception.
        if (static_cast<plat::DWORD>(e.m_lOsError) == plat::ERROR_NO_SYSTEM_RESOURCES) {
            inImage.reset();
            outImage.reset();
            return HandOver(c);
        }
        read = 0;
    } catch (...) {
        read = 0;
    }
    if (read < static_cast<uint64_t>(docSize)) {
        Trace(c.driver, u"ERROR! read fail");
        inImage.reset();
        outImage.reset();
        leaveEmpty();
        c.CloseFiles();
        return 0;
    }

    if (!codec)
        codec.emplace(kDecrypt, c.key, c.algorithm);
    ProgressReporter progress(c.hWnd, docSize);
    int64_t consumed = 0;
    int64_t length = 0;  // plain bytes of the body
    if (c.algorithm == kAlgorithmAria) {
        TraceAriaCut(c);
        const BodyRead body = DecipherWholeDocument(*codec, in, docSize, out);
        consumed = body.consumed;
        length = body.produced;
    } else {
        const int64_t segments = docSize / ENC_BUFFER_SIZE;
        SegmentRun run;
        if (behind) {
            run = done.run;
            progress.SegmentsDone(run.segments);
        } else {
            run = DecipherSegments(*codec, in, segments, out, &progress);
        }
        consumed = run.segments * ENC_BUFFER_SIZE;
        length = run.produced;
        // A tail of 1 to 15 bytes is neither deciphered nor counted.
        const int tail = static_cast<int>(docSize - segments * ENC_BUFFER_SIZE);
        if (!run.failed && tail >= 16) {
            consumed += tail;
            char work[kTailReadWorkSize];
            const TailRead piece =
                DecipherTail(*codec, behind ? window.data() : in + segments * ENC_BUFFER_SIZE, tail, work);
            if (piece.trailer) {
                const int64_t total = ShortenByTrailer(consumed - kTrailerPieceSize, piece.padBlockSize);
                c.temp.SetLength(static_cast<plat::ULONGLONG>(total));
                Trace(c.driver, u"WATCH! Pad 1, nSizeResult(%d) VQPVZP+size(%d) total(%ld)", piece.cipherResult,
                      static_cast<int>(piece.padBlockSize), static_cast<long>(total));
                length = ShortenByTrailer(length, piece.padBlockSize);
            }
            if (piece.failed) {
                leaveEmpty();
                c.CloseFiles();
                TracePadFailure(c, piece);
                return 0;
            }
            if (behind)
                c.temp.WriteBehind({work, static_cast<size_t>(piece.plainBytes)});
            else
                std::memcpy(out + length, work, static_cast<size_t>(piece.plainBytes));
            length += piece.plainBytes;
        }
    }

    c.temp.SeekToBegin();
    Trace(c.driver, u"WATCH! nDestPos(%d) nBlock(%d), nPad(%d) ", static_cast<int>(length),
          static_cast<int>(length / kWritePieceSize), static_cast<int>(length % kWritePieceSize));
    try {
        if (behind)
            AnswerInPieces(c.temp, length);
        else
            WriteInPieces(c.temp, out, length);
    } catch (const CFileException& e) {
        Trace(c.driver, u"ERROR! Dest File Write Fail, m_cause=%d", e.m_cause);
        progress.Finish();
        c.CloseFiles();
        inImage.reset();
        outImage.reset();
        c.DeleteTemporaryFile();
        return 0;
    }
    inImage.reset();
    outImage.reset();
    c.CloseFiles();
    return Finish(c, progress, consumed);
}

// Runs one driver for its exported function: no exception reaches the host.
template <typename Body>
int Guarded(Call& c, Body body)
{
    try {
        return body(c);
    } catch (const CFileException& e) {
        Trace(c.driver, u"ERROR! Unexpected file exception, m_cause=%d", e.m_cause);
    } catch (...) {
        Trace(c.driver, u"ERROR! Unexpected exception");
    }
    c.source.Abort();
    c.temp.Abort();
    if (c.temporaryDisposable)
        c.DeleteTemporaryFile();
    return c.placed ? 1 : 0;
}

// DecryptFile2 on the library's own types: DecryptFileW hands over to it.
int DecryptFile2Call(plat::LPCWSTR srcPath, plat::LPCWSTR destPath, char* key, plat::HWND hWnd, int nOffsetToMain)
{
    return exportguard::NothingEscapes(0, u"[PVCodec.dll]CPVCodec::DecryptFile2() ERROR! Unexpected exception", [&] {
        Call call(Driver::Streaming, srcPath, destPath, key, hWnd, nOffsetToMain);
        return Guarded(call, DecryptFile2Body);
    });
}

}  // namespace

int CPVCodec::DecryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                           int nOffsetToMain)
{
    return exportguard::NothingEscapes(0, u"[PVCodec.dll]CPVCodec::DecryptFile() ERROR! Unexpected exception", [&] {
        Call call(Driver::Full, host::Path(srcPath), host::Path(destPath), key, host::Window(hWnd), nOffsetToMain);
        return Guarded(call, DecryptFileWBody);
    });
}

int CPVCodec::DecryptFile2(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                           int nOffsetToMain)
{
    return DecryptFile2Call(host::Path(srcPath), host::Path(destPath), key, host::Window(hWnd), nOffsetToMain);
}

int CPVCodec::RDDecryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                            int nOffsetToMain)
{
    return DecryptFileW(srcPath, destPath, key, hWnd, nOffsetToMain);
}
