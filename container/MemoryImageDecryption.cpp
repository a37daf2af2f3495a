// Decryption of a container image held in memory into the caller's output
// buffer: the plain document from offset 32, its length at offset 0.
//
// The caller gives the offset of the body. A negative offset would put the
// body before the image and is refused like a container shorter than the
// offset (result 0). Cipher results that cannot be lengths end the body
// early; the missing bytes then fail the consumed-bytes check.
#include "PVCodec.h"

#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "module/ExportGuard.h"

#include <cstdint>

using namespace container;

namespace {

constexpr int kDecrypt = 2;

int DecryptMemoryImage(char* source, char* output, int nSrcFileSize, int* size, char* pKey, int nOffsetToMain)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! Entering the Function");
    if (source == nullptr || output == nullptr)
        return 0;

    const int64_t docSize = static_cast<int64_t>(nSrcFileSize) - nOffsetToMain;
    const int nDocSize = static_cast<int>(docSize);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! AFTER nSrcFileSize=%d, Encrypted nDocSize=%d",
             nSrcFileSize, nDocSize);
    if (docSize < 0 || nOffsetToMain < 0 || docSize > INT32_MAX)
        return 0;

    const int algorithm = ReaderAlgorithm(source, nSrcFileSize);
    const char* body = source + nOffsetToMain;
    char* plain = output + kImageDataOffset;
    CRawCodec codec(kDecrypt, pKey, algorithm);
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! AFTER pvCodec(pKey)");

    BodyRead read;
    if (algorithm == kAlgorithmAria) {
        WholeDocumentCut cut = CutWholeDocument(docSize);
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! Algorithm ARIA DocSize[%d]", nDocSize);
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! Algorithm ARIA BufferSize[%d]",
                 static_cast<int>(cut.block));
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! Algorithm ARIA PadSize[%d]",
                 static_cast<int>(cut.pad));
        read = DecipherWholeDocument(codec, body, docSize, plain);
    } else {
        static const SegmentedReadTraces traces{
            nullptr,
            u"[PVCodec.dll]CPVCodec::DecryptMemroyToMemory() WATCH! Pad 1, VQPVZP+size(%d)",
            u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, "
            u"szOutBuff)",
            u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() ERROR! nSizeResult=%d",
            u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! PadDecrypt() nPos=%d, nSizeResult=%d",
        };
        read = DecipherSegmentedBody(codec, body, docSize, plain, traces);
        if (read.padFailed)
            return 0;
    }

    const int nPos = static_cast<int>(read.produced);
    if (read.consumed != docSize) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() ERROR! Src file Read size is incorrect, "
                 u"nTotalSrcFileReadSize=%d, nDocSize=%d",
                 static_cast<int>(read.consumed), nDocSize);
        return 0;
    }
    QZTraceW(u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() WATCH! End of DecryptMemoryToMemory() Decrypted "
             u"nDocSize=%d",
             nPos);
    WriteLittleEndian32(reinterpret_cast<unsigned char*>(output), static_cast<uint32_t>(nPos));
    if (size != nullptr)
        *size = nPos;
    return 1;
}

}  // namespace

int CPVCodec::DecryptMemoryToMemory(char* source, char* output, int nSrcFileSize, int* size, char* pKey,
                                    int nOffsetToMain)
{
    return exportguard::NothingEscapes(
        0, u"[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() ERROR! Unexpected exception",
        [&] { return DecryptMemoryImage(source, output, nSrcFileSize, size, pKey, nOffsetToMain); });
}
