// The shared container layout: magic tests, header composition, the cipher a
// reader chooses, body lengths and shapes, and the segment pieces giving the
// same bytes whether a document is fed whole or segment by segment.
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "support/ReferenceContainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace container;
using reference::Bytes;

namespace {

const std::string kKey = "0123456789abcdef";

const unsigned char* U(const char* bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes);
}

TEST(ContainerMagic, WritersTestTheFirstNineBytes)
{
    struct {
        const char bytes[10];
        bool magic;
    } cases[] = {
        {{'V', 'Q', 'P', 'V', 'A', '0', '0', '2', 0, 'x'}, true},
        {{'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0, 0}, true},
        {{'V', 'Q', 'P', 'V', 'A', '0', '0', '4', 0, 'A'}, true},
        {{'V', 'Q', 'P', 'V', 'A', '0', '0', '2', '2', 0}, false},
        {{'V', 'Q', 'P', 'V', 'A', '0', '0', '1', 0, 0}, false},
        {{'v', 'Q', 'P', 'V', 'A', '0', '0', '2', 0, 0}, false},
        {{'V', 'Q', 'P', 'V', 'Z', 'P', 0, 0, 0, 0}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsContainerMagic(U(c.bytes)), c.magic) << std::string(c.bytes, 9);
    EXPECT_TRUE(IsExtendedForm(U("VQPVA004\0xA")));
    EXPECT_FALSE(IsExtendedForm(U("VQPVA002\0xA")));
}

TEST(ContainerHeader, MagicField)
{
    auto text = [](const std::array<char, 10>& field) { return std::string(field.data(), 10); };
    EXPECT_EQ(text(MagicField(0, nullptr)), std::string("VQPVA002\0\0", 10));
    EXPECT_EQ(text(MagicField(0, "OTHER")), std::string("VQPVA002\0\0", 10));
    EXPECT_EQ(text(MagicField(1, nullptr)), std::string("VQPVA002\0\0", 10));
    EXPECT_EQ(text(MagicField(1, "VQPVA003")), std::string("VQPVA003\0\0", 10));
    EXPECT_EQ(text(MagicField(1, "AB")), std::string("AB\0\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(text(MagicField(1, "ABCDEFGHIJKLMNOP")), "ABCDEFGHIJ");
    EXPECT_EQ(text(MagicField(9, "AB")), std::string("VQPVA002\0\0", 10));
}

TEST(ContainerHeader, PlanForEachForm)
{
    Bytes header = {'x', 'y', 'z'};
    Bytes prefix = reference::ExtendedPrefix('T');

    for (int n : {0, -1}) {
        auto none = PlanHeader(header.data(), n, 2, nullptr);
        ASSERT_TRUE(none);
        EXPECT_EQ(none->form, HeaderForm::None);
        EXPECT_EQ(none->Size(), 0);
        EXPECT_EQ(none->algorithm, kAlgorithmRijndael);
    }
    EXPECT_EQ(PlanHeader(nullptr, 3, 0, nullptr)->form, HeaderForm::None);
    EXPECT_FALSE(PlanHeader(header.data(), 3, 2, nullptr));

    auto def = PlanHeader(header.data(), 3, 0, nullptr);
    EXPECT_EQ(def->Size(), 17);
    EXPECT_TRUE(def->Bytes() == reference::DefaultHeader("VQPVA002", header));

    auto extended = PlanHeader(header.data(), 3, 2, prefix.data());
    EXPECT_EQ(extended->Size(), 95);
    EXPECT_EQ(extended->algorithm, kAlgorithmAte);
    EXPECT_TRUE(extended->Bytes() == reference::ExtendedHeader(prefix, header));

    for (auto [tag, algorithm] : {std::pair{'R', 0}, {'A', 1}, {'T', 2}, {'a', 0}, {'\0', 0}}) {
        Bytes p = reference::ExtendedPrefix(tag);
        EXPECT_EQ(PlanHeader(header.data(), 3, 2, p.data())->algorithm, algorithm) << tag;
    }
}

TEST(ContainerReader, AlgorithmFromTheFirstTwelveBytes)
{
    const char ext[] = "VQPVA004\0xA..";
    EXPECT_EQ(ReaderAlgorithm(ext, 12), kAlgorithmAria);
    EXPECT_EQ(ReaderAlgorithm(ext, 11), kAlgorithmAria);
    EXPECT_EQ(ReaderAlgorithm(ext, 10), kAlgorithmRijndael);  // byte 10 missing: zero
    EXPECT_EQ(ReaderAlgorithm("VQPVA004\0xT.", 12), kAlgorithmAte);
    EXPECT_EQ(ReaderAlgorithm("VQPVA002\0xA.", 12), kAlgorithmRijndael);
    EXPECT_EQ(ReaderAlgorithm("VQPVA004xxA.", 12), kAlgorithmRijndael);
    EXPECT_EQ(ReaderAlgorithm(nullptr, 0), kAlgorithmRijndael);
    EXPECT_EQ(ReaderAlgorithm(ext, -5), kAlgorithmRijndael);
}

TEST(ContainerBody, RijndaelLengths)
{
    struct {
        int64_t document, body;
        TailForm form;
    } cases[] = {
        {0, 0, TailForm::None},           {1, 16, TailForm::Padded},
        {15, 16, TailForm::Padded},       {16, 32, TailForm::Padded},
        {1007, 1008, TailForm::Padded},   {1008, 1040, TailForm::ZeroFillTrailer},
        {1023, 1040, TailForm::ZeroFillTrailer}, {1024, 1024, TailForm::None},
        {1025, 1040, TailForm::Padded},   {2040, 2064, TailForm::ZeroFillTrailer},
        {2048, 2048, TailForm::None},     {10256, 10256 + 16, TailForm::Padded},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RijndaelBodyLength(c.document), c.body) << c.document;
        EXPECT_EQ(SegmentedTailForm(c.document), c.form) << c.document;
        EXPECT_EQ(static_cast<int64_t>(reference::SegmentedBody(kKey, Bytes(c.document)).size()), c.body);
    }
}

TEST(ContainerBody, WholeDocumentCut)
{
    EXPECT_EQ(CutWholeDocument(16).block, 0);
    EXPECT_EQ(CutWholeDocument(16).pad, 16);
    EXPECT_EQ(CutWholeDocument(17).block, 16);
    EXPECT_EQ(CutWholeDocument(17).pad, 1);
    EXPECT_EQ(CutWholeDocument(48).block, 32);
    EXPECT_EQ(CutWholeDocument(0).block, -16);
}

TEST(ContainerBody, ShapeAsAReaderSeesIt)
{
    using Fit = SegmentedBodyShape::Fit;
    struct {
        int64_t length;
        Fit fit;
        int64_t min, max;
    } cases[] = {
        {0, Fit::FullSegments, 0, 0},
        {2048, Fit::FullSegments, 2048, 2048},
        {16, Fit::PaddedTail, 1, 15},
        {32, Fit::PaddedTail, 16, 31},
        {1008, Fit::PaddedTail, 992, 1007},
        {1040, Fit::TrailerOrPaddedTail, 1025, 1039},
        {1056, Fit::PaddedTail, 1040, 1055},
        {1030, Fit::ShortTail, 0, -1},
        {1024 + 40, Fit::UnalignedTail, 0, -1},
        {1024 + 1016, Fit::UnalignedTail, 0, -1},
    };
    for (const auto& c : cases) {
        SegmentedBodyShape shape = DescribeSegmentedBody(c.length);
        EXPECT_EQ(shape.fit, c.fit) << c.length;
        EXPECT_EQ(shape.minDocument, c.min) << c.length;
        EXPECT_EQ(shape.maxDocument, c.max) << c.length;
    }
    SegmentedBodyShape trailer = DescribeSegmentedBody(2064);
    EXPECT_EQ(trailer.minDocumentWithTrailer, 2032);
    EXPECT_EQ(trailer.maxDocumentWithTrailer, 2047);
    // Every Rijndael body a writer makes is recognised as holding its document.
    for (int64_t size : {1, 15, 16, 1007, 1008, 1023, 1024, 1025, 2040, 10256}) {
        SegmentedBodyShape shape = DescribeSegmentedBody(RijndaelBodyLength(size));
        bool inPadded = shape.minDocument <= size && size <= shape.maxDocument;
        bool inTrailer = shape.minDocumentWithTrailer <= size && size <= shape.maxDocumentWithTrailer;
        EXPECT_TRUE(inPadded || inTrailer) << size;
    }
}

TEST(ContainerBody, TrailerBytes)
{
    auto trailer = MakeTrailer(16);
    EXPECT_EQ(std::string(trailer.data(), 15), std::string("VQPVZP\x10\0\0\0\0\0\0\0\0", 15));
    EXPECT_EQ(ShortenByTrailer(2048, 8), 2040);
    EXPECT_EQ(ShortenByTrailer(3, 8), 0);
    EXPECT_EQ(ShortenByTrailer(0, 0xFFFFFFFFu), 0);
}

// A streaming writer feeding segment by segment and the whole-document
// writer produce the same body.
TEST(ContainerBody, StreamedAndWholeDocumentsGiveTheSameBody)
{
    for (size_t size : {1u, 1007u, 1008u, 2040u, 4096u, 5000u}) {
        Bytes document = reference::Document(size, static_cast<uint32_t>(size));
        CRawCodec codec(1, const_cast<char*>(kKey.data()), 0);

        Bytes whole(static_cast<size_t>(RijndaelBodyLength(static_cast<int64_t>(size))));
        BodyWrite write = EncipherSegmentedDocument(codec, document.data(), static_cast<int64_t>(size), whole.data(),
                                                    TailEncipherTraces{});
        ASSERT_FALSE(write.failed);
        EXPECT_EQ(write.consumed, static_cast<int64_t>(size));
        ASSERT_EQ(write.produced, static_cast<int64_t>(whole.size()));

        Bytes streamed;
        size_t offset = 0;
        char out[kTailWorkSize];
        for (; size - offset >= 1024; offset += 1024) {
            int n = EncipherSegment(codec, document.data() + offset, out);
            ASSERT_EQ(n, 1024);
            streamed.insert(streamed.end(), out, out + n);
        }
        TailWrite tail = EncipherTail(codec, document.data() + offset, static_cast<int>(size - offset), out,
                                      TailEncipherTraces{});
        ASSERT_FALSE(tail.failed);
        streamed.insert(streamed.end(), out, out + tail.produced);
        EXPECT_TRUE(streamed == whole) << size;
        EXPECT_TRUE(whole == reference::SegmentedBody(kKey, document)) << size;
    }
}

TEST(ContainerBody, DecipheredTailReportsTheTrailer)
{
    CRawCodec decrypt(2, const_cast<char*>(kKey.data()), 0);
    Bytes body = reference::SegmentedBody(kKey, reference::Document(1020, 1));
    char work[kTailReadWorkSize];
    TailRead trailer = DecipherTail(decrypt, body.data() + 1024, 16, work);
    EXPECT_TRUE(trailer.trailer);
    EXPECT_EQ(trailer.padBlockSize, 4u);
    EXPECT_EQ(trailer.result, 0);
    EXPECT_FALSE(trailer.failed);

    TailRead shortTail = DecipherTail(decrypt, body.data() + 1024, 15, work);
    EXPECT_EQ(shortTail.deciphered, 0);
    EXPECT_EQ(shortTail.plainBytes, 0);

    Bytes garbage(32, 'g');
    TailRead bad = DecipherTail(decrypt, garbage.data(), 32, work);
    EXPECT_TRUE(bad.failed);
    EXPECT_EQ(bad.result, -7);

    // A streaming reader reuses its work area: what an earlier segment left
    // there is never taken for a trailer when the pad decryption fails.
    Bytes zeroEnded = reference::Document(1024, 3);
    zeroEnded[15] = 0;  // its first block deciphers to bytes ending in 0: no valid padding
    Bytes notPadded = reference::SegmentedBody(kKey, zeroEnded);
    std::memcpy(work, "VQPVZP\x05\0\0\0", 10);
    TailRead stale = DecipherTail(decrypt, notPadded.data(), 16, work);
    EXPECT_FALSE(stale.trailer);
    EXPECT_TRUE(stale.failed);
}

}  // namespace
