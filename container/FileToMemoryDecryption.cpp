// The two readers from a container file into the caller's memory image: the
// plain document from offset 32, the length of the enciphered body at offset
// 0 (written before decrypting and left there), the plain length through the
// out-argument.
//
// DecryptFileToMemory reads the whole body with one read into an image from
// the task allocator and falls back to DecryptFileToMemory2 when the image
// cannot be had; DecryptFileToMemory2 reads through the runtime's stream
// functions, 1024 bytes at a time. Both read every body as a segmented body,
// an ARIA one included.
//
// Choices where the container format leaves the ending open, each a result
// of 0 with the out-argument left alone:
// - a body of 2 GiB or more (the size is a signed 32-bit number), and a
//   negative offset, which would put the body before the file;
// - a segment whose cipher result cannot be a length ends the body there;
//   the segment is not counted, so the consumed-bytes check fails;
// - a file exception while seeking or reading (a framework file class would
//   let it reach the host): caught at the boundary, image freed, file closed,
//   "Unexpected file exception" traced with its cause code;
// - DecryptFileToMemory2 never reads more than the body it measured, so a
//   file that grows meanwhile cannot overrun the caller's buffer.
// A null size out-argument is not written.
#include "PVCodec.h"

#include "QZTracer.h"
#include "module/ExportGuard.h"
#include "module/HostTypes.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "platform/File.h"
#include "platform/Stdio.h"
#include "platform/TaskMemory.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace container;

namespace {

constexpr int kDecrypt = 2;

struct TaskMemoryFree {
    void operator()(char* block) const { plat::CoTaskMemFree(block); }
};
using TaskMemory = std::unique_ptr<char, TaskMemoryFree>;

// A body the readers can hold: from 0 to 2 GiB - 1 bytes after a
// non-negative offset.
bool SupportedBody(int64_t docSize, int nOffsetToMain)
{
    return docSize >= 0 && docSize <= INT32_MAX && nOffsetToMain >= 0;
}

void StoreBodySize(char* pBuffer, int nDocSize)
{
    WriteLittleEndian32(reinterpret_cast<unsigned char*>(pBuffer), static_cast<uint32_t>(nDocSize));
}

struct StreamClose {
    void operator()(FILE* stream) const { plat::fclose(stream); }
};
using Stream = std::unique_ptr<FILE, StreamClose>;

// DecryptFileToMemory2 on the library's own types: the fallback of the reader
// that reads the whole body at once.
int DecryptFileToMemory2Call(plat::LPCWSTR path, char* pBuffer, int* size, char* pKey, int nOffsetToMain);

int DecryptFileToMemoryBody(plat::LPCWSTR path, char* pBuffer, int* size, char* pKey, int nOffsetToMain)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! Entering the Function");

    plat::CFile file;
    plat::CFileException openError;
    if (!file.Open(path, plat::CFile::modeRead | plat::CFile::shareDenyNone, &openError)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! Fail f=fopen();");
        return 0;
    }

    const int64_t docSize = static_cast<int64_t>(file.SeekToEnd()) - nOffsetToMain;
    const int nDocSize = static_cast<int>(docSize);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER Encrypted nDocSize=%d", nDocSize);
    if (!SupportedBody(docSize, nOffsetToMain))
        return 0;

    file.SeekToBegin();
    char probe[kAlgorithmProbeSize] = {};
    const plat::UINT probed = file.Read(probe, kAlgorithmProbeSize);
    const int algorithm = probed == kAlgorithmProbeSize ? ReaderAlgorithm(probe, probed) : kAlgorithmRijndael;

    file.Seek(nOffsetToMain, plat::CFile::begin);
    TaskMemory image(static_cast<char*>(plat::CoTaskMemAlloc(static_cast<plat::SIZE_T>(docSize))));
    if (!image) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Out of memory for %d Bytes", nDocSize);
        file.Close();
        return DecryptFileToMemory2Call(path, pBuffer, size, pKey, nOffsetToMain);
    }

    const plat::UINT bodyRead = file.Read(image.get(), static_cast<plat::UINT>(docSize));
    if (bodyRead < static_cast<plat::UINT>(docSize)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! read fail");
        return 0;
    }

    if (pBuffer == nullptr)
        return 0;
    StoreBodySize(pBuffer, nDocSize);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER if (!pBuffer)");

    CRawCodec codec(kDecrypt, pKey, algorithm);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER pvCodec(pKey);");

    static const SegmentedReadTraces traces{
        u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER while( (nRead=(int)fread(szInBuff, 1, "
        u"ENC_BUFFER_SIZE, f)) == ENC_BUFFER_SIZE)",
        u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! Pad 1, VQPVZP+size(%d)",
        u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)",
        u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! else",
        u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! PadDecrypt() nPos=%d, nSizeResult=%d",
    };
    const BodyRead body = DecipherSegmentedBody(codec, image.get(), docSize, pBuffer + kImageDataOffset, traces);
    image.reset();
    file.Close();
    if (body.padFailed)
        return 0;

    const int nPos = static_cast<int>(body.produced);
    if (body.consumed != docSize) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Src file Read size is incorrect, "
                 u"nTotalSrcFileReadSize=%d, nDocSize=%d",
                 static_cast<int>(body.consumed), nDocSize);
        return 0;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! End of DecryptToMemroy() Decrypted nDocSize=%d",
             nPos);
    if (size != nullptr)
        *size = nPos;
    return 1;
}

int DecryptFileToMemoryStreaming(plat::LPCWSTR path, char* pBuffer, int* size, char* pKey, int nOffsetToMain)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! Entering the Function");

    Stream stream(plat::_wfopen(path, u"rb"));
    if (!stream) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! Fail f=fopen();");
        return 0;
    }
    FILE* const f = stream.get();

    // A length that cannot be measured counts as an empty file.
    const long length = plat::fseek(f, 0, SEEK_END) == 0 ? plat::ftell(f) : -1L;
    const int64_t docSize = static_cast<int64_t>(length < 0 ? 0 : length) - nOffsetToMain;
    const int nDocSize = static_cast<int>(docSize);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! AFTER Encrypted nDocSize=%d", nDocSize);
    if (!SupportedBody(docSize, nOffsetToMain))
        return 0;

    char probe[kAlgorithmProbeSize] = {};
    plat::fseek(f, 0, SEEK_SET);
    const size_t probed = plat::fread(probe, 1, kAlgorithmProbeSize, f);
    const int algorithm = probed == kAlgorithmProbeSize ? ReaderAlgorithm(probe, kAlgorithmProbeSize)
                                                        : kAlgorithmRijndael;
    if (plat::fseek(f, nOffsetToMain, SEEK_SET) != 0)
        return 0;

    if (pBuffer == nullptr)
        return 0;
    StoreBodySize(pBuffer, nDocSize);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! AFTER if (!pBuffer)");

    CRawCodec codec(kDecrypt, pKey, algorithm);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! AFTER pvCodec(pKey);");

    char* const plain = pBuffer + kImageDataOffset;
    char szInBuff[ENC_BUFFER_SIZE] = {};
    char szOutBuff[ENC_BUFFER_SIZE] = {};
    int64_t nPos = 0;
    int64_t consumed = 0;
    bool segmentFailed = false;
    // Reads stop at the measured body: a full read is a full segment only
    // while a whole segment of the body is left.
    const auto readPiece = [&] {
        const int64_t left = docSize - consumed;
        const size_t want = left >= ENC_BUFFER_SIZE ? ENC_BUFFER_SIZE : static_cast<size_t>(left);
        return static_cast<int>(plat::fread(szInBuff, 1, want, f));
    };
    int nRead = 0;
    while ((nRead = readPiece()) == ENC_BUFFER_SIZE) {
        const int produced = DecipherSegment(codec, szInBuff, szOutBuff);
        if (produced == kPieceFailed) {
            segmentFailed = true;
            break;
        }
        consumed += ENC_BUFFER_SIZE;
        std::memcpy(plain + nPos, szOutBuff, static_cast<size_t>(produced));
        nPos += produced;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! AFTER while( (nRead=(int)fread(szInBuff, 1, "
             u"ENC_BUFFER_SIZE, f)) == ENC_BUFFER_SIZE)");

    if (!segmentFailed) {
        consumed += nRead;
        if (nRead >= 16) {
            const TailRead tail = DecipherTail(codec, szInBuff, nRead, szOutBuff);
            if (tail.trailer) {
                QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! Pad 1, VQPVZP+size(%d)",
                         static_cast<int>(tail.padBlockSize));
                nPos = ShortenByTrailer(nPos, tail.padBlockSize);
            }
            QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, "
                     u"szOutBuff)");
            if (tail.failed) {
                stream.reset();
                QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! else");
                return 0;
            }
            QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! PadDecrypt() nPos=%d, nSizeResult=%d",
                     static_cast<int>(nPos), tail.result);
            std::memcpy(plain + nPos, szOutBuff, static_cast<size_t>(tail.plainBytes));
            nPos += tail.plainBytes;
        }
    }
    stream.reset();

    if (consumed != docSize) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() ERROR! Src file Read size is incorrect, "
                 u"nTotalSrcFileReadSize=%d, nDocSize=%d",
                 static_cast<int>(consumed), nDocSize);
        return 0;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() WATCH! End of DecryptFileToMemory2() Decrypted "
             u"nDocSize=%d",
             static_cast<int>(nPos));
    if (size != nullptr)
        *size = static_cast<int>(nPos);
    return 1;
}

int DecryptFileToMemory2Call(plat::LPCWSTR path, char* pBuffer, int* size, char* pKey, int nOffsetToMain)
{
    return exportguard::NothingEscapes(
        0, u"[PVCodec.dll]CPVCodec::DecryptFileToMemory2() ERROR! Unexpected exception",
        [&] { return DecryptFileToMemoryStreaming(path, pBuffer, size, pKey, nOffsetToMain); });
}

}  // namespace

int CPVCodec::DecryptFileToMemory(const PVWCHAR* path, char* pBuffer, int* size, char* pKey, int nOffsetToMain)
{
    // Whatever the file class throws ends the call here, with everything the
    // call held released by the unwinding.
    try {
        return DecryptFileToMemoryBody(host::Path(path), pBuffer, size, pKey, nOffsetToMain);
    } catch (const plat::CFileException& e) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Unexpected file exception, m_cause=%d",
                 e.m_cause);
    } catch (...) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Unexpected exception");
    }
    return 0;
}

int CPVCodec::DecryptFileToMemory2(const PVWCHAR* path, char* pBuffer, int* size, char* pKey, int nOffsetToMain)
{
    return DecryptFileToMemory2Call(host::Path(path), pBuffer, size, pKey, nOffsetToMain);
}
