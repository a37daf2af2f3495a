// The memory writer and the three readers into memory: one round trip over everything, then bad input.
#include "PVCodec.h"
#include "codec/RjdlEngine.h"
#include "platform/FaultInjection.h"
#include "platform/FileException.h"
#include "support/ContainerFiles.h"
#include "support/ReaderContainers.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using namespace readercontainers;
using Lines = std::vector<std::string>;

namespace {

const std::string kMem = "[PVCodec.dll]CPVCodec::DecryptMemoryToMemory() ";
const std::string kWriter = "[PVCodec.dll]CPVCodec::DoEncryptMemoryToMemory() ";

enum class Reader { Memory, File, File2 };

struct Result {
    int status = -1;
    int size = -1;       // out-argument; -1 when left alone
    int32_t stored = 0;  // first 4 bytes of the output
    Bytes plain;         // `size` bytes from offset 32 on success
    bool clean = true;   // bytes 4..31 and those past the container's length untouched
    Lines lines;
};

std::string Prefix(Reader reader)
{
    const char* const names[] = {"DecryptMemoryToMemory", "DecryptFileToMemory", "DecryptFileToMemory2"};
    return std::string("[PVCodec.dll]CPVCodec::") + names[int(reader)] + "() ";
}

// The memory reader reads an exact-size copy (the sanitizer sees any read past it).
Result Read(Reader reader, const Bytes& container, int offset, const std::string& key = kKey, bool nullBuffer = false,
            const std::string& path = "")
{
    Bytes output(32 + container.size() + 64, kFill);
    char* buffer = nullBuffer ? nullptr : output.data();
    Result r;
    TraceCapture trace;
    if (reader == Reader::Memory) {
        auto source = std::make_unique<char[]>(container.size());  // not null when empty
        std::copy(container.begin(), container.end(), source.get());
        r.status = CPVCodec::DecryptMemoryToMemory(source.get(), buffer, int(container.size()), &r.size, KeyArg(key),
                                                   offset);
    } else {
        WriteBytes(path, std::string(container.begin(), container.end()));
        const HostString wide = HostPath(path);
        r.status = reader == Reader::File ? CPVCodec::DecryptFileToMemory(wide.c_str(), buffer, &r.size, KeyArg(key), offset)
                                          : CPVCodec::DecryptFileToMemory2(wide.c_str(), buffer, &r.size, KeyArg(key), offset);
    }
    r.lines = trace.Lines();
    std::memcpy(&r.stored, output.data(), 4);
    r.clean = std::count(output.begin() + 4, output.begin() + 32, kFill) == 28 &&
              std::count(output.end() - 64, output.end(), kFill) == 64;
    if (r.status == 1 && r.size >= 0)
        r.plain.assign(output.begin() + 32, output.begin() + 32 + r.size);
    return r;
}

Bytes Reference(Form form, const Bytes& document)
{
    const Bytes body = reference::SegmentedBody(kKey, document);
    switch (form) {
    case Form::Default: return reference::Concat(reference::DefaultHeader("VQPVA002", Header()), body);
    case Form::CallerMagic: return reference::Concat(reference::DefaultHeader("VQPVA003", Header()), body);
    case Form::ExtendedR: return reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('R'), Header()), body);
    default: return body;
    }
}

// Written by the memory writer (bare: the reference), matched to the reference, read by each reader.
TEST(MemoryContainers, RoundTripEveryFormSizeAndReader)
{
    RegistrySandbox registry;
    TempDir dir;
    std::vector<size_t> sizes = {0, 1, 15, 16, 17, 1007, 1008, 1023, 1024, 1025, 2032, 2040, 2048, 10256};
    for (Form form : {Form::Bare, Form::Default, Form::CallerMagic, Form::ExtendedR, Form::ExtendedT, Form::ExtendedA}) {
        if (!Available(form))
            continue;
        for (size_t size : sizes) {
            if (form == Form::ExtendedA && size == 0)
                continue;  // refused: see WriterBadInput
            SCOPED_TRACE(std::string(FormName(form)) + " " + std::to_string(size));
            const Bytes document = DocumentOf(size);
            Bytes container = Reference(form, document);
            const int offset = OffsetOf(form);
            if (form != Form::Bare) {
                Image image(document);
                ASSERT_EQ(image.EncryptAs(form), 1);
                EXPECT_TRUE(form > Form::ExtendedR || image.Container() == container);
                container = image.Container();
                EXPECT_EQ(image.Stored(), image.result);
                EXPECT_TRUE(image.Untouched(32 + std::max(container.size(), size)));
                const auto engines = form == Form::ExtendedR ? rjdl::AvailableEngines() : std::span<const rjdl::Engine>();
                for (rjdl::Engine engine : engines) {  // decrypted in place, the document trails the body
                    rjdl::ScopedEngine scope(engine);
                    Bytes here = container;
                    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(here.data(), here.data(), int(here.size()), nullptr, KeyArg(kKey), offset), 1);
                    EXPECT_TRUE(std::equal(document.begin(), document.end(), here.begin() + 32)) << rjdl::EngineName(engine);
                }
            }
            const int body = int(container.size()) - offset;
            for (Reader reader : {Reader::Memory, Reader::File, Reader::File2}) {
                const Result r = Read(reader, container, offset, kKey, false, dir.Path() + "/c.pvc");
                ASSERT_EQ(r.status, 1) << Prefix(reader);
                Bytes expected = document;
                // The file readers take an ARIA body as segmented: whole segments keep the padding.
                if (form == Form::ExtendedA && reader != Reader::Memory && body % 1024 == 0)
                    expected.insert(expected.end(), size_t(body) - size, char(size_t(body) - size));
                EXPECT_TRUE(r.plain == expected) << Prefix(reader);
                EXPECT_EQ(r.stored, reader == Reader::Memory ? int(size) : body) << Prefix(reader);
                EXPECT_TRUE(r.clean) << Prefix(reader);
            }
        }
        if (form == Form::Bare)
            sizes.insert(sizes.end(), {(2u << 20) + 7, 3'000'017});
    }
}

// A body past the size from which the engines write around the caches, on each
// engine: written like the reference, and read back apart and where it lies
// (the extended header is longer than the 32 bytes the document is put at).
TEST(MemoryContainers, BodiesPastTheCachesOnEveryEngine)
{
    RegistrySandbox registry;
    const size_t size = rjdl::kStreamBytes + 1017;
    const Bytes document = DocumentOf(size);
    const Bytes reference = Reference(Form::ExtendedR, document);
    const int offset = OffsetOf(Form::ExtendedR);
    for (rjdl::Engine engine : rjdl::AvailableEngines()) {
        SCOPED_TRACE(rjdl::EngineName(engine));
        rjdl::ScopedEngine scope(engine);
        Image image(document);
        ASSERT_EQ(image.EncryptAs(Form::ExtendedR), 1);
        EXPECT_TRUE(image.Container() == reference);
        Bytes apart(reference.size() + 64, kFill);
        int got = -1;
        Bytes source = reference;
        ASSERT_EQ(CPVCodec::DecryptMemoryToMemory(source.data(), apart.data(), int(source.size()), &got,
                                                  KeyArg(kKey), offset), 1);
        EXPECT_EQ(got, int(size));
        EXPECT_TRUE(std::equal(document.begin(), document.end(), apart.begin() + 32));
        EXPECT_EQ(std::count(apart.end() - 64, apart.end(), kFill), 64);  // the body's length, no more
        ASSERT_EQ(CPVCodec::DecryptMemoryToMemory(source.data(), source.data(), int(source.size()), nullptr,
                                                  KeyArg(kKey), offset), 1);
        EXPECT_TRUE(std::equal(document.begin(), document.end(), source.begin() + 32));
    }
}

TEST(MemoryContainers, WriterBadInputAndTraceLines)
{
    RegistrySandbox registry;
    const std::string entering = kWriter + "WATCH! Entering the Function";
    const std::string shortRead = kWriter + "ERROR! Src file Read size is incorrect, nSrcPos=";
    const Bytes none, prefixA = reference::ExtendedPrefix('A');
    struct Case {
        const char* name;
        size_t size;
        std::string start;  // the document's first bytes
        Bytes header;
        unsigned mode;
        const char* magic;
        int status;
        int resultSize;     // -1: left alone; 0: the reference's size
        Lines lines;        // exact, when given
        std::string line;   // contained, when given
        bool keyless = false;
    };
    const std::vector<Case> cases = {
        // Without a header the size check still subtracts 14 from the body.
        {"bare 0", 0, "", none, 0, nullptr, 0, -1, {}, kWriter + "ERROR! Encrypted file size is incorrect, nEncryptedDocSize=-14, nSrcFileSize=0, nEncHeaderSize=0"},
        {"bare 1", 1, "", none, 0, nullptr, 1, 0, {}, ""}, {"bare 2", 2, "", none, 0, nullptr, 1, 0, {}, ""},
        {"bare 3", 3, "", none, 0, nullptr, 0, -1, {}, kWriter + "ERROR! Encrypted file size is incorrect, nEncryptedDocSize=2, nSrcFileSize=3, nEncHeaderSize=0"},
        {"bare 15", 15, "", none, 0, nullptr, 0, -1, {}, ""}, {"bare 16", 16, "", none, 0, nullptr, 1, 0, {}, ""},
        {"bare 18", 18, "", none, 0, nullptr, 1, 0, {}, ""}, {"bare 19", 19, "", none, 0, nullptr, 0, -1, {}, ""},
        {"bare 1007", 1007, "", none, 0, nullptr, 0, -1, {}, ""}, {"bare 1008", 1008, "", none, 0, nullptr, 1, 0, {}, ""},
        {"bare 1023", 1023, "", none, 0, nullptr, 1, 0, {}, ""}, {"bare 2040", 2040, "", none, 0, nullptr, 1, 0, {}, ""},
        {"bare 1024", 1024, "", none, 0, nullptr, 0, -1, {}, kWriter + "ERROR! Encrypted file size is incorrect, nEncryptedDocSize=1010, nSrcFileSize=1024, nEncHeaderSize=0"},
        // Already a container: more than ten bytes and a magic, with a header only.
        {"VQPVA002, 11 bytes", 11, std::string("VQPVA002\0x", 10), Header(), 0, nullptr, 1, -1, {entering, kWriter + "BAD! Already Encrypted..."}, ""},
        {"VQPVA003, any ninth byte", 40, std::string("VQPVA003\0Z", 10), Header(), 0, nullptr, 1, -1, {}, kWriter + "BAD! Already Encrypted..."},
        {"VQPVA004", 3000, std::string("VQPVA004\0\0", 10), Header(), 0, nullptr, 1, -1, {}, kWriter + "BAD! Already Encrypted..."},
        {"one-byte header", 40, "", Bytes{'h'}, 0, nullptr, 1, 0, {}, ""},
        {"VQPVA002, 10 bytes", 10, std::string("VQPVA002\0x", 10), Header(), 0, nullptr, 1, 0, {}, ""},
        {"ninth byte not zero", 40, std::string("VQPVA0022\0", 10), Header(), 0, nullptr, 1, 0, {}, ""},
        {"lower case", 40, std::string("vqpva002\0\0", 10), Header(), 0, nullptr, 1, 0, {}, ""},
        {"container without header: enciphered again", 1008, std::string("VQPVA002\0\0", 10), none, 0, nullptr, 1, 0, {}, ""},
        // A magic outside mode 1, an unknown mode, mode 1 without a magic: the default form.
        {"magic in mode 0", 3000, "", Header(), 0, "IGNORED", 1, 0, {}, ""}, {"mode 7", 3000, "", Header(), 7, "IGNORED", 1, 0, {}, ""},
        {"mode 1 without magic", 3000, "", Header(), 1, nullptr, 1, 0, {}, ""},
        {"mode 2 without prefix", 100, "", Header(), 2, nullptr, 0, -1, {entering, kWriter + "ERROR! No header prefix for the extended header"}, ""},
        {"size -1", size_t(-1), "", Header(), 0, nullptr, 0, -1, {}, kWriter + "ERROR! Out of memory...nSrcFileSize=-1"},
        {"ARIA, empty", 0, "", Header(), 2, prefixA.data(), 0, -1, {}, kWriter + "ERROR! Algorithm ARIA needs at least one byte, nSrcFileSize=0"},
        {"ARIA, 100", 100, "", Header(), 2, prefixA.data(), 1, -2, {}, kWriter + "WATCH! Algorithm ARIA DocSize[100], BufferSize[96], PadSize[4]"},
        {"null key", 1025, "", Header(), 0, nullptr, 0, -1, {}, shortRead + "1024, nSrcFileSize=1025", true},
        {"null key, three chunks", 2 * 256 * 1024 + 1012, "", Header(), 0, nullptr, 0, -1, {}, shortRead + "524288, nSrcFileSize=525300", true},
        // The trace lines of each body end.
        {"whole segments", 2048, "", Header(), 0, nullptr, 1, 0, {entering}, ""},
        {"padded end", 1025, "", Header(), 0, nullptr, 1, 0, {entering, kWriter + "WATCH! PadEncrypt, nRead=1"}, ""},
        {"trailer", 2040, "", Header(), 0, nullptr, 1, 0, {entering, kWriter + "WATCH! PadEncrypt, nRead=1016", kWriter + "WATCH! Pad 0, nPadBlockSize=8, nRead=1024", kWriter + "WATCH! Pad 1, VQPVZP+size(8)"}, ""},
        {"trailer, null key", 1012 + 1024, "", Header(), 0, nullptr, 0, -1, {}, kWriter + "WATCH! Pad 0, nPadBlockSize=12, nRead=1024", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.magic == prefixA.data() && !Available(Form::ExtendedA))
            continue;
        const bool huge = c.size == size_t(-1);
        Bytes document = reference::Document(huge ? 100 : c.size, 7);
        std::copy(c.start.begin(), c.start.end(), document.begin());
        Image image(document);
        const Bytes before = image.bytes;
        TraceCapture trace;
        EXPECT_EQ(image.Encrypt(c.size, c.header, c.mode, c.magic, c.keyless ? nullptr : KeyArg(kKey)), c.status);
        EXPECT_EQ(c.lines.empty() ? c.lines : trace.Lines(), c.lines);
        EXPECT_TRUE(c.line.empty() || trace.Contains(c.line));
        EXPECT_EQ(c.resultSize == -1 ? image.result : -1, -1);
        if (c.keyless) {  // the header, then the document as it was
            const Bytes header = reference::DefaultHeader("VQPVA002", c.header);
            EXPECT_TRUE(std::equal(header.begin(), header.end(), image.bytes.begin() + 32));
            EXPECT_TRUE(std::equal(image.bytes.begin() + 32 + std::ptrdiff_t(header.size()), image.bytes.end(),
                                   before.begin() + 32 + std::ptrdiff_t(header.size())));
        } else if (c.resultSize == -1) {  // refused as a container: untouched; failed: the length not stored
            EXPECT_TRUE(std::equal(image.bytes.begin(), c.status == 1 ? image.bytes.end() : image.bytes.begin() + 32,
                                   before.begin()));
        } else if (c.resultSize == 0) {
            const Bytes head = c.header.empty() ? Bytes() : reference::DefaultHeader("VQPVA002", c.header);
            EXPECT_TRUE(image.Container() == reference::Concat(head, reference::SegmentedBody(kKey, document)));
            EXPECT_EQ(image.Stored(), image.result);
        }
    }
}

Bytes Damaged(size_t size, size_t cut, int flip = -1)
{
    Bytes document = reference::Document(size, 8);
    document[1023] = 0;  // blocks a cut exposes as last never end in valid padding
    if (size > 1039)
        document[1039] = 0;
    Bytes container = Reference(Form::Default, document);
    if (flip >= 0)
        container[size_t(flip)] ^= 0x40;
    container.resize(container.size() - cut);
    return container;
}

// Each reader's answers to short, cut, altered and odd input, and its trace lines.
TEST(MemoryContainers, ReadersBadInputAndTraceLines)
{
    RegistrySandbox registry;
    TempDir dir;
    const int off = 14 + int(Header().size());
    const Bytes c100 = Reference(Form::Default, DocumentOf(100));
    Bytes trailerLike = DocumentOf(1034), hugeTrailer(10), nine = {'V', 'Q', 'P', 'V', 'A', '0', '0', '4', 0};
    std::memcpy(trailerLike.data() + 1024, "VQPVZP\3\0\0\0", 10);  // a 10-byte tail that looks like the trailer
    std::memcpy(hugeTrailer.data(), "VQPVZP\xff\xff\xff\x7f", 10);
    Bytes defaultA = Reference(Form::Default, DocumentOf(300));
    defaultA[10] = 'A';  // the low byte of N: only the extended form's tag counts
    const Bytes emptyAria = reference::ExtendedHeader(reference::ExtendedPrefix('A'), Header());
    const std::string keyed = kMem + "WATCH! AFTER pvCodec(pKey)";
    const std::string padDecrypt = kMem + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)";
    const Container& c1500 = Make(Form::Default, 1500);
    const Container& c2040 = Make(Form::Default, 2040);
    const Container& c2048 = Make(Form::Default, 2048);
    const Container& big = Make(Form::Default, 5000);
    Bytes tail15 = Make(Form::Default, 1024).bytes;
    tail15.insert(tail15.end(), 15, 'x');
    const std::string missing = dir.Path() + "/no/missing.pvc";  // not even its folder is made
    for (Reader reader : {Reader::Memory, Reader::File, Reader::File2}) {
        const std::string p = Prefix(reader);
        const bool file = reader != Reader::Memory;
        const std::string end = reader == Reader::File ? "DecryptToMemroy()" : "DecryptFileToMemory2()";
        const Lines opened = {p + "WATCH! AFTER if (!pBuffer)", p + "WATCH! AFTER pvCodec(pKey);",
                              p + "WATCH! AFTER while( (nRead=(int)fread(szInBuff, 1, ENC_BUFFER_SIZE, f)) == ENC_BUFFER_SIZE)"};
        const struct Case {
            const char* name;
            Bytes container;
            int offset;
            std::string key;
            int status, size;
            Bytes plain;              // compared when not empty
            Lines lines;              // the last trace lines; the files': all after the entry line when long or failed
            int stored = -1;          // -1: the size on success, else the fill
            bool nullBuffer = false;
            int readers = 1;          // a bit per reader: 1 memory, 2 file, 4 file2
            unsigned failRead = 0;    // the read that meets a file exception (the 12-byte probe, the body)
        } cases[] = {
            {"wrong key, padded end", Reference(Form::Default, DocumentOf(1030)), off, kWrongKey, 0, -1, {}, {kMem + "ERROR! nSizeResult=-7"}},
            {"wrong key, whole segments", Reference(Form::Default, DocumentOf(2048)), off, kWrongKey, 1, 2048, {}, {}},
            {"altered end", Damaged(1100, 0, int(Reference(Form::Default, DocumentOf(1100)).size()) - 1), off, kKey, 0, -1, {}, {}},
            {"trailer removed: the zero fill stays", Damaged(2040, 16), off, kKey, 1, 2048, {}, {}},
            {"trailer cut to 15", Damaged(2040, 1), off, kKey, 1, 2048, {}, {}},
            {"trailer cut to 1", Damaged(2040, 15), off, kKey, 1, 2048, {}, {}},
            {"padded piece cut to 29", Damaged(1050, 3), off, kKey, 0, -1, {}, {}},
            {"padded piece removed", Damaged(1050, 32), off, kKey, 1, 1024, {}, {}},
            {"cut into the segment", Damaged(1050, 40), off, kKey, 0, -1, {}, {}},
            {"offset beyond the end", c100, int(c100.size()) + 1, kKey, 0, -1, {}, {kMem + "WATCH! AFTER nSrcFileSize=" + std::to_string(c100.size()) + ", Encrypted nDocSize=-1"}},
            {"offset at the end", c100, int(c100.size()), kKey, 1, 0, {}, {}, -1, false, 7},
            {"negative offset", c100, -16, kKey, 0, -1, {}, {}},
            {"bare body", reference::SegmentedBody(kKey, DocumentOf(37)), 0, kKey, 1, 37, DocumentOf(37), {}},
            {"nine bytes: the rest of the probe counts as zero", nine, 9, kKey, 1, 0, {}, {}},
            {"trailer recognised by content", Reference(Form::Default, trailerLike), off, kKey, 1, 1021, Bytes(trailerLike.begin(), trailerLike.begin() + 1021), {}},
            {"trailer claiming more than produced", Reference(Form::Default, hugeTrailer), off, kKey, 1, 0, {}, {}},
            {"empty ARIA body lacks its final piece", emptyAria, 92 + int(Header().size()), kKey, 0, -1, {}, {kMem + "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=16, nDocSize=0"}},
            {"default form, byte 10 'A'", defaultA, off, kKey, 1, 300, DocumentOf(300), {}},
            {"'X' tag: Rijndael", reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('X'), Header()), reference::SegmentedBody(kKey, DocumentOf(300))), 92 + int(Header().size()), kKey, 1, 300, DocumentOf(300), {}},
            {"trailer", Reference(Form::Default, DocumentOf(2040)), off, kKey, 1, 2040, DocumentOf(2040),
             {kMem + "WATCH! AFTER nSrcFileSize=2088, Encrypted nDocSize=2064", keyed, "[PVCodec.dll]CPVCodec::DecryptMemroyToMemory() WATCH! Pad 1, VQPVZP+size(8)",
              padDecrypt, kMem + "WATCH! PadDecrypt() nPos=2040, nSizeResult=0", kMem + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=2040"}},
            {"padded end", Reference(Form::Default, DocumentOf(1025)), off, kKey, 1, 1025, DocumentOf(1025),
             {kMem + "WATCH! AFTER nSrcFileSize=1064, Encrypted nDocSize=1040", keyed, padDecrypt,
              kMem + "WATCH! PadDecrypt() nPos=1024, nSizeResult=1", kMem + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=1025"}},
            {"whole segments", Reference(Form::Default, DocumentOf(1024)), off, kKey, 1, 1024, DocumentOf(1024),
             {kMem + "WATCH! AFTER nSrcFileSize=1048, Encrypted nDocSize=1024", keyed, kMem + "WATCH! End of DecryptMemoryToMemory() Decrypted nDocSize=1024"}},
            {"15-byte tail", tail15, off, kKey, 1, 1024, DocumentOf(1024), {}, 1039, false, 6},
            {"offset past the end", c2048.bytes, int(c2048.bytes.size()) + 7, kKey, 0, -1, {}, {p + "WATCH! AFTER Encrypted nDocSize=-7"}, -1, false, 6},
            {"negative offset, files", c100, -1, kKey, 0, -1, {}, {}, -1, false, 6},
            {"missing file", {}, 0, kKey, 0, -1, {}, {p + "WATCH! Fail f=fopen();"}, -1, false, 6},
            {"null buffer", c100, off, kKey, 0, -1, {}, {p + "WATCH! AFTER Encrypted nDocSize=112"}, -1, true, 6},
            {"wrong key, files", c1500.bytes, off, kWrongKey, 0, -1, {}, {p + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)", p + "WATCH! else"}, 1504, false, 6},
            {"trailer, files", c2040.bytes, off, kKey, 1, 2040, DocumentOf(2040),
             {p + "WATCH! AFTER Encrypted nDocSize=2064", opened[0], opened[1], opened[2], p + "WATCH! Pad 1, VQPVZP+size(8)",
              p + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)", p + "WATCH! PadDecrypt() nPos=2040, nSizeResult=0",
              p + "WATCH! End of " + end + " Decrypted nDocSize=2040"}, 2064, false, 6},
            {"whole segments, files", c2048.bytes, off, kKey, 1, 2048, DocumentOf(2048),
             {p + "WATCH! AFTER Encrypted nDocSize=2048", opened[0], opened[1], opened[2], p + "WATCH! End of " + end + " Decrypted nDocSize=2048"}, -1, false, 6},
            {"file exception, probe", big.bytes, off, kKey, 0, -1, {}, {p + "WATCH! AFTER Encrypted nDocSize=5008", p + "ERROR! Unexpected file exception, m_cause=10"}, -1, false, 2, 1},
            {"file exception, body", big.bytes, off, kKey, 0, -1, {}, {p + "WATCH! AFTER Encrypted nDocSize=5008", p + "ERROR! Unexpected file exception, m_cause=10"}, -1, false, 2, 2},
        };
        for (const Case& c : cases) {
            if ((c.readers & (1 << int(reader))) == 0)
                continue;
            SCOPED_TRACE(p + c.name);
            plat::fault::Scope seam;
            if (c.failRead != 0)
                plat::fault::FailNthCall(plat::fault::Op::FileRead, c.failRead, {plat::ERROR_READ_FAULT, plat::CFileException::hardIO});
            const Result r = Read(reader, c.container, c.offset, c.key, c.nullBuffer, c.container.empty() ? missing : dir.Path() + "/c.pvc");
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.size, c.size);
            EXPECT_EQ(r.stored, c.stored != -1 ? c.stored : c.status == 1 ? c.size : 0x5A5A5A5A);
            EXPECT_TRUE(r.clean);
            const size_t common = std::min(r.plain.size(), c.plain.size());  // a prefix where the document was cut
            EXPECT_TRUE(std::equal(c.plain.begin(), c.plain.begin() + std::ptrdiff_t(common), r.plain.begin()));
            ASSERT_FALSE(r.lines.empty());
            EXPECT_EQ(r.lines[0], p + "WATCH! Entering the Function");
            const bool all = file && (c.lines.size() > 2 || (c.status == 0 && c.lines.size() == 1));
            const auto from = all ? r.lines.begin() + 1 : r.lines.end() - std::ptrdiff_t(std::min(c.lines.size(), r.lines.size()));
            EXPECT_EQ(Lines(from, r.lines.end()), c.lines);
        }
    }
    // Without a key the padded end fails too; null buffers are refused after the entry line.
    Bytes c1030 = Reference(Form::Default, DocumentOf(1030)), out(32 + c1030.size());
    int size = -1;
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(c1030.data(), out.data(), int(c1030.size()), &size, nullptr, off), 0);
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(nullptr, out.data(), 100, &size, KeyArg(kKey), 0), 0);
    EXPECT_EQ(CPVCodec::DecryptMemoryToMemory(c1030.data(), nullptr, int(c1030.size()), &size, KeyArg(kKey), off), 0);
    EXPECT_EQ(size, -1);
    EXPECT_EQ(trace.Lines(), Lines(2, kMem + "WATCH! Entering the Function"));
}

}  // namespace
