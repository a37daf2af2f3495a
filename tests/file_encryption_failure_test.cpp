// File encryption meeting resistance: one table of (what goes wrong, result, trace lines, files on disk
// afterwards) for both writers, and the exact trace of whole calls. Never a crash, never a lost document.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/Messaging.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32  // a child process holding a file; RLIMIT_FSIZE
#include "support/ChildProcess.h"
#include "support/FileSizeLimit.h"
#endif

using namespace containerfiles;
using namespace plat;

namespace {

using containerfiles::Bytes;

inline const std::string kDo = "[PVCodec.dll]CPVCodec::DoEncryptFile() ";
inline const std::string k2 = "[PVCodec.dll]CPVCodec::EncryptFile2() ";

enum class Writer { Full, Streaming };
inline constexpr Writer kWriters[] = {Writer::Full, Writer::Streaming};

inline const std::string& Prefix(Writer writer)
{
    return writer == Writer::Full ? kDo : k2;
}

class FileEncryption : public ::testing::Test {
public:
    void SetUp() override { Reseat(); }

    // A fresh seam: no plans, no records, the virtual clock.
    void Reseat()
    {
        m_seam.reset();
        m_seam.emplace();
        plat::fault::UseVirtualClock(true);
    }

    // DoEncryptFile (with the test's header form) or EncryptFile2, sending progress to m_percents.
    int Encrypt(Writer writer, const std::string& src, const std::string& dst)
    {
        Bytes header = m_header;
        char* h = m_withHeader ? header.data() : nullptr;
        const int n = m_withHeader ? static_cast<int>(header.size()) : 0;
        const HostString s = HostPath(src), d = HostPath(dst);
        char* prefix = m_prefix.empty() ? nullptr : m_prefix.data();
        const PVHWND window = HostWindow(m_window.Handle());
        if (writer == Writer::Full)
            return CPVCodec::DoEncryptFile(s.c_str(), d.c_str(), m_key, h, n, window, m_mode, prefix);
        return CPVCodec::EncryptFile2(s.c_str(), d.c_str(), m_key, h, n, window);
    }

    // The default form (or the bare body) of `document`, built independently.
    Bytes ContainerOf(const Bytes& document) const
    {
        const Bytes body = reference::SegmentedBody(containerfiles::kKey, document);
        return m_withHeader ? reference::Concat(reference::DefaultHeader("VQPVA002", m_header), body) : body;
    }

    Bytes m_header = {'o', 'p', 'a', 'q', 'u', 'e', 7, 0, 9};
    bool m_withHeader = true;
    unsigned m_mode = 0;
    Bytes m_prefix;
    char* m_key = containerfiles::Key();
    RegistrySandbox m_registry;
    TempDir m_dir;
    std::optional<plat::fault::Scope> m_seam;
    TraceCapture m_trace;
    std::vector<plat::WPARAM> m_percents;
    plat::ScopedWindow m_window{[this](plat::UINT, plat::WPARAM percent, plat::LPARAM) -> plat::LRESULT {
        m_percents.push_back(percent);
        return 0;
    }};
    std::string m_src = m_dir / "plain.doc";
    std::string m_dst = m_dir / "out.pvd";
};

enum class Target { New, Over, InPlace };
constexpr Target N = Target::New, O = Target::Over, I = Target::InPlace;
using Op = fault::Op;
// The destination afterwards: as before the call, gone, the container, or at least the document recoverable.
enum class After { Untouched, Absent, Container, Recoverable };
using enum After;
constexpr int64_t kNone = -1, kWhole = -2, kAny = -3;  // the "~PV" file left: none, the container, any size
constexpr int64_t kOffset = 14 + 9;
using Lines = std::vector<std::string>;
using V = std::vector<DWORD>;

class EncryptionFailure;
using Step = std::function<void(EncryptionFailure&)>;

struct Case {
    std::string name;
    Writer writer;
    Target target;
    Step arrange;
    int result;
    Lines lines;  // in this order, each the start of a line; W: the writer's prefix, <D>: the destination
    After after;
    int64_t temporary;
    Step verify = {};
    std::optional<V> sleeps = std::nullopt;
    uint64_t limit = 0;  // the process's file size limit during the call (POSIX)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EncryptionFailure : public FileEncryption, public ::testing::WithParamInterface<Case> {
public:
    // Another process holds `path` open with `share` until Release (on Windows another handle of this one:
    // share modes hold between handles, of one process or two).
    void Hold(const std::string& path, UINT share)
    {
#ifdef _WIN32
        m_held.emplace();
        ASSERT_TRUE(m_held->Open(Wide(path).c_str(), CFile::modeRead | share));
#else
        m_holder = std::make_unique<ChildProcess>([path, share](ChildProcess& self) {
            CFile file;
            if (!file.Open(Wide(path).c_str(), CFile::modeRead | share))
                return 1;
            self.SignalParent();
            self.WaitForParent();
            return 0;
        });
        ASSERT_TRUE(m_holder->WaitForChild());
#endif
    }
    void Release()
    {
        m_held.reset();
#ifndef _WIN32
        if (m_holder) {
            m_holder->ReleaseChild();
            EXPECT_EQ(m_holder->Join(), 0);
            m_holder.reset();
        }
#endif
    }
    void SetDocument(Bytes document)
    {
        m_document = std::move(document);
        WriteFile(m_src, m_document);
    }
    std::string Expand(std::string line, const std::string& dst) const
    {
        if (line.rfind("W", 0) == 0)
            line = Prefix(GetParam().writer) + line.substr(1);
        else if (line.rfind("N", 0) == 0)  // the full writer's normal deletion names "CCCCPVCodec"
            line = (GetParam().writer == Writer::Full ? "[PVCodec.dll]CCCCPVCodec::DoEncryptFile() " : k2) +
                   line.substr(1);
        for (const auto& [mark, path] : {std::pair{"<D>", dst}, {"<S>", m_src}, {"<F>", m_dir.Path()}})
            if (size_t at = line.find(mark); at != std::string::npos)
                line.replace(at, 3, path);
        return line;
    }

    Bytes m_document = reference::Document(3000, 1);
#ifndef _WIN32
    std::unique_ptr<ChildProcess> m_holder;
#endif
    std::optional<CFile> m_held;
};

// Both steps, one after the other.
Step operator+(Step a, Step b)
{
    return [=](EncryptionFailure& f) {
        a(f);
        b(f);
    };
}
Step Fail(fault::Op op, unsigned nth, DWORD error = ERROR_ACCESS_DENIED)
{
    return [=](EncryptionFailure&) { fault::FailNthCall(op, nth, fault::Failure{error}); };
}
Step Document(size_t size)
{
    return [=](EncryptionFailure& f) { f.SetDocument(reference::Document(size, 3)); };
}
Step Magic(const char* magic, bool withHeader = true)
{
    return [=](EncryptionFailure& f) {
        Bytes document = reference::Document(withHeader ? 3000 : 1009, 1);
        std::copy(magic, magic + 8, document.begin());
        document[8] = 0;
        document[9] = 'q';  // never examined
        f.m_withHeader = withHeader;
        f.SetDocument(document);
    };
}
const Step kExtended = [](EncryptionFailure& f) {
    f.m_mode = 2;
    f.m_prefix = reference::ExtendedPrefix('A');
};
const Step kIconsOnly = [](EncryptionFailure& f) {
    f.m_registry.WriteUtf16("HKEY_CURRENT_USER",
                            "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n"
                            "\"IconsOnly\"=dword:00000001\n");
};
// The rename and the first `moves` MoveFileW calls after the older file is gone fail as if it were busy.
Step FailRenameAndMoves(unsigned moves)
{
    return [=](EncryptionFailure&) {
        fault::SetHook([moves](std::string_view point) {
            if (point != hook::kDestinationRemoved)
                return;
            fault::FailNthCall(Op::FileRename, 1, fault::Failure{ERROR_SHARING_VIOLATION});
            fault::FailCalls(Op::MoveFileW, 1, moves, fault::Failure{ERROR_SHARING_VIOLATION});
        });
    };
}
Step Progress(std::vector<WPARAM> percents)
{
    return [=](EncryptionFailure& f) { EXPECT_EQ(f.m_percents, percents); };
}
// Progress of the first segments up to `last` percent, then 100 when the writer ends with a traced failure.
Step Percents(WPARAM last, bool finished)
{
    return [=](EncryptionFailure& f) {
        std::vector<WPARAM> percents;
        for (WPARAM p = 1; p <= last; ++p)
            percents.push_back(p);
        if (finished)
            percents.push_back(100);
        EXPECT_EQ(f.m_percents, percents);
    };
}
Step Notified(size_t count)
{
    return [=](EncryptionFailure&) { EXPECT_EQ(fault::ShellNotifications().size(), count); };
}
#ifndef _WIN32  // RLIMIT_FSIZE
// A real write failure: 100 sent after a traced write failure, none after an unexpected one.
Step Done(bool done)
{
    return [=](EncryptionFailure& f) {
        EXPECT_EQ(!f.m_percents.empty() && f.m_percents.back() == 100, done);
        EXPECT_FALSE(f.m_trace.ContainsText(done ? "Unexpected" : "Write Fail"));
    };
}
#endif
// Times of 1969 are not carried over, nor the source's read-only attribute.
const Step kTimesOf1969 = [](EncryptionFailure& f) { PutTimes(f.m_src, -86400 * 200, -86400, CFile::readOnly); };
const Step kWritableNow = [](EncryptionFailure& f) {
    struct stat st{};
    ::stat(f.m_dst.c_str(), &st);
    EXPECT_GT(st.st_mtime, 1600000000);
    EXPECT_NE(ModeOf(f.m_dst) & 0200, 0u);
};
const Step kNoKey = [](EncryptionFailure& f) { f.m_key = nullptr; };
const Step kBare = [](EncryptionFailure& f) { f.m_withHeader = false; };
const Step kReadOnlyDestination = [](EncryptionFailure& f) { ::chmod(f.m_dst.c_str(), 0444); };
const Step kOlderUnderWipeoutName = [](EncryptionFailure& f) {
    EXPECT_EQ(ReadBytes(f.m_dst + ".wipeout"), "older");
    std::remove((f.m_dst + ".wipeout").c_str());
};

const std::string kUnexpected = "WERROR! Unexpected file exception, m_cause=5";
const std::string kStart = "WWATCH! Start Wipeout", kEnd = "WWATCH! End of Wipeout", kFail = "WBAD! FAIL Wipeout";
const std::string kNormal = "NBAD! FAIL or SKIP Wipeout NOW NORMAL DELETE FILE..., szDestPath=<D>";
const std::string kNormalFailed = "WERROR! FAIL NORMAL DELETE FILE Encryption Fail..., szDestPath=<D>";
const std::string kEntry2 = k2 + "WATCH! Entering the Function V2, tmpDestPath=";
const std::string kMove = "[PVCodec.dll] WATCH! i=";
const std::vector<WPARAM> kTens = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
const Writer F = Writer::Full, S = Writer::Streaming;
constexpr size_t kLong = 300 * 1024 + 5;
constexpr size_t kPiecesLong = (17 << 20) + 5;  // two pieces of the whole-document writer's writes

std::vector<Case> Cases()
{
    std::vector<Case> both = {
        {"NoTemporaryName", F, N, Fail(Op::GetTempFileNameW, 1), 0, {"WBAD! Fail GetTempFileName path=<F>"}, Untouched,
         kNone},
        {"ProgressToTheEnd", F, N, Document(10240), 1, {}, Container, kNone, Progress(kTens)},
        {"ReadOnlyDestination", F, O, kReadOnlyDestination, 1, {kStart, kEnd}, Container, kNone, kWritableNow},
        {"WipedUnderItsName", F, O, {}, 1, {kStart, kEnd}, Container, kNone},
        {"WipedUnderWipeoutName", F, O, kIconsOnly, 1, {kStart + "=<D>.wipeout", kEnd + "=<D>.wipeout"}, Container,
         kNone},
        {"WipeoutNameRefused", F, O, kIconsOnly + Fail(Op::MoveFileW, 1), 1, {kStart, kEnd}, Container, kNone},
        {"WipeFailsThenDeleted", F, O, Fail(Op::WipeOutFile, 1), 1, {kStart, kFail, kNormal}, Container, kNone},
        {"WipeFailsUnderWipeoutName", F, O, kIconsOnly + Fail(Op::WipeOutFile, 1), 0, {kStart + "=<D>.wipeout", kFail,
         kNormal, kNormalFailed}, Absent, kWhole, kOlderUnderWipeoutName},
#ifndef _WIN32  // RLIMIT_FSIZE
        {"LimitInTheHeader", F, N, Document(200000), 0, {"WERROR! Unexpected file exception, m_cause="}, Untouched,
         kNone, Done(false), std::nullopt, 12},
#endif
        {"NormalDeletionFails", F, O, Fail(Op::WipeOutFile, 1) + Fail(Op::FileRemove, 1), 0, {kStart, kFail, kNormal,
         kNormalFailed}, Untouched, kWhole},
    };
    std::vector<Case> cases = {
        {"ExtendedHeaderWithoutPrefix", F, N, [](EncryptionFailure& f) { f.m_mode = 2; }, 0,
         {"WERROR! No header prefix for the extended header"}, Untouched, kNone, {}, V{}},
        {"DestinationHeldByAnotherProcess", F, O,
         [](EncryptionFailure& f) {
             kReadOnlyDestination(f);
             f.Hold(f.m_dst, CFile::shareDenyWrite);
         },
         0, {"WERROR! File WriteMode Open Fail, path=<D>"}, Untouched, kNone,
         [](EncryptionFailure& f) { EXPECT_EQ(ModeOf(f.m_dst), 0444u); }, V{20}},
        {"DestinationOpenRefused", F, O, Fail(Op::CreateFileW, 1), 0, {"WERROR! File WriteMode Open Fail, path=<D>"},
         Untouched, kNone},
        {"SourceLocked", F, N, [](EncryptionFailure& f) { f.Hold(f.m_src, CFile::shareDenyRead); }, 0,
         {"WBAD! Source open fail!!", "WBAD! Source open fail!!", "WERROR! Source open fail!!",
         "[PVCodec.dll]CODE=11, MSG="}, Untouched, kNone, {}, V{1000, 1000, 1000}},
        {"SourceLockedStreaming", S, N, [](EncryptionFailure& f) { f.Hold(f.m_src, CFile::shareDenyRead); }, 0,
         {"WERROR! Source open fail"}, Untouched, kNone, {}, V{}},
        {"SourceReleasedDuringTheWait", F, N,
         [](EncryptionFailure& f) {
             f.Hold(f.m_src, CFile::shareDenyRead);
             fault::SetHook([&f](std::string_view point) {
                 if (point == hook::kSleep)
                     f.Release();
             });
         },
         1, {"WGOOD! End of the function"}, Container, kNone, {}, V{1000}},
        // The streaming writer leaves its empty temporary file.
        {"AlreadyEncrypted002", F, N, Magic("VQPVA002"), 0, {"WERROR! Already encrypted"}, Untouched, kNone},
        {"AlreadyEncrypted003InPlace", S, I, Magic("VQPVA003"), 0, {"WERROR! Already encrypted"}, Untouched, 0},
        {"AlreadyEncrypted004InPlace", F, I, Magic("VQPVA004"), 0, {"WERROR! Already encrypted"}, Untouched, kNone},
        {"BareBodyIsNotExamined", F, N, Magic("VQPVA002", false), 1, {}, Container, kNone},
        // Memory for the images or the large read refused: the streaming writer writes the default form.
        {"NoDocumentImage", F, N, Fail(Op::CoTaskMemAlloc, 1, ERROR_NO_SYSTEM_RESOURCES), 1,
         {"WERROR! Out of memory for 3000 Bytes", kEntry2}, Container, kNone, Notified(1)},
        {"NoBodyImage", F, N, kExtended + Fail(Op::CoTaskMemAlloc, 2, ERROR_NO_SYSTEM_RESOURCES), 1,
         {"WERROR! Out of memory for 3000 Bytes", kEntry2}, Container, kNone, Notified(1)},
        {"LargeReadRefused", F, N, kExtended + Fail(Op::FileRead, 2, ERROR_NO_SYSTEM_RESOURCES), 1, {kEntry2},
         Container, kNone, Notified(0)},
        {"OtherReadFailure", F, N, Fail(Op::FileRead, 2, ERROR_READ_FAULT), 0,
         {"WWATCH! sourceFileSize=3000, sourceFile=<S>", "WERROR! read fail"}, Untouched, kNone, Notified(1)},
        // A full disk: the full writer discards its temporary file, the streaming one leaves what it wrote.
        {"DiskFullInTheBody", F, N, Document(10240) + Fail(Op::FileWrite, 4, ERROR_DISK_FULL), 0,
         {"WERROR! Dest File Write Fail, m_cause=13"}, Untouched, kNone, Progress(kTens)},
        {"DiskFullInTheSecondPiece", F, N, Document(kPiecesLong) + Fail(Op::FileWrite, 3 + 2, ERROR_DISK_FULL), 0,
         {"WERROR! Dest File Write Fail, m_cause=13"}, Untouched, kNone, Percents(99, true)},
        {"DiskFullFirstSegment", S, N, Document(10240) + Fail(Op::FileWrite, 4, ERROR_DISK_FULL), 0,
         {"WERROR! Temp Dest File Write Fail"}, Untouched, kOffset, Progress({100})},
        {"DiskFullPaddedEnd", S, N, Document(10250) + Fail(Op::FileWrite, 14, ERROR_DISK_FULL), 0,
         {"WERROR! Padding Temp Dest File Write Fail"}, Untouched, kOffset + 10240, Progress({9, 19, 29, 39, 49, 59, 69,
         79, 89, 99, 100})},
        // Past the first 256 segments: the 258 before the failing write are in the file and counted (300 segments
        // and 5 bytes: a percent per 3 segments), a failing read ends the call after the 260 before it.
        {"DiskFullInTheSecondBatch", S, N, Document(kLong) + Fail(Op::FileWrite, 3 + 259, ERROR_DISK_FULL), 0,
         {"WERROR! Temp Dest File Write Fail"}, Untouched, kOffset + 258 * 1024, Percents(85, true)},
        {"ReadFailsInTheSecondBatch", S, N, Document(kLong) + Fail(Op::FileRead, 1 + 261), 0, {kUnexpected}, Untouched,
         kNone, Percents(86, false)},
        // The seam between two batches: the last of the first, the first of the second, and a read that finds
        // the end of a document of exactly one batch.
        {"WriteFailsLastOfTheFirstBatch", S, N, Document(kLong) + Fail(Op::FileWrite, 3 + 256, ERROR_DISK_FULL), 0,
         {"WERROR! Temp Dest File Write Fail"}, Untouched, kOffset + 255 * 1024, Percents(84, true)},
        {"WriteFailsFirstOfTheSecondBatch", S, N, Document(kLong) + Fail(Op::FileWrite, 3 + 257, ERROR_DISK_FULL), 0,
         {"WERROR! Temp Dest File Write Fail"}, Untouched, kOffset + 256 * 1024, Percents(85, true)},
        {"ReadFailsFirstOfTheSecondBatch", S, N, Document(kLong) + Fail(Op::FileRead, 1 + 257), 0, {kUnexpected},
         Untouched, kNone, Percents(85, false)},
        {"ReadFailsAtTheEndOfOneWholeBatch", S, N, Document(256 * 1024) + Fail(Op::FileRead, 1 + 257), 0,
         {kUnexpected}, Untouched, kNone, Percents(99, false)},
        // The same for real, past the process's file size limit; a failed header write stays unexpected.
#ifndef _WIN32
        {"LimitInTheBody", F, N, {}, 0, {"WERROR! Dest File Write Fail, m_cause="}, Untouched, kNone, Done(true),
         std::nullopt, 1500},
        {"LimitInTheSecondPiece", F, N, Document(kPiecesLong), 0, {"WERROR! Dest File Write Fail, m_cause="}, Untouched,
         kNone, Percents(99, true), std::nullopt, kOffset + (16 << 20) + 1000},
        {"LimitInTheSegments", S, N, {}, 0, {"WERROR! Temp Dest File Write Fail"}, Untouched, 1500, Done(true),
         std::nullopt, 1500},
        {"LimitInTheSecondBatch", S, N, Document(kLong), 0, {"WERROR! Temp Dest File Write Fail"}, Untouched,
         kOffset + 258 * 1024 + 100, Percents(85, true), std::nullopt, kOffset + 258 * 1024 + 100},
        {"LimitAtTheEndOfTheFirstBatch", S, N, Document(kLong), 0, {"WERROR! Temp Dest File Write Fail"}, Untouched,
         kOffset + 256 * 1024, Percents(85, true), std::nullopt, kOffset + 256 * 1024},
        {"LimitInTheTail", S, N, {}, 0, {"WERROR! Padding Temp Dest File Write Fail"}, Untouched, kOffset + 2048,
         Done(true), std::nullopt, kOffset + 2048},
#endif
        // Without a header the size check still subtracts 14: a body of 16 bytes for 3 fails it.
        {"SizeCheckWithoutHeader", F, N, Document(3) + kBare, 0,
         {"WERROR! Encrypted file size is incorrect, nEncryptedDocSize=2, nDocSize=3, nEncHeaderSize=0"}, Untouched,
         kNone},
        {"SizeCheckWithoutHeaderStreaming", S, N, Document(3) + kBare, 0,
         {"WERROR! Encrypted file size is incorrect, nEncryptedDocSize=2, nDocSize=3, nEncHeaderSize=0"}, Untouched,
         16},
        // No key: the padded end fails, so the count of consumed bytes falls short.
        {"NoKey", F, N, Document(1025) + kNoKey, 0,
         {"WERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=1025"}, Untouched, kNone},
        {"NoKeyStreaming", S, N, Document(1025) + kNoKey, 0,
         {"WERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=1025"}, Untouched, kAny},
        // Every move fails after the older file is gone: the container stays under its temporary name.
        {"RenameFailsThroughout", F, O, FailRenameAndMoves(5), 0, {kStart, kEnd, kMove + "4, Sleep and MoveFile",
         "WERROR! Fail MoveFile()"}, Absent, kWhole, {}, V{20, 1000, 1000, 1000, 1000, 1000}},
        {"RenameSucceedsOnTheThirdMove", F, O, FailRenameAndMoves(2), 1, {kStart, kEnd, "WWATCH! Start Rename",
         "WERROR! Fail CFile::Rename(), m_cause=11", kMove + "0, Sleep", kMove + "1, Sleep", kMove + "2, Sleep",
         "[PVCodec.dll] GOOD! MoveFile Success", "WWATCH! End Rename ", "WWATCH! Start SetStatus ",
         "WWATCH! End SetStatus ", "WGOOD! End of the function"}, Container, kNone, {}, V{20, 1000, 1000, 1000}},
        {"TimesOutOfRange", F, N, kTimesOf1969, 1, {"WBAD! File Time is out of range, szShortSrcPath=<S>",
         "WWATCH! End Rename ", "WWATCH! End SetStatus ", "WGOOD! End of the function"}, Container, kNone,
         kWritableNow},
        {"TimesOutOfRangeStreaming", S, N, kTimesOf1969, 1, {"WBAD! File Time is out of range, szShortSrcPath=<S>"},
         Container, kNone, kWritableNow},
    };
    // File steps the writers do not guard end the call at the exported function, the document kept.
    const std::tuple<const char*, Writer, fault::Op, unsigned, int, std::string> unguarded[] = {
        {"FullMagicRead", F, Op::FileRead, 1, 0, kUnexpected},
        {"FullMagicWrite", F, Op::FileWrite, 1, 0, kUnexpected},
        {"FullHeaderSizeWrite", F, Op::FileWrite, 2, 0, kUnexpected},
        {"FullHeaderWrite", F, Op::FileWrite, 3, 0, kUnexpected},
        {"FullStatus", F, Op::FileSetStatus, 1, 1, "WERROR! Fail CFile::SetStatus(), m_cause=5"},
        {"StreamingMagicRead", S, Op::FileRead, 1, 0, kUnexpected},
        {"StreamingSegmentRead", S, Op::FileRead, 3, 0, kUnexpected},
        {"StreamingHeaderWrite", S, Op::FileWrite, 3, 0, kUnexpected},
        {"StreamingStatus", S, Op::FileSetStatus, 1, 0, kUnexpected},
        {"StreamingRename", S, Op::FileRename, 1, 0, kUnexpected},
    };
    for (const auto& [name, writer, op, nth, result, line] : unguarded)
        cases.push_back({name, writer, I, Fail(op, nth), result, {line}, Recoverable, kAny});
    for (Case c : both) {
        cases.push_back(c);
        c.writer = S;
        c.name += "Streaming";
        cases.push_back(c);
    }
    return cases;
}

TEST_P(EncryptionFailure, ResultTraceAndFiles)
{
    const Case& c = GetParam();
    WriteFile(m_src, m_document);
    const std::string dst = c.target == Target::InPlace ? m_src : m_dst;
    if (c.target == Target::Over)
        WriteBytes(m_dst, "older");
    if (c.arrange)
        c.arrange(*this);
    int result = -1;
    {
#ifndef _WIN32
        std::optional<FileSizeLimit> limit;
        if (c.limit != 0)
            limit.emplace(c.limit);
#endif
        result = Encrypt(c.writer, m_src, dst);
    }
    Release();
    fault::SetHook({});
    EXPECT_EQ(result, c.result);

    const Lines trace = m_trace.Lines();
    Lines wiping, expectedWiping;  // the lines of the wipe and deletion, when the row names them: all of them
    auto at = trace.begin();
    for (const std::string& line : c.lines) {
        const std::string want = Expand(line, dst);
        at = std::find_if(at, trace.end(), [&](const std::string& l) { return l.rfind(want, 0) == 0; });
        ASSERT_NE(at, trace.end()) << "not traced in order: " << want;
        ++at;
        if (want.find("Wipeout") != std::string::npos || want.find("DELETE") != std::string::npos)
            expectedWiping.push_back(want);
    }
    if (c.result == 0 && !c.lines.empty()) {  // a failure ends with the last line named
        EXPECT_EQ(at, trace.end()) << "the last line: " << trace.back();
    }
    for (const std::string& line : trace)
        if (line.find("Wipeout") != std::string::npos || line.find("DELETE") != std::string::npos)
            wiping.push_back(line);
    EXPECT_EQ(expectedWiping.empty() ? expectedWiping : wiping, expectedWiping);
    EXPECT_EQ(fault::Sleeps(), c.sleeps.value_or(fault::Sleeps()));

    const Bytes container = ContainerOf(m_document);
    EXPECT_EQ(c.target != Target::InPlace ? FileBytes(m_src) : m_document, m_document) << "the source stays";
    const std::vector<std::string> temps = Temporaries(m_dir.Path());
    switch (c.after) {
    case After::Untouched:
        EXPECT_EQ(Exists(dst) ? FileBytes(dst) : Bytes{},
                  c.target == Target::Over  ? (Bytes{'o', 'l', 'd', 'e', 'r'})
                  : c.target == Target::New ? Bytes{} : m_document);
        break;
    case After::Absent: EXPECT_FALSE(Exists(dst)); break;
    case After::Container: EXPECT_EQ(FileBytes(dst), container); break;
    case After::Recoverable: {
        bool recoverable = Exists(dst) && (FileBytes(dst) == m_document || FileBytes(dst) == container);
        for (const std::string& temp : temps)
            recoverable = recoverable || Decrypt(FileBytes(temp), kOffset) == m_document;
        EXPECT_TRUE(recoverable);
        break;
    }
    }
    if (c.temporary != kAny) {
        ASSERT_EQ(temps.size(), c.temporary == kNone ? 0u : 1u);
        if (c.temporary == kWhole) {
            EXPECT_EQ(FileBytes(temps[0]), container);
        } else if (c.temporary >= 0) {
            EXPECT_EQ(static_cast<int64_t>(FileBytes(temps[0]).size()), c.temporary);
        }
    }
    if (c.verify)
        c.verify(*this);
    for (const std::string& name : Entries(m_dir.Path()))  // nothing else in the folder
        EXPECT_TRUE(name.rfind("~PV", 0) == 0 || name == "plain.doc" || name == "out.pvd") << name;
}

INSTANTIATE_TEST_SUITE_P(Steps, EncryptionFailure, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Documents are 32-bit: a (sparse) source of 2 GiB is refused before anything on disk is touched.
TEST_F(FileEncryption, SourcesOf2GiBAreRefused)
{
    WriteBytes(m_src, "");
    std::filesystem::resize_file(m_src, uint64_t{1} << 31);
    WriteBytes(m_dst, "older");
    for (Writer writer : kWriters) {
        for (const std::string& dst : {m_dst, m_src}) {
            m_trace.Clear();
            EXPECT_EQ(Encrypt(writer, m_src, dst), 0);
            EXPECT_EQ(m_trace.Lines(), Lines{Prefix(writer) + "ERROR! Source file is too large, nDocSize=2147483648"});
        }
    }
    EXPECT_TRUE(fault::Sleeps().empty());
    EXPECT_EQ(ReadBytes(m_dst), "older");
    EXPECT_EQ(Entries(m_dir.Path()), (Lines{"out.pvd", "plain.doc"}));
}

// The exact trace of whole calls in place (the streaming writer has no closing lines).
TEST_F(FileEncryption, ExactTraceOfWholeCalls)
{
    m_header = {'h', 'd', 'r', 0, 5};
    const Bytes document = reference::Document(2040, 1);
    const std::string drive = "[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! DriveType=" +
                              std::to_string(GetDriveTypeW(Wide(m_dir.Path()).c_str()));
    for (Writer writer : kWriters) {
        const std::string& p = Prefix(writer);
        WriteFile(m_src, document);
        m_trace.Clear();
        Reseat();
        ASSERT_EQ(Encrypt(writer, m_src, m_src), 1);
        const Lines lines = m_trace.Lines();
        const std::string temp = lines.empty() ? "" : lines[0].substr(lines[0].find("tmpDestPath=") + 12);
        EXPECT_EQ(temp.rfind(m_dir / "~PV", 0), 0u);
        Lines expected = {p + "WATCH! Entering the Function V2, tmpDestPath=" + temp,
                          p + "WATCH! sourceFileSize=2040, sourceFile=" + m_src, p + "WATCH! PadEncrypt, nRead=1016",
                          p + "WATCH! Pad 0, nPadBlockSize=8, nRead=1024"};
        if (writer == Writer::Full)
            expected.push_back(kDo + "WATCH! Pad 1, VQPVZP+size(8)");
        expected.insert(expected.end(), {drive, p + "WATCH! Start Wipeout", p + "WATCH! End of Wipeout"});
        if (writer == Writer::Full)
            expected.insert(expected.end(), {kDo + "WATCH! Start Rename", kDo + "WATCH! Start Rename [" + temp + "][" +
                                             m_src + "]", kDo + "WATCH! End Rename ", kDo + "WATCH! Start SetStatus ",
                                             kDo + "WATCH! End SetStatus ", kDo + "GOOD! End of the function"});
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(FileBytes(m_src), ContainerOf(document));
        EXPECT_EQ(Entries(m_dir.Path()), Lines{"plain.doc"});
        EXPECT_EQ(fault::Sleeps(), writer == Writer::Full ? V{20} : V{}) << "the destination probe";
    }
}

// Documents around the seams of the readers' windows and the streaming writer's batches (256 KiB): every
// writer makes the reference container, and the whole-image reader gives the document back.
TEST_F(FileEncryption, DocumentsAroundTheWindowSeams)
{
    constexpr size_t kWindow = 256 * 1024;
    for (size_t size : {kWindow - 1, kWindow, kWindow + 1, kWindow + 16, kWindow + 1015, kWindow + 1016,
                        kWindow + 1023, 2 * kWindow, kWindow - 1024 + 1016, kWindow - 1023}) {
        const Bytes document = reference::Document(size, 4);
        WriteFile(m_src, document);
        for (Writer writer : kWriters) {
            SCOPED_TRACE(std::to_string(size) + " " + Prefix(writer));
            std::remove(m_dst.c_str());
            ASSERT_EQ(Encrypt(writer, m_src, m_dst), 1);
            EXPECT_TRUE(FileBytes(m_dst) == ContainerOf(document));
            const std::string back = m_dir / "back.doc";
            const HostString container = HostPath(m_dst), plain = HostPath(back);
            ASSERT_EQ(CPVCodec::DecryptFileW(container.c_str(), plain.c_str(), m_key, nullptr, kOffset), 1);
            EXPECT_TRUE(FileBytes(back) == document);
            std::remove(back.c_str());
        }
    }
}

}  // namespace
