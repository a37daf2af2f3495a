// Names on disk: unique temporary names under concurrency, short names,
// moves that never replace a file, deletion rules, and the shell's path
// helpers with both separators.
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/PathText.h"
#include "platform/Shell.h"
#include "support/ChildProcess.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <thread>

using namespace plat;

namespace {

size_t CountEntries(const std::string& folder)
{
    size_t n = 0;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* e = ::readdir(dir))
        n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    ::closedir(dir);
    return n;
}

}  // namespace

TEST(TempFileName, CreatesAnExclusiveEmptyFileOfMode0600)
{
    TempDir dir;
    char16_t name[MAX_PATH] = {};
    const UINT number = GetTempFileNameW(Wide(dir.Path()).c_str(), u"~PVX", 0, name);
    ASSERT_NE(number, 0u);
    const std::string utf8 = Utf16ToUtf8(name).value();
    EXPECT_TRUE(std::regex_match(utf8, std::regex(dir.Path() + "/~PV[0-9A-F]{4}\\.tmp"))) << utf8;
    EXPECT_EQ(std::stoul(utf8.substr(dir.Path().size() + 4, 4), nullptr, 16), number);
    EXPECT_EQ(ModeOf(utf8), 0600u);
    EXPECT_EQ(ReadBytes(utf8), "");

    // A folder given with a trailing separator of either kind gets no second one.
    ASSERT_NE(GetTempFileNameW(Wide(dir.Path() + "\\").c_str(), u"~PV", 0, name), 0u);
    EXPECT_EQ(std::u16string(name).find(u"\\~PV"), dir.Path().size());
    // With a number of its own, the name is only composed.
    ASSERT_EQ(GetTempFileNameW(Wide(dir.Path()).c_str(), u"~PV", 0x1abcd, name), 0xabcdu);
    EXPECT_EQ(std::u16string(name), Wide(dir / "~PVABCD.tmp"));
    EXPECT_FALSE(Exists(dir / "~PVABCD.tmp"));
}

TEST(TempFileName, FailsForAMissingFolderOrANameTooLong)
{
    TempDir dir;
    char16_t name[MAX_PATH] = {};
    EXPECT_EQ(GetTempFileNameW(Wide(dir / "none").c_str(), u"~PV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    WriteBytes(dir / "file", "");
    EXPECT_EQ(GetTempFileNameW(Wide(dir / "file").c_str(), u"~PV", 0, name), 0u);

    const std::string deep = dir.Path() + "/" + std::string(250, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    EXPECT_EQ(GetTempFileNameW(Wide(deep).c_str(), u"~PV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(CountEntries(deep), 0u);
    char16_t large[1024] = {};
    EXPECT_NE(GetTempFileNameW(Wide(deep).c_str(), u"~PV", 0, large, 1024), 0u);
}

TEST(TempFileName, NamesStayUniqueAcrossThreadsAndProcesses)
{
    TempDir dir;
    const std::u16string folder = Wide(dir.Path());
    constexpr int kThreads = 3, kProcesses = 2, kEach = 40;
    const auto makeNames = [&](std::vector<std::u16string>* out) {
        for (int i = 0; i < kEach; ++i) {
            char16_t name[MAX_PATH] = {};
            if (GetTempFileNameW(folder.c_str(), u"~PV", 0, name) == 0)
                return false;
            if (out != nullptr)
                out->push_back(name);
        }
        return true;
    };
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int p = 0; p < kProcesses; ++p)
        children.push_back(std::make_unique<ChildProcess>([&](ChildProcess&) { return makeNames(nullptr) ? 0 : 1; }));
    std::vector<std::vector<std::u16string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { EXPECT_TRUE(makeNames(&names[t])); });
    for (auto& t : threads)
        t.join();
    for (auto& c : children)
        EXPECT_EQ(c->Join(), 0);

    std::set<std::u16string> distinct;
    for (const auto& list : names)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), size_t{kThreads * kEach});
    // Every call created its own file: no two calls anywhere got one name.
    EXPECT_EQ(CountEntries(dir.Path()), size_t{(kThreads + kProcesses) * kEach});
}

TEST(ShortPathName, IsThePathItselfForAnExistingPath)
{
    TempDir dir;
    const std::string longName = dir.Path() + "/" + std::string(200, 'n') + "/" + std::string(100, 'm');
    ASSERT_EQ(::mkdir(longName.substr(0, longName.rfind('/')).c_str(), 0755), 0);
    WriteBytes(longName, "x");
    const std::u16string path = Wide(longName);
    std::vector<char16_t> buffer(1024);
    EXPECT_EQ(GetShortPathNameW(path.c_str(), buffer.data(), 1024), path.size());
    EXPECT_EQ(std::u16string(buffer.data()), path);
    EXPECT_EQ(GetShortPathNameW(path.c_str(), buffer.data(), 10), path.size() + 1);  // the size it needs
    EXPECT_EQ(GetShortPathNameW(Wide(dir / "none").c_str(), buffer.data(), 1024), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(MoveFile, NeverReplacesAnExistingName)
{
    TempDir dir;
    WriteBytes(dir / "a", "A");
    WriteBytes(dir / "b", "B");
    SetLastError(0);
    EXPECT_FALSE(MoveFileW(Wide(dir / "a").c_str(), Wide(dir / "b").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadBytes(dir / "a"), "A");
    EXPECT_EQ(ReadBytes(dir / "b"), "B");
    try {
        CFile::Rename(Wide(dir / "a").c_str(), Wide(dir / "b").c_str());
        FAIL() << "renamed onto an existing file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(e.m_strFileName, Wide(dir / "a"));
    }
    // Windows' separators work as well; a free name is taken.
    EXPECT_TRUE(MoveFileW(Wide(dir.Path() + "\\a").c_str(), Wide(dir.Path() + "\\c").c_str()));
    EXPECT_EQ(ReadBytes(dir / "c"), "A");
    CFile::Rename(Wide(dir / "c").c_str(), Wide(dir / "d").c_str());
    EXPECT_EQ(ReadBytes(dir / "d"), "A");
    EXPECT_FALSE(Exists(dir / "c"));

    EXPECT_FALSE(MoveFileW(Wide(dir / "none").c_str(), Wide(dir / "e").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFileW(Wide(dir / "d").c_str(), Wide(dir / "nofolder/e").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(DeleteFile, RefusesReadOnlyFilesAndFolders)
{
    TempDir dir;
    WriteBytes(dir / "r", "keep");
    ::chmod((dir / "r").c_str(), 0444);
    ::mkdir((dir / "folder").c_str(), 0755);
    EXPECT_FALSE(DeleteFileW(Wide(dir / "r").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists(dir / "r"));
    try {
        CFile::Remove(Wide(dir / "r").c_str());
        FAIL() << "removed a read-only file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
    }
    EXPECT_FALSE(DeleteFileW(Wide(dir / "folder").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    try {
        CFile::Remove(Wide(dir / "none").c_str());
        FAIL() << "removed a missing file";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
    ASSERT_TRUE(SetFileAttributesW(Wide(dir / "r").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileW(Wide(dir / "r").c_str()));
    EXPECT_FALSE(Exists(dir / "r"));
}

struct SpecCase {
    std::u16string path;
    std::u16string stripped;
    bool removed;
};

TEST(ShellPath, RemoveFileSpecWithEitherSeparator)
{
    const SpecCase cases[] = {
        {u"/tmp/dir/file.txt", u"/tmp/dir", true},   {u"C:\\dir\\file.txt", u"C:\\dir", true},
        {u"C:\\file.txt", u"C:\\", true},            {u"C:\\", u"C:\\", false},
        {u"/file", u"/", true},                      {u"/", u"/", false},
        {u"file.txt", u"", true},                    {u"", u"", false},
        {u"dir/sub/", u"dir/sub", true},             {u"\\\\server\\share\\f", u"\\\\server\\share", true},
        {u"C:file", u"C:", true},                    {u"mixed\\dir/file", u"mixed\\dir", true},
    };
    for (const SpecCase& c : cases) {
        std::u16string buffer = c.path;
        buffer.push_back(0);
        EXPECT_EQ(PathRemoveFileSpecW(buffer.data()) != FALSE, c.removed) << Utf16ToUtf8(c.path).value();
        EXPECT_EQ(std::u16string(buffer.c_str()), c.stripped) << Utf16ToUtf8(c.path).value();
    }
}

TEST(ShellPath, FileExistsAndSeparatorHelpers)
{
    TempDir dir;
    WriteBytes(dir / "f", "");
    EXPECT_TRUE(PathFileExistsW(Wide(dir / "f").c_str()));
    EXPECT_TRUE(PathFileExistsW(Wide(dir.Path()).c_str()));
    EXPECT_FALSE(PathFileExistsW(Wide(dir / "none").c_str()));
    EXPECT_FALSE(PathFileExistsW(nullptr));

    EXPECT_EQ(FindLastSeparator(u"a\\b/c"), 3u);
    EXPECT_EQ(FindFirstSeparator(u"a\\b/c"), 1u);
    EXPECT_EQ(FindLastSeparator(u"abc"), std::u16string_view::npos);
    EXPECT_EQ(JoinPath(u"a\\b\\", u"c"), u"a\\b\\c");
    EXPECT_EQ(JoinPath(u"a/b", u"c"), u"a/b/c");
    EXPECT_EQ(JoinPath(u"", u"c"), u"c");
    EXPECT_EQ(FileNamePart(u"C:\\dir\\name.txt"), u"name.txt");
    EXPECT_TRUE(IsSharePath(u"\\\\server\\share"));
    EXPECT_TRUE(IsSharePath(u"//server/share"));
    EXPECT_FALSE(IsSharePath(u"/tmp"));
    EXPECT_TRUE(HasDriveLetter(u"d:x"));
    EXPECT_FALSE(HasDriveLetter(u"1:x"));
}
