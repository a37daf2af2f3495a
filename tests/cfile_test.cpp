// CFile: opens on the scratch layout, refused calls, buffered I/O with 64-bit lengths, share modes.
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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
