// The multi-segment entry (CRjdl BlockEncryptSegments and
// BlockDecryptSegments, which CRawCodec forwards Rijndael to, and the chain
// routines under them) against one call per 1024-byte segment, for every
// engine this processor has: same bytes, same total, in place and not, over
// segment counts that reach every width the engines interleave and their
// remainders; and the refusals, which write nothing.
#include "codec/CRjdl.h"
#include "codec/RawCodec.h"
#include "codec/RjdlChains.h"
#include "codec/RjdlEngine.h"
#include "support/OpenSslCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using rjdl::Engine;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSegment = RJDL_SEGMENT_BYTES;

Bytes Random(std::mt19937& rng, size_t n)
{
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

char* Chars(Bytes& b)
{
    return reinterpret_cast<char*>(b.data());
}

// 0 .. 40 and a few beyond: 32 and 16 chains (VAES-512 groups), 8 (AES-NI),
// and every remainder below them.
std::vector<int> SegmentCounts()
{
    std::vector<int> counts;
    for (int n = 0; n <= 40; ++n)
        counts.push_back(n);
    for (int n : {47, 48, 63, 71})
        counts.push_back(n);
    return counts;
}

class SegmentsOnEachEngine : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (!rjdl::EngineAvailable(GetParam()))
            GTEST_SKIP() << rjdl::EngineName(GetParam()) << " is not available on this processor or build";
    }
};

// Encryption and decryption, separate output and in place, against CRjdl
// calls of 1024 bytes one by one; the first and the last segment also
// against OpenSSL.
TEST_P(SegmentsOnEachEngine, CRjdlMatchesOneCallPerSegment)
{
    rjdl::ScopedEngine use(GetParam());
    std::mt19937 rng(99);
    for (int count : SegmentCounts()) {
        const std::string where = std::string(rjdl::EngineName(GetParam())) + " count " + std::to_string(count);
        Bytes key = Random(rng, 16);
        CRjdl enc, dec;
        enc.Init(RJDL_DIR_ENCRYPT, reinterpret_cast<const char*>(key.data()));
        dec.Init(RJDL_DIR_DECRYPT, reinterpret_cast<const char*>(key.data()));
        ASSERT_EQ(enc.State().engine, static_cast<uint8_t>(GetParam()));

        Bytes plain = Random(rng, kSegment * static_cast<size_t>(count) + 1);  // +1: never empty
        Bytes expected(plain.size(), 0x5a), got(plain.size(), 0x5a);
        int total = 0;
        for (int i = 0; i < count; ++i)
            total += enc.BlockEncrypt(Chars(plain) + kSegment * i, static_cast<int>(kSegment),
                                      Chars(expected) + kSegment * i);
        ASSERT_EQ(enc.BlockEncryptSegments(Chars(plain), Chars(got), count), total) << where;
        ASSERT_EQ(got, expected) << where;
        if (count > 0) {
            for (size_t first : {size_t{0}, kSegment * static_cast<size_t>(count - 1)}) {
                const uint8_t zeroIv[16] = {};
                auto ssl = reference::Evp(reference::AesCbc(16), true, false, key.data(), zeroIv, plain.data() + first,
                                          kSegment);
                ASSERT_TRUE(ssl);
                ASSERT_EQ(Bytes(got.begin() + static_cast<std::ptrdiff_t>(first),
                                got.begin() + static_cast<std::ptrdiff_t>(first + kSegment)),
                          *ssl)
                    << where;
            }
        }

        Bytes inPlace = plain;
        ASSERT_EQ(enc.BlockEncryptSegments(Chars(inPlace), Chars(inPlace), count), total) << where;
        expected.back() = plain.back();  // the byte after the segments stays
        ASSERT_EQ(inPlace, expected) << where;

        // Back again, both ways.
        const Bytes cipher = inPlace;
        Bytes back(cipher.size(), 0x5a), backOneByOne(cipher.size(), 0x5a);
        Bytes cipherCopy = cipher;
        int decTotal = 0;
        for (int i = 0; i < count; ++i)
            decTotal += dec.BlockDecrypt(Chars(cipherCopy) + kSegment * i, static_cast<int>(kSegment),
                                         Chars(backOneByOne) + kSegment * i);
        ASSERT_EQ(dec.BlockDecryptSegments(Chars(cipherCopy), Chars(back), count), decTotal) << where;
        ASSERT_EQ(back, backOneByOne) << where;
        ASSERT_EQ(dec.BlockDecryptSegments(Chars(cipherCopy), Chars(cipherCopy), count), decTotal) << where;
        cipherCopy.back() = back.back();
        ASSERT_EQ(cipherCopy, back) << where;
        ASSERT_TRUE(std::equal(plain.begin(), plain.end() - 1, back.begin())) << where;
    }
}

// The chain routines for other segment sizes, key sizes and a non-zero IV
// (the system only uses 1024 bytes, AES-128 and the zero IV).
TEST_P(SegmentsOnEachEngine, ChainRoutinesMatchOneChainAtATime)
{
    rjdl::ScopedEngine use(GetParam());
    std::mt19937 rng(1234);
    for (size_t keyBytes : {16u, 24u, 32u}) {
        for (size_t blocks : {1u, 3u, 17u, 64u}) {
            for (size_t segments : {1u, 5u, 9u, 21u, 37u}) {
                const Bytes key = Random(rng, keyBytes), iv = Random(rng, 16);
                const int code = keyBytes == 16 ? RJDL_KEY_128 : keyBytes == 24 ? RJDL_KEY_192 : RJDL_KEY_256;
                RjdlState enc{}, dec{};
                ASSERT_EQ(RjdlInit(&enc, RJDL_MODE_CBC, RJDL_DIR_ENCRYPT, key.data(), code, iv.data()), 0);
                ASSERT_EQ(RjdlInit(&dec, RJDL_MODE_CBC, RJDL_DIR_DECRYPT, key.data(), code, iv.data()), 0);
                const size_t bytes = 16 * blocks * segments;
                const Bytes plain = Random(rng, bytes);
                Bytes expected(bytes), got(bytes);
                for (size_t s = 0; s < segments; ++s) {
                    const size_t at = 16 * blocks * s;
                    ASSERT_EQ(RjdlBlockEncrypt(&enc, plain.data() + at, static_cast<int32_t>(128 * blocks),
                                               expected.data() + at),
                              static_cast<int>(128 * blocks));
                }
                rjdl::EncryptCbcSegments(enc, plain.data(), got.data(), segments, blocks);
                const std::string where = std::string(rjdl::EngineName(GetParam())) + " key " +
                                          std::to_string(keyBytes) + " blocks " + std::to_string(blocks) +
                                          " segments " + std::to_string(segments);
                ASSERT_EQ(got, expected) << where;
                Bytes back(bytes);
                rjdl::DecryptCbcSegments(dec, got.data(), back.data(), segments, blocks);
                ASSERT_EQ(back, plain) << where;
            }
        }
    }
}

// Input and output at every 16-byte position within a cache line (and one
// not even 16-byte aligned): the wide engines take a few blocks one at a
// time until their vector stores are aligned.
TEST_P(SegmentsOnEachEngine, EveryAlignmentOfInputAndOutput)
{
    rjdl::ScopedEngine use(GetParam());
    std::mt19937 rng(77);
    Bytes key = Random(rng, 16);
    CRjdl enc, dec;
    enc.Init(RJDL_DIR_ENCRYPT, reinterpret_cast<const char*>(key.data()));
    dec.Init(RJDL_DIR_DECRYPT, reinterpret_cast<const char*>(key.data()));
    const int count = 21;
    const size_t bytes = kSegment * count;
    const Bytes plain = Random(rng, bytes);
    Bytes cipher(bytes);
    for (int i = 0; i < count; ++i)
        enc.BlockEncrypt(reinterpret_cast<const char*>(plain.data()) + kSegment * i, static_cast<int>(kSegment),
                         Chars(cipher) + kSegment * i);
    std::vector<uint8_t> inArea(bytes + 128), outArea(bytes + 128);
    auto at64 = [](std::vector<uint8_t>& area, size_t offset) {
        const auto base = reinterpret_cast<uintptr_t>(area.data());
        return reinterpret_cast<char*>(area.data() + (64 - base % 64) % 64 + offset);
    };
    for (size_t inOffset : {0u, 16u, 48u, 7u}) {
        for (size_t outOffset : {0u, 16u, 32u, 48u, 1u}) {
            const std::string where = std::string(rjdl::EngineName(GetParam())) + " in +" + std::to_string(inOffset) +
                                      " out +" + std::to_string(outOffset);
            char* in = at64(inArea, inOffset);
            char* out = at64(outArea, outOffset);
            std::memcpy(in, plain.data(), bytes);
            ASSERT_EQ(enc.BlockEncryptSegments(in, out, count), static_cast<int>(bytes)) << where;
            ASSERT_EQ(std::memcmp(out, cipher.data(), bytes), 0) << where;
            std::memcpy(in, cipher.data(), bytes);
            ASSERT_EQ(dec.BlockDecryptSegments(in, out, count), static_cast<int>(bytes)) << where;
            ASSERT_EQ(std::memcmp(out, plain.data(), bytes), 0) << where;
        }
    }
}

// A body of 32 MiB and more, which the processor engines decipher with
// streaming stores: the round trip gives the plaintext back, to an output
// 16 bytes past a line start and in place, and sample segments are OpenSSL's.
TEST_P(SegmentsOnEachEngine, LargeBodyRoundTrip)
{
    if (GetParam() == Engine::Table)
        GTEST_SKIP() << "the table form has no path of its own for large bodies";
    rjdl::ScopedEngine use(GetParam());
    std::mt19937 rng(31);
    Bytes key = Random(rng, 16);
    CRjdl enc, dec;
    enc.Init(RJDL_DIR_ENCRYPT, reinterpret_cast<const char*>(key.data()));
    dec.Init(RJDL_DIR_DECRYPT, reinterpret_cast<const char*>(key.data()));
    const int count = (32 << 10) + 3;
    const size_t bytes = kSegment * count;
    Bytes plain(bytes);
    for (size_t i = 0; i < bytes; i += 512)
        plain[i] = static_cast<uint8_t>(rng());
    Bytes cipher(bytes);
    ASSERT_EQ(enc.BlockEncryptSegments(reinterpret_cast<const char*>(plain.data()), Chars(cipher), count),
              static_cast<int>(bytes));
    const uint8_t zeroIv[16] = {};
    for (size_t segment : {size_t{0}, size_t{12345}, static_cast<size_t>(count - 1)}) {
        auto ssl = reference::Evp(reference::AesCbc(16), true, false, key.data(), zeroIv,
                                  plain.data() + kSegment * segment, kSegment);
        ASSERT_TRUE(ssl);
        ASSERT_EQ(std::memcmp(cipher.data() + kSegment * segment, ssl->data(), kSegment), 0) << segment;
    }
    Bytes back(bytes + 16);
    ASSERT_EQ(dec.BlockDecryptSegments(Chars(cipher), Chars(back) + 16, count), static_cast<int>(bytes));
    ASSERT_EQ(std::memcmp(back.data() + 16, plain.data(), bytes), 0);
    ASSERT_EQ(dec.BlockDecryptSegments(Chars(cipher), Chars(cipher), count), static_cast<int>(bytes));
    ASSERT_EQ(cipher, plain);
}

INSTANTIATE_TEST_SUITE_P(Engines, SegmentsOnEachEngine,
                         ::testing::Values(Engine::Table, Engine::AesNi, Engine::Vaes256, Engine::Vaes512,
                                           Engine::ArmCe),
                         [](const auto& info) { return std::string(rjdl::EngineName(info.param)); });

// ---- The other ciphers and the refusals ------------------------------------

// Whatever the other ciphers answer, the total and the bytes are those of
// one call per segment (here 1 ARIA, 2 ATE and an unknown id).
TEST(Segments, OtherAlgorithmsAddUpTheirOwnCalls)
{
    std::mt19937 rng(8);
    Bytes key = Random(rng, 16);
    for (int algorithm : {ALG_ARIA, ALG_ATE, 9}) {
        for (int direction : {RJDL_DIR_ENCRYPT, RJDL_DIR_DECRYPT}) {
            const int count = 3;
            Bytes in = Random(rng, kSegment * count);
            Bytes expected(in.size(), 0x11), got(in.size(), 0x11);
            CRawCodec one(direction, Chars(key), algorithm), all(direction, Chars(key), algorithm);
            int total = 0;
            for (int i = 0; i < count; ++i) {
                char* src = Chars(in) + kSegment * i;
                char* dst = Chars(expected) + kSegment * i;
                total += direction == RJDL_DIR_ENCRYPT ? one.BlockEncrypt(src, static_cast<int>(kSegment), dst)
                                                       : one.BlockDecrypt(src, static_cast<int>(kSegment), dst);
            }
            const int r = direction == RJDL_DIR_ENCRYPT ? all.BlockEncryptSegments(Chars(in), count, Chars(got))
                                                        : all.BlockDecryptSegments(Chars(in), count, Chars(got));
            EXPECT_EQ(r, total) << "algorithm " << algorithm << " direction " << direction;
            EXPECT_EQ(got, expected) << "algorithm " << algorithm << " direction " << direction;
        }
    }
}

struct Refusal {
    const char* name;
    int direction;      // 0: never initialised
    bool decryptCall;   // which entry is called
    bool nullInput;
    int count;
};

class SegmentRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(SegmentRefusals, AnswerZeroAndWriteNothing)
{
    const auto& c = GetParam();
    const char key[16] = {7};
    CRjdl engine;
    if (c.direction != 0)
        engine.Init(c.direction, key);
    std::vector<char> in(2 * kSegment, 3), out(2 * kSegment, 0x44);
    const char* src = c.nullInput ? nullptr : in.data();
    const int r = c.decryptCall ? engine.BlockDecryptSegments(src, out.data(), c.count)
                                : engine.BlockEncryptSegments(src, out.data(), c.count);
    EXPECT_EQ(r, 0);
    for (char b : out)
        ASSERT_EQ(b, 0x44);
    // Each of these would also be a 0 from one BlockEncrypt / BlockDecrypt call.
    if (c.count > 0 && c.count <= 2) {
        EXPECT_EQ(c.decryptCall ? engine.BlockDecrypt(src, static_cast<int>(kSegment), out.data())
                                : engine.BlockEncrypt(src, static_cast<int>(kSegment), out.data()),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SegmentRefusals,
    ::testing::Values(Refusal{"NotReadyEncrypt", 0, false, false, 2}, Refusal{"NotReadyDecrypt", 0, true, false, 2},
                      Refusal{"EncryptOnDecryptEngine", RJDL_DIR_DECRYPT, false, false, 2},
                      Refusal{"DecryptOnEncryptEngine", RJDL_DIR_ENCRYPT, true, false, 1},
                      Refusal{"NullInput", RJDL_DIR_ENCRYPT, false, true, 2},
                      Refusal{"ZeroCount", RJDL_DIR_ENCRYPT, false, false, 0},
                      Refusal{"NegativeCount", RJDL_DIR_DECRYPT, true, false, -1},
                      // 2^21 segments would total 2^31 bytes: refused before touching anything.
                      Refusal{"TotalBeyondInt", RJDL_DIR_ENCRYPT, false, false, 1 << 21}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Segments, CRawCodecRefusesCountsWithoutCalling)
{
    char key[16] = {1};
    std::vector<char> in(kSegment, 2), out(kSegment, 0x44);
    for (int algorithm : {ALG_RIJNDAEL, ALG_ARIA}) {
        CRawCodec codec(RJDL_DIR_ENCRYPT, key, algorithm);
        EXPECT_EQ(codec.BlockEncryptSegments(in.data(), 0, out.data()), 0);
        EXPECT_EQ(codec.BlockEncryptSegments(in.data(), -5, out.data()), 0);
        EXPECT_EQ(codec.BlockEncryptSegments(in.data(), 1 << 21, out.data()), 0);
        for (char b : out)
            ASSERT_EQ(b, 0x44);
    }
}

}  // namespace
