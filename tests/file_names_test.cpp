// Names on disk: attributes, deletion and moves as one script; temporary names; the shell's path helpers.
#include "platform/File.h"
#include "platform/FileFind.h"
#include "platform/LastError.h"
#include "platform/PathText.h"
#include "platform/Shell.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/Wine.h"

#include <gtest/gtest.h>

using namespace plat;
using E = CFileException;

// A step: call (CFile's Remove, Rename, constructor give cause, OS error), result, last error, folder after.
TEST(FileNamesContract, Script)
{
    constexpr DWORD kAny = ~0u, kBad = INVALID_FILE_ATTRIBUTES;
    constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kCreate = CFile::modeCreate;
    const struct { char call; const char* a; const char* b; DWORD value, result, error; const char* after; } steps[] = {
        {'o', "f", "", kRead, E::none, kAny, nullptr},
        {'o', "f", "", kCreate | CFile::modeNoTruncate | kWrite, E::none, ERROR_ALREADY_EXISTS, nullptr},
        {'o', "f", "", kCreate | kWrite, E::none, ERROR_ALREADY_EXISTS, ".hidden= dir/ f= ro=keep(ro)"},
        {'o', "none", "", CFile::modeNoTruncate | kRead, E::fileNotFound, ERROR_FILE_NOT_FOUND, nullptr},
        {'o', "none/f", "", kCreate | kWrite, E::badPath, ERROR_PATH_NOT_FOUND, nullptr},
        {'o', "x|", "", kRead, E::badPath, ERROR_INVALID_NAME, nullptr},
        {'o', "ro", "", kWrite, E::accessDenied, ERROR_ACCESS_DENIED, nullptr},
        {'o', "ro", "", kCreate | kWrite, E::accessDenied, ERROR_ACCESS_DENIED, nullptr},
        {'o', "dir", "", kRead, E::accessDenied, ERROR_ACCESS_DENIED, nullptr},
        {'o', "ro", "", 3u, E::genericException, ERROR_INVALID_PARAMETER, nullptr},
        {'a', "f", "", 0, FILE_ATTRIBUTE_NORMAL, kAny, nullptr},
        {'a', ".hidden", "", 0, FILE_ATTRIBUTE_HIDDEN, kAny, nullptr},
        {'a', "dir/", "", 0, FILE_ATTRIBUTE_DIRECTORY, kAny, nullptr},
        {'a', "nofolder/none", "", 0, kBad, ERROR_PATH_NOT_FOUND, nullptr},
        {'a', "x|", "", 0, kBad, ERROR_INVALID_NAME, nullptr},
        {'d', "ro", "", 0, FALSE, ERROR_ACCESS_DENIED, nullptr},
        {'R', "ro", "", 0, E::accessDenied, ERROR_ACCESS_DENIED, nullptr},
        {'d', "dir", "", 0, FALSE, ERROR_ACCESS_DENIED, nullptr},
        {'R', "none", "", 0, E::fileNotFound, ERROR_FILE_NOT_FOUND, nullptr},
        {'m', "f", "ro", 0, FALSE, ERROR_ALREADY_EXISTS, nullptr},
        {'N', "f", "ro", 0, E::accessDenied, ERROR_ALREADY_EXISTS, nullptr},
        {'m', "none", "e", 0, FALSE, ERROR_FILE_NOT_FOUND, nullptr},
        {'m', "f", "nofolder/e", 0, FALSE, ERROR_PATH_NOT_FOUND, nullptr},
        {'m', "\\f", "\\c", 0, TRUE, kAny, ".hidden= c= dir/ ro=keep(ro)"},
        {'N', "c", "d", 0, E::none, kAny, ".hidden= d= dir/ ro=keep(ro)"},
        {'s', "d", "", FILE_ATTRIBUTE_READONLY, TRUE, kAny, ".hidden= d=(ro) dir/ ro=keep(ro)"},
        {'s', "ro", "", FILE_ATTRIBUTE_NORMAL, TRUE, kAny, ".hidden= d=(ro) dir/ ro=keep"},
        {'d', "ro", "", 0, TRUE, kAny, ".hidden= d=(ro) dir/"},
        {'s', "none", "", FILE_ATTRIBUTE_NORMAL, FALSE, ERROR_FILE_NOT_FOUND, nullptr},
        {'s', "d", "", FILE_ATTRIBUTE_NORMAL, TRUE, kAny, ".hidden= d= dir/"},
        {'R', "d", "", 0, E::none, kAny, ".hidden= dir/"},
        {'o', "new", "", kCreate | kWrite, E::none, 0, ".hidden= dir/ new="},
    };
    TempDir dir;
    LayOut(dir.Path());
    WriteBytes(dir / ".hidden", "");
    std::string state = Listing(dir.Path());
    for (auto s : steps) {
        if (UnderWine()) {
            // Wine reports ARCHIVE on every file and a missing file for a name with "|". It leaves a read-only
            // file's protection to Unix permissions, which root (as in CI) passes: those opens are not asked.
            if (s.call == 'o' && s.a == std::string_view("ro") && s.result == E::accessDenied)
                continue;
            if (s.a == std::string_view("x|"))
                s.result = s.call == 'o' ? DWORD{E::fileNotFound} : kBad, s.error = ERROR_FILE_NOT_FOUND;
            else if (s.call == 'a' && s.result != kBad && s.result != FILE_ATTRIBUTE_DIRECTORY)
                s.result = (s.result & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
        }
        const std::u16string a = PathIn(dir.Path(), s.a), b = PathIn(dir.Path(), s.b);
        LONG thrown = 0;
        std::u16string name = a;
        SetLastError(0);
        const DWORD result = s.call == 'a'   ? GetFileAttributesW(a.c_str())
                             : s.call == 's' ? SetFileAttributesW(a.c_str(), s.value)
                             : s.call == 'd' ? DeleteFileW(a.c_str())
                             : s.call == 'm' ? MoveFileW(a.c_str(), b.c_str())
                             : s.call == 'R' ? ThrownCause([&] { CFile::Remove(a.c_str()); }, &thrown, &name)
                             : s.call == 'o' ? ThrownCause([&] { CFile opened(a.c_str(), s.value); }, &thrown, &name)
                                             : ThrownCause([&] { CFile::Rename(a.c_str(), b.c_str()); },
                                                           &thrown, &name);
        const bool throws = s.call == 'R' || s.call == 'N' || s.call == 'o';
        const DWORD error = throws && thrown != 0 ? static_cast<DWORD>(thrown) : GetLastError();
        EXPECT_TRUE(s.call != 'o' || thrown == 0 || GetLastError() == error) << s.a;
        state = s.after != nullptr ? s.after : state;
        EXPECT_EQ(result, s.result) << s.call << " " << s.a;
        EXPECT_TRUE(s.error == kAny || error == s.error) << s.call << " " << s.a << ": " << error;
        EXPECT_EQ(name, a) << s.call << " " << s.a;
        EXPECT_EQ(Listing(dir.Path()), state) << s.call << " " << s.a;
    }
}

// What a search finds: wildcards without regard to case, "*.*" also names without a dot; lengths past 4 GiB.
TEST(FindFileContract, PatternsBadHandlesAndLengths)
{
    TempDir dir;
    LayOut(dir.Path());
    WriteBytes(dir / "A.txt", "");
    WriteBytes(dir / "big.TXT", "");
    std::filesystem::resize_file(dir / "big.TXT", 5ull << 30);  // sparse
    const auto found = [&](const char* pattern) {
        std::set<std::string> names;
        CFileFind find;
        for (BOOL more = find.FindFile(PathIn(dir.Path(), pattern).c_str()); more;) {
            more = find.FindNextFile();
            names.insert(*Utf16ToUtf8(find.GetFileName()) + (find.IsDirectory() ? "/" : ""));
        }
        std::string out;
        for (const std::string& name : names)
            out += name + " ";
        return out;
    };
    EXPECT_EQ(found("*.*"), "../ ./ A.txt big.TXT dir/ f ro ");  // the dots too, as Windows lists them
    EXPECT_EQ(found("*.TXT"), "A.txt big.TXT ");
    EXPECT_EQ(found("?"), "./ f ");
    EXPECT_EQ(found("R?"), "ro ");
    EXPECT_EQ(found("x*"), "");
    CFileFind find;
    ASSERT_TRUE(find.FindFile(PathIn(dir.Path(), "big.TXT").c_str()));
    EXPECT_FALSE(find.FindNextFile());
    EXPECT_EQ(find.GetLength(), 5ull << 30);
    WIN32_FIND_DATAW data{};
    EXPECT_FALSE(FindNextFileW(INVALID_HANDLE_VALUE, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE search = FindFirstFileW(PathIn(dir.Path(), "f").c_str(), &data);
    EXPECT_FALSE(FindNextFileW(search, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    FindClose(search);
}

// Temporary names created or composed, bad folders refused; the shell's path helpers.
TEST(TempFileNameAndShellPath, NamesFoldersAndFileSpecs)
{
    TempDir dir;
    char16_t name[MAX_PATH] = {}, large[1024] = {};
    ASSERT_EQ(GetTempFileNameW(Wide(dir.Path() + "\\").c_str(), u"~PV", 0x1abcd, name), 0xabcdu);
    EXPECT_EQ(std::u16string(name), Wide(dir.Path() + "\\~PVABCD.tmp"));  // composed only, no second separator
    const UINT number = GetTempFileNameW(Wide(dir.Path()).c_str(), u"~PVX", 0, name);
    char expected[16];
    std::snprintf(expected, sizeof expected, "~PV%04X.tmp", number);
    EXPECT_EQ(std::u16string(name), Wide(dir / expected));
    EXPECT_EQ(Listing(dir.Path()), std::string(expected) + "=");  // created, empty
    EXPECT_EQ(GetTempFileNameW(name, u"~PV", 0, large), 0u);        // a file is no folder
    EXPECT_EQ(GetTempFileNameW(Wide(dir / "none").c_str(), u"~PV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    // A folder of 248 characters, the most CreateDirectoryW makes, leaves no room for "\\~PVxxxx.tmp" in MAX_PATH.
    const std::string deep = dir.Path() + "/" + std::string(247 - dir.Path().size(), 'd');
    std::filesystem::create_directory(deep);
    EXPECT_EQ(GetTempFileNameW(Wide(deep).c_str(), u"~PV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(Listing(deep), "");
    EXPECT_NE(GetTempFileNameW(Wide(deep).c_str(), u"~PV", 0, large, 1024), 0u);
    EXPECT_TRUE(PathFileExistsW(large) && PathFileExistsW(Wide(deep).c_str()));
    EXPECT_FALSE(PathFileExistsW(Wide(dir / "none").c_str()) || PathFileExistsW(nullptr));
    const struct { std::u16string path, stripped; bool removed; } cases[] = {
        {u"/tmp/dir/file.txt", u"/tmp/dir", true},   {u"C:\\dir\\file.txt", u"C:\\dir", true},
        {u"C:\\file.txt", u"C:\\", true},            {u"C:\\", u"C:\\", false},
        {u"/file", u"/", true},                      {u"/", u"/", false},
        {u"file.txt", u"", true},                    {u"", u"", false},
        {u"dir/sub/", u"dir/sub", true},             {u"\\\\server\\share\\f", u"\\\\server\\share", true},
        {u"C:file", u"C:", true},                    {u"mixed\\dir/file", u"mixed\\dir", true},
    };
    for (const auto& c : cases) {
        std::u16string buffer = c.path + u'\0';
        EXPECT_EQ(PathRemoveFileSpecW(buffer.data()) != FALSE, c.removed) << Utf16ToUtf8(c.path).value();
        EXPECT_EQ(std::u16string(buffer.c_str()), c.stripped) << Utf16ToUtf8(c.path).value();
    }
}
