// CFile: what each open does to the scratch layout, the calls it refuses,
// reading, writing and positioning through the object's buffer with 64-bit
// lengths, and the causes and text of its exceptions.
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace plat;
using E = CFileException;

namespace {
constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kCreate = CFile::modeCreate;
const char* const kLayout = "dir/ f=content ro=keep(ro)";
}  // namespace

// Each open: its cause and OS error (also the last error, and what the
// constructor throws), the length found, and the folder afterwards.
TEST(CFileContract, Open)
{
    const struct { const char* name; UINT flags; int cause; DWORD error; ULONGLONG length; const char* after; } rows[] = {
        {"f", kRead, E::none, 0, 7, kLayout},
        {"f", kCreate | CFile::modeNoTruncate | kWrite, E::none, 0, 7, kLayout},
        {"f", kCreate | kWrite, E::none, 0, 0, "dir/ f= ro=keep(ro)"},
        {"new", kCreate | kWrite, E::none, 0, 0, "dir/ f=content new= ro=keep(ro)"},
        {"none", CFile::modeNoTruncate | kRead, E::fileNotFound, ERROR_FILE_NOT_FOUND, 0, kLayout},
        {"none/f", kCreate | kWrite, E::badPath, ERROR_PATH_NOT_FOUND, 0, kLayout},
        {"x|", kRead, E::badPath, ERROR_INVALID_NAME, 0, kLayout},
        {"ro", kWrite, E::accessDenied, ERROR_ACCESS_DENIED, 0, kLayout},
        {"ro", kCreate | kWrite, E::accessDenied, ERROR_ACCESS_DENIED, 0, kLayout},
        {"dir", kRead, E::accessDenied, ERROR_ACCESS_DENIED, 0, kLayout},
        {"ro", 3u, E::genericException, ERROR_INVALID_PARAMETER, 0, kLayout},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.name) + " flags " + std::to_string(r.flags));
        TempDir dir;
        LayOut(dir.Path());
        const std::u16string path = PathIn(dir.Path(), r.name);
        CFile file;
        CFileException error;
        SetLastError(0);
        EXPECT_EQ(file.Open(path.c_str(), r.flags, &error) != FALSE, r.cause == E::none);
        EXPECT_EQ(file.IsOpen() ? file.GetLength() : 0, r.length);
        file.Close();
        if (r.cause != E::none) {
            EXPECT_EQ(error.m_cause, r.cause);
            EXPECT_EQ(error.m_lOsError, static_cast<LONG>(r.error));
            EXPECT_EQ(GetLastError(), r.error);
            EXPECT_EQ(error.m_strFileName, path);
            EXPECT_EQ(ThrownCause([&] { CFile again(path.c_str(), r.flags); }), r.cause);
        }
        EXPECT_EQ(Listing(dir.Path()), r.after);
    }
}

TEST(CFileContract, RefusedCalls)
{
    TempDir dir;
    LayOut(dir.Path());
    const std::u16string path = PathIn(dir.Path(), "f");
    CFile writer(path.c_str(), kWrite | CFile::shareDenyNone), reader(path.c_str(), kRead | CFile::shareDenyNone), closed;
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
}

// Small writes are held back in the object; every other call sees them as
// if they had reached the file, and a read ahead is given back before a write.
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

// POSIX only: a held-back write that fails is reported by Close; a
// write-through object reports it at once.
TEST(CFilePosix, WriteErrorOfABufferedWriteSurfacesAtClose)
{
    CFile file;
    if (!file.Open(u"/dev/full", kWrite | CFile::shareDenyNone))
        GTEST_SKIP() << "no /dev/full";
    file.Write("abc", 3);
    EXPECT_EQ(ThrownCause([&] { file.Close(); }), E::diskFull);
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(u"/dev/full", kWrite | CFile::shareDenyNone | CFile::osWriteThrough));
    EXPECT_EQ(ThrownCause([&] { file.Write("abc", 3); }), E::diskFull);
}
