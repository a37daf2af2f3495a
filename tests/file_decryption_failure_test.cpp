// File decryption meeting resistance: one table of (what goes wrong, result, trace lines, files on disk
// afterwards) for both drivers, with the exact trace and progress of successful calls.
#include "container/ContainerFormat.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "support/DecryptionFixture.h"
#ifndef _WIN32  // RLIMIT_FSIZE
#include "support/FileSizeLimit.h"
#endif

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace decryption;
using readercontainers::Form;
using plat::fault::Op;

namespace {

constexpr int kOffset = 14 + 10;  // the default form with the readers' 10-byte header
enum class Drivers { Both, Full, Streaming };
enum class Target { New, Over };
enum class After { Untouched, Absent, Document };  // the destination afterwards
using enum After;
constexpr int64_t kNone = -1, kDocument = -2, kAny = -3;  // the "~PV" file left
using Lines = std::vector<std::string>;
using V = std::vector<plat::DWORD>;

class DecryptionFailure;
using Step = std::function<void(DecryptionFailure&)>;

struct Case {
    std::string name;
    Drivers drivers;
    Target target;
    Step arrange;
    int result;
    Lines lines;  // in order, each the start of a line, the last one the last line; P: the driver's prefix
    After after;
    int64_t temporary;
    Step verify = {};
    std::optional<V> sleeps = std::nullopt;
    uint64_t limit = 0;  // the process's file size limit during the call (POSIX)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DecryptionFailure : public FileDecryption, public ::testing::WithParamInterface<std::pair<Case, Driver>> {
public:
    void SetContainer(const Bytes& bytes, int offset = kOffset)
    {
        m_source = bytes;
        m_offset = offset;
        Put(bytes);
    }
    void UseForm(Form form, size_t size)
    {
        m_form = form;
        if (!readercontainers::Available(form))
            return;
        const auto& container = readercontainers::Make(form, size);
        m_document = readercontainers::DocumentOf(size);
        SetContainer(container.bytes, container.offset);
    }
    std::string Expand(std::string line) const
    {
        if (line.rfind("P", 0) == 0)
            line = Prefix(GetParam().second) + line.substr(1);
        for (const auto& [mark, path] : {std::pair{"<D>", Path("doc.txt")}, {"<S>", Path("doc.pvc")}})
            if (size_t at = line.find(mark); at != std::string::npos)
                line.replace(at, 3, path);
        return line;
    }

    Form m_form = Form::Default;
    Bytes m_document = readercontainers::DocumentOf(3000);
    Bytes m_source;
    int m_offset = kOffset;
    std::string m_key = readercontainers::kKey;
    bool m_exact = false;  // the lines are all the lines after the entry line
    std::optional<plat::CFile> m_holder;
    ProgressWindow m_window;
};

Step Fail(Op op, unsigned nth, plat::DWORD error = plat::ERROR_ACCESS_DENIED, unsigned count = 1, int cause = -1)
{
    return [=](DecryptionFailure&) { plat::fault::FailCalls(op, nth, count, {error, cause}); };
}
Step operator+(Step a, Step b)
{
    return [=](DecryptionFailure& f) {
        a(f);
        b(f);
    };
}
Step In(Form form, size_t size)
{
    return [=](DecryptionFailure& f) { f.UseForm(form, size); };
}
// An ARIA body of 0 bytes has no final piece: nothing is read and the missing 16 bytes fail the size check.
const Step kAriaHeaderOnly = [](DecryptionFailure& f) {
    f.UseForm(Form::ExtendedA, 100);
    f.SetContainer(Bytes(f.m_source.begin(), f.m_source.begin() + f.m_offset), f.m_offset);
};
const Step kExact = [](DecryptionFailure& f) { f.m_exact = true; };
const Step kWrongKey = [](DecryptionFailure& f) { f.m_key = readercontainers::kWrongKey; };
Step Tail(int extra)
{
    return [=](DecryptionFailure& f) {
        f.UseForm(Form::Default, 1024);
        Bytes container = f.m_source;
        container.insert(container.end(), static_cast<size_t>(extra), 'x');
        f.SetContainer(container);
    };
}
// A document ending in "VQPVZP", z = 3 pad-encrypts to one piece after a segment: taken for the trailer.
const Step kTrailerByContent = [](DecryptionFailure& f) {
    Bytes document = readercontainers::DocumentOf(1034);
    const char tail[10] = {'V', 'Q', 'P', 'V', 'Z', 'P', 3, 0, 0, 0};
    std::memcpy(document.data() + 1024, tail, sizeof tail);
    f.SetContainer(reference::Concat(reference::DefaultHeader("VQPVA002", readercontainers::Header()),
                                     reference::SegmentedBody(readercontainers::kKey, document)));
    f.m_document.assign(document.begin(), document.begin() + 1021);
};
Step Progress(std::vector<int> percents)
{
    return [=](DecryptionFailure& f) { EXPECT_EQ(f.m_window.Percents(), percents); };
}
const Step kDone = [](DecryptionFailure& f) {
    ASSERT_FALSE(f.m_window.Percents().empty());
    EXPECT_EQ(f.m_window.Percents().back(), 100);
};
// The destination is held by someone else right after its removal; the hold ends during the third wait.
const Step kMomentaryLock = [](DecryptionFailure& f) {
    plat::fault::SetHook([&f, sleeps = std::make_shared<int>(0)](std::string_view point) {
        const std::string destination = f.Expand("<D>");
        if (point == plat::hook::kDestinationRemoved) {
            f.m_holder.emplace(Wide(destination).c_str(),
                               plat::CFile::modeCreate | plat::CFile::modeWrite | plat::CFile::shareExclusive);
        } else if (point == plat::hook::kSleep && ++*sleeps == 3) {
            f.m_holder.reset();
            ::unlink(destination.c_str());
        }
    });
};
const Step kReadOnlyDestination = [](DecryptionFailure& f) { ::chmod(f.Expand("<D>").c_str(), 0444); };
const Step kStillReadOnly = [](DecryptionFailure& f) { EXPECT_EQ(ModeOf(f.Expand("<D>")) & 0222, 0u); };
const Step kWrittenIn2039 = [](DecryptionFailure& f) { PutTimes(f.Expand("<S>"), 1'700'000'000, 2'200'000'000); };
const Step kTimeNotCarried = [](DecryptionFailure& f) { EXPECT_LT(WriteTimeOf(f.Expand("<D>")), 2'145'916'800); };

const std::string kMove = "[PVCodec.dll] WATCH! i=";
const std::string kGood = "PGOOD! End of the function";
const std::string kGood2 = "[PVCodec.dll]CPVCodec::DecryptFile2() GOOD! End of the function";
const Drivers B = Drivers::Both, F = Drivers::Full, S = Drivers::Streaming;
const Target N = Target::New, O = Target::Over;

const Case kCases[] = {
    {"ShortTail1", F, N, Tail(1), 0,
     {"PERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=1025"}, Absent, kDocument},
    {"ShortTail15", F, N, Tail(15), 0,
     {"PERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=1039"}, Absent, kDocument},
    {"ShortTail1Dropped", S, N, Tail(1), 1, {kGood}, Document, kNone},
    {"ShortTail15Dropped", S, N, Tail(15), 1, {kGood}, Document, kNone},
    {"TrailerByContent", F, N, kTrailerByContent, 1, {"PWATCH! Pad 1, nSizeResult(10) VQPVZP+size(3) total(1021)",
     kGood}, Document, kNone},
    {"TrailerByContent", S, N, kTrailerByContent, 1, {"PWATCH! Pad 1, VQPVZP+size(3)", kGood}, Document, kNone},
    {"SourceShorterThanTheOffset", B, N, [](DecryptionFailure& f) { f.m_offset = 3033; }, 0,
     {"PERROR! encrypted doc size is too small nDocSize=-1, nOffsetToMain=3033"}, Absent, kNone},
    {"NegativeOffset", B, N, [](DecryptionFailure& f) { f.m_offset = -1; }, 0,
     {"PERROR! nOffsetToMain is negative, nOffsetToMain=-1"}, Absent, kNone},
    {"NoTemporaryName", B, N, Fail(Op::GetTempFileNameW, 1), 0, {"PBAD! Fail GetTempFileName path="}, Absent, kNone},
    {"TemporaryFileRefused", B, N, Fail(Op::FileOpen, 2), 0, {"PBAD! tmpDest file open fail path="}, Absent, kNone},
    {"MissingSource", B, N, [](DecryptionFailure& f) { ::unlink(f.Expand("<S>").c_str()), f.m_source.clear(); }, 0,
     {"PBAD! src file open fail path=<S>", "CODE=2, MSG="}, Absent, kNone},
    // A wrong key: the older destination stays, the temporary file with it, and no 100 after the segments.
    {"WrongKey", B, O, In(Form::Default, 1500) + kWrongKey + kExact, 0,
     {"PERROR! padDecrypt fail nRead=480, nSizeResult=-"}, Untouched, kAny, Progress({68})},
    // A full disk; the full driver writes only after the body, so the segments' percents came first.
    {"DiskFullInTheSegments", S, O, Fail(Op::FileWrite, 1, plat::ERROR_DISK_FULL), 0,
     {"PERROR! Temp Dest File Write Fail"}, Untouched, kAny, Progress({100})},
    {"DiskFullInThePadding", S, O, In(Form::Default, 500) + Fail(Op::FileWrite, 1, plat::ERROR_DISK_FULL), 0,
     {"PERROR! Padding Temp Dest File Write Fail"}, Untouched, kAny, Progress({100})},
    {"DiskFullAria", S, O, In(Form::ExtendedA, 3000) + Fail(Op::FileWrite, 1, plat::ERROR_DISK_FULL), 0,
     {"PERROR! Temp Dest File Write Fail"}, Untouched, kAny, Progress({100})},
    // Past the first window and the first 16 MiB piece: a call that ends before the writes leaves its temporary
    // file empty, a failure in the second piece is the write's, and a trailer still cuts the end.
    {"WrongKeyLeavesNothingBehind", F, O, In(Form::Default, 300 * 1024 + 500) + kWrongKey, 0,
     {"PERROR! padDecrypt fail nRead="}, Untouched, 0},
    {"DiskFullInTheSecondPiece", F, O, In(Form::Default, (17 << 20) + 500) + Fail(Op::FileWrite, 2,
     plat::ERROR_DISK_FULL), 0, {"PERROR! Dest File Write Fail, m_cause=13"}, Untouched, kNone, kDone},
    {"TrailerAfterManyWindows", F, N, In(Form::Default, 300 * 1024 + 1016), 1,
     {"PWATCH! Pad 1, nSizeResult(15) VQPVZP+size(8) total(308216)", kGood}, Document, kNone},
    {"DiskFull", F, O, Fail(Op::FileWrite, 1, plat::ERROR_DISK_FULL), 0, {"PERROR! Dest File Write Fail, m_cause=13"},
     Untouched, kNone, Progress({34, 68, 100})},
    {"DiskFullAria", F, O, In(Form::ExtendedA, 3000) + Fail(Op::FileWrite, 1, plat::ERROR_DISK_FULL), 0,
     {"PERROR! Dest File Write Fail, m_cause=13"}, Untouched, kNone, Progress({100})},
#ifndef _WIN32  // RLIMIT_FSIZE
    // The same for real, past the process's file size limit.
    {"LimitInTheSegments", S, O, {}, 0, {"PERROR! Temp Dest File Write Fail"}, Untouched, 1500, kDone, std::nullopt,
     1500},
    {"LimitInTheTail", S, O, {}, 0, {"PERROR! Padding Temp Dest File Write Fail"}, Untouched, 2048, kDone, std::nullopt,
     2048},
    {"Limit", F, O, {}, 0, {"PERROR! Dest File Write Fail, m_cause="}, Untouched, kNone, kDone, std::nullopt, 1500},
    {"LimitInTheSecondPiece", F, O, In(Form::Default, (17 << 20) + 500), 0, {"PERROR! Dest File Write Fail, m_cause="},
     Untouched, kNone, kDone, std::nullopt, (16 << 20) + 1000},
#endif
    {"RenameWaitsOutAMomentaryLock", B, O, kMomentaryLock, 1, {"PERROR! Fail CFile::Rename(), m_cause=",
     kMove + "0, Sleep and MoveFile", kMove + "1, Sleep and MoveFile", kMove + "2, Sleep and MoveFile",
     "[PVCodec.dll] GOOD! MoveFile Success", kGood}, Document, kNone, {}, V{1000, 1000, 1000}},
    {"RenameFailsThroughout", B, O, Fail(Op::FileRename, 1, plat::ERROR_SHARING_VIOLATION) + Fail(Op::MoveFileW, 1,
     plat::ERROR_SHARING_VIOLATION, 5), 0, {"PERROR! Fail MoveFile()"}, Absent, kDocument, {}, V(5, 1000)},
    {"DestinationRemovalFails", B, O, kReadOnlyDestination + Fail(Op::FileRemove, 1), 0,
     {"PERROR! Dest Path remove fail szShortDestPath=<D>"}, Untouched, kDocument, kStillReadOnly},
    {"TimesOutOfRange", B, N, kWrittenIn2039, 1, {"PBAD! File Time is out of range, szShortSrcPath=<S>", kGood},
     Document, kNone, kTimeNotCarried},
    // A read that throws where no step catches it: the host gets 0, and the partial temporary file goes.
    {"UnexpectedFileException", S, O, Fail(Op::FileRead, 3, plat::ERROR_READ_FAULT, 1, plat::CFileException::hardIO), 0,
     {"PERROR! Unexpected file exception, m_cause=10"}, Untouched, kNone},
    // The large read refused for lack of resources: DecryptFile2 takes over; any other read failure is a short read.
    {"LargeReadRefused", F, N, Fail(Op::FileRead, 2, plat::ERROR_NO_SYSTEM_RESOURCES), 1, {kGood2}, Document, kNone},
    // Without its images DecryptFileW is DecryptFile2, with or without the right key.
    {"NoBodyImage", F, N, In(Form::Default, 1500) + Fail(Op::CoTaskMemAlloc, 1, plat::ERROR_NOT_ENOUGH_MEMORY), 1,
     {"PERROR! Out of memory for 1504 Bytes", kGood2}, Document, kNone},
    {"NoDocumentImage", F, N, In(Form::Default, 1500) + Fail(Op::CoTaskMemAlloc, 2, plat::ERROR_NOT_ENOUGH_MEMORY), 1,
     {"PERROR! Out of memory for 1504 Bytes", kGood2}, Document, kNone},
    {"NoImageWrongKey", F, O, In(Form::Default, 1500) + kWrongKey + Fail(Op::CoTaskMemAlloc, 1,
     plat::ERROR_NOT_ENOUGH_MEMORY), 0, {"PERROR! Out of memory for 1504 Bytes",
     "[PVCodec.dll]CPVCodec::DecryptFile2() ERROR! padDecrypt fail nRead=480"}, Untouched, 1024},
    {"OtherReadFailure", F, N, Fail(Op::FileRead, 2, plat::ERROR_READ_FAULT), 0, {"PERROR! read fail"}, Absent, 0},
    // Successful calls, exactly, and their progress (which follows the body's length).
    {"Trailer", F, N, In(Form::Default, 2040) + kExact, 1, {"PWATCH! Pad 1, nSizeResult(15) VQPVZP+size(8) total(2040)",
     "PWATCH! nDestPos(2040) nBlock(0), nPad(2040) ", kGood}, Document, kNone},
    {"Trailer", S, N, In(Form::Default, 2040) + kExact, 1, {"PWATCH! Pad 1, VQPVZP+size(8)", kGood}, Document, kNone},
    {"AriaBodyOfNothing", F, N, kAriaHeaderOnly + kExact, 0,
     {"PWATCH! Algorithm ARIA DocSize[0],BufferSize[-16],PadSize[16]", "PWATCH! nDestPos(0) nBlock(0), nPad(0) ",
      "PERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=16, nDocSize=0"}, Absent, kAny},
    {"AriaBodyOfNothing", S, N, kAriaHeaderOnly + kExact, 0,
     {"PWATCH! Algorithm ARIA DocSize[0],BufferSize[-16],PadSize[16]",
      "PERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=16, nDocSize=0"}, Absent, kAny},
    {"AriaBody", F, N, In(Form::ExtendedA, 3000) + kExact, 1,
     {"PWATCH! Algorithm ARIA DocSize[3008],BufferSize[2992],PadSize[16]",
     "PWATCH! nDestPos(3000) nBlock(0), nPad(3000) ", kGood}, Document, kNone, Progress({100})},
    {"AriaBody", S, N, In(Form::ExtendedA, 3000) + kExact, 1,
     {"PWATCH! Algorithm ARIA DocSize[3008],BufferSize[2992],PadSize[16]", kGood}, Document, kNone, Progress({100})},
    {"Body10256", B, N, In(Form::Default, 10245), 1, {kGood}, Document, kNone, Progress({9, 19, 29, 39, 49, 59, 69, 79,
     89, 99, 100})},
    {"Body10240", B, N, In(Form::Bare, 10240), 1, {kGood}, Document, kNone, Progress({10, 20, 30, 40, 50, 60, 70, 80,
     90, 100})},
};

std::vector<std::pair<Case, Driver>> Cases()
{
    std::vector<std::pair<Case, Driver>> cases;
    for (const Case& c : kCases) {
        if (c.drivers != Drivers::Streaming)
            cases.push_back({c, kFull});
        if (c.drivers != Drivers::Full)
            cases.push_back({c, kStreaming});
    }
    return cases;
}

TEST_P(DecryptionFailure, ResultTraceAndFiles)
{
    const auto& [c, driver] = GetParam();
    SetContainer(readercontainers::Make(Form::Default, 3000).bytes);
    const std::string destination = Path("doc.txt");
    if (c.target == Target::Over)
        WriteBytes(destination, "older");
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    if (c.arrange)
        c.arrange(*this);
    if (!readercontainers::Available(m_form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    int result = -1;
    {
#ifndef _WIN32
        std::optional<FileSizeLimit> limit;
        if (c.limit != 0)
            limit.emplace(c.limit);
#endif
        result = Run(driver, Path("doc.pvc"), destination, m_offset, m_key, m_window.Handle());
    }
    plat::fault::SetHook(nullptr);
    EXPECT_EQ(result, c.result);

    auto at = m_lines.begin();
    for (const std::string& line : c.lines) {
        const std::string want = Expand(line);
        at = std::find_if(at, m_lines.end(), [&](const std::string& l) { return l.rfind(want, 0) == 0; });
        ASSERT_NE(at, m_lines.end()) << "not traced in order: " << want;
        ++at;
    }
    EXPECT_EQ(at, m_lines.end()) << "the last line: " << m_lines.back();
    if (m_exact) {
        ASSERT_EQ(m_lines.size(), c.lines.size() + 1);
        EXPECT_EQ(m_lines[0].rfind(Prefix(driver) + "WATCH! Entering the Function V2, tmpDestPath=" + Path("~PV"), 0),
                  0u);
    }
    EXPECT_EQ(plat::fault::Sleeps(), c.sleeps.value_or(plat::fault::Sleeps()));

    EXPECT_TRUE((Exists(Path("doc.pvc")) ? Contents(Path("doc.pvc")) : Bytes{}) == m_source) << "the source stays";
    const Bytes older = {'o', 'l', 'd', 'e', 'r'};
    const bool olderStays = c.after == After::Untouched && c.target == Target::Over;
    const Bytes after = c.after == After::Document ? m_document : olderStays ? older : Bytes{};
    EXPECT_EQ(Exists(destination), c.after == After::Document || olderStays);
    EXPECT_TRUE(Contents(destination) == after);
    const std::vector<std::string> temps = Temporaries();
    if (c.temporary != kAny) {
        ASSERT_EQ(temps.size(), c.temporary == kNone ? 0u : 1u);
        if (c.temporary == kDocument) {
            EXPECT_TRUE(Contents(temps[0]) == m_document);
        } else if (c.temporary >= 0) {
            EXPECT_EQ(static_cast<int64_t>(Contents(temps[0]).size()), c.temporary);
        }
    }
    EXPECT_LE(temps.size(), 1u);
    if (c.verify)
        c.verify(*this);
}

INSTANTIATE_TEST_SUITE_P(Steps, DecryptionFailure, ::testing::ValuesIn(Cases()), [](const auto& info) {
    return info.param.first.name + (info.param.second.full ? "_Full" : "_Streaming");
});

class Decryption : public FileDecryption, public ::testing::WithParamInterface<Driver> {};

// The tag at byte 10 counts only after "VQPVA004" and a zero byte.
TEST_P(Decryption, CipherComesFromTheTagOnlyAfterTheExtendedMagic)
{
    const Bytes document = readercontainers::DocumentOf(3000), header(65, 'h');  // N = 65: 'A' at byte 10
    const Bytes body = reference::SegmentedBody(readercontainers::kKey, document);
    const std::string aria = Prefix(GetParam()) + "WATCH! Algorithm ARIA DocSize[3008],BufferSize[2992],PadSize[16]";
    for (const char* magic : {"VQPVA002", "VQPVA004"}) {
        const std::string plain = Path(std::string(magic) + ".txt");
        const int result = Run(GetParam(), Put(reference::Concat(reference::DefaultHeader(magic, header), body)), plain,
                               14 + 65);
        EXPECT_EQ(Traced(aria), magic[7] == '4');
        EXPECT_EQ(result == 1 && Contents(plain) == document, magic[7] == '2');
    }
}

// A source held without sharing: in place (the same path whatever the case) it is tried three times.
TEST_P(Decryption, InPlaceOpenComparesPathsWithoutRegardToCase)
{
    const Driver& driver = GetParam();
    const std::string source = Put(readercontainers::Make(Form::Default, 100).bytes, "doc.pvc");
    const std::string attempt = driver.full ? "[PVCodec.dll]CPVCodec::DecryptFile() BAD! Source open fail"
                                            : "[PVCodec.dll]CPVCodec::DecryptFile2DecryptFile() BAD! Source open fail";
    for (const std::string& destination : {Path("DOC.PVC"), Path("Doc.Pvc"), Path("other.txt")}) {
        const size_t tries = destination != Path("other.txt") ? 3 : 0;
        plat::CFile holder(Wide(source).c_str(), plat::CFile::modeRead | plat::CFile::shareExclusive);
        plat::fault::Scope seam;
        plat::fault::UseVirtualClock(true);
        EXPECT_EQ(Run(driver, source, destination, kOffset), 0);
        EXPECT_EQ(static_cast<size_t>(std::count(m_lines.begin(), m_lines.end(), attempt)), tries) << destination;
        EXPECT_EQ(plat::fault::Sleeps().size(), tries);
        ASSERT_GE(m_lines.size(), 2u);
        EXPECT_EQ(m_lines[m_lines.size() - 2], Prefix(driver) + "BAD! src file open fail path=" + source);
        EXPECT_EQ(m_lines.back().rfind("CODE=11, MSG=", 0), 0u) << m_lines.back();
        EXPECT_TRUE(Temporaries().empty());
    }
}

// Documents are 32-bit: a (sparse) container whose body is 2 GiB is refused before anything on disk is touched.
TEST_P(Decryption, BodiesOf2GiBAreRefused)
{
    const std::string source = Put(Bytes{}, "huge.pvc");
    std::filesystem::resize_file(source, (uint64_t{1} << 31) + kOffset);
    const std::string older = Put(Bytes{'o', 'l', 'd'}, "older.txt");
    const std::string refused =
        Prefix(GetParam()) + "ERROR! encrypted doc size is too large nDocSize=2147483648, nOffsetToMain=" + std::to_string(kOffset);
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    std::vector<std::string> points;  // no temporary made, nothing waited for
    plat::fault::SetHook([&](std::string_view point) { points.emplace_back(point); });
    for (const std::string& destination : {older, source}) {
        EXPECT_EQ(Run(GetParam(), source, destination, kOffset), 0);
        EXPECT_EQ(m_lines.back(), refused) << destination;
    }
    EXPECT_EQ(points, std::vector<std::string>{});
    EXPECT_TRUE(plat::fault::Sleeps().empty());
    EXPECT_EQ(std::filesystem::file_size(source), (uint64_t{1} << 31) + kOffset);
    EXPECT_EQ(Contents(older), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(Temporaries().empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, Decryption, ::testing::Values(kFull, kStreaming),
                         [](const auto& info) { return std::string(info.param.name); });

// A wrong key, for each cipher and every reader: result 0, the container as it was, no destination made or
// replaced, and the "~PV" file left. The documents end in a padded piece, whose check this key fails.
class WrongKey : public FileDecryption, public ::testing::WithParamInterface<Form> {};

TEST_P(WrongKey, EveryReaderFailsAndLeavesTheContainerAsItWas)
{
    const Form form = GetParam();
    const std::string& wrong = readercontainers::kWrongKey;
    if (!readercontainers::Available(form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    // A final piece alone, a segment and a padded tail, and a zero-filled last segment with the trailer.
    for (size_t size : {size_t{100}, size_t{1500}, size_t{form == Form::ExtendedA ? 3000u : 2040u}}) {
        const readercontainers::Container& container = readercontainers::Make(form, size);
        const int64_t body = static_cast<int64_t>(container.bytes.size()) - container.offset;
        for (const Driver& driver : {kFull, kStreaming, kForwarding}) {
            // Left: an ARIA body's block part, the segments DecryptFile2 wrote, nothing from DecryptFileW.
            const int64_t segments = body / container::ENC_BUFFER_SIZE * container::ENC_BUFFER_SIZE;
            const int64_t left = form == Form::ExtendedA ? body - 16 : driver.full ? 0 : segments;
            for (const std::string target : {"new", "over", "in_place"}) {
                SCOPED_TRACE(testing::Message() << size << " " << driver.name << " " << target);
                const std::string source = Put(container.bytes);
                const std::string destination = target == "in_place" ? source : Path("doc.txt");
                if (target == "over")
                    WriteBytes(destination, "older");
                EXPECT_EQ(Run(driver, source, destination, container.offset, wrong), 0);
                EXPECT_TRUE(Contents(source) == container.bytes);
                EXPECT_EQ(target == "in_place" || Exists(destination), target != "new");
                EXPECT_EQ(target == "over" ? ReadBytes(destination) : "", target == "over" ? "older" : "");
                containerfiles::ExpectTemporaryAndRemove(m_dir.Path(), left);
                ::unlink(Path("doc.txt").c_str());
            }
        }
        // The readers into memory; those from a file store the body length before they decrypt.
        const HostString path = HostPath(Put(container.bytes));
        for (int reader = 0; reader < 3; ++reader) {
            SCOPED_TRACE(testing::Message() << size << " memory reader " << reader);
            Bytes source = container.bytes, output(32 + container.bytes.size(), char{0x5A});
            int written = -1;
            char* key = readercontainers::KeyArg(wrong);
            const int o = container.offset, n = static_cast<int>(source.size());
            char* out = output.data();
            EXPECT_EQ(reader == 0   ? CPVCodec::DecryptFileToMemory(path.c_str(), out, &written, key, o)
                      : reader == 1 ? CPVCodec::DecryptFileToMemory2(path.c_str(), out, &written, key, o)
                                    : CPVCodec::DecryptMemoryToMemory(source.data(), out, n, &written, key, o),
                      0);
            EXPECT_EQ(written, -1);  // set only on success
            int32_t stored = 0;
            std::memcpy(&stored, output.data(), 4);
            EXPECT_EQ(stored, reader == 2 ? 0x5A5A5A5A : static_cast<int32_t>(body));
            EXPECT_TRUE(source == container.bytes);
            EXPECT_TRUE(Contents(Path("doc.pvc")) == container.bytes);
            EXPECT_TRUE(Temporaries().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, WrongKey, ::testing::Values(Form::Default, Form::ExtendedA, Form::ExtendedT),
                         [](const auto& info) { return std::string(readercontainers::FormName(info.param)); });

}  // namespace
