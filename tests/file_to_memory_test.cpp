// The two readers from a container file into memory (DecryptFileToMemory and
// its streaming fallback DecryptFileToMemory2): containers from the memory
// writer written to files read back byte for byte in every form and at the
// sizes where the layout changes; the body length at offset 0; ARIA bodies
// read as segmented bodies; short tails, null arguments, offsets outside the
// file, wrong keys, the fallback when the image cannot be allocated, file
// exceptions kept from the host, and the exact trace lines.
#include "platform/FaultInjection.h"
#include "platform/FileException.h"
#include "platform/WinTypes.h"
#include "support/DecryptionFixture.h"

#include <cstring>
#include <string>
#include <vector>

using readercontainers::Bytes;
using readercontainers::Form;
using readercontainers::KeyArg;
using readercontainers::kKey;

namespace {

enum class Reader { Image, Stream };

const char* ReaderName(Reader reader)
{
    return reader == Reader::Image ? "DecryptFileToMemory" : "DecryptFileToMemory2";
}

constexpr char kFill = static_cast<char>(0x5A);

struct Result {
    int status = -1;
    int size = -1;        // out-argument; -1 when left alone
    int32_t stored = 0;   // first 4 bytes of the output buffer
    Bytes plain;          // `size` bytes from offset 32 on success
    bool middleUntouched = true;
    std::vector<std::string> lines;
};

// The scratch folder and Put of the file decryption tests.
class FileToMemory : public decryption::FileDecryption {
protected:
    static Result Read(Reader reader, const std::string& path, int offset, size_t room,
                       const std::string& key = kKey, bool nullBuffer = false)
    {
        Bytes output(32 + room + 16, kFill);
        const std::u16string wide = Wide(path);
        Result r;
        TraceCapture trace;
        char* buffer = nullBuffer ? nullptr : output.data();
        r.status = reader == Reader::Image
                       ? CPVCodec::DecryptFileToMemory(wide.c_str(), buffer, &r.size, KeyArg(key), offset)
                       : CPVCodec::DecryptFileToMemory2(wide.c_str(), buffer, &r.size, KeyArg(key), offset);
        r.lines = trace.Lines();
        std::memcpy(&r.stored, output.data(), 4);
        for (int i = 4; i < 32; ++i)
            r.middleUntouched = r.middleUntouched && output[i] == kFill;
        if (r.status == 1 && r.size >= 0)
            r.plain.assign(output.begin() + 32, output.begin() + 32 + r.size);
        return r;
    }
};

// ---- Round trips

struct RoundTripCase {
    Reader reader;
    Form form;
    size_t size;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& info)
{
    return std::string(ReaderName(info.param.reader)) + "_" + readercontainers::FormName(info.param.form) + "_" +
           std::to_string(info.param.size);
}

class FileToMemoryRoundTrip : public FileToMemory, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(FileToMemoryRoundTrip, ReadsBackTheDocumentAndStoresTheBodyLength)
{
    const RoundTripCase& c = GetParam();
    if (!readercontainers::Available(c.form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const auto& container = readercontainers::Make(c.form, c.size);
    const std::string path = Put(container.bytes);
    const int bodyLength = static_cast<int>(container.bytes.size()) - container.offset;

    Result r = Read(c.reader, path, container.offset, container.bytes.size());
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(r.size, static_cast<int>(c.size));
    EXPECT_TRUE(r.plain == readercontainers::DocumentOf(c.size));
    EXPECT_EQ(r.stored, bodyLength);
    EXPECT_TRUE(r.middleUntouched);
}

std::vector<RoundTripCase> RoundTripCases()
{
    const size_t sizes[] = {0, 1, 1007, 1008, 1023, 1024, 1025, 2040, 2048, 10256};
    const Form forms[] = {Form::Bare, Form::Default, Form::CallerMagic, Form::ExtendedR, Form::ExtendedT};
    std::vector<RoundTripCase> cases;
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        for (Form form : forms)
            for (size_t size : sizes)
                cases.push_back({reader, form, size});
        // A few MiB once per cipher that these readers read as it was written.
        cases.push_back({reader, Form::Default, (2u << 20) + 7});
        cases.push_back({reader, Form::ExtendedT, (2u << 20) + 7});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FormsAndSizes, FileToMemoryRoundTrip, ::testing::ValuesIn(RoundTripCases()), CaseName);

// An ARIA container holds a whole-document body, but these readers take every
// body as segmented. The outside library carries one chain through all the
// calls of a codec, so the segments and the padded final piece still give the
// document - except when the body is a whole number of segments: then there is
// no final piece to strip the padding, and the 16 padding bytes stay.
TEST_F(FileToMemory, AriaContainersAreReadAsSegmentedBodies)
{
    if (!readercontainers::Available(Form::ExtendedA))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    struct Case {
        size_t size;
        bool keepsPadding;  // the body is a multiple of 1024 bytes
    } cases[] = {{1, false}, {1007, false}, {1008, true}, {1024, false}, {2032, true}, {10256, false}};
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        for (const Case& c : cases) {
            const auto& container = readercontainers::Make(Form::ExtendedA, c.size);
            const int bodyLength = static_cast<int>(container.bytes.size()) - container.offset;
            ASSERT_EQ(bodyLength % 1024 == 0, c.keepsPadding) << c.size;
            Result r = Read(reader, Put(container.bytes), container.offset, container.bytes.size());
            ASSERT_EQ(r.status, 1) << ReaderName(reader) << " " << c.size;
            EXPECT_EQ(r.stored, bodyLength);
            Bytes expected = readercontainers::DocumentOf(c.size);
            if (c.keepsPadding)
                expected.insert(expected.end(), 16, static_cast<char>(16));
            EXPECT_TRUE(r.plain == expected) << ReaderName(reader) << " " << c.size;
        }
    }
}

// ---- Edge cases, for both readers

TEST_F(FileToMemory, TailOfFewerThanSixteenBytesIsCountedAndDropped)
{
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        for (int extra : {1, 15}) {
            auto container = readercontainers::Make(Form::Default, 1024);
            container.bytes.insert(container.bytes.end(), static_cast<size_t>(extra), 'x');
            Result r = Read(reader, Put(container.bytes), container.offset, container.bytes.size());
            ASSERT_EQ(r.status, 1) << ReaderName(reader) << " " << extra;
            EXPECT_EQ(r.size, 1024);
            EXPECT_EQ(r.stored, 1024 + extra);
            EXPECT_TRUE(r.plain == readercontainers::DocumentOf(1024));
        }
    }
}

TEST_F(FileToMemory, OffsetAtTheEndGivesAnEmptyDocument)
{
    const auto& container = readercontainers::Make(Form::Default, 100);
    const std::string path = Put(container.bytes);
    const int length = static_cast<int>(container.bytes.size());
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        Result r = Read(reader, path, length, 16);
        EXPECT_EQ(r.status, 1) << ReaderName(reader);
        EXPECT_EQ(r.size, 0);
        EXPECT_EQ(r.stored, 0);
    }
}

TEST_F(FileToMemory, RefusedCallsLeaveTheOutArgumentAndTheBufferAlone)
{
    const auto& container = readercontainers::Make(Form::Default, 100);
    const std::string path = Put(container.bytes);
    const int length = static_cast<int>(container.bytes.size());
    const int32_t untouched = static_cast<int32_t>(0x5A5A5A5A);
    struct Case {
        const char* name;
        std::string path;
        int offset;
    } cases[] = {
        {"offset past the end", path, length + 1},
        {"negative offset", path, -1},
        {"missing file", m_dir / "missing.pvc", 0},
    };
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        for (const Case& c : cases) {
            Result r = Read(reader, c.path, c.offset, 256);
            EXPECT_EQ(r.status, 0) << ReaderName(reader) << " " << c.name;
            EXPECT_EQ(r.size, -1);
            EXPECT_EQ(r.stored, untouched);
        }
    }
}

TEST_F(FileToMemory, NullBufferFailsAfterReadingTheSize)
{
    const auto& container = readercontainers::Make(Form::Default, 100);
    const std::string path = Put(container.bytes);
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        const std::string prefix = std::string("[PVCodec.dll]CPVCodec::") + ReaderName(reader) + "() ";
        Result r = Read(reader, path, container.offset, 256, kKey, true);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.size, -1);
        EXPECT_EQ(r.lines, (std::vector<std::string>{prefix + "WATCH! Entering the Function",
                                                     prefix + "WATCH! AFTER Encrypted nDocSize=112"}));
    }
}

TEST_F(FileToMemory, NullSizeArgumentIsNotWritten)
{
    const auto& container = readercontainers::Make(Form::Default, 1500);
    const std::u16string path = Wide(Put(container.bytes));
    Bytes output(32 + container.bytes.size());
    EXPECT_EQ(CPVCodec::DecryptFileToMemory(path.c_str(), output.data(), nullptr, KeyArg(kKey), container.offset), 1);
    EXPECT_EQ(CPVCodec::DecryptFileToMemory2(path.c_str(), output.data(), nullptr, KeyArg(kKey), container.offset),
              1);
}

TEST_F(FileToMemory, WrongKeyFailsTheLastPieceAndKeepsTheBodyLength)
{
    const auto& container = readercontainers::Make(Form::Default, 1500);
    const std::string path = Put(container.bytes);
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        const std::string prefix = std::string("[PVCodec.dll]CPVCodec::") + ReaderName(reader) + "() ";
        Result r = Read(reader, path, container.offset, container.bytes.size(), readercontainers::kWrongKey);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.size, -1);
        EXPECT_EQ(r.stored, 1504);
        ASSERT_GE(r.lines.size(), 2u);
        EXPECT_EQ(r.lines[r.lines.size() - 2], prefix + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)");
        EXPECT_EQ(r.lines.back(), prefix + "WATCH! else");
    }
}

// ---- Trace lines

TEST_F(FileToMemory, TraceLines)
{
    const auto& trailer = readercontainers::Make(Form::Default, 2040);
    const auto& whole = readercontainers::Make(Form::Default, 2048);
    const std::string trailerPath = Put(trailer.bytes, "trailer.pvc"), wholePath = Put(whole.bytes, "whole.pvc");
    for (Reader reader : {Reader::Image, Reader::Stream}) {
        const std::string p = std::string("[PVCodec.dll]CPVCodec::") + ReaderName(reader) + "() ";
        const std::string end = reader == Reader::Image ? "DecryptToMemroy()" : "DecryptFileToMemory2()";
        const std::string entering = p + "WATCH! Entering the Function";
        const std::vector<std::string> opened = {
            p + "WATCH! AFTER if (!pBuffer)", p + "WATCH! AFTER pvCodec(pKey);",
            p + "WATCH! AFTER while( (nRead=(int)fread(szInBuff, 1, ENC_BUFFER_SIZE, f)) == ENC_BUFFER_SIZE)"};
        const struct {
            std::string path;
            int offset;
            std::vector<std::string> lines;
        } cases[] = {
            {trailerPath, trailer.offset,
             {entering, p + "WATCH! AFTER Encrypted nDocSize=2064", opened[0], opened[1], opened[2],
              p + "WATCH! Pad 1, VQPVZP+size(8)", p + "WATCH! AFTER pvCodec.PadDecrypt(szInBuff, nRead, szOutBuff)",
              p + "WATCH! PadDecrypt() nPos=2040, nSizeResult=0",
              p + "WATCH! End of " + end + " Decrypted nDocSize=2040"}},
            {wholePath, whole.offset,
             {entering, p + "WATCH! AFTER Encrypted nDocSize=2048", opened[0], opened[1], opened[2],
              p + "WATCH! End of " + end + " Decrypted nDocSize=2048"}},
            {wholePath, static_cast<int>(whole.bytes.size()) + 7, {entering, p + "WATCH! AFTER Encrypted nDocSize=-7"}},
            {m_dir / "missing.pvc", 0, {entering, p + "WATCH! Fail f=fopen();"}},
        };
        for (const auto& c : cases)
            EXPECT_EQ(Read(reader, c.path, c.offset, whole.bytes.size()).lines, c.lines) << ReaderName(reader);
    }
}

// ---- The image reader's fallback and its file exceptions

TEST_F(FileToMemory, WithoutTheImageTheStreamingReaderAnswers)
{
    const auto& container = readercontainers::Make(Form::Default, 2040);
    const std::string path = Put(container.bytes);
    for (const std::string& key : {kKey, readercontainers::kWrongKey}) {
        const Result streamed = Read(Reader::Stream, path, container.offset, container.bytes.size(), key);
        plat::fault::Scope seam;
        plat::fault::FailNthCall(plat::fault::Op::CoTaskMemAlloc, 1, {plat::ERROR_NOT_ENOUGH_MEMORY, -1});
        Result r = Read(Reader::Image, path, container.offset, container.bytes.size(), key);
        EXPECT_EQ(plat::fault::FailedCount(plat::fault::Op::CoTaskMemAlloc), 1u);
        EXPECT_EQ(r.status, streamed.status);
        EXPECT_EQ(r.size, streamed.size);
        EXPECT_EQ(r.stored, streamed.stored);
        EXPECT_TRUE(r.plain == streamed.plain);
        // Its own three lines, then exactly what the streaming reader says.
        ASSERT_EQ(r.lines.size(), streamed.lines.size() + 3);
        EXPECT_EQ(r.lines[0], "[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! Entering the Function");
        EXPECT_EQ(r.lines[1], "[PVCodec.dll]CPVCodec::DecryptFileToMemory() WATCH! AFTER Encrypted nDocSize=2064");
        EXPECT_EQ(r.lines[2], "[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Out of memory for 2064 Bytes");
        EXPECT_TRUE(std::equal(streamed.lines.begin(), streamed.lines.end(), r.lines.begin() + 3));
    }
}

// A file exception never reaches the host: the call ends with 0 and the
// image it held is freed (the leak checker of the sanitizer build watches).
TEST_F(FileToMemory, FileExceptionsEndTheImageReaderWithZero)
{
    const auto& container = readercontainers::Make(Form::Default, 5000);
    const std::string path = Put(container.bytes);
    for (unsigned nth : {1u, 2u}) {  // the 12-byte probe, the body
        plat::fault::Scope seam;
        plat::fault::FailNthCall(plat::fault::Op::FileRead, nth,
                                 {plat::ERROR_READ_FAULT, plat::CFileException::hardIO});
        Result r = Read(Reader::Image, path, container.offset, container.bytes.size());
        EXPECT_EQ(r.status, 0) << nth;
        EXPECT_EQ(r.size, -1);
        EXPECT_EQ(r.stored, static_cast<int32_t>(0x5A5A5A5A));
        ASSERT_FALSE(r.lines.empty());
        EXPECT_EQ(r.lines.back(),
                  "[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Unexpected file exception, m_cause=10");
    }
}

}  // namespace
