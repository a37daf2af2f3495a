// The memory writer: containers byte-identical to an independent construction
// for every header form and for the document sizes where the layout changes,
// round trips through the memory reader, the size check, the already-encrypted
// rule, refused input, ciphers that are not available, and the trace lines.
#include "PVCodec.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using reference::Bytes;

namespace {

const std::string kKey = "0123456789abcdef";
constexpr char kUntouched = static_cast<char>(0xEE);
constexpr char kBeyond = static_cast<char>(0xA5);
constexpr size_t kGuard = 64;

char* Key()
{
    return const_cast<char*>(kKey.data());
}

// A memory image holding `document` at offset 32, with room for the largest
// Rijndael container and a guard area after it.
struct Image {
    explicit Image(const Bytes& document, size_t headerPart = 92 + 64)
        : bytes(32 + headerPart + document.size() + 32 + kGuard, kBeyond)
    {
        std::memset(bytes.data(), kUntouched, 32);
        std::copy(document.begin(), document.end(), bytes.begin() + 32);
    }
    char* data() { return bytes.data(); }
    int32_t StoredLength() const
    {
        int32_t length;
        std::memcpy(&length, bytes.data(), 4);
        return length;
    }
    Bytes Container(size_t length) const { return Bytes(bytes.begin() + 32, bytes.begin() + 32 + length); }
    bool MiddleUntouched() const
    {
        for (int i = 4; i < 32; ++i)
            if (bytes[i] != kUntouched)
                return false;
        return true;
    }
    // Nothing after the container and the document's own place was written.
    bool UntouchedFrom(size_t offset) const
    {
        for (size_t i = offset; i < bytes.size(); ++i)
            if (bytes[i] != kBeyond)
                return false;
        return true;
    }
    Bytes bytes;
};

const Bytes kHeader = {'h', 'e', 'a', 'd', 'e', 'r', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'e', 'n', 'd'};

struct Form {
    const char* name;
    unsigned mode;
    std::string magic;  // mode 1
    char tag;           // mode 2
};

const Form kForms[] = {
    {"default", 0, "", 0},
    {"caller_magic", 1, "VQPVA003", 0},
    {"extended_R", 2, "", 'R'},
};

Bytes ExpectedHeader(const Form& form)
{
    switch (form.mode) {
    case 1: return reference::DefaultHeader(form.magic, kHeader);
    case 2: return reference::ExtendedHeader(reference::ExtendedPrefix(form.tag), kHeader);
    default: return reference::DefaultHeader("VQPVA002", kHeader);
    }
}

// Layout changes at 0, 15/16/17, 1007/1008, 1023/1024/1025, 2040, 2048 and
// 10256; three random sizes up to 3 MiB cover long bodies.
std::vector<size_t> Sizes()
{
    std::vector<size_t> sizes = {0, 1, 15, 16, 17, 1007, 1008, 1023, 1024, 1025, 2040, 2048, 10256};
    std::mt19937 random(20240613);
    for (int i = 0; i < 3; ++i)
        sizes.push_back(std::uniform_int_distribution<size_t>(3000, 3 << 20)(random));
    return sizes;
}

class MemoryWriterLayout : public ::testing::TestWithParam<std::tuple<Form, size_t>> {};

TEST_P(MemoryWriterLayout, MatchesIndependentConstructionAndReadsBack)
{
    const auto& [form, size] = GetParam();
    Bytes document = reference::Document(size, static_cast<uint32_t>(size));
    Image image(document);
    Bytes prefix = reference::ExtendedPrefix(form.tag);
    Bytes header = kHeader;
    char* magicOrPrefix = form.mode == 1 ? const_cast<char*>(form.magic.c_str())
                          : form.mode == 2 ? prefix.data()
                                           : nullptr;
    int resultSize = -1;
    ASSERT_EQ(CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(size), &resultSize, Key(),
                                                header.data(), static_cast<int>(header.size()), form.mode,
                                                magicOrPrefix),
              1);

    Bytes expectedHeader = ExpectedHeader(form);
    Bytes expected = reference::Concat(expectedHeader, reference::SegmentedBody(kKey, document));
    ASSERT_EQ(resultSize, static_cast<int>(expected.size()));
    EXPECT_EQ(image.StoredLength(), resultSize);
    EXPECT_TRUE(image.Container(expected.size()) == expected) << "container differs from the reference";
    EXPECT_TRUE(image.MiddleUntouched());
    EXPECT_TRUE(image.UntouchedFrom(32 + std::max(expected.size(), size)));

    // Read back from its own buffer, as a host does with the container it got.
    Bytes container = image.Container(expected.size());
    Bytes output(32 + container.size() + kGuard, kBeyond);
    int plainSize = -1;
    ASSERT_EQ(CPVCodec::DecryptMemoryToMemory(container.data(), output.data(), static_cast<int>(container.size()),
                                              &plainSize, Key(), static_cast<int>(expectedHeader.size())),
              1);
    ASSERT_EQ(plainSize, static_cast<int>(size));
    int32_t stored;
    std::memcpy(&stored, output.data(), 4);
    EXPECT_EQ(stored, plainSize);
    EXPECT_TRUE(std::equal(document.begin(), document.end(), output.begin() + 32));
    for (size_t i = 32 + container.size(); i < output.size(); ++i)
        ASSERT_EQ(output[i], kBeyond) << "written past the body's length at " << i;
}

INSTANTIATE_TEST_SUITE_P(FormsAndSizes, MemoryWriterLayout,
                         ::testing::Combine(::testing::ValuesIn(kForms), ::testing::ValuesIn(Sizes())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

int Encrypt(Image& image, size_t size, char* header, int headerSize, unsigned mode = 0, char* magic = nullptr,
            int* resultSize = nullptr)
{
    int ignored = -1;
    return CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(size),
                                             resultSize != nullptr ? resultSize : &ignored, Key(), header,
                                             headerSize, mode, magic);
}

// Without a header the size check still subtracts 14: a bare body passes only
// when it is at least 14 bytes longer than the document, never when empty.
struct BareCase {
    size_t size;
    int expected;
};

class BareBodySizeCheck : public ::testing::TestWithParam<BareCase> {};

TEST_P(BareBodySizeCheck, SubtractsFourteenAnyway)
{
    const BareCase& c = GetParam();
    Bytes document = reference::Document(c.size, 7);
    Image image(document);
    TraceCapture trace;
    int resultSize = -1;
    EXPECT_EQ(Encrypt(image, c.size, nullptr, 0, 0, nullptr, &resultSize), c.expected);
    int64_t body = static_cast<int64_t>(reference::SegmentedBody(kKey, document).size());
    std::string failure = "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Encrypted file size is incorrect, "
                          "nEncryptedDocSize=" +
                          std::to_string(body - 14) + ", nSrcFileSize=" + std::to_string(c.size) +
                          ", nEncHeaderSize=0";
    EXPECT_EQ(trace.Contains(failure), c.expected == 0);
    if (c.expected == 1) {
        EXPECT_EQ(resultSize, body);
        EXPECT_TRUE(image.Container(body) == reference::SegmentedBody(kKey, document));
    } else {
        EXPECT_EQ(resultSize, -1);
        EXPECT_EQ(image.StoredLength(), static_cast<int32_t>(0xEEEEEEEE));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BareBodySizeCheck,
                         ::testing::Values(BareCase{0, 0}, BareCase{1, 1}, BareCase{2, 1}, BareCase{3, 0},
                                           BareCase{15, 0}, BareCase{16, 1}, BareCase{18, 1}, BareCase{19, 0},
                                           BareCase{1007, 0}, BareCase{1008, 1}, BareCase{1023, 1},
                                           BareCase{1024, 0}, BareCase{2040, 1}),
                         [](const auto& info) { return std::to_string(info.param.size); });

TEST(MemoryWriter, EmptyDocumentWithHeaderIsTheHeaderAlone)
{
    Image image({});
    Bytes header = kHeader;
    int resultSize = -1;
    ASSERT_EQ(Encrypt(image, 0, header.data(), static_cast<int>(header.size()), 0, nullptr, &resultSize), 1);
    EXPECT_EQ(resultSize, 14 + static_cast<int>(header.size()));
    EXPECT_EQ(image.StoredLength(), resultSize);
    EXPECT_TRUE(image.Container(resultSize) == reference::DefaultHeader("VQPVA002", kHeader));
}

struct MagicCase {
    const char* name;
    Bytes start;   // first bytes of the document
    size_t size;   // whole document size
    bool refused;  // taken for a container
};

class AlreadyEncrypted : public ::testing::TestWithParam<MagicCase> {};

// Which bytes are a magic is ContainerMagic's test; here the writer's use of it.
TEST_P(AlreadyEncrypted, NeedsMoreThanTenBytesAndAMagic)
{
    const MagicCase& c = GetParam();
    Bytes document = reference::Document(c.size, 3);
    std::copy(c.start.begin(), c.start.end(), document.begin());
    Image image(document);
    const Bytes before = image.bytes;
    Bytes header = kHeader;
    TraceCapture trace;
    int resultSize = -1;
    EXPECT_EQ(Encrypt(image, c.size, header.data(), static_cast<int>(header.size()), 0, nullptr, &resultSize), 1);
    const std::string line = "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() BAD! Already Encrypted...";
    EXPECT_EQ(trace.Contains(line), c.refused);
    if (c.refused) {
        EXPECT_EQ(resultSize, -1);
        EXPECT_TRUE(image.bytes == before);
    } else {
        EXPECT_EQ(resultSize, static_cast<int>(14 + header.size() + reference::SegmentedBody(kKey, document).size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Magics, AlreadyEncrypted,
    ::testing::Values(MagicCase{"VQPVA002_11", {'V', 'Q', 'P', 'V', 'A', '0', '0', '2', 0, 'x'}, 11, true},
                      MagicCase{"VQPVA003_ninth_byte_any", {'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0, 'Z'}, 40, true},
                      MagicCase{"VQPVA004", {'V', 'Q', 'P', 'V', 'A', '0', '0', '4', 0, 0}, 3000, true},
                      MagicCase{"VQPVA002_10_bytes", {'V', 'Q', 'P', 'V', 'A', '0', '0', '2', 0, 'x'}, 10, false},
                      MagicCase{"lower_case", {'v', 'q', 'p', 'v', 'a', '0', '0', '2', 0, 0}, 40, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryWriter, WithoutHeaderAContainerIsEncipheredAgain)
{
    Bytes document = reference::Document(1008, 5);
    std::memcpy(document.data(), "VQPVA002\0\0", 10);
    Image image(document);
    int resultSize = -1;
    ASSERT_EQ(Encrypt(image, document.size(), nullptr, 0, 0, nullptr, &resultSize), 1);
    EXPECT_TRUE(image.Container(resultSize) == reference::SegmentedBody(kKey, document));
}

// A magic outside mode 1 (here through EncryptMemoryToMemoryEx), an unknown
// mode and mode 1 without a magic all give the default form.
TEST(MemoryWriter, UnknownModesAndMissingMagicGiveTheDefaultForm)
{
    const Bytes document = reference::Document(3000, 11);
    const Bytes expected =
        reference::Concat(reference::DefaultHeader("VQPVA002", kHeader), reference::SegmentedBody(kKey, document));
    char magic[] = "IGNORED";
    for (auto [mode, magicArg] : {std::pair<unsigned, char*>{0, magic}, {7, magic}, {1, nullptr}}) {
        Image image(document);
        Bytes header = kHeader;
        const int n = static_cast<int>(header.size());
        int size = 0;
        ASSERT_EQ(mode == 0 ? CPVCodec::EncryptMemoryToMemoryEx(image.data(), 3000, &size, Key(), header.data(), n, 0,
                                                                magicArg)
                            : Encrypt(image, 3000, header.data(), n, mode, magicArg, &size),
                  1);
        EXPECT_EQ(size, static_cast<int>(expected.size())) << mode;
        EXPECT_TRUE(image.Container(expected.size()) == expected) << mode;
    }
}

TEST(MemoryWriter, RefusedInputLeavesTheBufferAlone)
{
    TraceCapture trace;
    int resultSize = -1;
    EXPECT_EQ(CPVCodec::DoEncryptMemoryToMemory(nullptr, 100, &resultSize, Key(), nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Entering the Function"}));

    Image image(reference::Document(100, 1));
    const Bytes before = image.bytes;
    Bytes header = kHeader;
    trace.Clear();
    EXPECT_EQ(Encrypt(image, static_cast<size_t>(-1), header.data(), static_cast<int>(header.size())), 0);
    EXPECT_TRUE(trace.Contains(
        "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Out of memory...nSrcFileSize=-1"));
    // Header mode 2 without its prefix has nothing to write.
    EXPECT_EQ(Encrypt(image, 100, header.data(), static_cast<int>(header.size()), 2, nullptr), 0);
    EXPECT_TRUE(image.bytes == before);
    EXPECT_EQ(resultSize, -1);
}

// A null key leaves the cipher not ready: segments come out empty and the
// padded end fails, so the consumed count falls short.
TEST(MemoryWriter, NullKeyFailsCleanly)
{
    Bytes document = reference::Document(1025, 4);
    Image image(document);
    Bytes header = kHeader;
    int resultSize = -1;
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::DoEncryptMemoryToMemory(image.data(), 1025, &resultSize, nullptr, header.data(),
                                                static_cast<int>(header.size()), 0, nullptr),
              0);
    EXPECT_EQ(resultSize, -1);
    EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Src file Read size is "
                               "incorrect, nSrcPos=1024, nSrcFileSize=1025"));
    EXPECT_TRUE(image.UntouchedFrom(32 + 14 + header.size() + 1025));
}

TEST(MemoryWriter, TraceLinesOfTheBodyEnds)
{
    Bytes header = kHeader;
    const std::string entering = "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Entering the Function";
    struct Case {
        size_t size;
        std::vector<std::string> lines;
    } cases[] = {
        {2048, {entering}},
        {1025, {entering, "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! PadEncrypt, nRead=1"}},
        {2040,
         {entering, "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! PadEncrypt, nRead=1016",
          "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Pad 0, nPadBlockSize=8, nRead=1024",
          "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Pad 1, VQPVZP+size(8)"}},
    };
    for (const Case& c : cases) {
        Image image(reference::Document(c.size, 2));
        TraceCapture trace;
        ASSERT_EQ(Encrypt(image, c.size, header.data(), static_cast<int>(header.size())), 1);
        EXPECT_EQ(trace.Lines(), c.lines) << c.size;
    }
}

// ARIA and ATE run in the outside crypto library. Where it cannot be bound
// they answer -1: the body stops at its first piece and the call fails
// cleanly. Where it can, the containers read back.
TEST(MemoryWriter, OutsideCiphersFailCleanlyOrReadBack)
{
    RegistrySandbox registry;
    Bytes header = kHeader;
    const int n = static_cast<int>(header.size());
    const std::string aria = "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() WATCH! Algorithm ARIA ";
    const std::string shortRead =
        "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Src file Read size is incorrect, nSrcPos=0, ";
    struct Case {
        char tag;
        int algorithm;
        size_t size;
        std::vector<std::string> failureLines;  // after the entry line
    } cases[] = {
        {'A', 1, 100, {aria + "DocSize[100], BufferSize[96], PadSize[4]", shortRead + "nSrcFileSize=100"}},
        {'A', 1, 16, {aria + "DocSize[16], BufferSize[0], PadSize[16]", shortRead + "nSrcFileSize=16"}},
        {'T', 2, 2048, {shortRead + "nSrcFileSize=2048"}},
        {'T', 2, 1030, {shortRead + "nSrcFileSize=1030"}},
    };
    for (const Case& c : cases) {
        Bytes document = reference::Document(c.size, 9);
        Image image(document);
        Bytes prefix = reference::ExtendedPrefix(c.tag);
        TraceCapture trace;
        int resultSize = -1;
        int result = Encrypt(image, c.size, header.data(), n, 2, prefix.data(), &resultSize);
        std::vector<std::string> lines = trace.Lines();
        ASSERT_FALSE(lines.empty());
        lines.erase(lines.begin());  // entry line
        if (!containerfiles::OutsideCipherAvailable(c.algorithm)) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(lines, c.failureLines) << c.tag << c.size;
            EXPECT_EQ(resultSize, -1);
            EXPECT_EQ(image.StoredLength(), static_cast<int32_t>(0xEEEEEEEE));
            EXPECT_TRUE(image.MiddleUntouched());
            EXPECT_TRUE(image.UntouchedFrom(32 + 92 + n + c.size));
            continue;
        }
        ASSERT_EQ(result, 1) << c.tag << c.size;
        if (c.algorithm == 1) {
            EXPECT_EQ(lines.front(), c.failureLines.front());
        }
        Bytes container = image.Container(static_cast<size_t>(resultSize));
        Bytes output(32 + container.size());
        int plainSize = -1;
        ASSERT_EQ(CPVCodec::DecryptMemoryToMemory(container.data(), output.data(), resultSize, &plainSize, Key(),
                                                  92 + n),
                  1);
        ASSERT_EQ(plainSize, static_cast<int>(c.size));
        EXPECT_TRUE(std::equal(document.begin(), document.end(), output.begin() + 32)) << c.tag << c.size;
    }
}

TEST(MemoryWriter, AriaRefusesAnEmptyDocument)
{
    RegistrySandbox registry;
    Image image({});
    const Bytes before = image.bytes;
    Bytes header = kHeader;
    Bytes prefix = reference::ExtendedPrefix('A');
    TraceCapture trace;
    EXPECT_EQ(Encrypt(image, 0, header.data(), static_cast<int>(header.size()), 2, prefix.data()), 0);
    EXPECT_TRUE(image.bytes == before);
    EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ERROR! Algorithm ARIA needs at "
                               "least one byte, nSrcFileSize=0"));
}

// A host may keep its header (and the 92-byte prefix) in the same buffer,
// right after the document: the container still carries them as they were
// when the call began, although the body is written over that place.
TEST(MemoryWriterHeaderInTheBuffer, HeaderAfterTheDocumentIsTakenAsItWas)
{
    const Bytes prefix = reference::ExtendedPrefix('R');
    for (unsigned mode : {0u, 2u})
        for (size_t size : {size_t{200}, size_t{3000}, size_t{300000}}) {  // past the header part
            SCOPED_TRACE("mode " + std::to_string(mode) + ", size " + std::to_string(size));
            const Bytes document = reference::Document(size, 7);
            const Bytes expectedHeader = mode == 2 ? reference::ExtendedHeader(prefix, kHeader)
                                                   : reference::DefaultHeader("VQPVA002", kHeader);
            const Bytes expected =
                reference::Concat(expectedHeader, reference::SegmentedBody(kKey, document));
            // [32][document][header][prefix], with room for the container.
            Bytes image(32 + size + kHeader.size() + prefix.size() + expected.size(), kBeyond);
            std::copy(document.begin(), document.end(), image.begin() + 32);
            char* const header = image.data() + 32 + size;
            char* const prefixCopy = header + kHeader.size();
            std::memcpy(header, kHeader.data(), kHeader.size());
            std::memcpy(prefixCopy, prefix.data(), prefix.size());
            int length = -1;
            ASSERT_EQ(CPVCodec::DoEncryptMemoryToMemory(image.data(), static_cast<int>(size), &length, Key(), header,
                                                        static_cast<int>(kHeader.size()), mode,
                                                        mode == 2 ? prefixCopy : nullptr),
                      1);
            ASSERT_EQ(length, static_cast<int>(expected.size()));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 32));
        }
}

}  // namespace
