// What the file drivers share: paths refused before the disk is touched, short forms of long paths,
// the "~PV" temporary name and its discarding, the progress percentages, and large images written in
// 16 MiB pieces. (The source opened with retries: the driver tables' locked-source rows.)
#include "container/FileDriverSupport.h"
#include "platform/FaultInjection.h"
#include "platform/Messaging.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace plat;
using namespace container::files;

// A null or empty source or destination: every driver returns 0 with its line before it touches the
// disk; nothing appears in the working folder (where an empty destination's temporary would go).
TEST(FileDriverSupport, MissingPathsAreRefusedBeforeTheDiskIsTouched)
{
    static char key[] = "0123456789abcdef";
    using Call = int (*)(const PVWCHAR*, const PVWCHAR*);
    const std::pair<std::string, Call> drivers[] = {
        {"DoEncryptFile", [](auto s, auto d) { return CPVCodec::EncryptFileW(s, d, key, nullptr, 0, nullptr); }},
        {"EncryptFile2", [](auto s, auto d) { return CPVCodec::EncryptFile2(s, d, key, nullptr, 0, nullptr); }},
        {"DecryptFile", [](auto s, auto d) { return CPVCodec::DecryptFileW(s, d, key, nullptr, 0); }},
        {"DecryptFile2", [](auto s, auto d) { return CPVCodec::DecryptFile2(s, d, key, nullptr, 0); }}};
    TempDir dir;
    std::filesystem::create_directory(dir / "working");
    WriteBytes(dir / "doc.txt", std::string(3000, 'd'));
    const std::u16string src = Wide(dir / "doc.txt");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir / "working");
    const std::pair<const PVWCHAR*, const PVWCHAR*> paths[] = {
        {src.c_str(), u""}, {u"", src.c_str()}, {src.c_str(), nullptr}, {nullptr, src.c_str()}};
    for (const auto& [name, call] : drivers) {
        for (const auto& [from, to] : paths) {
            TraceCapture trace;
            EXPECT_EQ(call(from, to), 0) << name;
            EXPECT_EQ(trace.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::" + name +
                                                              "() ERROR! No source or destination path"});
        }
    }
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "working"));
    EXPECT_EQ(ReadBytes(dir / "doc.txt"), std::string(3000, 'd'));
}

// Paths of 256 characters and more have a short form only once they exist, and only up to 1023.
TEST(FileDriverSupport, ShortFormsAndSameness)
{
    TempDir dir;
    std::string folder = dir.Path();
    for (const auto& [length, exists, form] : {std::tuple{100, false, true}, {255, false, true}, {256, false, false},
                                               {256, true, true}, {1023, true, true}, {1024, true, false}}) {
        while (folder.size() + 1 + 100 < static_cast<size_t>(length)) {
            folder += "/" + std::string(99, 'd');
            std::filesystem::create_directory(folder);
        }
        const std::string path = folder + "/" + std::string(static_cast<size_t>(length) - folder.size() - 1, 'f');
        if (exists)
            WriteBytes(path, "x");
        EXPECT_EQ(ShortForm(Wide(path).c_str()), form ? Wide(path) : u"") << length;
    }
    EXPECT_EQ(ShortForm(nullptr), u"");
    EXPECT_TRUE(SamePath(u"/tmp/Doc.TXT", u"/tmp/doc.txt"));
    EXPECT_FALSE(SamePath(u"/tmp/doc.txt", u"/tmp/doc.txt2"));
    EXPECT_FALSE(SamePath(nullptr, u"a"));
    EXPECT_EQ(SourceShareMode(u"/a/B", u"/A/b"), CFile::shareDenyRead);
    EXPECT_EQ(SourceShareMode(u"/a/b", u"/a/c"), CFile::shareDenyNone);
}

TEST(FileDriverSupport, TemporaryNameAndItsDiscarding)
{
    TempDir dir;
    fault::Scope seam;
    const TemporaryName name = MakeTemporaryName(Wide(dir / "doc.txt").c_str());
    ASSERT_TRUE(name.ok);
    EXPECT_EQ(name.folder, Wide(dir.Path()));
    const std::string path = *Utf16ToUtf8(name.path);
    EXPECT_EQ(path.rfind(dir / "~PV", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
    EXPECT_FALSE(Exists(path)) << "only the name is kept";
    // The folder from the first 1022 characters, whose last component is cut off.
    const TemporaryName cut = MakeTemporaryName((u"/nowhere/" + std::u16string(1021, u'a')).c_str());
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.folder, u"/nowhere");
    fault::FailNthCall(fault::Op::GetTempFileNameW, 1, fault::Failure{ERROR_ACCESS_DENIED});
    const TemporaryName refused = MakeTemporaryName(Wide(dir / "doc.txt").c_str());
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.folder, Wide(dir.Path()));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    EXPECT_TRUE(fault::ShellNotifications().empty());

    WriteBytes(path, "partial");
    DiscardTemporaryFile(name.path);
    EXPECT_FALSE(Exists(path));
    const auto notes = fault::ShellNotifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].event, 4);
    EXPECT_EQ(notes[0].flags, 0x3005u);
    EXPECT_EQ(notes[0].path, name.path);
}

TEST(FileDriverSupport, ProgressPercentages)
{
    const std::tuple<int64_t, int, std::vector<WPARAM>> cases[] = {
        {10240, 10, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
        {10256, 10, {9, 19, 29, 39, 49, 59, 69, 79, 89, 99, 100}},
        {2048, 2, {50, 100}}, {1024, 1, {100}}, {1000, 0, {100}}, {0, 0, {100}},
        {204800, 1, {100}}, {204800, 2, {1, 100}}};  // below one percent: a message only when the integer grows
    for (const auto& [size, segments, expected] : cases) {
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
        EXPECT_EQ(sent, expected) << size;
    }
    ProgressReporter quiet(nullptr, 10240);  // no window: nothing to send, nothing to fail
    quiet.SegmentDone();
    quiet.Finish();
}

TEST(FileDriverSupport, LargeImagesGoOutIn16MiBPieces)
{
    TempDir dir;
    std::vector<char> image(kWritePieceSize + 5);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7);
    fault::Scope seam;
    {
        CFile file(Wide(dir / "out").c_str(), kTemporaryOpenFlags);
        fault::FailCalls(fault::Op::FileWrite, 100, 1, fault::Failure{});  // counts the writes
        WriteInPieces(file, image.data(), static_cast<int64_t>(image.size()));
        WriteInPieces(file, image.data(), 0);
    }
    EXPECT_EQ(fault::CallCount(fault::Op::FileWrite), 2u);
    EXPECT_TRUE(ReadBytes(dir / "out") == std::string(image.begin(), image.end()));
}
