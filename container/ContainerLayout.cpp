#include "container/ContainerLayout.h"

#include "PVCodec.h"
#include "QZTracer.h"
#include "codec/RawCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace container {
namespace {

// The dispatcher takes its input through a non-const pointer but never writes it.
char* In(const char* input)
{
    return const_cast<char*>(input);
}

// A cipher result usable as a length of at most `limit` bytes, else kPieceFailed.
int Checked(int result, int64_t limit)
{
    return result >= 0 && result <= limit ? result : kPieceFailed;
}

}  // namespace

// ---- Header

int64_t HeaderPlan::Size() const
{
    switch (form) {
    case HeaderForm::None: return 0;
    case HeaderForm::Default: return kFixedHeaderSize + static_cast<int64_t>(headerSize);
    case HeaderForm::Extended: return kHeaderPrefixSize + static_cast<int64_t>(headerSize);
    }
    return 0;
}

void HeaderPlan::WriteTo(char* out) const
{
    switch (form) {
    case HeaderForm::None:
        return;
    case HeaderForm::Default:
        std::memcpy(out, magicField.data(), kMagicFieldSize);
        WriteLittleEndian32(reinterpret_cast<unsigned char*>(out + kHeaderSizeFieldOffset),
                            static_cast<uint32_t>(headerSize));
        std::memcpy(out + kFixedHeaderSize, header, static_cast<size_t>(headerSize));
        return;
    case HeaderForm::Extended:
        std::memcpy(out, prefix, kHeaderPrefixSize);
        std::memcpy(out + kHeaderPrefixSize, header, static_cast<size_t>(headerSize));
        return;
    }
}

std::vector<char> HeaderPlan::Bytes() const
{
    std::vector<char> bytes(static_cast<size_t>(Size()));
    WriteTo(bytes.data());
    return bytes;
}

std::array<char, kMagicFieldSize> MagicField(unsigned headerMode, const char* magic)
{
    std::array<char, kMagicFieldSize> field{};
    const char* source = headerMode == HEADER_MODE_CALLER_MAGIC && magic != nullptr ? magic : MAGIC_DEFAULT;
    for (int i = 0; i < kMagicFieldSize && source[i] != 0; ++i)
        field[i] = source[i];
    return field;
}

std::optional<HeaderPlan> PlanHeader(const char* header, int headerSize, unsigned headerMode,
                                     const char* magicOrPrefix)
{
    HeaderPlan plan;
    if (header == nullptr || headerSize < 1)
        return plan;
    plan.header = header;
    plan.headerSize = headerSize;
    if (headerMode == HEADER_MODE_EXTENDED) {
        if (magicOrPrefix == nullptr)
            return std::nullopt;
        plan.form = HeaderForm::Extended;
        plan.prefix = magicOrPrefix;
        plan.algorithm =
            CPVCodec::ConvertFileAlgToProgAlg(static_cast<unsigned char>(magicOrPrefix[kAlgorithmTagOffset]));
    } else {
        plan.form = HeaderForm::Default;
        plan.magicField = MagicField(headerMode, magicOrPrefix);
    }
    return plan;
}

int ReaderAlgorithm(const char* start, int64_t available)
{
    unsigned char probe[kAlgorithmProbeSize] = {};
    if (start != nullptr && available > 0)
        std::memcpy(probe, start, static_cast<size_t>(std::min<int64_t>(available, kAlgorithmProbeSize)));
    if (!IsExtendedForm(probe))
        return kAlgorithmRijndael;
    return CPVCodec::ConvertFileAlgToProgAlg(probe[kAlgorithmTagOffset]);
}

// ---- Segments

int EncipherSegment(CRawCodec& codec, const char* in, char* out)
{
    return Checked(codec.BlockEncrypt(In(in), ENC_BUFFER_SIZE, out), ENC_BUFFER_SIZE);
}

int DecipherSegment(CRawCodec& codec, const char* in, char* out)
{
    return Checked(codec.BlockDecrypt(In(in), ENC_BUFFER_SIZE, out), ENC_BUFFER_SIZE);
}

namespace {

// Segments handed to the cipher per call on the fast path: enough that a call
// costs nothing beside its work, few enough that input and output stay in the
// processor's cache and the observer hears of the segments as the work goes.
constexpr int64_t kSegmentsPerCall = 256;

// With no observer to tell, a run goes to the cipher whole (up to what one
// call takes): the engine then sees the size of the body, and writes a large
// one past the caches instead of reading every output line before writing
// it, which chunks of kSegmentsPerCall would each be too small for.
constexpr int64_t kMostSegmentsPerCall = INT32_MAX / ENC_BUFFER_SIZE;

// The multi-segment entry takes an output equal to its input or apart from it.
bool SameOrApart(const char* in, const char* out, int64_t bytes)
{
    const auto a = reinterpret_cast<uintptr_t>(in);
    const auto b = reinterpret_cast<uintptr_t>(out);
    const auto n = static_cast<uintptr_t>(bytes);
    return a == b || a + n <= b || b + n <= a;
}

using SegmentsCall = int (CRawCodec::*)(char*, int, char*);

// Rijndael goes through the multi-segment entry a chunk at a time: all of a
// chunk's segments or none of them (the engine writes nothing when it
// refuses). A refused chunk goes one segment at a time, so that each result
// is checked and appended as the single calls give it; so does every other
// cipher, whose per-segment results the multi-segment entry only adds up.
template <int (*Step)(CRawCodec&, const char*, char*), SegmentsCall Together>
SegmentRun RunSegments(CRawCodec& codec, const char* in, int64_t count, char* out, SegmentObserver* observer)
{
    SegmentRun run;
    const bool together = codec.Algorithm() == ALG_RIJNDAEL;
    // Input and output that overlap (an image decrypted where it lies, a few
    // bytes on) go in chunks, which may still each lie apart.
    const int64_t perCall = observer == nullptr && SameOrApart(in, out, count * ENC_BUFFER_SIZE)
                                ? kMostSegmentsPerCall
                                : kSegmentsPerCall;
    while (run.segments < count) {
        const int64_t chunk = std::min(count - run.segments, perCall);
        const int64_t bytes = chunk * ENC_BUFFER_SIZE;
        const char* from = in + run.segments * ENC_BUFFER_SIZE;
        char* to = out + run.produced;
        if (together && SameOrApart(from, to, bytes) &&
            (codec.*Together)(In(from), static_cast<int>(chunk), to) == bytes) {
            run.produced += bytes;
            run.segments += chunk;
            if (observer != nullptr)
                for (int64_t i = 0; i < chunk; ++i)
                    observer->SegmentDone();
            continue;
        }
        for (int64_t i = 0; i < chunk; ++i) {
            // The engine takes an output equal to its input or apart from it:
            // a segment that overlaps its place in the output (an image
            // decrypted where it lies) goes through a segment of our own.
            const char* segment = from + i * ENC_BUFFER_SIZE;
            char* place = out + run.produced;
            char bounce[ENC_BUFFER_SIZE];
            const bool bounced = !SameOrApart(segment, place, ENC_BUFFER_SIZE);
            const int produced = Step(codec, segment, bounced ? bounce : place);
            if (produced == kPieceFailed) {
                run.failed = true;
                return run;
            }
            if (bounced)
                std::memmove(place, bounce, static_cast<size_t>(produced));
            run.produced += produced;
            ++run.segments;
            if (observer != nullptr)
                observer->SegmentDone();
        }
    }
    return run;
}

}  // namespace

SegmentRun EncipherSegments(CRawCodec& codec, const char* in, int64_t count, char* out, SegmentObserver* observer)
{
    return RunSegments<EncipherSegment, &CRawCodec::BlockEncryptSegments>(codec, in, count, out, observer);
}

SegmentRun DecipherSegments(CRawCodec& codec, const char* in, int64_t count, char* out, SegmentObserver* observer)
{
    return RunSegments<DecipherSegment, &CRawCodec::BlockDecryptSegments>(codec, in, count, out, observer);
}

// ---- Writing the end of a segmented body

std::array<char, kTrailerLength> MakeTrailer(uint32_t padBlockSize)
{
    std::array<char, kTrailerLength> trailer{};
    std::memcpy(trailer.data(), kTrailerMark, kTrailerMarkSize);
    WriteLittleEndian32(reinterpret_cast<unsigned char*>(trailer.data() + kTrailerPadSizeOffset), padBlockSize);
    return trailer;
}

TailWrite EncipherTail(CRawCodec& codec, const char* in, int tail, char* out, const TailEncipherTraces& traces)
{
    TailWrite write;
    write.form = SegmentedTailForm(tail);
    if (write.form == TailForm::None)
        return write;
    if (traces.padEncrypt != nullptr)
        QZTraceW(traces.padEncrypt, tail);
    if (write.form == TailForm::Padded) {
        write.produced = Checked(codec.PadEncrypt(In(in), tail, out), PaddedLength(tail));
        write.failed = write.produced == kPieceFailed;
        if (write.failed)
            write.produced = 0;
        return write;
    }
    int padBlockSize = ENC_BUFFER_SIZE - tail;
    write.padBlockSize = padBlockSize;
    char segment[ENC_BUFFER_SIZE] = {};
    std::memcpy(segment, in, static_cast<size_t>(tail));
    if (traces.pad0 != nullptr)
        QZTraceW(traces.pad0, padBlockSize, ENC_BUFFER_SIZE);
    int segmentBytes = EncipherSegment(codec, segment, out);
    if (segmentBytes == kPieceFailed) {
        write.failed = true;
        return write;
    }
    auto trailer = MakeTrailer(static_cast<uint32_t>(padBlockSize));
    if (traces.pad1 != nullptr)
        QZTraceW(traces.pad1, padBlockSize);
    int trailerBytes =
        Checked(codec.PadEncrypt(trailer.data(), kTrailerLength, out + segmentBytes), kTrailerPieceSize);
    if (trailerBytes == kPieceFailed) {
        write.failed = true;
        return write;
    }
    write.produced = segmentBytes + trailerBytes;
    return write;
}

namespace {

// The final partial segment of `tail` bytes at `in` added to `body`, whose
// output continues at `out`.
void AppendTail(CRawCodec& codec, const char* in, int tail, char* out, const TailEncipherTraces& traces,
                BodyWrite& body)
{
    if (tail == 0)
        return;
    // The tail goes through a work area: its pieces are checked before they
    // reach the caller's memory.
    char work[kTailWorkSize];
    TailWrite write = EncipherTail(codec, in, tail, work, traces);
    if (write.failed) {
        body.failed = true;
        return;
    }
    std::memcpy(out + body.produced, work, static_cast<size_t>(write.produced));
    body.produced += write.produced;
    body.consumed += tail;
}

}  // namespace

BodyWrite EncipherSegmentedDocument(CRawCodec& codec, const char* document, int64_t size, char* out,
                                    const TailEncipherTraces& traces, SegmentObserver* observer)
{
    BodyWrite body;
    int64_t segments = size / ENC_BUFFER_SIZE;
    SegmentRun run = EncipherSegments(codec, document, segments, out, observer);
    body.consumed = run.segments * ENC_BUFFER_SIZE;
    body.produced = run.produced;
    if (run.failed) {
        body.failed = true;
        return body;
    }
    AppendTail(codec, document + body.consumed, static_cast<int>(size - body.consumed), out, traces, body);
    return body;
}

bool TakesSegmentsTogether(CRawCodec& codec, int direction)
{
    if (codec.Algorithm() != ALG_RIJNDAEL)
        return false;
    // The engine answers every call alike: one segment tried aside tells.
    char segment[ENC_BUFFER_SIZE] = {};
    const int done = direction == RJDL_DIR_ENCRYPT ? codec.BlockEncryptSegments(segment, 1, segment)
                                                    : codec.BlockDecryptSegments(segment, 1, segment);
    return done == ENC_BUFFER_SIZE;
}

BodyWrite EncipherSegmentedDocumentInPlace(CRawCodec& codec, char* document, int64_t size, int64_t shift,
                                           const TailEncipherTraces& traces)
{
    BodyWrite body;
    const int64_t segments = size / ENC_BUFFER_SIZE;
    const int tail = static_cast<int>(size - segments * ENC_BUFFER_SIZE);
    // The body ends further on than the document: the tail's plain bytes are
    // kept aside before the last segments are moved over them.
    char tailCopy[ENC_BUFFER_SIZE];
    std::memcpy(tailCopy, document + segments * ENC_BUFFER_SIZE, static_cast<size_t>(tail));

    // From the last chunk to the first: each is enciphered where it lies and
    // then moved `shift` bytes on, over plain bytes already enciphered.
    for (int64_t end = segments; end > 0;) {
        const int64_t begin = std::max<int64_t>(end - kSegmentsPerCall, 0);
        const int64_t bytes = (end - begin) * ENC_BUFFER_SIZE;
        char* at = document + begin * ENC_BUFFER_SIZE;
        if (codec.BlockEncryptSegments(at, static_cast<int>(end - begin), at) != bytes) {
            // Not for a codec that takes segments together: its engine answers every call alike.
            body.failed = true;
            return body;
        }
        if (shift != 0)
            std::memmove(at + shift, at, static_cast<size_t>(bytes));
        end = begin;
    }
    body.consumed = segments * ENC_BUFFER_SIZE;
    body.produced = body.consumed;
    AppendTail(codec, tailCopy, tail, document + shift, traces, body);
    return body;
}

// ---- Reading the end of a segmented body

TailRead DecipherTail(CRawCodec& codec, const char* in, int tail, char* work)
{
    TailRead read;
    if (tail < 16)
        return read;
    read.deciphered = tail - tail % 16;
    // A failed pad decryption may leave the work area as it was: clear the
    // place of the trailer mark so that stale bytes are never taken for one.
    std::memset(work, 0, kTrailerPieceSize);
    read.result = codec.PadDecrypt(In(in), read.deciphered, work);
    read.cipherResult = read.result;
    if (read.deciphered == kTrailerPieceSize && std::memcmp(work, kTrailerMark, kTrailerMarkSize) == 0) {
        read.trailer = true;
        read.padBlockSize = ReadLittleEndian32(reinterpret_cast<const unsigned char*>(work + kTrailerPadSizeOffset));
        read.result = 0;
    }
    // Above 2047 as an unsigned number (every negative code included), or
    // longer than what was deciphered: no plain length.
    read.failed = static_cast<uint32_t>(read.result) > 2047 || read.result > read.deciphered;
    read.plainBytes = read.failed ? 0 : read.result;
    return read;
}

BodyRead DecipherSegmentedBody(CRawCodec& codec, const char* body, int64_t length, char* out,
                               const SegmentedReadTraces& traces, SegmentObserver* observer)
{
    BodyRead read;
    int64_t segments = length / ENC_BUFFER_SIZE;
    SegmentRun run = DecipherSegments(codec, body, segments, out, observer);
    read.consumed = run.segments * ENC_BUFFER_SIZE;
    read.produced = run.produced;
    if (traces.afterSegments != nullptr)
        QZTraceW(traces.afterSegments);
    if (run.failed)
        return read;
    int tail = static_cast<int>(length - segments * ENC_BUFFER_SIZE);
    read.consumed += tail;
    if (tail < 16)
        return read;
    char work[kTailReadWorkSize];
    TailRead piece = DecipherTail(codec, body + segments * ENC_BUFFER_SIZE, tail, work);
    if (piece.trailer) {
        if (traces.trailer != nullptr)
            QZTraceW(traces.trailer, static_cast<int>(piece.padBlockSize));
        read.produced = ShortenByTrailer(read.produced, piece.padBlockSize);
    }
    if (traces.afterPad != nullptr)
        QZTraceW(traces.afterPad);
    if (piece.failed) {
        if (traces.padFailed != nullptr)
            QZTraceW(traces.padFailed, piece.result);
        read.padFailed = true;
        return read;
    }
    if (traces.padResult != nullptr)
        QZTraceW(traces.padResult, static_cast<int>(read.produced), piece.result);
    std::memcpy(out + read.produced, work, static_cast<size_t>(piece.plainBytes));
    read.produced += piece.plainBytes;
    return read;
}

// ---- Whole-document body

BodyWrite EncipherWholeDocument(CRawCodec& codec, const char* document, int64_t size, char* out)
{
    BodyWrite body;
    if (size < 1) {
        body.failed = true;
        return body;
    }
    WholeDocumentCut cut = CutWholeDocument(size);
    if (cut.block > 0) {
        int produced = Checked(codec.BlockEncrypt(In(document), static_cast<int>(cut.block), out), cut.block);
        if (produced == kPieceFailed) {
            body.failed = true;
            return body;
        }
        body.produced = produced;
        body.consumed = cut.block;
    }
    char work[2 * kTrailerPieceSize];
    int produced = Checked(codec.PadEncrypt(In(document + cut.block), static_cast<int>(cut.pad), work),
                           PaddedLength(cut.pad));
    if (produced == kPieceFailed) {
        body.failed = true;
        return body;
    }
    std::memcpy(out + body.produced, work, static_cast<size_t>(produced));
    body.produced += produced;
    body.consumed += cut.pad;
    return body;
}

BodyRead DecipherWholeDocument(CRawCodec& codec, const char* body, int64_t length, char* out)
{
    BodyRead read;
    WholeDocumentCut cut = CutWholeDocument(length);
    if (cut.block > 0) {
        int produced = Checked(codec.BlockDecrypt(In(body), static_cast<int>(cut.block), out), cut.block);
        if (produced == kPieceFailed)
            return read;
        read.produced = produced;
        read.consumed = cut.block;
    }
    if (length < cut.pad) {
        read.consumed += cut.pad;
        return read;
    }
    char work[kTrailerPieceSize];
    int produced = Checked(codec.PadDecrypt(In(body + cut.block), static_cast<int>(cut.pad), work), cut.pad);
    if (produced == kPieceFailed)
        return read;
    std::memcpy(out + read.produced, work, static_cast<size_t>(produced));
    read.produced += produced;
    read.consumed += cut.pad;
    return read;
}

}  // namespace container
