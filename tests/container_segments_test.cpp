// The shared container layout (magics, headers, the cipher a reader chooses,
// the deciphered tail) and the full segments as the
// drivers run them: Rijndael in chunks through the multi-segment entry,
// anything else or a refused chunk one segment at a time, the same bytes
// either way.
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/OpenSslCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace container;
using reference::Bytes;

namespace {

const std::string kKey = "0123456789abcdef";
constexpr int kSegment = ENC_BUFFER_SIZE;
constexpr int kChunk = 256;  // segments per multi-segment call in the drivers

char* Key()
{
    return const_cast<char*>(kKey.data());
}

const unsigned char* U(const char* bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes);
}

TEST(ContainerLayout, MagicsHeadersAndTheReadersCipher)
{
    const std::pair<std::string, bool> magics[] = {
        {std::string("VQPVA002\0x", 10), true},  {std::string("VQPVA003\0\0", 10), true},
        {std::string("VQPVA004\0A", 10), true},  {std::string("VQPVA0022\0", 10), false},
        {std::string("VQPVA001\0\0", 10), false}, {std::string("vQPVA002\0\0", 10), false},
        {std::string("VQPVZP\0\0\0\0", 10), false}};
    for (const auto& [bytes, magic] : magics)
        EXPECT_EQ(IsContainerMagic(U(bytes.data())), magic) << bytes;
    EXPECT_TRUE(IsExtendedForm(U("VQPVA004\0xA")));
    EXPECT_FALSE(IsExtendedForm(U("VQPVA002\0xA")));

    // Mode 1's magic is cut to the field or zero-filled (the other modes: see the memory writer).
    EXPECT_EQ(std::string(MagicField(1, "AB").data(), 10), std::string("AB\0\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(std::string(MagicField(1, "ABCDEFGHIJKLMNOP").data(), 10), "ABCDEFGHIJ");
    Bytes header = {'x', 'y', 'z'};
    for (int n : {0, -1}) {
        const auto none = PlanHeader(header.data(), n, 2, nullptr);
        ASSERT_TRUE(none);
        EXPECT_EQ(std::tie(none->form, none->algorithm), std::make_tuple(HeaderForm::None, kAlgorithmRijndael));
        EXPECT_EQ(none->Size(), 0);
    }
    EXPECT_EQ(PlanHeader(nullptr, 3, 0, nullptr)->form, HeaderForm::None);
    EXPECT_FALSE(PlanHeader(header.data(), 3, 2, nullptr));
    EXPECT_TRUE(PlanHeader(header.data(), 3, 0, nullptr)->Bytes() == reference::DefaultHeader("VQPVA002", header));

    const char ext[] = "VQPVA004\0xA..";
    const std::tuple<const char*, int64_t, int> probes[] = {
        {ext, 12, kAlgorithmAria}, {ext, 11, kAlgorithmAria}, {ext, 10, kAlgorithmRijndael},
        {"VQPVA004\0xT.", 12, kAlgorithmAte}, {"VQPVA002\0xA.", 12, kAlgorithmRijndael},
        {"VQPVA004xxA.", 12, kAlgorithmRijndael}, {nullptr, 0, kAlgorithmRijndael}, {ext, -5, kAlgorithmRijndael}};
    for (const auto& [start, available, algorithm] : probes)
        EXPECT_EQ(ReaderAlgorithm(start, available), algorithm) << available;
}

TEST(ContainerLayout, DecipheredTail)
{
    CRawCodec decrypt(2, Key(), 0);
    const Bytes body = reference::SegmentedBody(kKey, reference::Document(1020, 1));
    char work[kTailReadWorkSize];
    const TailRead trailer = DecipherTail(decrypt, body.data() + 1024, 16, work);
    EXPECT_EQ(std::tie(trailer.trailer, trailer.padBlockSize, trailer.result, trailer.failed),
              std::make_tuple(true, 4u, 0, false));
    const TailRead shortTail = DecipherTail(decrypt, body.data() + 1024, 15, work);
    EXPECT_EQ(std::tie(shortTail.deciphered, shortTail.plainBytes), std::make_tuple(0, 0));
    const Bytes garbage(32, 'g');
    const TailRead bad = DecipherTail(decrypt, garbage.data(), 32, work);
    EXPECT_EQ(std::tie(bad.failed, bad.result), std::make_tuple(true, -7));
    // A streaming reader reuses its work area: what an earlier segment left
    // there is never taken for a trailer when the pad decryption fails.
    Bytes zeroEnded = reference::Document(1024, 3);
    zeroEnded[15] = 0;  // the first block has no valid padding
    const Bytes notPadded = reference::SegmentedBody(kKey, zeroEnded);
    std::memcpy(work, "VQPVZP\x05\0\0\0", 10);
    const TailRead stale = DecipherTail(decrypt, notPadded.data(), 16, work);
    EXPECT_EQ(std::tie(stale.trailer, stale.failed), std::make_tuple(false, true));
}

// Checks that each segment it hears of is complete at the output already.
class Observer final : public SegmentObserver {
public:
    Observer(const char* out = nullptr, const Bytes* expected = nullptr) : m_out(out), m_expected(expected) {}
    void SegmentDone() override
    {
        const size_t at = size_t(count) * kSegment;
        early += m_expected && std::memcmp(m_out + at, m_expected->data() + at, kSegment) != 0;
        ++count;
    }
    int count = 0, early = 0;

private:
    const char* m_out;
    const Bytes* m_expected;
};

// Counts past one, two and three chunks, both ways, in place and apart: the
// bytes are OpenSSL's CBC per segment, nothing is written around them.
TEST(SegmentChunks, SameBytesAndObserverCallsAsOneChainPerSegment)
{
    for (int segments : {1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 17})
        for (bool encrypt : {true, false})
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(std::to_string(segments) + (encrypt ? " enc" : " dec") + (inPlace ? " in place" : ""));
                CRawCodec codec(encrypt ? 1 : 2, Key(), ALG_RIJNDAEL);
                const size_t bytes = size_t(segments) * kSegment;
                const Bytes in = reference::Document(bytes, unsigned(segments));
                Bytes expected(bytes), buffer = in, apart(bytes + 64, 'x');
                const uint8_t iv[16] = {};
                for (size_t at = 0; at < bytes; at += kSegment) {
                    const auto piece = reference::Evp(reference::AesCbc(16), encrypt, false, U(kKey.data()), iv,
                                                      U(in.data() + at), kSegment);
                    std::memcpy(expected.data() + at, piece->data(), kSegment);
                }
                char* out = inPlace ? buffer.data() : apart.data() + 16;
                Observer observer(out, &expected);
                const SegmentRun run = encrypt ? EncipherSegments(codec, buffer.data(), segments, out, &observer)
                                               : DecipherSegments(codec, buffer.data(), segments, out, &observer);
                EXPECT_EQ(std::tie(run.failed, run.segments, run.produced),
                          std::make_tuple(false, segments, int64_t(bytes)));
                EXPECT_EQ(std::tie(observer.count, observer.early), std::make_tuple(segments, 0));
                EXPECT_EQ(std::memcmp(out, expected.data(), bytes), 0);
                if (!inPlace) {
                    EXPECT_TRUE(buffer == in) << "the input was written";
                    EXPECT_EQ(std::count(apart.begin(), apart.begin() + 16, 'x') +
                                  std::count(apart.end() - 48, apart.end(), 'x'), 64);
                }
            }
}

// A refused chunk goes one segment at a time with each result checked:
// an engine that refuses (each segment gives 0 bytes and is still counted),
// an unknown algorithm from the "ALG" setting (-1 ends the run at once), and
// ATE, whose segments are the single calls' results.
TEST(SegmentChunks, RefusedChunksGoOneSegmentAtATime)
{
    RegistrySandbox registry;
    registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n\"ALG\"=dword:00000007\n");
    const int segments = kChunk + 3;
    const Bytes in = reference::Document(size_t(segments) * kSegment, 5);
    Bytes ate(in.size());
    CRawCodec single(1, Key(), ALG_ATE);
    bool ateAvailable = true;
    for (size_t at = 0; at < in.size(); at += kSegment)
        ateAvailable &= single.BlockEncrypt(const_cast<char*>(in.data()) + at, kSegment, ate.data() + at) == kSegment;
    const struct {
        int direction;
        bool keyed, encipher;
        int algorithm;
        bool failed;
        int counted;
        const Bytes* expected;  // null: nothing written
    } cases[] = {{2, true, true, ALG_RIJNDAEL, false, segments, nullptr},
                 {1, true, false, ALG_RIJNDAEL, false, segments, nullptr},
                 {1, false, true, ALG_RIJNDAEL, false, segments, nullptr},
                 {2, false, false, ALG_RIJNDAEL, false, segments, nullptr},
                 {1, true, true, ALG_FROM_SETTINGS, true, 0, nullptr},
                 {1, true, true, ALG_ATE, false, segments, &ate}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.direction) + (c.keyed ? " key " : " no key ") + std::to_string(c.algorithm));
        if (c.algorithm == ALG_ATE && !ateAvailable)
            continue;  // the outside crypto library is not at hand
        CRawCodec codec(c.direction, c.keyed ? Key() : nullptr, c.algorithm);
        EXPECT_EQ(codec.Algorithm(), c.algorithm == ALG_FROM_SETTINGS ? 7 : c.algorithm);
        Bytes out(in.size(), 'o');
        Observer observer;
        const SegmentRun run = c.encipher ? EncipherSegments(codec, in.data(), segments, out.data(), &observer)
                                          : DecipherSegments(codec, in.data(), segments, out.data(), &observer);
        const int64_t produced = c.expected ? int64_t(in.size()) : 0;
        EXPECT_EQ(std::tie(run.failed, run.segments, run.produced), std::tie(c.failed, c.counted, produced));
        EXPECT_EQ(observer.count, c.counted);
        EXPECT_TRUE(out == (c.expected ? *c.expected : Bytes(in.size(), 'o')));
        EXPECT_FALSE(TakesSegmentsTogether(codec, c.encipher ? 1 : 2));
    }
}

// The in-place writer (documents with a header room in front) against the
// one that reads a copy, for rooms up to beyond a segment and every tail form.
TEST(SegmentChunks, InPlaceWriterGivesTheBodyOfTheCopy)
{
    for (int64_t shift : {0, 15, 30, 1023, 1024, 1100, 3000})
        for (size_t size : {size_t{0}, size_t{10}, size_t{1010}, size_t{kChunk} * kSegment,
                            size_t{2 * kChunk + 1} * kSegment + 5, size_t{kChunk + 3} * kSegment + 1015}) {
            SCOPED_TRACE("shift " + std::to_string(shift) + ", size " + std::to_string(size));
            CRawCodec codec(1, Key(), ALG_RIJNDAEL);
            ASSERT_TRUE(TakesSegmentsTogether(codec, 1));
            const Bytes document = reference::Document(size, unsigned(shift));
            Bytes fromCopy(size_t(shift) + size + 64, 'g'), buffer(fromCopy.size(), 'g');
            const BodyWrite expected =
                EncipherSegmentedDocument(codec, document.data(), int64_t(size), fromCopy.data() + shift, {});
            ASSERT_FALSE(expected.failed);
            std::copy(document.begin(), document.end(), buffer.begin());
            const BodyWrite written = EncipherSegmentedDocumentInPlace(codec, buffer.data(), int64_t(size), shift, {});
            EXPECT_EQ(std::tie(written.failed, written.consumed, written.produced),
                      std::tie(expected.failed, expected.consumed, expected.produced));
            EXPECT_TRUE(std::equal(buffer.begin() + shift, buffer.end(), fromCopy.begin() + shift));
        }
}

}  // namespace
