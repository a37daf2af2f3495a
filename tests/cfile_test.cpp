// CFile: opens on the scratch layout, refused calls, buffered I/O with 64-bit lengths, share modes.
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "support/FileSizeLimit.h"
#endif

#include <optional>
#include <string>

using namespace plat;
using E = CFileException;

namespace {

constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kReadWrite = CFile::modeReadWrite,
               kCreate = CFile::modeCreate;
constexpr UINT kDenyNone = CFile::shareDenyNone, kDenyRead = CFile::shareDenyRead,
               kDenyWrite = CFile::shareDenyWrite, kExclusive = CFile::shareExclusive;
// Not CFile flags: _wfopen "rb", CreateFileW for writing sharing reading, DeleteFileW, MoveFileW.
constexpr UINT kStream = 1u << 28, kProbe = 2u << 28, kDelete = 3u << 28, kMove = 4u << 28;

struct Held {
    CFile file;
    std::unique_ptr<FILE, int (*)(FILE*)> stream{nullptr, plat::fclose};
};

// What `how` does to `path`: 0, or the last error of its failure; `held` keeps what it opened.
DWORD Act(const std::u16string& path, UINT how, Held&& held = Held{})
{
    SetLastError(0);
    if (how == kStream)
        held.stream.reset(plat::_wfopen(path.c_str(), u"rb"));
    HANDLE h = how != kProbe ? nullptr : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, 0, nullptr);
    const bool ok = how == kStream   ? held.stream != nullptr
                    : how == kProbe  ? h != INVALID_HANDLE_VALUE && CloseHandle(h)
                    : how == kDelete ? DeleteFileW(path.c_str())
                    : how == kMove   ? MoveFileW(path.c_str(), (path + u"-moved").c_str())
                                     : held.file.Open(path.c_str(), how);
    return ok ? 0 : GetLastError();
}

}  // namespace

TEST(CFileContract, RefusedCalls)
{
    TempDir dir;
    LayOut(dir.Path());
    const std::u16string path = PathIn(dir.Path(), "f");
    CFile writer(path.c_str(), kWrite | kDenyNone), reader(path.c_str(), kRead | kDenyNone), closed;
    char buffer[3] = {};
    std::u16string name;
    EXPECT_EQ(ThrownCause([&] { writer.Read(buffer, 3); }), E::accessDenied);
    EXPECT_EQ(ThrownCause([&] { reader.Write(buffer, 3); }, nullptr, &name), E::accessDenied);
    EXPECT_EQ(name, path);
    EXPECT_EQ(ThrownCause([&] { reader.Seek(-1, CFile::begin); }), E::badSeek);
    EXPECT_EQ(ThrownCause([&] { closed.Read(buffer, 1); }), E::fileNotFound);
    EXPECT_EQ(ThrownCause([&] { closed.GetLength(); }), E::fileNotFound);
    EXPECT_EQ(ThrownCause([&] { closed.Close(), closed.Flush(); }), E::none);  // nothing open: nothing to do
    EXPECT_EQ(plat::_wfopen(PathIn(dir.Path(), "none").c_str(), u"rb"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    const E error(E::fileNotFound, ERROR_FILE_NOT_FOUND, path.c_str());
    char16_t text[6] = {u'x', u'x', u'x', u'x', u'x', u'x'};
    EXPECT_TRUE(error.GetErrorMessage(text, 5));  // cut to fit, with its end
    EXPECT_EQ(std::u16string(text), error.ErrorMessage().substr(0, 4));
    EXPECT_EQ(text[5], u'x');
}

// Held-back small writes are seen by every other call; a read ahead is given back before a write.
TEST(CFile, BufferedIoPositionsAndLengths)
{
    TempDir dir;
    CFile file(Wide(dir / "b").c_str(), kCreate | CFile::modeReadWrite);
    for (char c = 'a'; c < 'k'; ++c)  // 200 KiB: more than one buffer
        file.Write(std::string(20 * 1024, c).data(), 20 * 1024);
    file.SeekToBegin();
    char piece[1024];
    ASSERT_EQ(file.Read(piece, 10), 10u);
    file.Write("XYZ", 3);
    EXPECT_EQ(file.Seek(-1500, CFile::end), 200u * 1024 - 1500);
    EXPECT_EQ(file.Read(piece, 1024), 1024u);
    EXPECT_EQ(file.Read(piece, 1024), 476u);  // fewer only at the end
    CFile moved(std::move(file));
    moved.Write("end", 3);
    CFileStatus status;
    ASSERT_TRUE(moved.GetStatus(status));
    EXPECT_EQ(status.m_size, 200u * 1024 + 3);
    moved.Abort();
    const std::string bytes = ReadBytes(dir / "b");
    EXPECT_EQ(bytes.substr(0, 20) + bytes.substr(bytes.size() - 4), "aaaaaaaaaaXYZaaaaaaajend");
    EXPECT_EQ(bytes.size(), 200u * 1024 + 3);
    ASSERT_TRUE(moved.Open(Wide(dir / "b").c_str(), kWrite));
    moved.SetLength(0x1'0000'0005ull);  // lengths are 64-bit (a sparse file)
    EXPECT_EQ(moved.SeekToEnd(), 0x1'0000'0005ull);
    moved.SetLength(3);
    EXPECT_EQ(moved.GetPosition(), 3u);
}

TEST(ShareModeContract, HolderMeetsTheNextCall)
{
    constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
    const struct { UINT holder, next; DWORD error; } rows[] = {
        {kRead | kDenyNone, kRead | kDenyNone, 0},           {kRead | kDenyWrite, kRead | kDenyWrite, 0},
        {kRead | kDenyWrite, kWrite | kDenyNone, kViolation}, {kWrite | kDenyNone, kRead | kDenyWrite, kViolation},
        {kRead | kDenyRead, kRead | kDenyNone, kViolation},   {kRead | kDenyNone, kRead | kDenyRead, kViolation},
        {kWrite | kExclusive, kRead | kDenyNone, kViolation}, {kRead | kDenyNone, kWrite | kExclusive, kViolation},
        {kRead | CFile::shareCompat, kRead | kDenyNone, kViolation},  // compatibility mode is exclusive
        {kWrite | kDenyRead, kWrite | kDenyRead, 0},           {kReadWrite | kDenyNone, kReadWrite | kDenyNone, 0},
        {kRead | kDenyWrite, CFile::modeCreate | kWrite | kDenyNone, kViolation},
        {kRead | kDenyNone, kProbe, 0},                        {kRead | kDenyWrite, kProbe, kViolation},
        {kWrite | kDenyNone, kProbe, kViolation},             {kRead | kDenyNone, kDelete, kViolation},
        {kRead | kDenyNone, kMove, kViolation},                {kStream, kRead | kDenyWrite, 0},
        {kStream, kWrite | kDenyNone, 0},                      {kStream, kRead | kDenyRead, kViolation},
        {kRead | kExclusive, kStream, kViolation},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.holder << " then " << r.next);
        TempDir dir;
        LayOut(dir.Path());
        const std::u16string path = PathIn(dir.Path(), "f");
        auto held = std::make_unique<Held>();
        ASSERT_EQ(Act(path, r.holder, std::move(*held)), 0u);
        EXPECT_EQ(Act(path, r.next), r.error);
        held.reset();  // first: on Windows the holder's share mode keeps Listing from reading "f"
        EXPECT_EQ(Listing(dir.Path()), "dir/ f=content ro=keep(ro)");  // no refused call changed a thing
        EXPECT_EQ(Act(path, r.next), 0u) << "the holder's locks went with it";
    }
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A run of pieces has the outcome of its single calls: the same bytes, the
// same failure, the file at the same place and as many calls at the seam;
// read ahead or held back by earlier small calls included.
TEST(CFile, PieceRunsAreTheirSingleCalls)
{
    constexpr UINT kPiece = 1024, kPieces = 4;
    const struct { bool write; size_t fileSize; unsigned failAt; bool smallCallFirst; } rows[] = {
        {false, 5000, 0, false}, {false, 4096, 0, true}, {false, 3000, 0, false}, {false, 2048, 0, false},
        {false, 0, 0, false},    {false, 5000, 1, false}, {false, 5000, 3, true}, {false, 3000, 3, false},
        {false, 3000, 4, false}, {true, 0, 0, false},     {true, 0, 1, false},    {true, 0, 3, true},
        {true, 0, 4, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.write ? "write" : "read") << " of " << r.fileSize << ", failing call "
                                        << r.failAt << (r.smallCallFirst ? ", after a small call" : ""));
        TempDir dir;
        std::string content(r.fileSize, 0);
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>(i * 7 + i / 1024);
        struct Outcome {
            size_t bytes = 0;
            std::optional<int> cause;
            ULONGLONG position = 0;
            unsigned calls = 0;
            std::string buffer, file;
        };
        const auto run = [&](bool together) {
            const std::string path = dir / (together ? "together" : "singly");
            WriteBytes(path, content);
            fault::Scope seam;
            CFile file(Wide(path).c_str(), r.write ? kReadWrite : kRead);
            std::string buffer(kPiece * kPieces, 'b');
            for (size_t i = 0; i < buffer.size(); ++i)
                buffer[i] = static_cast<char>(i * 13);
            if (r.smallCallFirst)
                r.write ? file.Write("head", 4) : (void)file.Read(buffer.data(), 10);
            if (r.failAt != 0)
                fault::FailNthCall(r.write ? fault::Op::FileWrite : fault::Op::FileRead, r.failAt,
                                   fault::Failure{ERROR_DISK_FULL});
            Outcome o;
            if (together) {
                const CFile::PieceRun piece = r.write ? file.WritePieces(buffer.data(), kPiece, kPieces)
                                                      : file.ReadPieces(buffer.data(), kPiece, kPieces);
                o.bytes = piece.bytes;
                if (piece.failure)
                    o.cause = piece.failure->m_cause;
            } else {
                try {
                    for (UINT i = 0; i < kPieces; ++i) {
                        if (r.write) {
                            file.Write(buffer.data() + o.bytes, kPiece);
                            o.bytes += kPiece;
                        } else {
                            const UINT got = file.Read(buffer.data() + o.bytes, kPiece);
                            o.bytes += got;
                            if (got < kPiece)
                                break;
                        }
                    }
                } catch (const CFileException& e) {
                    o.cause = e.m_cause;
                }
            }
            o.calls = fault::CallCount(r.write ? fault::Op::FileWrite : fault::Op::FileRead);
            o.position = file.GetPosition();
            file.Close();
            o.buffer = buffer;
            o.file = ReadBytes(path);
            return o;
        };
        const Outcome singly = run(false), together = run(true);
        EXPECT_EQ(together.bytes, singly.bytes);
        EXPECT_EQ(together.cause, singly.cause);
        EXPECT_EQ(together.position, singly.position);
        EXPECT_EQ(together.calls, singly.calls);
        EXPECT_TRUE(together.buffer.substr(0, together.bytes) == singly.buffer.substr(0, singly.bytes));
        EXPECT_TRUE(together.file == singly.file);
        EXPECT_EQ(together.cause.has_value(), r.failAt != 0 && (r.write || r.failAt <= r.fileSize / kPiece + 1));
    }
}

// One read handed over in parts: every byte once and in order, whatever the
// caller keeps for the next part; the seam fails the call before any part.
TEST(CFile, ReadInPartsHandsOverEveryByteOnce)
{
    TempDir dir;
    std::string content(5000, 0);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 256);
    WriteBytes(dir / "f", content);
    for (const size_t keep : {0, 100, 1023}) {
        CFile file(Wide(dir / "f").c_str(), kRead);
        ASSERT_EQ(file.Read(std::string(10, 0).data(), 10), 10u);  // read ahead by the small read
        file.SeekToBegin();
        char window[1024];
        std::string seen;
        size_t kept = 0;
        const UINT got = file.ReadInParts(6000, window, [&](std::span<char> part) {
            kept = std::min(keep, part.size());
            seen.append(part.data(), part.size() - kept);
            return kept;
        });
        EXPECT_EQ(got, 5000u);
        EXPECT_TRUE(seen + std::string(window, kept) == content)
            << "keeping " << keep;
    }
    fault::Scope seam;
    fault::FailNthCall(fault::Op::FileRead, 1, fault::Failure{ERROR_READ_FAULT});
    CFile file(Wide(dir / "f").c_str(), kRead);
    char window[1024];
    int parts = 0;
    EXPECT_EQ(ThrownCause([&] { file.ReadInParts(10, window, [&](std::span<char>) { return ++parts, size_t{0}; }); }),
              E::OsErrorToException(ERROR_READ_FAULT));
    EXPECT_EQ(parts, 0);
}

// Bytes written behind are answered for by later writes: each throws what its
// own write would have, the seam's failure or the system's where its bytes lie.
TEST(CFile, WritesBehindAnswerForTheirBytes)
{
    TempDir dir;
    const std::string part(1000, 'p');
    {
        fault::Scope seam;
        CFile file(Wide(dir / "seam").c_str(), kCreate | kWrite);
        file.Write("head", 4);  // held back, delivered first
        for (int i = 0; i < 3; ++i)
            file.WriteBehind(part);
        fault::FailNthCall(fault::Op::FileWrite, 2, fault::Failure{ERROR_DISK_FULL});
        file.AnswerWrite(1000);
        EXPECT_EQ(ThrownCause([&] { file.AnswerWrite(1000); }), E::diskFull);
        file.AnswerWrite(2000);
        EXPECT_NE(ThrownCause([&] { file.AnswerWrite(1); }), E::none);  // more than was written behind
    }
    EXPECT_EQ(ReadBytes(dir / "seam"), "head" + part + part + part);
#ifndef _WIN32
    {
        CFile file(Wide(dir / "limit").c_str(), kCreate | kWrite);
        {
            FileSizeLimit limit(2500);
            for (int i = 0; i < 3; ++i)
                file.WriteBehind(part);  // the third stops at the limit, and nothing more goes
            file.WriteBehind(part);
        }
        file.AnswerWrite(2000);
        EXPECT_NE(ThrownCause([&] { file.AnswerWrite(1000); }), E::none);
    }
    EXPECT_EQ(ReadBytes(dir / "limit").size(), 2500u);
#endif
}
