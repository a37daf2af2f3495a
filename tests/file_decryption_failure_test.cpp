// File decryption where the body or the disk does not cooperate: what each
// driver returns and which files it leaves (source, destination, "~PV"
// temporaries) for short tails, trailers recognised by content, sources
// shorter than the offset, the cipher tag (wrong keys: the trace test), the
// fallbacks of DecryptFileW, failing writes, renames, removals and opens,
// times out of range, bodies of 2 GiB and more, and exceptions kept from the
// host.
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "support/DecryptionFixture.h"
#include "support/FileSizeLimit.h"

#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace decryption;
using readercontainers::Form;
using plat::fault::Failure;
using plat::fault::Op;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

constexpr int kOffset = 14 + 10;  // default form with the fixtures' 10-byte header

Bytes Document(size_t size)
{
    return readercontainers::DocumentOf(size);
}

const readercontainers::Container& Default(size_t size)
{
    return readercontainers::Make(Form::Default, size);
}

class DecryptionFailure : public FileDecryption, public ::testing::WithParamInterface<Driver> {};

std::string DriverName(const ::testing::TestParamInfo<Driver>& info)
{
    return info.param.name;
}

// ---- The body

// After the full segments, 1 to 15 bytes that make no cipher block.
TEST_P(DecryptionFailure, ShortTailIsDroppedByTheStreamingDriverAndFailsTheFullOne)
{
    const Driver& driver = GetParam();
    for (int extra : {1, 15}) {
        Bytes container = Default(1024).bytes;
        container.insert(container.end(), static_cast<size_t>(extra), 'x');
        const std::string destination = Path("doc" + std::to_string(extra) + ".txt");
        const int result = Run(driver, Put(container), destination, kOffset);
        if (!driver.full) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(Contents(destination) == Document(1024));
            EXPECT_TRUE(Temporaries().empty());
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(m_lines.back(), Prefix(driver) +
                                      "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=" +
                                      std::to_string(1024 + extra));
        EXPECT_FALSE(Exists(destination));
        // The temporary file stays, holding what was decrypted.
        ASSERT_EQ(Temporaries().size(), 1u);
        EXPECT_TRUE(Contents(Temporaries()[0]) == Document(1024));
        ::unlink(Temporaries()[0].c_str());
    }
}

// A document whose last 10 bytes are "VQPVZP" and z = 3 pad-encrypts to one
// 16-byte piece after a full segment: the readers take it for the trailer.
TEST_P(DecryptionFailure, TrailerIsRecognisedByContentAlone)
{
    const Driver& driver = GetParam();
    Bytes document = Document(1034);
    const char tail[10] = {'V', 'Q', 'P', 'V', 'Z', 'P', 3, 0, 0, 0};
    std::memcpy(document.data() + 1024, tail, sizeof tail);
    const Bytes header = readercontainers::Header();
    const Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", header),
                                              reference::SegmentedBody(readercontainers::kKey, document));
    const std::string destination = Path("doc.txt");
    ASSERT_EQ(Run(driver, Put(container), destination, kOffset), 1);
    EXPECT_TRUE(Contents(destination) == Bytes(document.begin(), document.begin() + 1021));
    EXPECT_TRUE(Traced(driver.full ? Prefix(driver) + "WATCH! Pad 1, nSizeResult(10) VQPVZP+size(3) total(1021)"
                                   : Prefix(driver) + "WATCH! Pad 1, VQPVZP+size(3)"));
}

TEST_P(DecryptionFailure, SourceShorterThanTheOffsetLeavesNothing)
{
    const Driver& driver = GetParam();
    const auto& container = Default(100);
    const int length = static_cast<int>(container.bytes.size());
    const std::string destination = Path("doc.txt");
    EXPECT_EQ(Run(driver, Put(container.bytes), destination, length + 1), 0);
    EXPECT_EQ(m_lines.back(), Prefix(driver) + "ERROR! encrypted doc size is too small nDocSize=-1, nOffsetToMain=" +
                                  std::to_string(length + 1));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(Exists(destination));
}

// The tag at byte 10 counts only after "VQPVA004" and a zero byte.
TEST_P(DecryptionFailure, CipherComesFromTheTagOnlyAfterTheExtendedMagic)
{
    const Driver& driver = GetParam();
    const Bytes document = Document(3000);
    const Bytes header(65, 'h');  // N = 65: 'A' at byte 10
    const Bytes body = reference::SegmentedBody(readercontainers::kKey, document);
    const std::string aria = Prefix(driver) + "WATCH! Algorithm ARIA DocSize[3008],BufferSize[2992],PadSize[16]";

    const std::string plain = Path("plain.txt");
    EXPECT_EQ(Run(driver, Put(reference::Concat(reference::DefaultHeader("VQPVA002", header), body), "a.pvc"), plain,
                  14 + 65),
              1);
    EXPECT_TRUE(Contents(plain) == document);
    EXPECT_FALSE(Traced(aria));

    const std::string extended = Path("extended.txt");
    const int result = Run(driver, Put(reference::Concat(reference::DefaultHeader("VQPVA004", header), body), "b.pvc"),
                           extended, 14 + 65);
    EXPECT_TRUE(Traced(aria));
    EXPECT_FALSE(result == 1 && Contents(extended) == document);
}

// ---- Failing steps

struct DecryptionWriteFailureCase {
    const char* name;
    Driver driver;
    Form form;
    size_t size;
    std::string trace;
    std::vector<int> progress;
    bool temporaryStays;
};

class DecryptionWriteFailure : public FileDecryption,
                               public ::testing::WithParamInterface<DecryptionWriteFailureCase> {};

TEST_P(DecryptionWriteFailure, IsTracedAndEndsWithProgressDone)
{
    const DecryptionWriteFailureCase& c = GetParam();
    if (!readercontainers::Available(c.form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const auto& container = readercontainers::Make(c.form, c.size);
    const std::string source = Put(container.bytes);
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    ProgressWindow window;
    plat::fault::Scope seam;
    plat::fault::FailNthCall(Op::FileWrite, 1, {plat::ERROR_DISK_FULL, -1});
    EXPECT_EQ(Run(c.driver, source, destination, container.offset, readercontainers::kKey, window.Handle()), 0);
    EXPECT_EQ(m_lines.back(), Prefix(c.driver) + c.trace);
    EXPECT_EQ(window.Percents(), c.progress);
    EXPECT_EQ(ReadBytes(destination), "older");
    EXPECT_TRUE(Contents(source) == container.bytes);
    EXPECT_EQ(Temporaries().size(), c.temporaryStays ? 1u : 0u);
}

using WriteCase = DecryptionWriteFailureCase;

INSTANTIATE_TEST_SUITE_P(
    Drivers, DecryptionWriteFailure,
    ::testing::Values(
        WriteCase{"streaming_segment", kStreaming, Form::Default, 3000, "ERROR! Temp Dest File Write Fail", {100},
                  true},
        WriteCase{"streaming_padding", kStreaming, Form::Default, 500, "ERROR! Padding Temp Dest File Write Fail",
                  {100}, true},
        WriteCase{"streaming_aria", kStreaming, Form::ExtendedA, 3000, "ERROR! Temp Dest File Write Fail", {100}, true},
        // The full driver writes only after the body: the segments' percents came first.
        WriteCase{"full", kFull, Form::Default, 3000, "ERROR! Dest File Write Fail, m_cause=13", {34, 68, 100}, false},
        WriteCase{"full_aria", kFull, Form::ExtendedA, 3000, "ERROR! Dest File Write Fail, m_cause=13", {100}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The destination is held by someone else right after its removal; the hold
// ends during the third wait. The rename fails, the moves go on until it works.
TEST_P(DecryptionFailure, RenameWaitsOutAMomentaryLock)
{
    const Driver& driver = GetParam();
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    const std::string source = Put(Default(3000).bytes);
    const std::u16string wideDestination = Wide(destination);

    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    std::optional<plat::CFile> holder;
    int sleeps = 0;
    plat::fault::SetHook([&](std::string_view point) {
        if (point == plat::hook::kDestinationRemoved) {
            holder.emplace(wideDestination.c_str(),
                           plat::CFile::modeCreate | plat::CFile::modeWrite | plat::CFile::shareExclusive);
        } else if (point == plat::hook::kSleep && ++sleeps == 3) {
            holder.reset();
            ::unlink(destination.c_str());
        }
    });
    EXPECT_EQ(Run(driver, source, destination, kOffset), 1);
    plat::fault::SetHook(nullptr);

    EXPECT_TRUE(Contents(destination) == Document(3000));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(plat::fault::Sleeps(), (std::vector<plat::DWORD>{1000, 1000, 1000}));
    const std::vector<std::string> tail(m_lines.end() - 6, m_lines.end());
    EXPECT_TRUE(StartsWith(tail[0], Prefix(driver) + "ERROR! Fail CFile::Rename(), m_cause="));
    EXPECT_EQ(std::vector<std::string>(tail.begin() + 1, tail.end()),
              (std::vector<std::string>{"[PVCodec.dll] WATCH! i=0, Sleep and MoveFile",
                                        "[PVCodec.dll] WATCH! i=1, Sleep and MoveFile",
                                        "[PVCodec.dll] WATCH! i=2, Sleep and MoveFile",
                                        "[PVCodec.dll] GOOD! MoveFile Success",
                                        Prefix(driver) + "GOOD! End of the function"}));
}

TEST_P(DecryptionFailure, RenameFailingThroughoutKeepsTheDocumentInTheTemporaryFile)
{
    const Driver& driver = GetParam();
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    plat::fault::FailNthCall(Op::FileRename, 1, {plat::ERROR_SHARING_VIOLATION, -1});
    plat::fault::FailCalls(Op::MoveFileW, 1, 5, {plat::ERROR_SHARING_VIOLATION, -1});
    EXPECT_EQ(Run(driver, Put(Default(3000).bytes), destination, kOffset), 0);
    EXPECT_EQ(m_lines.back(), Prefix(driver) + "ERROR! Fail MoveFile()");
    EXPECT_EQ(plat::fault::Sleeps().size(), 5u);
    EXPECT_FALSE(Exists(destination));
    ASSERT_EQ(Temporaries().size(), 1u);
    EXPECT_TRUE(Contents(Temporaries()[0]) == Document(3000));
}

TEST_P(DecryptionFailure, DestinationRemovalFailingKeepsBothFiles)
{
    const Driver& driver = GetParam();
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    ASSERT_EQ(::chmod(destination.c_str(), 0444), 0);
    plat::fault::Scope seam;
    plat::fault::FailNthCall(Op::FileRemove, 1, {plat::ERROR_ACCESS_DENIED, -1});
    EXPECT_EQ(Run(driver, Put(Default(3000).bytes), destination, kOffset), 0);
    EXPECT_EQ(m_lines.back(), Prefix(driver) + "ERROR! Dest Path remove fail szShortDestPath=" + destination);
    EXPECT_EQ(ReadBytes(destination), "older");
    EXPECT_EQ(ModeOf(destination) & 0222, 0u) << "the destination keeps its read-only attribute";
    ASSERT_EQ(Temporaries().size(), 1u);
    EXPECT_TRUE(Contents(Temporaries()[0]) == Document(3000));
}

TEST_P(DecryptionFailure, TimesOutOfRangeAreNotCarriedOver)
{
    const Driver& driver = GetParam();
    const std::string source = Put(Default(3000).bytes);
    const timespec times[2] = {{1'700'000'000, 0}, {2'200'000'000, 0}};  // written in 2039
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    const std::string destination = Path("doc.txt");
    EXPECT_EQ(Run(driver, source, destination, kOffset), 1);
    EXPECT_TRUE(Traced(Prefix(driver) + "BAD! File Time is out of range, szShortSrcPath=" + source));
    struct stat st{};
    ASSERT_EQ(::stat(destination.c_str(), &st), 0);
    EXPECT_LT(st.st_mtim.tv_sec, 2'145'916'800);
    EXPECT_TRUE(Contents(destination) == Document(3000));
}

// A source held open without sharing: the in-place open (destination equal
// to the source without regard to case) tries three times, a second apart.
TEST_P(DecryptionFailure, InPlaceOpenComparesPathsWithoutRegardToCase)
{
    const Driver& driver = GetParam();
    const std::string source = Put(Default(100).bytes, "doc.pvc");
    const std::u16string wideSource = Wide(source);
    const std::string attempt = driver.full ? "[PVCodec.dll]CPVCodec::DecryptFile() BAD! Source open fail"
                                            : "[PVCodec.dll]CPVCodec::DecryptFile2DecryptFile() BAD! Source open fail";
    for (const std::string& destination : {Path("DOC.PVC"), Path("Doc.Pvc"), Path("other.txt")}) {
        const bool inPlace = destination != Path("other.txt");
        plat::CFile holder(wideSource.c_str(), plat::CFile::modeRead | plat::CFile::shareExclusive);
        plat::fault::Scope seam;
        plat::fault::UseVirtualClock(true);
        EXPECT_EQ(Run(driver, source, destination, kOffset), 0);
        EXPECT_EQ(std::count(m_lines.begin(), m_lines.end(), attempt), inPlace ? 3 : 0) << destination;
        EXPECT_EQ(plat::fault::Sleeps().size(), inPlace ? 3u : 0u);
        ASSERT_GE(m_lines.size(), 2u);
        EXPECT_EQ(m_lines[m_lines.size() - 2], Prefix(driver) + "BAD! src file open fail path=" + source);
        EXPECT_TRUE(StartsWith(m_lines.back(), "CODE=11, MSG=")) << m_lines.back();
        EXPECT_TRUE(Temporaries().empty());
    }
}

// ---- Requests refused before the disk is touched, and exceptions

TEST_P(DecryptionFailure, BodiesOfTwoGibibytesAreRefusedUntouched)
{
    const Driver& driver = GetParam();
    const std::string source = Path("huge.pvc");
    WriteBytes(source, "");
    ASSERT_EQ(::truncate(source.c_str(), (off_t{1} << 31) + kOffset), 0);  // sparse
    plat::fault::Scope seam;
    EXPECT_EQ(Run(driver, source, Path("huge.txt"), kOffset), 0);
    EXPECT_EQ(m_lines, (std::vector<std::string>{Prefix(driver) + "ERROR! encrypted doc size is too large "
                                                                  "nDocSize=2147483648, nOffsetToMain=24"}));
    EXPECT_EQ(plat::fault::CallCount(Op::GetTempFileNameW), 0u);
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(Exists(Path("huge.txt")));
    ::unlink(source.c_str());
}

TEST_P(DecryptionFailure, NegativeOffsetIsRefused)
{
    const Driver& driver = GetParam();
    const std::string source = Put(Default(100).bytes);
    EXPECT_EQ(Run(driver, source, Path("doc.txt"), -1), 0);
    EXPECT_EQ(m_lines,
              (std::vector<std::string>{Prefix(driver) + "ERROR! nOffsetToMain is negative, nOffsetToMain=-1"}));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_FALSE(Exists(Path("doc.txt")));
}

// A read of the source that throws where no step catches it: the host gets
// 0, and the partial temporary file goes.
TEST_F(FileDecryption, UnexpectedFileExceptionEndsTheCallCleanly)
{
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    const std::string source = Put(Default(3000).bytes);
    plat::fault::Scope seam;
    plat::fault::FailNthCall(Op::FileRead, 3, {plat::ERROR_READ_FAULT, plat::CFileException::hardIO});  // 2nd segment
    EXPECT_EQ(Run(kStreaming, source, destination, kOffset), 0);
    EXPECT_EQ(m_lines.back(), "[PVCodec.dll]CPVCodec::DecryptFile2() ERROR! Unexpected file exception, m_cause=10");
    EXPECT_EQ(ReadBytes(destination), "older");
    EXPECT_TRUE(Temporaries().empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, DecryptionFailure, ::testing::Values(kFull, kStreaming), DriverName);

// ---- DecryptFileW's fallbacks

// Without its images DecryptFileW is DecryptFile2: the same result and the
// same files, and no temporary file of its own.
TEST_F(FileDecryption, WithoutImagesTheStreamingDriverAnswers)
{
    const std::string source = Put(Default(1500).bytes);
    for (const std::string& key : {readercontainers::kKey, readercontainers::kWrongKey}) {
        for (unsigned failingAllocation : {1u, 2u}) {
            const int streamed = Run(kStreaming, source, Path("streamed.txt"), kOffset, key);
            const std::vector<std::string> streamedLines = m_lines;
            const size_t streamedTemporaries = Temporaries().size();
            for (const std::string& t : Temporaries())
                ::unlink(t.c_str());

            plat::fault::Scope seam;
            plat::fault::FailNthCall(Op::CoTaskMemAlloc, failingAllocation, {plat::ERROR_NOT_ENOUGH_MEMORY, -1});
            EXPECT_EQ(Run(kFull, source, Path("full.txt"), kOffset, key), streamed);
            EXPECT_EQ(Exists(Path("full.txt")), Exists(Path("streamed.txt")));
            EXPECT_TRUE(Contents(Path("full.txt")) == Contents(Path("streamed.txt")));
            EXPECT_EQ(Temporaries().size(), streamedTemporaries);
            for (const std::string& t : Temporaries())
                ::unlink(t.c_str());
            // Its own two lines, then DecryptFile2's (the temporary name aside).
            ASSERT_EQ(m_lines.size(), streamedLines.size() + 2);
            EXPECT_TRUE(StartsWith(m_lines[0], "[PVCodec.dll]CPVCodec::DecryptFile() WATCH! Entering the Function V2"));
            EXPECT_EQ(m_lines[1], "[PVCodec.dll]CPVCodec::DecryptFile() ERROR! Out of memory for 1504 Bytes");
            EXPECT_TRUE(std::equal(streamedLines.begin() + 1, streamedLines.end(), m_lines.begin() + 3));
            ::unlink(Path("full.txt").c_str());
            ::unlink(Path("streamed.txt").c_str());
        }
    }
}

TEST_F(FileDecryption, ReadRefusedForLackOfSystemResourcesHandsOver)
{
    const std::string source = Put(Default(3000).bytes);
    const std::string destination = Path("doc.txt");
    plat::fault::Scope seam;
    // Call 1 reads the 12 bytes that name the cipher, call 2 the whole body.
    plat::fault::FailNthCall(Op::FileRead, 2, {plat::ERROR_NO_SYSTEM_RESOURCES, -1});
    EXPECT_EQ(Run(kFull, source, destination, kOffset), 1);
    EXPECT_TRUE(Contents(destination) == Document(3000));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(m_lines.back(), "[PVCodec.dll]CPVCodec::DecryptFile2() GOOD! End of the function");
}

TEST_F(FileDecryption, OtherReadFailureOfTheFullDriverIsAShortRead)
{
    const std::string source = Put(Default(3000).bytes);
    const std::string destination = Path("doc.txt");
    plat::fault::Scope seam;
    plat::fault::FailNthCall(Op::FileRead, 2, {plat::ERROR_READ_FAULT, -1});
    EXPECT_EQ(Run(kFull, source, destination, kOffset), 0);
    EXPECT_EQ(m_lines.back(), "[PVCodec.dll]CPVCodec::DecryptFile() ERROR! read fail");
    EXPECT_FALSE(Exists(destination));
    ASSERT_EQ(Temporaries().size(), 1u);
    EXPECT_TRUE(Contents(Temporaries()[0]).empty());
}

// A write that the file system itself refuses (past the process's file size
// limit, as on a full disk) is met where the drivers meet a failed write,
// whatever bytes were still held back for a later system call: the failure
// traced, 100 sent, the streaming driver's partial temporary file left, the
// full driver's deleted, the destination untouched.
TEST_F(FileDecryption, RealWriteFailures)
{
    struct Case {
        const char* name;
        const Driver* driver;
        rlim_t limit;
        std::string line;    // the driver's last line, or its start for the full driver
        int64_t leftBehind;  // bytes of the temporary file left, -1 for none
    } cases[] = {
        {"StreamingSegments", &kStreaming, 1500, "ERROR! Temp Dest File Write Fail", 1500},
        {"StreamingTail", &kStreaming, 2048, "ERROR! Padding Temp Dest File Write Fail", 2048},
        {"Full", &kFull, 1500, "ERROR! Dest File Write Fail, m_cause=", -1},
    };
    const auto& container = Default(3000);
    const std::string source = Put(container.bytes);
    const std::string destination = Path("doc.txt");
    WriteBytes(destination, "older");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgressWindow window;
        int result = -1;
        {
            FileSizeLimit limit(c.limit);
            result = Run(*c.driver, source, destination, container.offset, readercontainers::kKey, window.Handle());
        }
        EXPECT_EQ(result, 0);
        ASSERT_FALSE(m_lines.empty());
        EXPECT_TRUE(StartsWith(m_lines.back(), Prefix(*c.driver) + c.line)) << m_lines.back();
        ASSERT_FALSE(window.Percents().empty());
        EXPECT_EQ(window.Percents().back(), 100);
        EXPECT_EQ(ReadBytes(destination), "older");
        EXPECT_TRUE(Contents(source) == container.bytes);
        containerfiles::ExpectTemporaryAndRemove(m_dir.Path(), c.leftBehind);
    }
}

}  // namespace
