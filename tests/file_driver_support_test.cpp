// What the file drivers share: paths refused before the disk is touched,
// short forms of long paths, the "~PV" temporary name and its discarding, the
// source opened with retries, the progress percentages, large images written
// in 16 MiB pieces, and the final rename with its five MoveFileW retries on
// the virtual clock.
#include "container/FileDriverSupport.h"
#include "platform/FaultInjection.h"
#include "platform/FileApi.h"
#include "platform/Messaging.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
#include <vector>

using namespace plat;
using namespace container::files;

namespace {

// A path of exactly `length` characters in `dir`, made of nested folders.
std::string PathOfLength(const TempDir& dir, size_t length)
{
    std::string path = dir.Path();
    while (path.size() + 1 + 100 < length) {
        path += "/" + std::string(99, 'd');
        std::filesystem::create_directory(path);
    }
    path += "/";
    path += std::string(length - path.size(), 'f');
    return path;
}

std::vector<WPARAM> ProgressOf(int64_t size, int segments)
{
    std::vector<WPARAM> sent;
    ScopedWindow window([&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        EXPECT_EQ(message, 1031u);
        EXPECT_EQ(lParam, 0);
        sent.push_back(wParam);
        return 0;
    });
    ProgressReporter progress(window.Handle(), size);
    for (int i = 0; i < segments; ++i)
        progress.SegmentDone();
    progress.Finish();
    return sent;
}

}  // namespace

// A null or empty source or destination: every driver returns 0 with its
// trace line before it touches the disk. Nothing appears in the working
// folder (where an empty destination's temporary file would go), and the
// source stays as it was.
TEST(FileDriverSupport, MissingPathsAreRefusedBeforeTheDiskIsTouched)
{
    static char key[] = "0123456789abcdef";
    using Call = int (*)(const PVWCHAR*, const PVWCHAR*);
    struct Driver {
        std::string traced;
        Call call;
    };
    const Driver drivers[] = {
        {"[PVCodec.dll]CPVCodec::DoEncryptFile() ",
         [](const PVWCHAR* s, const PVWCHAR* d) { return CPVCodec::EncryptFileW(s, d, key, nullptr, 0, nullptr); }},
        {"[PVCodec.dll]CPVCodec::EncryptFile2() ",
         [](const PVWCHAR* s, const PVWCHAR* d) { return CPVCodec::EncryptFile2(s, d, key, nullptr, 0, nullptr); }},
        {"[PVCodec.dll]CPVCodec::DecryptFile() ",
         [](const PVWCHAR* s, const PVWCHAR* d) { return CPVCodec::DecryptFileW(s, d, key, nullptr, 0); }},
        {"[PVCodec.dll]CPVCodec::DecryptFile2() ",
         [](const PVWCHAR* s, const PVWCHAR* d) { return CPVCodec::DecryptFile2(s, d, key, nullptr, 0); }},
    };
    TempDir dir;
    const std::string working = dir / "working";
    std::filesystem::create_directory(working);
    const std::string source = dir / "doc.txt";
    WriteBytes(source, std::string(3000, 'd'));
    const std::u16string src = Wide(source);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(working);
    const std::pair<const PVWCHAR*, const PVWCHAR*> paths[] = {
        {src.c_str(), u""}, {u"", src.c_str()}, {src.c_str(), nullptr}, {nullptr, src.c_str()}};
    for (const Driver& driver : drivers) {
        for (const auto& [from, to] : paths) {
            TraceCapture trace;
            EXPECT_EQ(driver.call(from, to), 0) << driver.traced;
            EXPECT_EQ(trace.Lines(), std::vector<std::string>{driver.traced + "ERROR! No source or destination path"});
        }
    }
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::is_empty(working));
    EXPECT_EQ(ReadBytes(source), std::string(3000, 'd'));
}

TEST(FileDriverSupport, ShortFormOnlyForLongPaths)
{
    TempDir dir;
    const std::string shortPath = dir / "missing";
    EXPECT_EQ(ShortForm(Wide(shortPath).c_str()), Wide(shortPath)) << "copied, existing or not";
    const std::string at255 = PathOfLength(dir, 255);
    EXPECT_EQ(ShortForm(Wide(at255).c_str()), Wide(at255));

    const std::string at256 = PathOfLength(dir, 256);
    EXPECT_EQ(ShortForm(Wide(at256).c_str()), u"") << "no short form before the file exists";
    WriteBytes(at256, "x");
    EXPECT_EQ(ShortForm(Wide(at256).c_str()), Wide(at256));

    const std::string at1023 = PathOfLength(dir, 1023);
    WriteBytes(at1023, "x");
    EXPECT_EQ(ShortForm(Wide(at1023).c_str()), Wide(at1023));
    const std::string at1024 = PathOfLength(dir, 1024);
    WriteBytes(at1024, "x");
    EXPECT_EQ(ShortForm(Wide(at1024).c_str()), u"") << "does not fit 1024 characters";
    EXPECT_EQ(ShortForm(nullptr), u"");
}

TEST(FileDriverSupport, SamenessIgnoresCase)
{
    EXPECT_TRUE(SamePath(u"/tmp/Doc.TXT", u"/tmp/doc.txt"));
    EXPECT_FALSE(SamePath(u"/tmp/doc.txt", u"/tmp/doc.txt2"));
    EXPECT_FALSE(SamePath(nullptr, u"a"));
    EXPECT_EQ(SourceShareMode(u"/a/B", u"/A/b"), CFile::shareDenyRead);
    EXPECT_EQ(SourceShareMode(u"/a/b", u"/a/c"), CFile::shareDenyNone);
}

TEST(FileDriverSupport, TemporaryNameIsFreeAndInTheDestinationsFolder)
{
    TempDir dir;
    fault::Scope seam;
    TemporaryName name = MakeTemporaryName(Wide(dir / "doc.txt").c_str());
    ASSERT_TRUE(name.ok);
    EXPECT_EQ(name.folder, Wide(dir.Path()));
    const std::string path = *Utf16ToUtf8(name.path);
    EXPECT_EQ(path.rfind(dir / "~PV", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
    EXPECT_FALSE(Exists(path)) << "only the name is kept";
    EXPECT_TRUE(fault::ShellNotifications().empty());

    fault::FailNthCall(fault::Op::GetTempFileNameW, 1, fault::Failure{ERROR_ACCESS_DENIED});
    TemporaryName refused = MakeTemporaryName(Wide(dir / "doc.txt").c_str());
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.folder, Wide(dir.Path()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(FileDriverSupport, TemporaryFolderFromTheFirst1022Characters)
{
    // 1030 characters: the copy keeps 1022, whose last component is cut off.
    std::u16string destination = u"/nowhere/" + std::u16string(1021, u'a');
    TemporaryName name = MakeTemporaryName(destination.c_str());
    EXPECT_FALSE(name.ok);
    EXPECT_EQ(name.folder, u"/nowhere");
}

TEST(FileDriverSupport, DiscardingDeletesAndNotifies)
{
    TempDir dir;
    fault::Scope seam;
    const std::string path = dir / "~PV1234.tmp";
    WriteBytes(path, "partial");
    DiscardTemporaryFile(Wide(path));
    EXPECT_FALSE(Exists(path));
    auto notes = fault::ShellNotifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].event, 4);
    EXPECT_EQ(notes[0].flags, 0x3005u);
    EXPECT_EQ(notes[0].path, Wide(path));
}

TEST(FileDriverSupport, ProgressPercentages)
{
    struct Case {
        int64_t size;
        int segments;
        std::vector<WPARAM> sent;
    } cases[] = {
        {10240, 10, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {10256, 10, {9, 19, 29, 39, 49, 59, 69, 79, 89, 99, 100}},
        {2048, 2, {50, 100}},
        {1024, 1, {100}},
        {1000, 0, {100}},
        {0, 0, {100}},
        // Steps below one percent: a message only when the integer grows.
        {204800, 1, {100}},
        {204800, 2, {1, 100}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgressOf(c.size, c.segments), c.sent) << c.size;
    }

    ProgressReporter quiet(nullptr, 10240);
    quiet.SegmentDone();
    quiet.Finish();  // no window: nothing to send, nothing to fail
}

TEST(FileDriverSupport, SourceOpenRetriesWaitASecondEach)
{
    TempDir dir;
    const std::string path = dir / "src";
    WriteBytes(path, "plain");
    struct Case {
        unsigned failing;
        bool opened;
        size_t waits;
    } cases[] = {{0, true, 0}, {2, true, 2}, {3, false, 3}};
    for (const Case& c : cases) {
        fault::Scope seam;
        fault::UseVirtualClock(true);
        if (c.failing > 0)
            fault::FailCalls(fault::Op::FileOpen, 1, c.failing, fault::Failure{ERROR_SHARING_VIOLATION});
        TraceCapture trace;
        CFile file;
        CFileException error;
        BOOL opened = OpenSource(file, Wide(path).c_str(), CFile::modeRead | CFile::shareDenyNone, 3, u"retry",
                                 error);
        EXPECT_EQ(opened != FALSE, c.opened);
        EXPECT_EQ(fault::Sleeps(), std::vector<DWORD>(c.waits, 1000));
        EXPECT_EQ(trace.Lines(), std::vector<std::string>(c.waits, "retry"));
        if (!c.opened) {
            EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
        }
    }
    // One attempt without a trace line: no wait either.
    fault::Scope seam;
    fault::UseVirtualClock(true);
    CFile file;
    CFileException error;
    EXPECT_FALSE(OpenSource(file, Wide(dir / "missing").c_str(), CFile::modeRead, 1, nullptr, error));
    EXPECT_TRUE(fault::Sleeps().empty());
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);

    TraceCapture trace;
    TraceFileError(u"CODE=%d, MSG=%s", error);
    ASSERT_EQ(trace.Lines().size(), 1u);
    EXPECT_EQ(trace.Lines()[0].rfind("CODE=2, MSG=", 0), 0u);
    EXPECT_NE(trace.Lines()[0].find("missing"), std::string::npos);
}

TEST(FileDriverSupport, LargeImagesGoOutIn16MiBPieces)
{
    TempDir dir;
    const std::string path = dir / "out";
    std::vector<char> image(kWritePieceSize + 5);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7);
    fault::Scope seam;
    {
        CFile file(Wide(path).c_str(), kTemporaryOpenFlags);
        fault::FailCalls(fault::Op::FileWrite, 100, 1, fault::Failure{});  // counts the writes
        WriteInPieces(file, image.data(), static_cast<int64_t>(image.size()));
        WriteInPieces(file, image.data(), 0);
    }
    EXPECT_EQ(fault::CallCount(fault::Op::FileWrite), 2u);
    EXPECT_TRUE(ReadBytes(path) == std::string(image.begin(), image.end()));
}

// The retries that succeed are the drivers' tests (Replacement,
// DecryptionFailure); here the name is taken, so the rename and every move
// are refused as on Windows.
TEST(FileDriverRename, FiveFailedMovesLeaveTheTemporaryFile)
{
    TempDir dir;
    fault::Scope seam;
    fault::UseVirtualClock(true);
    WriteBytes(dir / "~PV0001.tmp", "container");
    WriteBytes(dir / "doc", "in the way");
    TraceCapture trace;
    EXPECT_FALSE(RenameIntoPlace(Wide(dir / "~PV0001.tmp"), Wide(dir / "doc").c_str(), u"CPVCodec::Driver()"));
    EXPECT_EQ(ReadBytes(dir / "~PV0001.tmp"), "container");
    EXPECT_EQ(ReadBytes(dir / "doc"), "in the way");
    EXPECT_EQ(fault::Sleeps(), std::vector<DWORD>(5, 1000));
    const std::vector<std::string> lines = trace.Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "[PVCodec.dll]CPVCodec::Driver() ERROR! Fail CFile::Rename(), m_cause=5");
    EXPECT_EQ(lines[5], "[PVCodec.dll] WATCH! i=4, Sleep and MoveFile");
    EXPECT_EQ(lines[6], "[PVCodec.dll]CPVCodec::Driver() ERROR! Fail MoveFile()");
}
