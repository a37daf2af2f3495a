// The reader of container images in memory: containers made by the tests'
// own construction read back; altered, truncated and short containers, wrong
// keys, offsets outside the image, the trailer recognised by content, the
// cipher chosen from the header, and the trace lines of success and failure.
#include "PVCodec.h"
#include "codec/RjdlEngine.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using reference::Bytes;

namespace {

const std::string kKey = "0123456789abcdef";
const Bytes kHeader = {'o', 'p', 'a', 'q', 'u', 'e'};
constexpr char kFill = static_cast<char>(0x5A);
const std::string kPrefix = "[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() ";

struct Result {
    int status;
    int size = -1;          // out-argument; -1 when left alone
    int32_t stored = 0;     // first 4 bytes of the output
    Bytes plain;            // `size` bytes from offset 32 when status is 1
    std::vector<std::string> lines;
};

// Runs the reader over an exact-size copy of `container`, so that any read
// past its end shows under the address sanitizer.
Result Decrypt(const Bytes& container, int offset, const std::string& key = kKey)
{
    auto source = std::make_unique<char[]>(container.size());
    std::memcpy(source.get(), container.data(), container.size());
    Bytes output(32 + std::max<size_t>(container.size(), 16), kFill);
    TraceCapture trace;
    Result r;
    r.status = CPVCodec::DecryptMemoryToMemory(source.get(), output.data(), static_cast<int>(container.size()),
                                               &r.size, const_cast<char*>(key.data()), offset);
    r.lines = trace.Lines();
    std::memcpy(&r.stored, output.data(), 4);
    if (r.status == 1 && r.size >= 0)
        r.plain.assign(output.begin() + 32, output.begin() + 32 + r.size);
    return r;
}

Bytes DefaultContainer(const Bytes& document, const std::string& key = kKey)
{
    return reference::Concat(reference::DefaultHeader("VQPVA002", kHeader), reference::SegmentedBody(key, document));
}

const int kOffset = 14 + static_cast<int>(kHeader.size());

TEST(MemoryReader, TraceLinesOfEachEnd)
{
    const std::string entering = kPrefix + "WATCH! Entering the Function";
    const std::string keyed = kPrefix + "WATCH! AFTER pvCodec(pKey)";
    const std::string padDecrypt = kPrefix + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)";
    const struct {
        size_t size;
        std::vector<std::string> lines;
    } cases[] = {
        {2040,
         {entering, kPrefix + "WATCH! AFTER nSrcFileSize=2084, Encrypted nDocSize=2064", keyed,
          "[PVCodec.dll]CPVCodec::DecryptMemroyToMemory() WATCH! Pad 1, VQPVZP+size(8)", padDecrypt,
          kPrefix + "WATCH! PadDecrypt() nPos=2040, nSizeResult=0",
          kPrefix + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=2040"}},
        {1025,
         {entering, kPrefix + "WATCH! AFTER nSrcFileSize=1060, Encrypted nDocSize=1040", keyed, padDecrypt,
          kPrefix + "WATCH! PadDecrypt() nPos=1024, nSizeResult=1",
          kPrefix + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=1025"}},
        {1024,
         {entering, kPrefix + "WATCH! AFTER nSrcFileSize=1044, Encrypted nDocSize=1024", keyed,
          kPrefix + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=1024"}},
    };
    for (const auto& c : cases) {
        const Bytes document = reference::Document(c.size, 1);
        Result r = Decrypt(DefaultContainer(document), kOffset);
        ASSERT_EQ(r.status, 1) << c.size;
        EXPECT_TRUE(r.plain == document) << c.size;
        EXPECT_EQ(r.stored, static_cast<int32_t>(c.size));
        EXPECT_EQ(r.lines, c.lines);
    }
}

TEST(MemoryReader, WrongOrNoKeyFailsAtThePaddedEnd)
{
    Bytes container = DefaultContainer(reference::Document(1030, 4));
    Result r = Decrypt(container, kOffset, "fedcba9876543210");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.size, -1);
    EXPECT_EQ(r.stored, 0x5A5A5A5A);
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[r.lines.size() - 2], kPrefix + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)");
    EXPECT_EQ(r.lines.back(), kPrefix + "ERROR! nSizeResult=-7");

    // Without a key the cipher is not ready: the padded end fails too.
    Bytes output(32 + container.size());
    int size = -1;
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(container.data(), output.data(), static_cast<int>(container.size()),
                                              &size, nullptr, kOffset),
              0);
    EXPECT_EQ(size, -1);
}

TEST(MemoryReader, WrongKeyGoesUnnoticedWithoutAPaddedEnd)
{
    Bytes document = reference::Document(2048, 5);
    Result r = Decrypt(DefaultContainer(document), kOffset, "fedcba9876543210");
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(r.size, 2048);
    EXPECT_FALSE(r.plain == document);
}

TEST(MemoryReader, AnAlteredSegmentSpoilsOnlyTwoOfItsBlocks)
{
    Bytes document = reference::Document(3000, 6);
    Bytes container = DefaultContainer(document);
    container[kOffset + 1024 + 100] ^= 0x01;  // second segment, block 6
    Result r = Decrypt(container, kOffset);
    ASSERT_EQ(r.status, 1);
    ASSERT_EQ(r.size, 3000);
    for (size_t i = 0; i < document.size(); ++i) {
        bool spoilt = i >= 1024 + 96 && i < 1024 + 128;  // the altered block and the one after it
        if (!spoilt) {
            ASSERT_EQ(r.plain[i], document[i]) << i;
        }
    }
    EXPECT_NE(r.plain[1024 + 100 + 16], document[1024 + 100 + 16]);  // the flipped bit lands one block later
}

TEST(MemoryReader, AnAlteredEndIsRejected)
{
    Bytes container = DefaultContainer(reference::Document(1100, 7));
    container.back() ^= 0x40;
    Result r = Decrypt(container, kOffset);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.size, -1);
}

// Truncation: what is left after the full segments decides the outcome.
struct Truncation {
    const char* name;
    size_t documentSize;
    size_t cut;            // bytes removed from the end
    int status;
    int plainSize;         // -1: not checked
};

class TruncatedContainer : public ::testing::TestWithParam<Truncation> {};

TEST_P(TruncatedContainer, ResultFollowsTheRemainingTail)
{
    const Truncation& t = GetParam();
    Bytes document = reference::Document(t.documentSize, 8);
    // Plain bytes that end the blocks a cut exposes as last blocks: a zero
    // there is never valid padding, whatever else the block holds.
    document[1023] = 0;
    if (document.size() > 1039)
        document[1039] = 0;
    Bytes container = DefaultContainer(document);
    container.resize(container.size() - t.cut);
    Result r = Decrypt(container, kOffset);
    EXPECT_EQ(r.status, t.status);
    if (t.status == 1) {
        EXPECT_EQ(r.size, t.plainSize);
        size_t common = std::min<size_t>(r.plain.size(), document.size());
        EXPECT_TRUE(std::equal(r.plain.begin(), r.plain.begin() + common, document.begin()));
    } else {
        EXPECT_EQ(r.size, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, TruncatedContainer,
    ::testing::Values(
        // 2040 bytes: 1024 + 1024 (zero-filled) + 16 trailer.
        Truncation{"trailer_removed", 2040, 16, 1, 2048},       // the zero fill stays
        Truncation{"trailer_cut_to_15", 2040, 1, 1, 2048},      // a tail of 1..15 bytes is dropped
        Truncation{"trailer_cut_to_1", 2040, 15, 1, 2048},
        // 1050 bytes: 1024 + a 32-byte padded piece.
        Truncation{"padded_piece_cut_to_29", 1050, 3, 0, -1},  // its first block alone is no padded piece
        Truncation{"padded_piece_removed", 1050, 32, 1, 1024},
        Truncation{"into_the_segment", 1050, 40, 0, -1}),      // 1016 bytes: 1008 of a segment pad-decrypted
    [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryReader, OffsetsAtAndBeyondTheEnd)
{
    Bytes container = DefaultContainer(reference::Document(100, 9));
    const int length = static_cast<int>(container.size());

    Result beyond = Decrypt(container, length + 1);
    EXPECT_EQ(beyond.status, 0);
    EXPECT_EQ(beyond.size, -1);
    EXPECT_EQ(beyond.lines, (std::vector<std::string>{
                                kPrefix + "WATCH! Entering the Function",
                                kPrefix + "WATCH! AFTER nSrcFileSize=" + std::to_string(length) +
                                    ", Encrypted nDocSize=-1",
                            }));

    Result atEnd = Decrypt(container, length);
    EXPECT_EQ(atEnd.status, 1);
    EXPECT_EQ(atEnd.size, 0);
    EXPECT_EQ(atEnd.stored, 0);

    // A negative offset would put the body before the image.
    Result negative = Decrypt(container, -16);
    EXPECT_EQ(negative.status, 0);
    EXPECT_EQ(negative.size, -1);
}

TEST(MemoryReader, NullBuffersAreRefusedAfterTheEntryLine)
{
    Bytes container = DefaultContainer(reference::Document(100, 10));
    Bytes output(200);
    int size = -1;
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(nullptr, output.data(), 100, &size, const_cast<char*>(kKey.data()), 0),
              0);
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(container.data(), nullptr, static_cast<int>(container.size()), &size,
                                              const_cast<char*>(kKey.data()), kOffset),
              0);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>(2, kPrefix + "WATCH! Entering the Function")));
}

TEST(MemoryReader, BareBodyAndShortImages)
{
    Bytes document = reference::Document(37, 11);
    Bytes body = reference::SegmentedBody(kKey, document);
    Result r = Decrypt(body, 0);
    ASSERT_EQ(r.status, 1);
    EXPECT_TRUE(r.plain == document);

    // Shorter than the 12 bytes the cipher is chosen from: the rest counts as zero.
    Bytes nine = {'V', 'Q', 'P', 'V', 'A', '0', '0', '4', 0};
    Result shortImage = Decrypt(nine, 9);
    EXPECT_EQ(shortImage.status, 1);
    EXPECT_EQ(shortImage.size, 0);
}

TEST(MemoryReader, TrailerIsRecognisedByContentAlone)
{
    // A final partial segment of 10 bytes beginning with "VQPVZP" and carrying 3.
    Bytes document = reference::Document(1034, 12);
    const char fake[10] = {'V', 'Q', 'P', 'V', 'Z', 'P', 3, 0, 0, 0};
    std::memcpy(document.data() + 1024, fake, sizeof fake);
    Result r = Decrypt(DefaultContainer(document), kOffset);
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(r.size, 1021);
    EXPECT_TRUE(std::equal(r.plain.begin(), r.plain.end(), document.begin()));

    // One that claims more than was produced leaves an empty document.
    Bytes small(10);
    const char huge[10] = {'V', 'Q', 'P', 'V', 'Z', 'P', -1, -1, -1, 127};
    std::memcpy(small.data(), huge, sizeof huge);
    Result clamped = Decrypt(DefaultContainer(small), kOffset);
    ASSERT_EQ(clamped.status, 1);
    EXPECT_EQ(clamped.size, 0);
}

// ARIA and ATE run in the outside crypto library; where it cannot be bound
// they answer -1 and the reader fails cleanly.
TEST(MemoryReader, CipherComesFromTheExtendedHeader)
{
    RegistrySandbox registry;
    const int offset = 92 + static_cast<int>(kHeader.size());
    Bytes body(48, 'b');

    Bytes aria = reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('A'), kHeader), body);
    Result a = Decrypt(aria, offset);
    ASSERT_GE(a.lines.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(a.lines.begin() + 1, a.lines.begin() + 6),
              (std::vector<std::string>{
                  kPrefix + "WATCH! AFTER nSrcFileSize=146, Encrypted nDocSize=48",
                  kPrefix + "WATCH! AFTER pvCodec(pKey)",
                  kPrefix + "WATCH! Algorithm ARIA DocSize[48]",
                  kPrefix + "WATCH! Algorithm ARIA BufferSize[32]",
                  kPrefix + "WATCH! Algorithm ARIA PadSize[16]",
              }));
    if (!containerfiles::OutsideCipherAvailable(1)) {
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.lines.back(),
                  kPrefix + "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=0, nDocSize=48");
    }

    // An empty ARIA body has no final piece: the missing 16 bytes fail the check.
    Result empty = Decrypt(reference::ExtendedHeader(reference::ExtendedPrefix('A'), kHeader), offset);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.lines.back(),
              kPrefix + "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=16, nDocSize=0");

    if (!containerfiles::OutsideCipherAvailable(2)) {
        Bytes ate = reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('T'), kHeader), body);
        Result t = Decrypt(ate, offset);
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(t.lines.back(), kPrefix + "ERROR! nSizeResult=-1");

        Bytes longAte = reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('T'), kHeader),
                                          Bytes(2048, 'b'));
        Result segments = Decrypt(longAte, offset);
        EXPECT_EQ(segments.status, 0);
        EXPECT_EQ(segments.lines.back(),
                  kPrefix + "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=0, nDocSize=2048");
    }

    // 'R' and unknown tags are Rijndael; so is byte 10 of any other magic.
    Bytes document = reference::Document(300, 13);
    for (char tag : {'R', 'r', 'X'}) {
        Bytes container = reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix(tag), kHeader),
                                            reference::SegmentedBody(kKey, document));
        Result r = Decrypt(container, 92 + static_cast<int>(kHeader.size()));
        EXPECT_EQ(r.status, 1) << tag;
        EXPECT_TRUE(r.plain == document) << tag;
    }
    Bytes defaultA = DefaultContainer(document);
    defaultA[10] = 'A';  // the low byte of N: only the extended form's tag counts
    Result r = Decrypt(defaultA, kOffset);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.plain == document);
}

}  // namespace

// A host may decrypt an image where it lies (output = source): the plain
// document then trails the body, which starts after offset 32. Every engine
// must read each segment before the segments written behind it reach it.
TEST(MemoryReader, DecryptsInPlaceBehindTheBodyOnEveryEngine)
{
    const Bytes document = reference::Document(5 * 1024 + 700, 3);
    for (size_t headerSize : {19u, 100u, 1010u, 1030u, 3000u}) {
        const Bytes header(headerSize, 'h');
        const Bytes container =
            reference::Concat(reference::DefaultHeader("VQPVA002", header), reference::SegmentedBody(kKey, document));
        for (rjdl::Engine engine : rjdl::AvailableEngines()) {
            SCOPED_TRACE(std::string(rjdl::EngineName(engine)) + ", header " + std::to_string(headerSize));
            rjdl::ScopedEngine scope(engine);
            Bytes image = container;
            int size = -1;
            ASSERT_EQ(CPVCodec::DecryptMemoryToMemory(image.data(), image.data(), static_cast<int>(image.size()), &size,
                                                      const_cast<char*>(kKey.data()),
                                                      14 + static_cast<int>(headerSize)),
                      1);
            ASSERT_EQ(size, static_cast<int>(document.size()));
            EXPECT_TRUE(std::equal(document.begin(), document.end(), image.begin() + 32));
        }
    }
}
