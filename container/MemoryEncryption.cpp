// Memory encryption: a plain document at offset 32 of the caller's buffer
// becomes a container image in the same buffer, its length at offset 0. A
// Rijndael body with a usable key is enciphered where the document lies: no
// working copy, and so no "Out of memory" result. ARIA and ATE bodies, a
// codec that refuses its key, and a header or prefix that the caller keeps
// in the buffer where the container goes work from a copy of the document.
//
// Choices where the format leaves the ending open, each a result of 0:
// - an ARIA document of 0 bytes has no final piece to pad-encrypt: refused
//   before the buffer is touched;
// - header mode 2 with a header but a null prefix: refused before the buffer
//   is touched;
// - a cipher result that cannot be a length (negative, or longer than the
//   piece can become) stops the body; the piece is not counted, so the call
//   ends in the "Src file Read size is incorrect" failure.
#include "PVCodec.h"

#include "QZTracer.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "module/ExportGuard.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

using namespace container;

namespace {

constexpr int kEncrypt = 1;

// Whether [a, a + n) and [b, b + m) share a byte.
bool Overlap(const char* a, int64_t n, const char* b, int64_t m)
{
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    return n > 0 && m > 0 && x < y + static_cast<uintptr_t>(m) && y < x + static_cast<uintptr_t>(n);
}

// Whether the caller's header bytes (and prefix) lie where the container is
// written: writing over the document would change them before they are
// copied, so such a call works from a copy, which writes the header first.
bool HeaderInTheWay(const HeaderPlan& plan, const char* start, int64_t size)
{
    const int64_t written = plan.Size() + RijndaelBodyLength(size);
    return Overlap(plan.header, plan.headerSize, start, written) ||
           (plan.form == HeaderForm::Extended && Overlap(plan.prefix, kHeaderPrefixSize, start, written));
}

int EncryptMemoryImage(char* buffer, int nSrcFileSize, int* resultSize, char* key, char* header,
                       int headerSize, unsigned int headerMode, char* magicOrPrefix)
{
    QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Entering the Function");
    if (buffer == nullptr)
        return 0;

    const bool withHeader = header != nullptr && headerSize >= 1;
    const std::optional<HeaderPlan> plan = PlanHeader(header, headerSize, headerMode, magicOrPrefix);
    char* const start = buffer + kImageDataOffset;
    const int64_t size = nSrcFileSize;

    // A Rijndael body is written over the document without a copy when the
    // engine takes segments together (it then cannot fail part way); every
    // other body is enciphered from a copy, since the container overwrites
    // the document from offset 32. A negative size cannot be copied.
    std::unique_ptr<CRawCodec> codec;
    bool inPlace = false;
    if (size >= 0 &&
        (!withHeader || (plan && plan->algorithm == kAlgorithmRijndael && !HeaderInTheWay(*plan, start, size)))) {
        codec = std::make_unique<CRawCodec>(kEncrypt, key, kAlgorithmRijndael);
        inPlace = TakesSegmentsTogether(*codec, kEncrypt);
    }
    std::unique_ptr<char[]> copy;
    if (!inPlace) {
        if (size >= 0)
            copy.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
        if (!copy) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Out of memory...nSrcFileSize=%d",
                     nSrcFileSize);
            return 0;
        }
        std::memcpy(copy.get(), start, static_cast<size_t>(size));
    }
    const char* const document = inPlace ? start : copy.get();

    int64_t position = 0;  // bytes of the container written from offset 32
    int algorithm = kAlgorithmRijndael;
    if (withHeader) {
        if (size > 10 && IsContainerMagic(reinterpret_cast<const unsigned char*>(document))) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() BAD! Already Encrypted...");
            return 1;
        }
        if (!plan) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! No header prefix for the extended "
                     u"header");
            return 0;
        }
        if (plan->algorithm == kAlgorithmAria && size == 0) {
            QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Algorithm ARIA needs at least one "
                     u"byte, nSrcFileSize=%d",
                     nSrcFileSize);
            return 0;
        }
        // In place, the header goes over the document's first bytes once
        // the body no longer needs them.
        if (!inPlace)
            plan->WriteTo(start);
        position = plan->Size();
        algorithm = plan->algorithm;
    }

    if (!codec)
        codec = std::make_unique<CRawCodec>(kEncrypt, key, algorithm);
    BodyWrite body;
    if (algorithm == kAlgorithmAria) {
        WholeDocumentCut cut = CutWholeDocument(size);
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Algorithm ARIA DocSize[%d], "
                 u"BufferSize[%d], PadSize[%d]",
                 nSrcFileSize, static_cast<int>(cut.block), static_cast<int>(cut.pad));
        body = EncipherWholeDocument(*codec, document, size, start + position);
    } else {
        static const TailEncipherTraces traces{
            u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! PadEncrypt, nRead=%d",
            u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Pad 0, nPadBlockSize=%d, nRead=%d",
            u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Pad 1, VQPVZP+size(%d)",
        };
        if (inPlace) {
            body = EncipherSegmentedDocumentInPlace(*codec, start, size, position, traces);
            if (withHeader)
                plan->WriteTo(start);
        } else {
            body = EncipherSegmentedDocument(*codec, document, size, start + position, traces);
        }
    }
    position += body.produced;

    const int nSrcPos = static_cast<int>(body.consumed);
    if (nSrcPos != nSrcFileSize) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Src file Read size is incorrect, "
                 u"nSrcPos=%d, nSrcFileSize=%d",
                 nSrcPos, nSrcFileSize);
        return 0;
    }

    // Minus N + 14 whatever the form, as a signed number: without a header an
    // empty document compares 0 with -14 and fails.
    const int64_t nEncryptedDocSize = position - headerSize - kFixedHeaderSize;
    if (size > nEncryptedDocSize || position > INT32_MAX) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Encrypted file size is incorrect, "
                 u"nEncryptedDocSize=%d, nSrcFileSize=%d, nEncHeaderSize=%d",
                 static_cast<int>(nEncryptedDocSize), nSrcFileSize, headerSize);
        return 0;
    }

    const int length = static_cast<int>(position);
    WriteLittleEndian32(reinterpret_cast<unsigned char*>(buffer), static_cast<uint32_t>(length));
    if (resultSize != nullptr)
        *resultSize = length;
    return 1;
}

}  // namespace

int CPVCodec::DoEncryptMemoryToMemory(char* buffer, int nSrcFileSize, int* resultSize, char* key, char* header,
                                      int headerSize, unsigned int headerMode, char* magicOrPrefix)
{
    return exportguard::NothingEscapes(
        0, u"[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Unexpected exception", [&] {
            return EncryptMemoryImage(buffer, nSrcFileSize, resultSize, key, header, headerSize, headerMode,
                                      magicOrPrefix);
        });
}

int CPVCodec::EncryptMemoryToMemoryEx(char* buffer, int nSrcFileSize, int* resultSize, char* key, char* header,
                                      int headerSize, unsigned int headerMode, char* magicOrPrefix)
{
    return DoEncryptMemoryToMemory(buffer, nSrcFileSize, resultSize, key, header, headerSize, headerMode,
                                   magicOrPrefix);
}

int CPVCodec::EncryptMemoryToMemory(char* buffer, int nSrcFileSize, int* resultSize, char* key, char* header,
                                    int headerSize)
{
    return DoEncryptMemoryToMemory(buffer, nSrcFileSize, resultSize, key, header, headerSize, HEADER_MODE_DEFAULT,
                                   nullptr);
}
