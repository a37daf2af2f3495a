// CFile: open modes and what they do to an existing file, reading, writing
// and positioning with 64-bit lengths, the causes its exceptions carry, and
// the error text the drivers trace.
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace plat;

TEST(CFile, CreateWriteSeekReadAndLength)
{
    TempDir dir;
    const std::u16string path = Wide(dir / "f.bin");
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive));
        file.Write("0123456789", 10);
        EXPECT_EQ(file.GetLength(), 10u);
        EXPECT_EQ(file.GetPosition(), 10u);
        file.SeekToBegin();
        char buffer[16] = {};
        EXPECT_EQ(file.Read(buffer, 4), 4u);
        EXPECT_EQ(std::string(buffer, 4), "0123");
        EXPECT_EQ(file.Seek(-2, CFile::end), 8u);
        EXPECT_EQ(file.Read(buffer, 16), 2u);  // fewer only at the end
        EXPECT_EQ(file.Read(buffer, 16), 0u);
        // Lengths are 64-bit: extend far past 4 GiB (sparse) and come back.
        file.SetLength(0x1'0000'0005ull);
        EXPECT_EQ(file.GetLength(), 0x1'0000'0005ull);
        EXPECT_EQ(file.GetPosition(), 0x1'0000'0005ull);
        EXPECT_EQ(file.SeekToEnd(), 0x1'0000'0005ull);
        file.SetLength(3);
        EXPECT_EQ(file.GetLength(), 3u);
        file.Flush();
    }  // closed here
    EXPECT_EQ(ReadBytes(dir / "f.bin"), "012");
}

TEST(CFile, CreateTruncatesUnlessNoTruncate)
{
    TempDir dir;
    const std::u16string path = Wide(dir / "f");
    WriteBytes(dir / "f", "old content");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
        EXPECT_EQ(file.GetLength(), 11u);
    }
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(file.GetLength(), 0u);
    }
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(Wide(dir / "absent").c_str(), CFile::modeNoTruncate | CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
}

struct OpenFailure {
    const char* name;
    std::function<std::u16string(const TempDir&)> path;
    UINT flags;
    int cause;
    DWORD osError;
};

void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

class CFileOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(CFileOpenFailure, FillsTheExceptionAndTheLastError)
{
    const OpenFailure& c = GetParam();
    TempDir dir;
    WriteBytes(dir / "readonly", "keep");
    ::chmod((dir / "readonly").c_str(), 0444);
    ::mkdir((dir / "folder").c_str(), 0755);
    const std::u16string path = c.path(dir);

    CFile file;
    CFileException error;
    SetLastError(0);
    EXPECT_FALSE(file.Open(path.c_str(), c.flags, &error));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.m_cause, c.cause);
    EXPECT_EQ(error.m_lOsError, static_cast<LONG>(c.osError));
    EXPECT_EQ(GetLastError(), c.osError);
    EXPECT_EQ(error.m_strFileName, path);
    // The constructor throws the same.
    try {
        CFile thrown(path.c_str(), c.flags);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, c.cause);
    }
    // A failed replacement leaves the read-only file as it was (root included).
    EXPECT_EQ(ReadBytes(dir / "readonly"), "keep");
}

INSTANTIATE_TEST_SUITE_P(
    Causes, CFileOpenFailure,
    ::testing::Values(
        OpenFailure{"MissingFile", [](const TempDir& d) { return Wide(d / "none"); }, CFile::modeRead,
                    CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
        OpenFailure{"MissingFolder", [](const TempDir& d) { return Wide(d / "none/f"); },
                    CFile::modeCreate | CFile::modeWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
        OpenFailure{"UnpairedSurrogate",
                    [](const TempDir& d) { return Wide(d / "x") + std::u16string(1, char16_t(0xDC00)); },
                    CFile::modeRead, CFileException::badPath, ERROR_INVALID_NAME},
        OpenFailure{"ReadOnlyForWriting", [](const TempDir& d) { return Wide(d / "readonly"); }, CFile::modeWrite,
                    CFileException::accessDenied, ERROR_ACCESS_DENIED},
        OpenFailure{"ReadOnlyReplaced", [](const TempDir& d) { return Wide(d / "readonly"); },
                    CFile::modeCreate | CFile::modeWrite, CFileException::accessDenied, ERROR_ACCESS_DENIED},
        OpenFailure{"Folder", [](const TempDir& d) { return Wide(d / "folder"); }, CFile::modeRead,
                    CFileException::accessDenied, ERROR_ACCESS_DENIED},
        OpenFailure{"BadAccessMode", [](const TempDir& d) { return Wide(d / "readonly"); }, 3u,
                    CFileException::genericException, ERROR_INVALID_PARAMETER}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CFile, ReadingAWriteOnlyFileAndWritingAReadOnlyOneAreDenied)
{
    TempDir dir;
    WriteBytes(dir / "f", "abc");
    char buffer[3] = {};
    CFile writer(Wide(dir / "f").c_str(), CFile::modeWrite | CFile::shareDenyNone);
    try {
        writer.Read(buffer, 3);
        FAIL() << "read allowed";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
    }
    CFile reader(Wide(dir / "f").c_str(), CFile::modeRead | CFile::shareDenyNone);
    try {
        reader.Write(buffer, 3);
        FAIL() << "write allowed";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.m_strFileName, Wide(dir / "f"));
    }
    try {
        reader.Seek(-1, CFile::begin);
        FAIL() << "negative seek allowed";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::badSeek);
    }
}

TEST(CFile, ClosedFileAndDoubleClose)
{
    CFile file;
    file.Close();  // nothing open: nothing to do
    file.Flush();
    char c;
    EXPECT_THROW(file.Read(&c, 1), CFileException);
    EXPECT_THROW(file.GetLength(), CFileException);
}

TEST(CFileException, CauseOfWin32CodesAndTheMessage)
{
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_FILE_NOT_FOUND), CFileException::fileNotFound);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_PATH_NOT_FOUND), CFileException::badPath);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_SHARING_VIOLATION), CFileException::sharingViolation);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_DISK_FULL), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_ALREADY_EXISTS), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_NO_SYSTEM_RESOURCES), CFileException::genericException);

    CFileException e(CFileException::sharingViolation, 32, u"/tmp/doc.txt");
    char16_t text[1024];
    ASSERT_TRUE(e.GetErrorMessage(text, 1024));
    EXPECT_EQ(std::u16string(text), u"A sharing violation occurred while accessing /tmp/doc.txt.");
    char16_t shortText[8];
    ASSERT_TRUE(e.GetErrorMessage(shortText, 8));
    EXPECT_EQ(std::u16string(shortText), u"A shari");  // cut to the buffer
    EXPECT_STREQ(e.what(), "A sharing violation occurred while accessing /tmp/doc.txt.");
}

TEST(Stdio, OpensReadsAndSeeksAWidePath)
{
    TempDir dir;
    WriteBytes(dir / "c.bin", "0123456789AB");
    FILE* f = plat::_wfopen(Wide(dir / "c.bin").c_str(), u"rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(plat::fseek(f, 0, SEEK_END), 0);
    EXPECT_EQ(plat::ftell(f), 12);
    ASSERT_EQ(plat::fseek(f, 10, SEEK_SET), 0);
    char buffer[4] = {};
    EXPECT_EQ(plat::fread(buffer, 1, 4, f), 2u);
    EXPECT_EQ(std::string(buffer, 2), "AB");
    EXPECT_EQ(plat::fclose(f), 0);
    EXPECT_EQ(plat::_wfopen(Wide(dir / "none").c_str(), u"rb"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CFile, FlushesFileAndFolderToDisk)
{
    TempDir dir;
    WriteBytes(dir / "f", "data");
    EXPECT_TRUE(FlushFileToDisk(Wide(dir / "f").c_str()));
    EXPECT_TRUE(FlushFolderToDisk(Wide(dir / "f").c_str()));
    EXPECT_FALSE(FlushFileToDisk(Wide(dir / "none").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FlushFolderToDisk(Wide(dir / "nofolder/f").c_str()));
}

// Small reads and writes go through the object's buffer; every other
// operation sees the bytes as if they had gone to the file at once.
TEST(CFile, BufferedSmallIoKeepsPositionsAndBytes)
{
    TempDir dir;
    const std::u16string path = Wide(dir / "b.bin");
    std::string expected;
    for (int i = 0; i < 600; ++i)  // 600 KiB of 1 KiB pieces: several buffers' worth
        expected += std::string(1024, static_cast<char>('a' + i % 26));
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
        for (int i = 0; i < 600; ++i)
            file.Write(expected.data() + i * 1024, 1024);
        EXPECT_EQ(file.GetPosition(), expected.size());
        EXPECT_EQ(file.GetLength(), expected.size());

        // A read ahead is given back before a write at the caller's position.
        file.SeekToBegin();
        char piece[1024];
        ASSERT_EQ(file.Read(piece, 10), 10u);
        file.Write("XYZ", 3);
        expected.replace(10, 3, "XYZ");
        EXPECT_EQ(file.GetPosition(), 13u);
        ASSERT_EQ(file.Read(piece, 7), 7u);
        EXPECT_EQ(std::string(piece, 7), expected.substr(13, 7));

        // Reads that run past the end of the buffered bytes and of the file.
        file.Seek(-1500, CFile::end);
        ASSERT_EQ(file.Read(piece, 1024), 1024u);
        EXPECT_EQ(std::string(piece, 1024), expected.substr(expected.size() - 1500, 1024));
        EXPECT_EQ(file.Read(piece, 1024), 476u);
        EXPECT_EQ(file.Read(piece, 1024), 0u);
    }
    EXPECT_EQ(ReadBytes(dir / "b.bin"), expected);
}

TEST(CFile, BufferedWritesReachTheFileOnAbortAndMove)
{
    TempDir dir;
    const std::u16string path = Wide(dir / "a.bin");
    {
        CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        file.Write("abc", 3);
        CFile moved(std::move(file));
        moved.Write("def", 3);
        EXPECT_EQ(ReadBytes(dir / "a.bin"), "");  // still in the buffer
        CFileStatus status;
        ASSERT_TRUE(moved.GetStatus(status));
        EXPECT_EQ(status.m_size, 6u);
        moved.Write("ghi", 3);
        moved.Abort();
    }
    EXPECT_EQ(ReadBytes(dir / "a.bin"), "abcdefghi");
}

// An object opened again keeps nothing of what it read ahead in its earlier
// file: the new file gets exactly the bytes written to it.
TEST(CFileReuse, ReopenedObjectWritesOnlyItsOwnBytes)
{
    struct Case {
        const char* name;
        std::function<void(CFile&)> beforeOpen;
    } cases[] = {
        {"OpenOverAnOpenFile", [](CFile&) {}},
        {"AbortThenOpen", [](CFile& file) { file.Abort(); }},
        {"FailedOpenThenOpen", [](CFile& file) { EXPECT_FALSE(file.Open(u"/nonexistent/none", CFile::modeRead)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteBytes(dir / "old", std::string(1000, 'o'));
        CFile file(Wide(dir / "old").c_str(), CFile::modeRead | CFile::shareDenyNone);
        char ten[10];
        ASSERT_EQ(file.Read(ten, 10), 10u);  // the other 990 bytes are read ahead
        c.beforeOpen(file);
        ASSERT_TRUE(file.Open(Wide(dir / "new").c_str(), CFile::modeCreate | CFile::modeWrite));
        file.Write("new", 3);
        file.Close();
        EXPECT_TRUE(ReadBytes(dir / "new") == "new");
        EXPECT_EQ(ReadBytes(dir / "old"), std::string(1000, 'o'));
    }
}

// A buffered write that cannot be made is still reported, by Close, and
// looking at the file's status meanwhile loses none of it; an object opened
// to write through reports it at once.
TEST(CFile, WriteErrorOfABufferedWriteSurfacesAtClose)
{
    CFile file;
    if (!file.Open(u"/dev/full", CFile::modeWrite | CFile::shareDenyNone))
        GTEST_SKIP() << "no /dev/full";
    file.Write("abc", 3);
    CFileStatus status;
    EXPECT_TRUE(file.GetStatus(status));
    EXPECT_EQ(status.m_size, 3u);  // the buffered bytes count
    try {
        file.Close();
        FAIL() << "the bytes were lost without a word";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
    }
    EXPECT_FALSE(file.IsOpen());

    ASSERT_TRUE(file.Open(u"/dev/full", CFile::modeWrite | CFile::shareDenyNone | CFile::osWriteThrough));
    EXPECT_THROW(file.Write("abc", 3), CFileException);
}
