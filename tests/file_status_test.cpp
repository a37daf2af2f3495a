// File attributes and status: how the Windows attributes map onto
// permission bits and names, and that times (to 100 ns) and attributes
// survive GetStatus -> SetStatus onto another file. The creation time
// cannot be set here, so the round trips are about access and write times.
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/FileFind.h"
#include "platform/FileTime.h"
#include "platform/LastError.h"
#include "support/ChildProcess.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

FILETIME At(ULONGLONG ticks)
{
    return TicksToFileTime(ticks);
}

// 2021-06-01 12:00:00 UTC plus 1234567 ticks: a time with every digit below the second in use.
constexpr ULONGLONG kSomeTime = 132'670'224'000'000'000ull + 1'234'567;

}  // namespace

TEST(FileAttributes, MapOntoPermissionsAndNames)
{
    TempDir dir;
    WriteBytes(dir / "plain.txt", "x");
    WriteBytes(dir / ".hidden", "x");
    ::mkdir((dir / "folder").c_str(), 0755);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "plain.txt").c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / ".hidden").c_str()), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "folder").c_str()), FILE_ATTRIBUTE_DIRECTORY);
    // A trailing separator still names the folder.
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "folder/").c_str()), FILE_ATTRIBUTE_DIRECTORY);

    ::chmod((dir / "plain.txt").c_str(), 0444);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "plain.txt").c_str()), FILE_ATTRIBUTE_READONLY);
    // Only the owner's write permission counts.
    ::chmod((dir / "plain.txt").c_str(), 0622);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "plain.txt").c_str()), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileAttributes, MissingFileOrFolderIsReportedAsWindowsDoes)
{
    TempDir dir;
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "nofolder/none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    const char16_t unpaired[] = {u'/', u't', u'm', u'p', u'/', 0xD800, 0};
    EXPECT_EQ(GetFileAttributesW(unpaired), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST(FileAttributes, ReadOnlyTakesAllWriteAwayAndNormalGivesTheOwnerItBack)
{
    TempDir dir;
    const std::string path = dir / "f";
    WriteBytes(path, "x");
    ::chmod(path.c_str(), 0664);
    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(GetFileAttributesW(Wide(path).c_str()), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(ModeOf(path), 0644u);
    // Attributes that mean nothing here change nothing.
    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ModeOf(path), 0644u);
    EXPECT_FALSE(SetFileAttributesW(Wide(dir / "none").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileStatus, GetStatusReportsTimesSizeAttributesAndFullName)
{
    TempDir dir;
    const std::string path = dir / "doc.bin";
    WriteBytes(path, std::string(1234, 'a'));
    const timespec times[2] = {FileTimeToTimespec(At(kSomeTime)), FileTimeToTimespec(At(kSomeTime + 10'000'000))};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(Wide(path).c_str(), status));
    EXPECT_EQ(FileTimeToTicks(status.m_atime), kSomeTime);
    EXPECT_EQ(FileTimeToTicks(status.m_mtime), kSomeTime + 10'000'000);
    EXPECT_NE(FileTimeToTicks(status.m_ctime), 0u);
    EXPECT_EQ(status.m_size, 1234u);
    EXPECT_EQ(status.m_attribute, CFile::normal);  // NORMAL is not an attribute bit of the status
    EXPECT_EQ(status.m_szFullName, Wide(path));

    // The directory entry says the same.
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(Wide(path).c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(FileTimeToTicks(data.ftLastAccessTime), kSomeTime);
    EXPECT_EQ(FileTimeToTicks(data.ftLastWriteTime), kSomeTime + 10'000'000);
    EXPECT_EQ(FileTimeToTicks(data.ftCreationTime), FileTimeToTicks(status.m_ctime));
    EXPECT_EQ(data.nFileSizeLow, 1234u);
    EXPECT_EQ(std::u16string(data.cFileName), u"doc.bin");

    EXPECT_FALSE(CFile::GetStatus(Wide(dir / "none").c_str(), status));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileStatus, RoundTripsOntoAnotherFile)
{
    TempDir dir;
    const std::string source = dir / "source", target = dir / "target";
    WriteBytes(source, "source");
    WriteBytes(target, "target");
    const timespec times[2] = {FileTimeToTimespec(At(kSomeTime)), FileTimeToTimespec(At(kSomeTime + 7))};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_TRUE(SetFileAttributesW(Wide(source).c_str(), FILE_ATTRIBUTE_READONLY));

    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(Wide(source).c_str(), status));
    ASSERT_EQ(status.m_attribute, CFile::readOnly);
    CFile::SetStatus(Wide(target).c_str(), status);

    CFileStatus after;
    ASSERT_TRUE(CFile::GetStatus(Wide(target).c_str(), after));
    EXPECT_EQ(FileTimeToTicks(after.m_atime), kSomeTime);
    EXPECT_EQ(FileTimeToTicks(after.m_mtime), kSomeTime + 7);
    EXPECT_EQ(after.m_attribute, CFile::readOnly);
    EXPECT_EQ(ReadBytes(target), "target");

    // Back to normal and a new write time, onto the now read-only file:
    // it is made writable first so that its times can be set.
    status.m_attribute = CFile::normal;
    status.m_mtime = At(kSomeTime + 20'000'000);
    CFile::SetStatus(Wide(target).c_str(), status);
    ASSERT_TRUE(CFile::GetStatus(Wide(target).c_str(), after));
    EXPECT_EQ(after.m_attribute, CFile::normal);
    EXPECT_EQ(FileTimeToTicks(after.m_mtime), kSomeTime + 20'000'000);
}

// Group permissions grant to the status's group: a process that may not
// give the file that group (not root, not in it) leaves them out.
TEST(FileStatus, AGroupThatCannotBeGivenTakesTheGroupPermissionsAway)
{
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0777);
    const std::string path = dir / "f";
    ChildProcess child([&](ChildProcess&) {
        constexpr gid_t kNobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            return 1;
        WriteBytes(path, "x");
        CFileStatus status;
        status.m_access = CFileStatus::Access{0664, 4242};
        CFile::SetStatus(Wide(path).c_str(), status);
        return 0;
    });
    ASSERT_EQ(child.Join(), 0);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_NE(st.st_gid, 4242u);
}

TEST(FileStatus, ZeroTimesAreLeftAlone)
{
    TempDir dir;
    const std::string path = dir / "f";
    WriteBytes(path, "x");
    const timespec times[2] = {FileTimeToTimespec(At(kSomeTime)), FileTimeToTimespec(At(kSomeTime))};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    CFileStatus status;  // all times zero, attribute normal
    CFile::SetStatus(Wide(path).c_str(), status);
    CFileStatus after;
    ASSERT_TRUE(CFile::GetStatus(Wide(path).c_str(), after));
    EXPECT_EQ(FileTimeToTicks(after.m_mtime), kSomeTime);
    EXPECT_EQ(FileTimeToTicks(after.m_atime), kSomeTime);

    // A write time alone leaves the access time too.
    status.m_mtime = At(kSomeTime + 5);
    CFile::SetStatus(Wide(path).c_str(), status);
    ASSERT_TRUE(CFile::GetStatus(Wide(path).c_str(), after));
    EXPECT_EQ(FileTimeToTicks(after.m_mtime), kSomeTime + 5);
    EXPECT_EQ(FileTimeToTicks(after.m_atime), kSomeTime);
}

TEST(FileStatus, SetStatusOnAMissingFileThrowsFileNotFound)
{
    TempDir dir;
    CFileStatus status;
    status.m_mtime = At(kSomeTime);
    try {
        CFile::SetStatus(Wide(dir / "none").c_str(), status);
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    }
}

TEST(FileFind, FindsByNameAndByWildcard)
{
    TempDir dir;
    WriteBytes(dir / "Alpha.txt", "1");
    WriteBytes(dir / "beta.txt", "22");
    WriteBytes(dir / "gamma.dat", "333");

    CFileFind finder;
    EXPECT_TRUE(finder.FindFile(Wide(dir / "beta.txt").c_str()));
    EXPECT_FALSE(finder.FindNextFile());  // the one match is now current
    EXPECT_EQ(finder.GetFileName(), u"beta.txt");
    EXPECT_EQ(finder.GetFilePath(), Wide(dir / "beta.txt"));
    EXPECT_EQ(finder.GetLength(), 2u);
    EXPECT_FALSE(finder.FindFile(Wide(dir / "Beta.TXT").c_str()));  // names themselves keep their case
    EXPECT_FALSE(finder.FindFile(Wide(dir / "none").c_str()));

    std::vector<std::u16string> names;
    ASSERT_TRUE(finder.FindFile(Wide(dir / "*.TXT").c_str()));
    for (bool more = true; more;) {
        more = finder.FindNextFile();
        names.push_back(finder.GetFileName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Alpha.txt", u"beta.txt"}));

    WIN32_FIND_DATAW data{};
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(Wide(dir / "nofolder/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(Wide(dir / "?.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}
