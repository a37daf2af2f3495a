// The containers the file writers make: byte-identical between DoEncryptFile
// (to a new path and in place), EncryptFile2, the memory writer and an
// independent construction, for every header form and the document sizes
// where the layout changes; each reads back to the document. ARIA and ATE
// bodies through the outside library's stand-in when it can be bound.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace containerfiles;

namespace {

const Bytes kHeader = {'h', 'e', 'a', 'd', 'e', 'r', '-', 'b', 'y', 't', 'e', 's', 0, 1, 2};

enum class Form { Default, CallerMagic, Extended, Bare };

struct FormCase {
    const char* name;
    Form form;
    unsigned mode;
};

const FormCase kForms[] = {
    {"default", Form::Default, 0},
    {"unknown_mode_acts_as_default", Form::Default, 7},
    {"caller_magic", Form::CallerMagic, 1},
    {"extended", Form::Extended, 2},
    {"bare", Form::Bare, 0},
};

const size_t kSizes[] = {0, 1, 15, 16, 1007, 1008, 1016, 1023, 1024, 1025, 2040, 2048, 10240, (3u << 20) + 1017};

struct Request {
    Bytes header = kHeader;
    Bytes magicOrPrefix;
    unsigned mode = 0;
    bool withHeader = true;

    char* HeaderPointer() { return withHeader ? header.data() : nullptr; }
    int HeaderSize() const { return withHeader ? static_cast<int>(header.size()) : 0; }
    char* Magic() { return magicOrPrefix.empty() ? nullptr : magicOrPrefix.data(); }
    int Offset() const
    {
        if (!withHeader)
            return 0;
        return (mode == 2 ? 92 : 14) + HeaderSize();
    }
};

Request RequestFor(const FormCase& c, char tag = 'R')
{
    Request r;
    r.mode = c.mode;
    switch (c.form) {
    case Form::Default: break;
    case Form::CallerMagic: r.magicOrPrefix = {'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0}; break;
    case Form::Extended: r.magicOrPrefix = reference::ExtendedPrefix(tag); break;
    case Form::Bare: r.withHeader = false; break;
    }
    return r;
}

Bytes ReferenceFor(const FormCase& c, Request& r, const Bytes& document)
{
    Bytes body = reference::SegmentedBody(kKey, document);
    switch (c.form) {
    case Form::Default: return reference::Concat(reference::DefaultHeader("VQPVA002", r.header), body);
    case Form::CallerMagic: return reference::Concat(reference::DefaultHeader("VQPVA003", r.header), body);
    case Form::Extended: return reference::Concat(reference::ExtendedHeader(r.magicOrPrefix, r.header), body);
    case Form::Bare: return body;
    }
    return body;
}

// Without a header the size check still subtracts 14: a Rijndael body must be
// 14 bytes longer than the document, or the document empty.
bool BareBodyPasses(size_t size)
{
    const size_t t = size % 1024;
    return size == 0 || t >= 1008 || (t >= 1 && t % 16 <= 2);
}

// No real waits: the destination probe's 20 ms go by on the virtual clock.
struct VirtualClock {
    VirtualClock() { plat::fault::UseVirtualClock(true); }
    plat::fault::Scope seam;
};

class FileWriters : public ::testing::TestWithParam<FormCase> {
protected:
    RegistrySandbox m_registry;
    TempDir m_dir;
    VirtualClock m_clock;
};

TEST_P(FileWriters, ContainersAreByteIdenticalAndReadBack)
{
    const FormCase& c = GetParam();
    for (size_t size : kSizes) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        Request r = RequestFor(c);
        const Bytes document = reference::Document(size, static_cast<uint32_t>(size));
        const Bytes expected = ReferenceFor(c, r, document);
        const bool passes = c.form != Form::Bare || BareBodyPasses(size);

        const std::string src = m_dir / "plain.doc";
        const std::string dst = m_dir / "new.pvd";
        WriteFile(src, document);
        ASSERT_EQ(CPVCodec::DoEncryptFile(Wide(src).c_str(), Wide(dst).c_str(), Key(), r.HeaderPointer(),
                                          r.HeaderSize(), nullptr, r.mode, r.Magic()),
                  passes ? 1 : 0);
        EXPECT_EQ(FileBytes(src), document) << "the source stays as it was";
        if (passes) {
            EXPECT_EQ(FileBytes(dst), expected);
            EXPECT_EQ(Decrypt(FileBytes(dst), r.Offset()), document);
        } else {
            EXPECT_FALSE(Exists(dst));
        }

        // In place: the same container under the document's own name.
        const std::string inPlace = m_dir / "Report.DOC";
        WriteFile(inPlace, document);
        ASSERT_EQ(CPVCodec::DoEncryptFile(Wide(inPlace).c_str(), Wide(inPlace).c_str(), Key(), r.HeaderPointer(),
                                          r.HeaderSize(), nullptr, r.mode, r.Magic()),
                  passes ? 1 : 0);
        EXPECT_EQ(FileBytes(inPlace), passes ? expected : document);

        // The streaming writer knows the default form (and the bare body) only.
        if (c.form == Form::Default || c.form == Form::Bare) {
            const std::string streamed = m_dir / "streamed.pvd";
            ASSERT_EQ(CPVCodec::EncryptFile2(Wide(src).c_str(), Wide(streamed).c_str(), Key(), r.HeaderPointer(),
                                             r.HeaderSize(), nullptr),
                      passes ? 1 : 0);
            if (passes) {
                EXPECT_EQ(FileBytes(streamed), expected);
            }
            for (const std::string& temp : Temporaries(m_dir.Path()))
                std::remove(temp.c_str());  // a failed streaming call leaves its own
            std::remove(streamed.c_str());
        }

        // The memory writer makes the same bytes (it fails an empty bare body,
        // whose size check it makes with signed numbers).
        if (passes && !(c.form == Form::Bare && size == 0) && size < 20000) {
            EXPECT_EQ(MemoryContainer(document, r.HeaderPointer(), r.HeaderSize(), r.mode, r.Magic()), expected);
        }

        EXPECT_EQ(Temporaries(m_dir.Path()), std::vector<std::string>{});
        std::remove(dst.c_str());
        std::remove(inPlace.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, FileWriters, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

// A caller magic longer than 10 bytes is cut to 10; a shorter one is zero-filled.
TEST(FileWriters, CallerMagicTakesAtMostTenBytes)
{
    RegistrySandbox registry;
    TempDir dir;
    VirtualClock clock;
    const Bytes document = reference::Document(100, 8);
    const std::string src = dir / "plain";
    WriteFile(src, document);
    Request r;
    struct Case {
        const char* magic;
        const char* field;
    } cases[] = {{"ABCDEFGHIJKLMN", "ABCDEFGHIJ"}, {"XY", "XY"}};
    for (const Case& c : cases) {
        const std::string dst = dir / "out";
        std::string magic = c.magic;
        ASSERT_EQ(CPVCodec::EncryptFileEx(Wide(src).c_str(), Wide(dst).c_str(), Key(), r.HeaderPointer(),
                                          r.HeaderSize(), nullptr, 1, magic.data()),
                  1);
        const Bytes expected = reference::Concat(reference::DefaultHeader(c.field, r.header),
                                                 reference::SegmentedBody(kKey, document));
        EXPECT_EQ(FileBytes(dst), expected);
        std::remove(dst.c_str());
    }
}

// ARIA and ATE run in the outside library. Where its stand-in can be bound,
// the file writer makes the memory writer's container and it reads back;
// where it cannot, the call fails cleanly and leaves nothing behind.
TEST(FileWriters, AriaAndAteBodies)
{
    RegistrySandbox registry;
    TempDir dir;
    VirtualClock clock;
    struct Case {
        char tag;
        int algorithm;
        size_t size;
    } cases[] = {{'A', 1, 1}, {'A', 1, 16}, {'A', 1, 17}, {'A', 1, 5000}, {'A', 1, (1u << 20) + 3},
                 {'T', 2, 0}, {'T', 2, 1008}, {'T', 2, 1030}, {'T', 2, 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tag << " " << c.size);
        Request r = RequestFor(kForms[3], c.tag);
        const Bytes document = reference::Document(c.size, 3);
        const std::string src = dir / "plain";
        const std::string dst = dir / "out";
        WriteFile(src, document);
        TraceCapture trace;
        const int result = CPVCodec::EncryptFileEx(Wide(src).c_str(), Wide(dst).c_str(), Key(), r.HeaderPointer(),
                                                   r.HeaderSize(), nullptr, 2, r.Magic());
        if (c.algorithm == 1) {
            const int pad = c.size % 16 == 0 ? 16 : static_cast<int>(c.size % 16);
            EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! Algorithm ARIA DocSize[" +
                                       std::to_string(c.size) + "], BufferSize[" +
                                       std::to_string(c.size - pad) + "], PadSize[" + std::to_string(pad) + "]"));
        }
        if (!OutsideCipherAvailable(c.algorithm) && c.size > 0) {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(Exists(dst));
            EXPECT_EQ(Temporaries(dir.Path()), std::vector<std::string>{});
            continue;
        }
        ASSERT_EQ(result, 1);
        const Bytes container = FileBytes(dst);
        EXPECT_EQ(Decrypt(container, r.Offset()), document);
        EXPECT_EQ(MemoryContainer(document, r.HeaderPointer(), r.HeaderSize(), 2, r.Magic()), container);
        std::remove(dst.c_str());
    }
}

// An empty document has no final piece for the ARIA cut: refused before the
// disk is touched, as the memory writer refuses it.
TEST(FileWriters, AriaRefusesAnEmptyDocument)
{
    RegistrySandbox registry;
    TempDir dir;
    VirtualClock clock;
    Request r = RequestFor(kForms[3], 'A');
    const std::string src = dir / "empty";
    const std::string dst = dir / "existing";
    WriteBytes(src, "");
    WriteBytes(dst, "older");
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::EncryptFileEx(Wide(src).c_str(), Wide(dst).c_str(), Key(), r.HeaderPointer(), r.HeaderSize(),
                                      nullptr, 2, r.Magic()),
              0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Algorithm ARIA "
                                                       "needs at least one byte, nDocSize=0"}));
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"empty", "existing"}));
    EXPECT_EQ(ReadBytes(dst), "older");
}

}  // namespace
