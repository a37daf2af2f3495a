// The container layout as the writers and readers carry it out: the header a
// writer puts before the body, the cipher a reader chooses, and the body
// enciphered and deciphered through CRawCodec - segment by segment for a
// driver that streams, or a whole document held in memory in one go.
//
// Every cipher result is checked before it is used as a length: a block
// result must lie within its input, a padded result within the padded length
// of its input, a plain result within its enciphered input. A piece whose
// result fails that check is reported as failed and not counted, so that the
// driver's consumed-bytes check ends the call. Nothing here traces unless the
// driver hands over the exact lines to emit.
#pragma once

#include "container/ContainerFormat.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class CRawCodec;

namespace container {

// ---- Header

enum class HeaderForm { None, Default, Extended };

struct HeaderPlan {
    HeaderForm form = HeaderForm::None;
    // Program algorithm id the body is enciphered with.
    int algorithm = kAlgorithmRijndael;
    std::array<char, kMagicFieldSize> magicField{};  // default form
    const char* prefix = nullptr;                     // extended form: the caller's 92 bytes
    const char* header = nullptr;
    int headerSize = 0;

    // Bytes the header takes before the body: 0, 14 + N or 92 + N.
    int64_t Size() const;
    // Writes the Size() bytes of the header to `out`.
    void WriteTo(char* out) const;
    std::vector<char> Bytes() const;
};

// The header a writer puts before the body. No header unless `header` is not
// null and `headerSize` >= 1. Mode 1 takes at most 10 bytes of `magicOrPrefix`
// up to its zero byte as the magic ("VQPVA002" when null); mode 2 takes the
// 92-byte prefix and its tag; any other mode is the default form.
// nullopt: mode 2 with a header but no prefix, which cannot be written.
std::optional<HeaderPlan> PlanHeader(const char* header, int headerSize, unsigned headerMode,
                                     const char* magicOrPrefix);

// The 10-byte magic field of the default form.
std::array<char, kMagicFieldSize> MagicField(unsigned headerMode, const char* magic);

// The cipher a reader uses for a container whose first `available` bytes are
// at `start` (the rest of the first 12 counting as zero): the tag at byte 10
// of the extended form, otherwise Rijndael.
int ReaderAlgorithm(const char* start, int64_t available);

// ---- Segments (the one place where full segments are enciphered)

// Told after each full segment; a file driver sends its progress from here.
class SegmentObserver {
public:
    virtual ~SegmentObserver() = default;
    virtual void SegmentDone() = 0;
};

inline constexpr int kPieceFailed = -1;

// One full 1024-byte segment from `in` to `out` (room for 1024 bytes).
// Bytes produced (0..1024), or kPieceFailed.
int EncipherSegment(CRawCodec& codec, const char* in, char* out);
int DecipherSegment(CRawCodec& codec, const char* in, char* out);

struct SegmentRun {
    int64_t segments = 0;  // segments done and counted
    int64_t produced = 0;  // bytes appended at `out`
    bool failed = false;   // stopped at a segment whose result was unusable
};

// `count` consecutive segments from `in`; each result is appended at `out`,
// which needs room for count * 1024 bytes. Stops at the first failed segment.
// The bytes, the counts and the observer's calls (one per segment, in order)
// are those of one call per segment; Rijndael enciphers a few hundred
// segments side by side per call and then tells the observer of each, other
// ciphers go one segment at a time.
SegmentRun EncipherSegments(CRawCodec& codec, const char* in, int64_t count, char* out,
                            SegmentObserver* observer = nullptr);
SegmentRun DecipherSegments(CRawCodec& codec, const char* in, int64_t count, char* out,
                            SegmentObserver* observer = nullptr);

// ---- The end of a segmented body, writing

// Exact trace formats of the driver; a null entry is not traced.
struct TailEncipherTraces {
    const char16_t* padEncrypt = nullptr;  // %d: the tail length t
    const char16_t* pad0 = nullptr;        // %d, %d: z and 1024
    const char16_t* pad1 = nullptr;        // %d: z
};

// Room the tail pieces need: a zero-filled segment and the trailer piece.
inline constexpr int kTailWorkSize = ENC_BUFFER_SIZE + kTrailerPieceSize;

struct TailWrite {
    TailForm form = TailForm::None;
    int padBlockSize = 0;  // z of the trailer form
    int produced = 0;      // bytes at `out`: the padded piece, or segment + trailer piece
    bool failed = false;
};

// The final partial segment of `tail` bytes (0..1023) at `in`, enciphered to
// `out` (room for kTailWorkSize bytes) as the layout asks: nothing, one padded
// piece, or the zero-filled segment followed by the trailer piece.
TailWrite EncipherTail(CRawCodec& codec, const char* in, int tail, char* out, const TailEncipherTraces& traces);

// The plain padding trailer carrying z.
std::array<char, kTrailerLength> MakeTrailer(uint32_t padBlockSize);

struct BodyWrite {
    int64_t consumed = 0;  // plain bytes taken (nSrcPos)
    int64_t produced = 0;  // body bytes written at `out`
    bool failed = false;
};

// A whole document of `size` bytes as a segmented body at `out`, which needs
// room for RijndaelBodyLength(size) bytes (at most size + 32).
BodyWrite EncipherSegmentedDocument(CRawCodec& codec, const char* document, int64_t size, char* out,
                                    const TailEncipherTraces& traces, SegmentObserver* observer = nullptr);

// Whether `codec` enciphers segments side by side in `direction` (1 encrypt,
// 2 decrypt): Rijndael with its engine ready for that direction.
bool TakesSegmentsTogether(CRawCodec& codec, int direction);

// EncipherSegmentedDocument without a copy of the document: the body is
// written over the document it comes from, starting `shift` bytes (0 or
// more: the room of a header) after it, with room for
// RijndaelBodyLength(size) bytes there. The first `shift` bytes keep stale
// plain bytes for the caller to overwrite. For a codec that takes segments
// together (TakesSegmentsTogether): the bytes, counts and traces are those of
// EncipherSegmentedDocument from a copy.
BodyWrite EncipherSegmentedDocumentInPlace(CRawCodec& codec, char* document, int64_t size, int64_t shift,
                                           const TailEncipherTraces& traces);

// ---- The end of a segmented body, reading

// Room DecipherTail needs at `work`.
inline constexpr int kTailReadWorkSize = ENC_BUFFER_SIZE;

struct TailRead {
    int deciphered = 0;        // n: the tail rounded down to whole blocks (0 below 16)
    int result = 0;            // r, as the cipher gave it (0 when taken as the trailer)
    int cipherResult = 0;      // r as the cipher gave it, also for the trailer
    bool trailer = false;      // the piece was the padding trailer
    uint32_t padBlockSize = 0; // z carried by the trailer
    bool failed = false;       // r is no usable length
    int plainBytes = 0;        // bytes of the document at `work` (0 for a trailer or failure)
};

// The final piece of `tail` bytes (0..1023) at `in`. Only a tail of 16 or more
// is deciphered: its first n bytes are pad-decrypted to `work` and tested for
// the trailer, which is recognised by its content alone.
TailRead DecipherTail(CRawCodec& codec, const char* in, int tail, char* work);

// The output position after a trailer carrying z: moved back by z, but never
// before the start of the document.
constexpr int64_t ShortenByTrailer(int64_t position, uint32_t padBlockSize)
{
    return position > static_cast<int64_t>(padBlockSize) ? position - padBlockSize : 0;
}

// Exact trace formats of a driver that reads a whole body held in memory.
struct SegmentedReadTraces {
    const char16_t* afterSegments = nullptr;  // no arguments
    const char16_t* trailer = nullptr;        // %d: z
    const char16_t* afterPad = nullptr;       // no arguments
    const char16_t* padFailed = nullptr;      // %d: r (may have no placeholder)
    const char16_t* padResult = nullptr;      // %d, %d: output position and r
};

struct BodyRead {
    int64_t consumed = 0;  // body bytes accounted for (nTotalSrcFileReadSize)
    int64_t produced = 0;  // plain bytes at `out` (nPos)
    bool padFailed = false;
};

// A whole segmented body of `length` bytes at `body`, deciphered to `out`
// (room for `length` bytes). The tail counts as consumed whatever its length.
BodyRead DecipherSegmentedBody(CRawCodec& codec, const char* body, int64_t length, char* out,
                               const SegmentedReadTraces& traces, SegmentObserver* observer = nullptr);

// ---- Whole-document (ARIA) body

// A document of `size` bytes (at least 1) as one block piece and one padded
// piece at `out`, which needs room for size + 16 bytes.
BodyWrite EncipherWholeDocument(CRawCodec& codec, const char* document, int64_t size, char* out);

// A whole-document body of `length` bytes at `body`, deciphered to `out`
// (room for `length` bytes). An empty body has no final piece: nothing is
// read, and its missing 16 bytes are counted so that the size check fails.
BodyRead DecipherWholeDocument(CRawCodec& codec, const char* body, int64_t length, char* out);

}  // namespace container
