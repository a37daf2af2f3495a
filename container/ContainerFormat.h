// The protected-document container: its constants and the tests that need no
// key. Header-only and free of the library's internals, so that any host (the
// pvcodec command among them) can recognise and describe a container.
//
// Layout, all integers little-endian:
//   default form   magic field (10: "VQPVA002" or a caller's magic, zero-filled)
//                  | N (4, signed) | caller's header (N) | body
//   extended form  caller's 92-byte prefix ("VQPVA004", 0, any, tag at byte 10, ...)
//                  | caller's header (N) | body          (N is not stored)
//   bare body      body alone, always Rijndael
// A segmented body (Rijndael, ATE) is a run of 1024-byte segments, each
// enciphered by a call of its own, then either nothing, one padded final
// piece, or - for a tail of 1008..1023 bytes - the tail zero-filled to a full
// segment and the 15-byte padding trailer "VQPVZP" + z (4) + 0 (5),
// pad-encrypted. Each Rijndael call starts a chain afresh from a zero IV; the
// outside library carries one ATE chain through the whole body. An ARIA body
// is one block-encrypted piece and one padded piece.
#pragma once

#include <cstdint>

namespace container {

// Plain and enciphered segment size of a segmented body.
inline constexpr int ENC_BUFFER_SIZE = 1024;
// A final partial segment lacking at most this many bytes to a full segment
// is zero-filled and followed by the padding trailer.
inline constexpr int kTrailerThreshold = 16;
// Plain length of the padding trailer; enciphered it is one 16-byte block.
inline constexpr int kTrailerLength = 15;
inline constexpr int kTrailerPieceSize = 16;
inline constexpr char kTrailerMark[] = "VQPVZP";
inline constexpr int kTrailerMarkSize = 6;
inline constexpr int kTrailerPadSizeOffset = 6;

inline constexpr int kMagicFieldSize = 10;
inline constexpr int kHeaderSizeFieldOffset = 10;
// Magic field and header size: what the writers' size check subtracts besides N.
inline constexpr int kFixedHeaderSize = 14;
inline constexpr int kHeaderPrefixSize = 92;
inline constexpr int kAlgorithmTagOffset = 10;
// Readers look at this many leading bytes to choose the cipher.
inline constexpr int kAlgorithmProbeSize = 12;

inline constexpr char MAGIC_DEFAULT[] = "VQPVA002";
inline constexpr char MAGIC_CALLER[] = "VQPVA003";
inline constexpr char MAGIC_EXTENDED[] = "VQPVA004";
inline constexpr int kMagicLength = 8;

// Header modes of the writers; any other value acts as the default.
inline constexpr unsigned HEADER_MODE_DEFAULT = 0;
inline constexpr unsigned HEADER_MODE_CALLER_MAGIC = 1;
inline constexpr unsigned HEADER_MODE_EXTENDED = 2;

// Memory image: a 4-byte length at offset 0, 28 untouched bytes, data from 32.
inline constexpr int kImageDataOffset = 32;

// Program algorithm ids and file tags.
inline constexpr int kAlgorithmRijndael = 0;
inline constexpr int kAlgorithmAria = 1;
inline constexpr int kAlgorithmAte = 2;

// `bytes` (at least 9) hold `magic` as a zero-terminated string: bytes 0..7
// are the magic and byte 8 is zero.
constexpr bool HoldsMagic(const unsigned char* bytes, const char* magic)
{
    for (int i = 0; i < kMagicLength; ++i)
        if (bytes[i] != static_cast<unsigned char>(magic[i]))
            return false;
    return bytes[kMagicLength] == 0;
}

// The writers' already-encrypted test on the first 10 bytes of a document:
// byte 9 is forced to zero before a zero-terminated comparison with each
// magic, so it is never examined.
constexpr bool IsContainerMagic(const unsigned char* first10)
{
    return HoldsMagic(first10, MAGIC_DEFAULT) || HoldsMagic(first10, MAGIC_CALLER) ||
           HoldsMagic(first10, MAGIC_EXTENDED);
}

// The readers' test on the first 12 bytes of a container (zero where the
// container is shorter): the extended form, whose byte 10 names the cipher.
constexpr bool IsExtendedForm(const unsigned char* first12)
{
    return HoldsMagic(first12, MAGIC_EXTENDED);
}

constexpr uint32_t ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

constexpr void WriteLittleEndian32(unsigned char* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// ---- What a header tells a host that must find the body

// The readers take the offset of the body as a signed 32-bit number: the
// largest header size N whose body (at 14 + N, or 92 + N) they can reach.
inline constexpr int64_t kLargestDefaultHeaderSize = INT32_MAX - kFixedHeaderSize;
inline constexpr int64_t kLargestExtendedHeaderSize = INT32_MAX - kHeaderPrefixSize;

enum class MagicForm {
    None,      // no magic the library knows: a bare body, or a caller's own magic
    Default,   // "VQPVA002" or "VQPVA003": the default form, which stores N
    Extended,  // "VQPVA004": the extended form, whose N the caller must know
};

// The form that the first `available` bytes at `start` announce.
constexpr MagicForm ReadMagicForm(const unsigned char* start, int64_t available)
{
    if (available < kMagicLength + 1)
        return MagicForm::None;
    if (IsExtendedForm(start))
        return MagicForm::Extended;
    if (HoldsMagic(start, MAGIC_DEFAULT) || HoldsMagic(start, MAGIC_CALLER))
        return MagicForm::Default;
    return MagicForm::None;
}

// The header size field of the default form (any magic field before it).
struct HeaderSizeField {
    enum class State {
        Missing,     // the container ends inside its 14-byte fixed header
        OutOfRange,  // N below 0, or above kLargestDefaultHeaderSize: a damaged header
        Valid,
    };
    State state = State::Missing;
    int64_t stored = 0;      // N as stored (signed 32-bit), unless Missing
    int64_t bodyOffset = 0;  // 14 + N, when Valid
};

constexpr HeaderSizeField ReadHeaderSizeField(const unsigned char* start, int64_t available)
{
    HeaderSizeField field;
    if (available < kFixedHeaderSize)
        return field;
    field.stored = static_cast<int32_t>(ReadLittleEndian32(start + kHeaderSizeFieldOffset));
    if (field.stored < 0 || field.stored > kLargestDefaultHeaderSize) {
        field.state = HeaderSizeField::State::OutOfRange;
        return field;
    }
    field.state = HeaderSizeField::State::Valid;
    field.bodyOffset = kFixedHeaderSize + field.stored;
    return field;
}

// Whether an extended form's N, which the caller supplies, leaves its body
// (at 92 + N) within the readers' reach.
constexpr bool IsExtendedHeaderSize(int64_t n)
{
    return n >= 0 && n <= kLargestExtendedHeaderSize;
}

// The tag byte the readers from a file take the cipher from: byte 10 of an
// extended form, when its first 12 bytes are there; none otherwise (Rijndael).
constexpr int ReaderTag(const unsigned char* start, int64_t available)
{
    return available >= kAlgorithmProbeSize && IsExtendedForm(start) ? start[kAlgorithmTagOffset] : -1;
}

// How a writer ends a segmented body for a document of `size` bytes.
enum class TailForm {
    None,              // a multiple of 1024 bytes (empty included): full segments only
    Padded,            // tail of 1..1007 bytes: one pad-encrypted final piece
    ZeroFillTrailer,   // tail of 1008..1023 bytes: zero-filled segment, then the trailer
};

constexpr TailForm SegmentedTailForm(int64_t size)
{
    int64_t tail = size % ENC_BUFFER_SIZE;
    if (tail == 0)
        return TailForm::None;
    return ENC_BUFFER_SIZE - tail <= kTrailerThreshold ? TailForm::ZeroFillTrailer : TailForm::Padded;
}

// Length of the padded piece that Rijndael makes of `length` bytes (1 to 16
// bytes of padding); also the most that any cipher's padded piece may take.
constexpr int64_t PaddedLength(int64_t length)
{
    return 16 * (length / 16 + 1);
}

// Exact length of a Rijndael segmented body for a document of `size` bytes:
// never more than size + 32.
constexpr int64_t RijndaelBodyLength(int64_t size)
{
    int64_t full = size - size % ENC_BUFFER_SIZE;
    int64_t tail = size % ENC_BUFFER_SIZE;
    switch (SegmentedTailForm(size)) {
    case TailForm::None: return size;
    case TailForm::Padded: return full + PaddedLength(tail);
    case TailForm::ZeroFillTrailer: return full + ENC_BUFFER_SIZE + kTrailerPieceSize;
    }
    return size;
}

// The cut of a whole-document (ARIA) body or document of `length` bytes: the
// last P bytes (1 to 16; 16 for a multiple of 16) go through one pad call,
// the B bytes before them through one block call. An empty document has no
// final piece: B comes out negative.
struct WholeDocumentCut {
    int64_t block;
    int64_t pad;
};

constexpr WholeDocumentCut CutWholeDocument(int64_t length)
{
    int64_t pad = length % 16 == 0 ? 16 : length % 16;
    return {length - pad, pad};
}

// What a reader can make of a segmented body of `length` bytes without the key.
struct SegmentedBodyShape {
    enum class Fit {
        FullSegments,         // no final piece: the document is `length` bytes
        PaddedTail,           // a padded final piece
        TrailerOrPaddedTail,  // a 16-byte final piece after full segments: the
                              // padding trailer or a padded tail of 1..15 bytes
        ShortTail,            // 1..15 bytes after the segments: not deciphered
        UnalignedTail,        // a final piece that is not whole 16-byte blocks
    };
    Fit fit;
    int64_t fullSegments;
    int64_t finalPiece;
    // Rijndael document sizes the body can hold (min > max when none).
    int64_t minDocument;
    int64_t maxDocument;
    // With TrailerOrPaddedTail: the sizes if the piece is the trailer.
    int64_t minDocumentWithTrailer;
    int64_t maxDocumentWithTrailer;
};

constexpr SegmentedBodyShape DescribeSegmentedBody(int64_t length)
{
    using Fit = SegmentedBodyShape::Fit;
    SegmentedBodyShape shape{Fit::FullSegments, length / ENC_BUFFER_SIZE, length % ENC_BUFFER_SIZE, 0, -1, 0, -1};
    int64_t piece = shape.finalPiece;
    if (piece == 0) {
        shape.minDocument = shape.maxDocument = length;
        return shape;
    }
    if (piece < 16) {
        shape.fit = Fit::ShortTail;
        return shape;
    }
    if (piece % 16 != 0) {
        shape.fit = Fit::UnalignedTail;
        return shape;
    }
    // Whole blocks below 1024 are at most 1008 bytes, the longest padded piece.
    // A padded piece of 16m bytes holds 16(m-1)..16m-1 plain bytes, at least 1.
    shape.fit = Fit::PaddedTail;
    shape.minDocument = length - 16 + (piece == 16 ? 1 : 0);
    shape.maxDocument = length - 1;
    if (piece == kTrailerPieceSize && shape.fullSegments > 0) {
        shape.fit = Fit::TrailerOrPaddedTail;
        // The last segment held 1008..1023 plain bytes before its zero fill.
        shape.minDocumentWithTrailer = length - kTrailerPieceSize - kTrailerThreshold;
        shape.maxDocumentWithTrailer = length - kTrailerPieceSize - 1;
    }
    return shape;
}

}  // namespace container
