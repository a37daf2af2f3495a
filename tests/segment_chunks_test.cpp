// The full segments of a body as the container code runs them: Rijndael in
// chunks through the multi-segment entry, everything else one call per
// segment. Whatever the path, the bytes are those of OpenSSL's CBC per
// segment, the observer hears of every segment in order once it is done, and
// a chunk the cipher refuses goes one segment at a time with each result
// checked as before (a refusing engine, an unknown algorithm, ATE). Also the
// in-place writer for documents with a header in front, and progress through
// whole file drivers for documents of several chunks, against the streaming
// drivers (which work one segment at a time).
#include "PVCodec.h"
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "support/DecryptionFixture.h"
#include "support/OpenSslCipher.h"
#include "support/ReferenceContainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace container;

namespace {

const std::string kKey = "0123456789abcdef";
constexpr int kSegment = ENC_BUFFER_SIZE;
// Segments per multi-segment call in the container code; the counts below
// reach past one, two and three chunks.
constexpr int kChunk = 256;

char* Key()
{
    return const_cast<char*>(kKey.data());
}

std::vector<char> Pattern(size_t size, unsigned seed)
{
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 167 + seed * 31 + (i >> 10)) & 0xff);
    return bytes;
}

// OpenSSL's AES-128-CBC from the zero IV over each segment on its own.
std::vector<char> EachSegmentByOpenSsl(const std::vector<char>& in, bool encrypt)
{
    std::vector<char> out(in.size());
    const uint8_t iv[16] = {};
    for (size_t at = 0; at < in.size(); at += kSegment) {
        auto piece = reference::Evp(reference::AesCbc(16), encrypt, false,
                                    reinterpret_cast<const uint8_t*>(kKey.data()), iv,
                                    reinterpret_cast<const uint8_t*>(in.data() + at), kSegment);
        EXPECT_TRUE(piece.has_value());
        if (piece)
            std::memcpy(out.data() + at, piece->data(), kSegment);
    }
    return out;
}

// Checks, each time it is told, that the segment just counted is already
// complete at the output and matches the expected bytes.
class CheckingObserver final : public SegmentObserver {
public:
    CheckingObserver(const char* out, const std::vector<char>& expected) : m_out(out), m_expected(expected) {}

    void SegmentDone() override
    {
        const size_t at = static_cast<size_t>(m_count) * kSegment;
        if (at + kSegment <= m_expected.size() && std::memcmp(m_out + at, m_expected.data() + at, kSegment) != 0)
            ++m_early;
        ++m_count;
    }
    int Count() const { return m_count; }
    int Early() const { return m_early; }

private:
    const char* m_out;
    const std::vector<char>& m_expected;
    int m_count = 0;
    int m_early = 0;  // segments reported before their bytes were there
};

class CountingObserver final : public SegmentObserver {
public:
    void SegmentDone() override { ++count; }
    int count = 0;
};

// The chunking does not depend on the engine (each engine's multi-segment
// entry is rijndael_segments_test.cpp's): the process engine serves.
struct ChunkCase {
    int segments;
    bool encrypt;
    bool inPlace;
};

std::vector<ChunkCase> ChunkCases()
{
    std::vector<ChunkCase> cases;
    for (int segments : {1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 17})
        for (bool encrypt : {true, false})
            for (bool inPlace : {false, true})
                cases.push_back({segments, encrypt, inPlace});
    return cases;
}

class SegmentChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(SegmentChunks, SameBytesAndObserverCallsAsOneCallPerSegment)
{
    const ChunkCase& c = GetParam();
    CRawCodec codec(c.encrypt ? 1 : 2, Key(), ALG_RIJNDAEL);

    const size_t bytes = static_cast<size_t>(c.segments) * kSegment;
    const std::vector<char> in = Pattern(bytes, static_cast<unsigned>(c.segments));
    const std::vector<char> expected = EachSegmentByOpenSsl(in, c.encrypt);
    std::vector<char> buffer = in;
    std::vector<char> apart(bytes + 64, 'x');
    char* out = c.inPlace ? buffer.data() : apart.data() + 16;

    CheckingObserver observer(out, expected);
    const SegmentRun run = c.encrypt ? EncipherSegments(codec, buffer.data(), c.segments, out, &observer)
                                     : DecipherSegments(codec, buffer.data(), c.segments, out, &observer);
    EXPECT_FALSE(run.failed);
    EXPECT_EQ(run.segments, c.segments);
    EXPECT_EQ(run.produced, static_cast<int64_t>(bytes));
    EXPECT_EQ(observer.Count(), c.segments);
    EXPECT_EQ(observer.Early(), 0);
    EXPECT_EQ(std::memcmp(out, expected.data(), bytes), 0);
    if (!c.inPlace) {
        EXPECT_EQ(buffer, in) << "the input was written";
        EXPECT_EQ(std::string(apart.data(), 16), std::string(16, 'x'));
        EXPECT_EQ(std::string(apart.data() + 16 + bytes, 48), std::string(48, 'x'));
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, SegmentChunks, ::testing::ValuesIn(ChunkCases()), [](const auto& info) {
    return std::to_string(info.param.segments) + (info.param.encrypt ? "_enc" : "_dec") +
           (info.param.inPlace ? "_inplace" : "_apart");
});

// ---- Refused chunks

// An engine that refuses the multi-segment entry refuses each single call as
// well: every segment gives 0 bytes and is still counted (the driver's size
// checks end the call), the observer hears of each, and nothing is written.
TEST(SegmentChunksRefused, EngineNotReadyGoesOneSegmentAtATime)
{
    struct Case {
        const char* name;
        int direction;
        char* key;
        bool encipher;
    } cases[] = {
        {"decrypting_codec_enciphers", 2, Key(), true},
        {"encrypting_codec_deciphers", 1, Key(), false},
        {"no_key_enciphers", 1, nullptr, true},
        {"no_key_deciphers", 2, nullptr, false},
    };
    const int segments = 2 * kChunk + 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRawCodec codec(c.direction, c.key, ALG_RIJNDAEL);
        const std::vector<char> in = Pattern(static_cast<size_t>(segments) * kSegment, 5);
        std::vector<char> out(in.size(), 'o');
        CountingObserver observer;
        const SegmentRun run = c.encipher ? EncipherSegments(codec, in.data(), segments, out.data(), &observer)
                                          : DecipherSegments(codec, in.data(), segments, out.data(), &observer);
        EXPECT_FALSE(run.failed);
        EXPECT_EQ(run.segments, segments);
        EXPECT_EQ(run.produced, 0);
        EXPECT_EQ(observer.count, segments);
        EXPECT_EQ(out, std::vector<char>(in.size(), 'o'));
        EXPECT_FALSE(TakesSegmentsTogether(codec, c.encipher ? 1 : 2));
    }
}

// An algorithm the dispatcher does not know, here through the "ALG" setting:
// the first segment's result (-1) is no length, so the run stops there.
TEST(SegmentChunksRefused, UnknownAlgorithmStopsAtTheFirstSegment)
{
    RegistrySandbox registry;
    registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n"
                       "\"ALG\"=dword:00000007\n");
    CRawCodec codec(1, Key(), ALG_FROM_SETTINGS);
    ASSERT_EQ(codec.Algorithm(), 7);
    const std::vector<char> in = Pattern(static_cast<size_t>(kChunk + 1) * kSegment, 6);
    std::vector<char> out(in.size(), 'o');
    CountingObserver observer;
    const SegmentRun run = EncipherSegments(codec, in.data(), kChunk + 1, out.data(), &observer);
    EXPECT_TRUE(run.failed);
    EXPECT_EQ(run.segments, 0);
    EXPECT_EQ(run.produced, 0);
    EXPECT_EQ(observer.count, 0);
    EXPECT_FALSE(TakesSegmentsTogether(codec, 1));
}

// ATE (the outside library) never takes the multi-segment entry: its segments
// are the single calls' results, appended one after the other. (An ATE
// object carries its chain from call to call: each side gets a fresh one.)
TEST(SegmentChunksRefused, AteGoesOneSegmentAtATime)
{
    const int segments = kChunk + 2;
    const std::vector<char> in = Pattern(static_cast<size_t>(segments) * kSegment, 7);
    std::vector<char> expected(in.size());
    {
        CRawCodec single(1, Key(), ALG_ATE);
        for (int i = 0; i < segments; ++i)
            if (single.BlockEncrypt(const_cast<char*>(in.data()) + i * kSegment, kSegment,
                                    expected.data() + i * kSegment) != kSegment)
                GTEST_SKIP() << "the outside crypto library is not at hand";
    }
    CRawCodec codec(1, Key(), ALG_ATE);
    std::vector<char> out(in.size());
    CountingObserver observer;
    const SegmentRun run = EncipherSegments(codec, in.data(), segments, out.data(), &observer);
    EXPECT_FALSE(run.failed);
    EXPECT_EQ(run.segments, segments);
    EXPECT_EQ(run.produced, static_cast<int64_t>(in.size()));
    EXPECT_EQ(observer.count, segments);
    EXPECT_EQ(out, expected);
    EXPECT_FALSE(TakesSegmentsTogether(codec, 1));
}

// ---- Writing over the document

// The in-place writer against the one that reads a copy, for header rooms
// from none to beyond a segment and for every tail form.
TEST(SegmentChunksInPlace, SameBodyAsFromACopy)
{
    const TailEncipherTraces traces{};
    for (int64_t shift : {0, 15, 30, 1023, 1024, 1100, 3000})
        for (size_t size : {size_t{0}, size_t{10}, size_t{1010}, size_t{kChunk} * kSegment,
                            size_t{2 * kChunk + 1} * kSegment + 5, size_t{kChunk + 3} * kSegment + 1015}) {
            SCOPED_TRACE("shift " + std::to_string(shift) + ", size " + std::to_string(size));
            CRawCodec codec(1, Key(), ALG_RIJNDAEL);
            ASSERT_TRUE(TakesSegmentsTogether(codec, 1));
            const std::vector<char> document = Pattern(size, static_cast<unsigned>(shift));
            std::vector<char> fromCopy(static_cast<size_t>(shift) + size + 64, 'g');
            const BodyWrite expected =
                EncipherSegmentedDocument(codec, document.data(), static_cast<int64_t>(size),
                                          fromCopy.data() + shift, traces);
            ASSERT_FALSE(expected.failed);

            std::vector<char> buffer(fromCopy.size(), 'g');
            std::copy(document.begin(), document.end(), buffer.begin());
            const BodyWrite written =
                EncipherSegmentedDocumentInPlace(codec, buffer.data(), static_cast<int64_t>(size), shift, traces);
            EXPECT_FALSE(written.failed);
            EXPECT_EQ(written.consumed, expected.consumed);
            EXPECT_EQ(written.produced, expected.produced);
            EXPECT_TRUE(std::equal(buffer.begin() + shift, buffer.end(), fromCopy.begin() + shift));
        }
}

// The memory writer without a working copy: a header in front of a body of
// several chunks, and a codec whose engine refuses (no key), which takes the
// path through the copy and fails as it always did, leaving the header
// followed by the untouched document.
TEST(SegmentChunksInPlace, MemoryWriterWithHeaderOverSeveralChunks)
{
    const reference::Bytes header = {'h', 'd', 'r', 0, 1, 2, 3};
    const size_t size = size_t{2 * kChunk + 5} * kSegment + 1012;  // a tail in the trailer form
    const reference::Bytes document = reference::Document(size, 99);
    const reference::Bytes expected = reference::Concat(reference::DefaultHeader("VQPVA002", header),
                                                        reference::SegmentedBody(kKey, document));
    std::vector<char> image(32 + expected.size() + 64, 'i');
    std::copy(document.begin(), document.end(), image.begin() + 32);
    reference::Bytes headerArg = header;
    int length = -1;
    ASSERT_EQ(CPVCodec::EncryptMemoryToMemory(image.data(), static_cast<int>(size), &length, Key(), headerArg.data(),
                                              static_cast<int>(headerArg.size())),
              1);
    ASSERT_EQ(length, static_cast<int>(expected.size()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 32));
    EXPECT_EQ(std::string(image.end() - 64, image.end()), std::string(64, 'i'));

    std::vector<char> again(32 + expected.size() + 64, 'i');
    std::copy(document.begin(), document.end(), again.begin() + 32);
    int ignored = -1;
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::EncryptMemoryToMemory(again.data(), static_cast<int>(size), &ignored, nullptr,
                                              headerArg.data(), static_cast<int>(headerArg.size())),
              0);
    EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Pad 0, nPadBlockSize=12, "
                               "nRead=1024"));
    EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Src file Read size is "
                               "incorrect, nSrcPos=" +
                               std::to_string(size - 1012) + ", nSrcFileSize=" + std::to_string(size)));
    const reference::Bytes headerPart = reference::DefaultHeader("VQPVA002", header);
    EXPECT_TRUE(std::equal(headerPart.begin(), headerPart.end(), again.begin() + 32));
    EXPECT_TRUE(std::equal(document.begin() + static_cast<std::ptrdiff_t>(headerPart.size()), document.end(),
                           again.begin() + 32 + static_cast<std::ptrdiff_t>(headerPart.size())));
}

// ---- Progress through the whole-file drivers

// The percents a driver sends for `size` bytes of work in 1024-byte segments:
// after segment i, i x (102400 / size) in single precision, truncated, sent
// when it grows and is not 100; then 100.
std::vector<int> ExpectedPercents(int64_t size)
{
    std::vector<int> percents;
    const float step = size > kSegment ? static_cast<float>(102400.0 / static_cast<double>(size)) : 100.0f;
    int last = 0;
    for (int64_t i = 1; i <= size / kSegment; ++i) {
        const int percent = static_cast<int>(static_cast<float>(i) * step);
        if (percent > last && percent != 100)
            percents.push_back(percent);
        last = percent;
    }
    percents.push_back(100);
    return percents;
}

class SegmentChunksProgress : public decryption::FileDecryption {};

// A document of three chunks and a bit: the whole-document writer and reader
// send the percents of the streaming ones, which go one segment at a time,
// and the files are byte for byte the same.
TEST_F(SegmentChunksProgress, WholeDocumentDriversSendTheStreamingDriversPercents)
{
    const size_t size = size_t{3 * kChunk + 40} * kSegment + 100;
    const reference::Bytes document = reference::Document(size, 3);
    const std::string plain = Put(document, "plain.bin");
    reference::Bytes header = {'p', 'r', 'o', 'g'};
    const int offset = 14 + static_cast<int>(header.size());

    const auto encrypt = [&](bool whole, const std::string& destination) {
        decryption::ProgressWindow window;
        const std::u16string src = Wide(plain), dest = Wide(Path(destination));
        const int result = whole ? CPVCodec::DoEncryptFile(src.c_str(), dest.c_str(), Key(), header.data(),
                                                           static_cast<int>(header.size()), window.Handle(), 0,
                                                           nullptr)
                                 : CPVCodec::EncryptFile2(src.c_str(), dest.c_str(), Key(), header.data(),
                                                          static_cast<int>(header.size()), window.Handle());
        EXPECT_EQ(result, 1);
        return window.Percents();
    };
    const std::vector<int> wholePercents = encrypt(true, "whole.pvc");
    const std::vector<int> streamedPercents = encrypt(false, "streamed.pvc");
    EXPECT_EQ(wholePercents, ExpectedPercents(static_cast<int64_t>(size)));
    EXPECT_EQ(wholePercents, streamedPercents);
    const reference::Bytes container = Contents(Path("whole.pvc"));
    EXPECT_TRUE(container == reference::Concat(reference::DefaultHeader("VQPVA002", header),
                                               reference::SegmentedBody(kKey, document)));
    EXPECT_TRUE(Contents(Path("streamed.pvc")) == container);

    const auto decrypt = [&](const decryption::Driver& driver, const std::string& destination) {
        decryption::ProgressWindow window;
        EXPECT_EQ(Run(driver, Path("whole.pvc"), Path(destination), offset, kKey, window.Handle()), 1);
        return window.Percents();
    };
    const std::vector<int> fullPercents = decrypt(decryption::kFull, "full.txt");
    const std::vector<int> streamingPercents = decrypt(decryption::kStreaming, "streaming.txt");
    EXPECT_EQ(fullPercents, ExpectedPercents(static_cast<int64_t>(container.size()) - offset));
    EXPECT_EQ(fullPercents, streamingPercents);
    EXPECT_TRUE(Contents(Path("full.txt")) == document);
    EXPECT_TRUE(Contents(Path("streaming.txt")) == document);
}

}  // namespace
