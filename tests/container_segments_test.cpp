// Full segments as the drivers run them: chunks through the multi-segment entry, else one at a time.
#include "codec/RawCodec.h"
#include "container/ContainerLayout.h"
#include "support/ReaderContainers.h"
#include "support/RegistrySandbox.h"
#include "support/OpenSslCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace container;
using namespace readercontainers;

namespace {

constexpr int kSegment = ENC_BUFFER_SIZE;
constexpr int kChunk = 256;  // segments per multi-segment call in the drivers

// Checks that each segment it hears of is complete at the output already.
struct Observer final : SegmentObserver {
    Observer(const char* out = nullptr, const Bytes* expected = nullptr) : m_out(out), m_expected(expected) {}
    void SegmentDone() override
    {
        const size_t at = size_t(count) * kSegment;
        early += m_expected && std::memcmp(m_out + at, m_expected->data() + at, kSegment) != 0;
        ++count;
    }
    int count = 0, early = 0;
    const char* m_out;
    const Bytes* m_expected;
};

// Past one, two, three chunks, both ways, in place and apart: OpenSSL's CBC per segment, nothing around.
TEST(SegmentChunks, SameBytesAndObserverCallsAsOneChainPerSegment)
{
    for (int segments : {1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 17})
        for (bool encrypt : {true, false})
            for (bool inPlace : {false, true}) {
                SCOPED_TRACE(std::to_string(segments) + (encrypt ? " enc" : " dec") + (inPlace ? " in place" : ""));
                CRawCodec codec(encrypt ? 1 : 2, KeyArg(kKey), ALG_RIJNDAEL);
                const size_t bytes = size_t(segments) * kSegment;
                const Bytes in = reference::Document(bytes, unsigned(segments));
                Bytes expected(bytes), buffer = in, apart(bytes + 64, 'x');
                const uint8_t iv[16] = {};
                for (size_t at = 0; at < bytes; at += kSegment) {
                    const auto piece = reference::Evp(reference::AesCbc(16), encrypt, false,
                                                      reinterpret_cast<const uint8_t*>(kKey.data()), iv,
                                                      reinterpret_cast<const uint8_t*>(in.data() + at), kSegment);
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

// A refused chunk goes one segment at a time: a refusing engine (0 bytes a segment, still counted,
// nothing written), or an unknown "ALG" algorithm (-1 ends the run).
TEST(SegmentChunks, RefusedChunksGoOneSegmentAtATime)
{
    RegistrySandbox registry;
    registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n\"ALG\"=dword:00000007\n");
    const int segments = kChunk + 3;
    const Bytes in = reference::Document(size_t(segments) * kSegment, 5);
    const std::tuple<int, bool, bool, int> cases[] = {{2, true, true, ALG_RIJNDAEL}, {1, true, false, ALG_RIJNDAEL}, {1, false, true, ALG_RIJNDAEL},
                 {2, false, false, ALG_RIJNDAEL}, {1, true, true, ALG_FROM_SETTINGS}};
    for (const auto& [direction, keyed, encipher, algorithm] : cases) {
        SCOPED_TRACE(std::to_string(direction) + (keyed ? " key " : " no key ") + std::to_string(algorithm));
        CRawCodec codec(direction, keyed ? KeyArg(kKey) : nullptr, algorithm);
        const bool unknown = algorithm == ALG_FROM_SETTINGS;
        EXPECT_EQ(codec.Algorithm(), unknown ? 7 : algorithm);
        Bytes out(in.size(), 'o');
        Observer observer;
        const SegmentRun run = encipher ? EncipherSegments(codec, in.data(), segments, out.data(), &observer)
                                          : DecipherSegments(codec, in.data(), segments, out.data(), &observer);
        EXPECT_EQ(std::tie(run.failed, run.segments, run.produced), std::make_tuple(unknown, unknown ? 0 : segments, int64_t(0)));
        EXPECT_EQ(observer.count, unknown ? 0 : segments);
        EXPECT_TRUE(out == Bytes(in.size(), 'o'));
        EXPECT_FALSE(TakesSegmentsTogether(codec, encipher ? 1 : 2));
    }
}

}  // namespace
