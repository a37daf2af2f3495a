// File encryption failing before the destination is replaced: the result,
// the trace, and the files on disk afterwards (source, destination, "~PV"
// temporaries). The destination probe, the temporary name, a source locked
// by another process, an already encrypted source, the fallbacks to the
// streaming writer, failed writes, the consumed-count and size checks,
// sources too large to take, and file steps failing where the writers do not
// guard them: never a crash, never a lost document.
#include "platform/File.h"
#include "platform/Messaging.h"
#include "support/ChildProcess.h"
#include "support/EncryptionFixture.h"
#include "support/FileSizeLimit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace containerfiles;
using namespace encryption;
using namespace plat;

namespace {

const Bytes kHeader = {'o', 'p', 'a', 'q', 'u', 'e', 7, 0, 9};
constexpr int kOffset = 14 + 9;

class EncryptionFailures : public FileEncryption {
protected:
    EncryptionFailures() : FileEncryption(kHeader, 3000) {}
};

TEST_F(EncryptionFailures, ExtendedHeaderWithoutPrefixIsRefused)
{
    WriteFile(m_src, m_document);
    Bytes header = kHeader;
    EXPECT_EQ(CPVCodec::EncryptFileEx(Wide(m_src).c_str(), Wide(m_dst).c_str(), Key(), header.data(),
                                      static_cast<int>(header.size()), nullptr, 2, nullptr),
              0);
    EXPECT_EQ(m_trace.Lines(), std::vector<std::string>{kDo + "ERROR! No header prefix for the extended header"});
    EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
}

// The destination cannot be opened for writing: nothing changes, and a
// read-only destination is read-only again afterwards.
TEST_F(EncryptionFailures, DestinationProbeRefused)
{
    const std::vector<std::string> refused = {kDo + "ERROR! File WriteMode Open Fail, path=" + m_dst};
    WriteFile(m_src, m_document);
    WriteBytes(m_dst, "older");
    ::chmod(m_dst.c_str(), 0444);

    // Another process holds it open without sharing write access.
    ChildProcess holder([&](ChildProcess& self) {
        CFile file;
        if (!file.Open(Wide(m_dst).c_str(), CFile::modeRead | CFile::shareDenyWrite))
            return 1;
        self.SignalParent();
        self.WaitForParent();
        return 0;
    });
    ASSERT_TRUE(holder.WaitForChild());
    EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst), 0);
    holder.ReleaseChild();
    EXPECT_EQ(holder.Join(), 0);
    EXPECT_EQ(m_trace.Lines(), refused);
    EXPECT_EQ(fault::Sleeps(), std::vector<DWORD>{20});

    // The open refused by the seam.
    m_trace.Clear();
    fault::FailNthCall(fault::Op::CreateFileW, 1, fault::Failure{ERROR_ACCESS_DENIED});
    EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst), 0);
    EXPECT_EQ(m_trace.Lines(), refused);

    EXPECT_EQ(ModeOf(m_dst), 0444u);
    EXPECT_EQ(ReadBytes(m_dst), "older");
    EXPECT_EQ(FileBytes(m_src), m_document);
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.pvd", "plain.doc"}));
}

TEST_F(EncryptionFailures, NoTemporaryName)
{
    WriteFile(m_src, m_document);
    for (Writer writer : kWriters) {
        m_trace.Clear();
        fault::FailNthCall(fault::Op::GetTempFileNameW, 1, fault::Failure{ERROR_ACCESS_DENIED});
        EXPECT_EQ(Encrypt(writer, m_src, m_dst), 0);
        EXPECT_EQ(m_trace.Lines(), std::vector<std::string>{Prefix(writer) +
                                                            "BAD! Fail GetTempFileName path=" + m_dir.Path()});
        EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
    }
}

// Another process has the source open, denying reading to others.
class LockedSource : public EncryptionFailures {
protected:
    void SetUp() override
    {
        EncryptionFailures::SetUp();
        WriteFile(m_src, m_document);
        m_holder = std::make_unique<ChildProcess>([this](ChildProcess& self) {
            CFile file;
            if (!file.Open(Wide(m_src).c_str(), CFile::modeRead | CFile::shareDenyRead))
                return 1;
            self.SignalParent();
            self.WaitForParent();
            return 0;
        });
        ASSERT_TRUE(m_holder->WaitForChild());
    }
    void TearDown() override { Release(); }
    void Release()
    {
        if (!m_released) {
            m_holder->ReleaseChild();
            EXPECT_EQ(m_holder->Join(), 0);
            m_released = true;
        }
    }
    std::unique_ptr<ChildProcess> m_holder;
    bool m_released = false;
};

TEST_F(LockedSource, ThreeAttemptsASecondApart)
{
    EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst), 0);
    std::vector<std::string> lines = LinesAfterEntry();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], kDo + "BAD! Source open fail!!");
    EXPECT_EQ(lines[2], kDo + "BAD! Source open fail!!");
    EXPECT_EQ(lines[3], kDo + "ERROR! Source open fail!!");
    EXPECT_EQ(lines[4].rfind("[PVCodec.dll]CODE=11, MSG=", 0), 0u) << lines[4];
    EXPECT_EQ(fault::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000}));
    EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
}

TEST_F(LockedSource, StreamingWriterTriesOnce)
{
    EXPECT_EQ(Encrypt(Writer::Streaming, m_src, m_dst), 0);
    EXPECT_EQ(LinesAfterEntry(), std::vector<std::string>{k2 + "ERROR! Source open fail"});
    EXPECT_TRUE(fault::Sleeps().empty());
    EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
}

TEST_F(LockedSource, ReleasedDuringTheWait)
{
    fault::SetHook([this](std::string_view point) {
        if (point == hook::kSleep)
            Release();
    });
    EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst), 1);
    fault::SetHook({});
    EXPECT_EQ(fault::Sleeps(), std::vector<DWORD>{1000});
    EXPECT_EQ(FileBytes(m_dst), ContainerOf(m_document));
}

TEST_F(EncryptionFailures, AlreadyEncrypted)
{
    const char* magics[] = {"VQPVA002", "VQPVA003", "VQPVA004"};
    for (const char* magic : magics) {
        Bytes document = m_document;
        std::copy(magic, magic + 8, document.begin());
        document[8] = 0;
        document[9] = 'q';  // never examined
        WriteFile(m_src, document);
        for (Writer writer : kWriters) {
            for (const std::string& dst : {m_dst, m_src}) {
                m_trace.Clear();
                EXPECT_EQ(Encrypt(writer, m_src, dst), 0);
                EXPECT_TRUE(m_trace.Contains(Prefix(writer) + "ERROR! Already encrypted"));
                EXPECT_EQ(FileBytes(m_src), document);
                EXPECT_FALSE(Exists(m_dst));
                // The streaming writer leaves its empty temporary file.
                ExpectTemporaryAndRemove(m_dir.Path(), writer == Writer::Full ? -1 : 0);
            }
        }
        // Without a header the test is not made: a bare body of the container.
        document.resize(1009);
        WriteFile(m_src, document);
        EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst, false), 1);
        EXPECT_EQ(FileBytes(m_dst), reference::SegmentedBody(kKey, document));
        std::remove(m_dst.c_str());
    }
}

// Memory for the two images cannot be had, or the single large read is
// refused for lack of system resources: the streaming writer takes the call
// over, and for a request of the extended form writes the default form.
struct FallbackCase {
    const char* name;
    fault::Op op;
    unsigned nth;
    bool notified;  // the first temporary file discarded with the shell told
};

void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }

class FallbackToStreaming : public EncryptionFailures, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(FallbackToStreaming, ResultAndContainerOfTheStreamingWriter)
{
    const FallbackCase& c = GetParam();
    for (char tag : {'\0', 'A'}) {
        SCOPED_TRACE(tag);
        const Bytes document = reference::Document(5000, 2);
        WriteFile(m_src, document);
        m_trace.Clear();
        fault::FailNthCall(c.op, c.nth, fault::Failure{ERROR_NO_SYSTEM_RESOURCES});
        Bytes header = kHeader;
        Bytes prefix = reference::ExtendedPrefix('A');
        const int result =
            CPVCodec::EncryptFileEx(Wide(m_src).c_str(), Wide(m_dst).c_str(), Key(), header.data(),
                                    static_cast<int>(header.size()), nullptr, tag == 'A' ? 2 : 0, prefix.data());
        EXPECT_EQ(result, 1);
        EXPECT_EQ(FileBytes(m_dst), ContainerOf(document));
        EXPECT_EQ(m_trace.Contains(kDo + "ERROR! Out of memory for 5000 Bytes"), c.op == fault::Op::CoTaskMemAlloc);
        EXPECT_TRUE(m_trace.ContainsText(k2 + "WATCH! Entering the Function V2, tmpDestPath="));
        EXPECT_EQ(fault::ShellNotifications().size(), c.notified ? 1u : 0u);
        EXPECT_EQ(Names(), (std::vector<std::string>{"out.pvd", "plain.doc"}));
        std::remove(m_dst.c_str());
        Reseat();
    }
}

INSTANTIATE_TEST_SUITE_P(Resources, FallbackToStreaming,
                         ::testing::Values(FallbackCase{"DocumentImage", fault::Op::CoTaskMemAlloc, 1, true},
                                           FallbackCase{"BodyImage", fault::Op::CoTaskMemAlloc, 2, true},
                                           // Read 1 is the magic test, read 2 the whole document.
                                           FallbackCase{"LargeRead", fault::Op::FileRead, 2, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EncryptionFailures, OtherReadFailure)
{
    WriteFile(m_src, m_document);
    fault::FailNthCall(fault::Op::FileRead, 2, fault::Failure{ERROR_READ_FAULT});
    EXPECT_EQ(Encrypt(Writer::Full, m_src, m_dst), 0);
    EXPECT_EQ(LinesAfterEntry(), (std::vector<std::string>{kDo + "WATCH! sourceFileSize=3000, sourceFile=" + m_src,
                                                           kDo + "ERROR! read fail"}));
    EXPECT_EQ(fault::ShellNotifications().size(), 1u);
    EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
}

// A full disk: the call ends with 100 sent to the window. The full writer
// discards its temporary file; the streaming writer leaves what it wrote.
struct WriteFailureCase {
    const char* name;
    Writer writer;
    size_t size;
    unsigned nth;  // the failing write; the header takes writes 1 to 3
    std::string line;
    std::vector<WPARAM> progress;
    int64_t leftBehind;  // bytes of the temporary file left, -1 for none
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.name; }

class WriteFailure : public EncryptionFailures, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailure, DiskFull)
{
    const WriteFailureCase& c = GetParam();
    const Bytes document = reference::Document(c.size, 3);
    WriteFile(m_src, document);
    std::vector<WPARAM> sent;
    ScopedWindow window([&](UINT, WPARAM percent, LPARAM) -> LRESULT {
        sent.push_back(percent);
        return 0;
    });
    fault::FailNthCall(fault::Op::FileWrite, c.nth, fault::Failure{ERROR_DISK_FULL});
    EXPECT_EQ(Encrypt(c.writer, m_src, m_dst, true, window.Handle()), 0);
    EXPECT_TRUE(m_trace.Contains(c.line));
    EXPECT_EQ(sent, c.progress);
    EXPECT_EQ(FileBytes(m_src), document);
    EXPECT_FALSE(Exists(m_dst));
    ExpectTemporaryAndRemove(m_dir.Path(), c.leftBehind);
}

const std::vector<WPARAM> kTens = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};

INSTANTIATE_TEST_SUITE_P(
    Writers, WriteFailure,
    ::testing::Values(
        WriteFailureCase{"FullWriterBody", Writer::Full, 10240, 4, kDo + "ERROR! Dest File Write Fail, m_cause=13",
                         kTens, -1},
        WriteFailureCase{"StreamingFirstSegment", Writer::Streaming, 10240, 4,
                         k2 + "ERROR! Temp Dest File Write Fail", {100}, kOffset},
        WriteFailureCase{"StreamingSixthSegment", Writer::Streaming, 10240, 9,
                         k2 + "ERROR! Temp Dest File Write Fail", {10, 20, 30, 40, 50, 100}, kOffset + 5 * 1024},
        WriteFailureCase{"StreamingPaddedEnd", Writer::Streaming, 10250, 14,
                         k2 + "ERROR! Padding Temp Dest File Write Fail",
                         {9, 19, 29, 39, 49, 59, 69, 79, 89, 99, 100}, kOffset + 10240}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a header the size check still subtracts 14: a Rijndael body passes
// only when it is 14 bytes longer than the document (t of 1008 to 1023, or t
// mod 16 of 0, 1 or 2 with t of 1 to 1007) or the document is empty.
TEST_F(EncryptionFailures, SizeCheckWithoutHeader)
{
    struct Case {
        size_t size;
        bool passes;
    } cases[] = {{0, true},     {1, true},     {2, true},      {3, false},   {15, false},   {16, true},
                 {18, true},    {19, false},   {1007, false},  {1008, true}, {1023, true},  {1024, false},
                 {1040, true},  {1041, true},  {1043, false},  {2048, false}, {3056, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes document = reference::Document(c.size, 4);
        WriteFile(m_src, document);
        const int64_t body = static_cast<int64_t>(reference::SegmentedBody(kKey, document).size());
        const std::string line = "ERROR! Encrypted file size is incorrect, nEncryptedDocSize=" +
                                 std::to_string(body - 14) + ", nDocSize=" + std::to_string(c.size) +
                                 ", nEncHeaderSize=0";
        for (Writer writer : kWriters) {
            m_trace.Clear();
            EXPECT_EQ(Encrypt(writer, m_src, m_dst, false), c.passes ? 1 : 0);
            const std::string& who = Prefix(writer);
            EXPECT_EQ(m_trace.Contains(who + line), !c.passes);
            EXPECT_EQ(Exists(m_dst), c.passes);
            // The streaming writer leaves its complete temporary file.
            ExpectTemporaryAndRemove(m_dir.Path(), !c.passes && writer == Writer::Streaming ? body : -1);
            std::remove(m_dst.c_str());
        }
    }
}

// Cipher results that cannot be used stop the body uncounted; with no key the
// padded end fails, so the count of consumed bytes falls short.
TEST_F(EncryptionFailures, ConsumedCountFallsShort)
{
    const Bytes document = reference::Document(1025, 5);
    WriteFile(m_src, document);
    Bytes header = kHeader;
    const std::string line = "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=1024, nDocSize=1025";
    EXPECT_EQ(CPVCodec::DoEncryptFile(Wide(m_src).c_str(), Wide(m_dst).c_str(), nullptr, header.data(),
                                      static_cast<int>(header.size()), nullptr, 0, nullptr),
              0);
    EXPECT_TRUE(m_trace.Contains(kDo + line));
    EXPECT_EQ(Names(), std::vector<std::string>{"plain.doc"});
    EXPECT_EQ(CPVCodec::EncryptFile2(Wide(m_src).c_str(), Wide(m_dst).c_str(), nullptr, header.data(),
                                     static_cast<int>(header.size()), nullptr),
              0);
    EXPECT_TRUE(m_trace.Contains(k2 + line));
    EXPECT_EQ(Temporaries(m_dir.Path()).size(), 1u);
    EXPECT_FALSE(Exists(m_dst));
}

// Documents are 32-bit: a source of 2 GiB is refused before anything on disk
// is touched (no probe of the existing destination, no temporary file).
TEST_F(EncryptionFailures, SourcesOf2GiBAreRefused)
{
    const int fd = ::open(m_src.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0);  // sparse
    ::close(fd);
    WriteBytes(m_dst, "older");
    for (Writer writer : kWriters) {
        for (const std::string& dst : {m_dst, m_src}) {
            m_trace.Clear();
            EXPECT_EQ(Encrypt(writer, m_src, dst), 0);
            EXPECT_EQ(m_trace.Lines(),
                      std::vector<std::string>{Prefix(writer) +
                                               "ERROR! Source file is too large, nDocSize=2147483648"});
        }
    }
    EXPECT_TRUE(fault::Sleeps().empty());
    EXPECT_EQ(ReadBytes(m_dst), "older");
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.pvd", "plain.doc"}));
}

// File steps the writers do not guard end the call with 0 at the exported
// function, never with an exception in the host, and the document is never
// lost: the source is as it was, or a container of it is under the
// destination's or a "~PV" name.
struct UnguardedCase {
    const char* name;
    Writer writer;
    fault::Op op;
    unsigned nth;
    int result;
    std::string line;
};

void PrintTo(const UnguardedCase& c, std::ostream* os) { *os << c.name; }

class UnguardedStep : public EncryptionFailures, public ::testing::WithParamInterface<UnguardedCase> {};

TEST_P(UnguardedStep, EndsCleanly)
{
    const UnguardedCase& c = GetParam();
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "new path");
        const Bytes document = reference::Document(2500, 6);
        WriteFile(m_src, document);
        const std::string dst = inPlace ? m_src : m_dst;
        m_trace.Clear();
        fault::FailNthCall(c.op, c.nth, fault::Failure{ERROR_ACCESS_DENIED});
        EXPECT_EQ(Encrypt(c.writer, m_src, dst), c.result);
        EXPECT_TRUE(m_trace.Contains(c.line));

        std::vector<Bytes> containers;
        if (Exists(dst) && !(inPlace && FileBytes(dst) == document))
            containers.push_back(FileBytes(dst));
        for (const std::string& temp : Temporaries(m_dir.Path()))
            containers.push_back(FileBytes(temp));
        bool recoverable = Exists(m_src) && FileBytes(m_src) == document;
        for (const Bytes& container : containers)
            recoverable = recoverable || Decrypt(container, kOffset) == document;
        EXPECT_TRUE(recoverable);

        RemoveAllFiles();
        Reseat();
    }
}

const std::string kUnexpected = "ERROR! Unexpected file exception, m_cause=5";

INSTANTIATE_TEST_SUITE_P(
    Writers, UnguardedStep,
    ::testing::Values(UnguardedCase{"FullMagicRead", Writer::Full, fault::Op::FileRead, 1, 0, kDo + kUnexpected},
                      UnguardedCase{"FullMagicWrite", Writer::Full, fault::Op::FileWrite, 1, 0, kDo + kUnexpected},
                      UnguardedCase{"FullHeaderSizeWrite", Writer::Full, fault::Op::FileWrite, 2, 0, kDo + kUnexpected},
                      UnguardedCase{"FullHeaderWrite", Writer::Full, fault::Op::FileWrite, 3, 0, kDo + kUnexpected},
                      UnguardedCase{"FullStatus", Writer::Full, fault::Op::FileSetStatus, 1, 1,
                                    kDo + "ERROR! Fail CFile::SetStatus(), m_cause=5"},
                      UnguardedCase{"StreamingMagicRead", Writer::Streaming, fault::Op::FileRead, 1, 0,
                                    k2 + kUnexpected},
                      UnguardedCase{"StreamingSegmentRead", Writer::Streaming, fault::Op::FileRead, 3, 0,
                                    k2 + kUnexpected},
                      UnguardedCase{"StreamingHeaderWrite", Writer::Streaming, fault::Op::FileWrite, 3, 0,
                                    k2 + kUnexpected},
                      UnguardedCase{"StreamingStatus", Writer::Streaming, fault::Op::FileSetStatus, 1, 0,
                                    k2 + kUnexpected},
                      UnguardedCase{"StreamingRename", Writer::Streaming, fault::Op::FileRename, 1, 0,
                                    k2 + kUnexpected}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that the file system itself refuses (here: past the process's file
// size limit, as on a full disk) is met where the writers meet a failed
// write, whatever bytes were still held back for a later system call: the
// write failure traced, 100 sent, the streaming writer's partial temporary
// file left. A failure of the header, which the writers do not guard, stays
// unexpected.
TEST_F(EncryptionFailures, RealWriteFailures)
{
    struct Case {
        const char* name;
        Writer writer;
        size_t size;
        rlim_t limit;
        std::string line;  // traced, as the whole line or its start
        bool done;         // 100 sent
        int64_t leftBehind;  // bytes of the temporary file left, -1 for none
    } cases[] = {
        {"FullBody", Writer::Full, 3000, 1500, kDo + "ERROR! Dest File Write Fail, m_cause=", true, -1},
        {"FullHeader", Writer::Full, 200000, 12, kDo + "ERROR! Unexpected file exception, m_cause=", false, -1},
        {"StreamingSegments", Writer::Streaming, 3000, 1500, k2 + "ERROR! Temp Dest File Write Fail", true, 1500},
        {"StreamingTail", Writer::Streaming, 3000, kOffset + 2048, k2 + "ERROR! Padding Temp Dest File Write Fail",
         true, kOffset + 2048},
        {"StreamingHeader", Writer::Streaming, 200000, 12, k2 + "ERROR! Unexpected file exception, m_cause=", false,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes document = reference::Document(c.size, 5);
        WriteFile(m_src, document);
        std::vector<WPARAM> sent;
        ScopedWindow window([&](UINT, WPARAM percent, LPARAM) -> LRESULT {
            sent.push_back(percent);
            return 0;
        });
        m_trace.Clear();
        int result = -1;
        {
            FileSizeLimit limit(c.limit);
            result = Encrypt(c.writer, m_src, m_dst, true, window.Handle());
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(m_trace.ContainsText(c.line));
        EXPECT_FALSE(m_trace.ContainsText(c.done ? "Unexpected" : "Write Fail"));
        EXPECT_EQ(!sent.empty() && sent.back() == 100, c.done);
        EXPECT_EQ(FileBytes(m_src), document);
        EXPECT_FALSE(Exists(m_dst));
        ExpectTemporaryAndRemove(m_dir.Path(), c.leftBehind);
    }
}

}  // namespace
