// What the file drivers share: refused paths, short forms, the "~PV" name, progress, 16 MiB writes, the wipe.
#include "PVCommon.h"
#include "container/FileDriverSupport.h"
#include "platform/FaultInjection.h"
#include "platform/Messaging.h"
#include "support/ContainerFiles.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace plat;
using namespace container::files;
using containerfiles::Entries;

// A null or empty path: 0 and one line, nothing in the working folder (where an empty destination's "~PV" goes).
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
    const HostString src = HostPath(dir / "doc.txt"), none;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir / "working");
    const std::pair<const PVWCHAR*, const PVWCHAR*> paths[] = {
        {src.c_str(), none.c_str()}, {none.c_str(), src.c_str()}, {src.c_str(), nullptr}, {nullptr, src.c_str()}};
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
        const std::u16string got = ShortForm(Wide(path).c_str());
#ifdef _WIN32  // an existing file's 8.3 form where the volume makes them (as Wine's always do): the same file
        if (exists) {
            EXPECT_LE(got.size(), static_cast<size_t>(length));
            EXPECT_EQ(ReadBytes(std::filesystem::path(got).string()), "x") << length;
            continue;
        }
#endif
        EXPECT_EQ(got, form ? Wide(path) : u"") << length;
    }
    EXPECT_EQ(ShortForm(nullptr), u"");
    EXPECT_TRUE(SamePath(u"/tmp/Doc.TXT", u"/tmp/doc.txt"));
    EXPECT_FALSE(SamePath(u"/tmp/doc.txt", u"/tmp/doc.txt2"));
    EXPECT_FALSE(SamePath(nullptr, u"a"));
    EXPECT_EQ(SourceShareMode(u"/a/B", u"/A/b"), CFile::shareDenyRead);
    EXPECT_EQ(SourceShareMode(u"/a/b", u"/a/c"), CFile::shareDenyNone);
}

TEST(FileDriverSupport, ProgressPercentages)
{
    const std::tuple<int64_t, int, std::vector<WPARAM>> cases[] = {
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

// The utility library's wipe: overwritten, renamed, removed; what it must not touch stays as it was.
TEST(FileWipeOut, OverwritesRenamesAndRemoves)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{200'000}, size_t{(2 << 20) + 13}}) {
        TempDir dir;
        std::string original;
        while (original.size() < size)
            original += "The quick brown fox jumps over the lazy dog. ";
        original.resize(size);
        WriteBytes(dir / "secret.doc", original);
        fault::Scope seam;
        std::string overwritten;
        std::vector<std::string> points, renamed;
        fault::SetHook([&](std::string_view point) {
            points.emplace_back(point);
            if (point == hook::kWipeOverwritten)
                overwritten = ReadBytes(dir / "secret.doc");
            if (point == hook::kWipeRenamed)
                renamed = Entries(dir.Path());
        });
        EXPECT_NE(CFileWipeOut::WipeOutFile(Wide(dir / "secret.doc").c_str()), 0);
        EXPECT_EQ(points, (std::vector<std::string>{hook::kWipeOverwritten, hook::kWipeRenamed}));
#ifdef _WIN32  // the wipe holds the file for itself: no one reads it meanwhile
        EXPECT_EQ(overwritten, "");
#else
        ASSERT_EQ(overwritten.size(), size);
        size_t same = 0;  // random bytes match about 1 in 256
        for (size_t i = 0; i < size; ++i)
            same += overwritten[i] == original[i];
        EXPECT_LE(same, size / 100 + 1);
        constexpr size_t kMiB = 1 << 20;  // the noise goes on, not the same megabyte again
        if (size > 2 * kMiB) {
            EXPECT_NE(overwritten.compare(0, kMiB, overwritten, kMiB, kMiB), 0);
        }
#endif
        ASSERT_EQ(renamed.size(), 1u);
        EXPECT_NE(renamed[0], "secret.doc");
        EXPECT_TRUE(Entries(dir.Path()).empty());
    }
}

#ifndef _WIN32  // permission bits and a symbolic link
TEST(FileWipeOut, RefusesWhatItMayNotWipeAndRemovesOnlyALink)
{
    TempDir dir;
    for (const char* name : {"readonly", "open", "target"})
        WriteBytes(dir / name, "keep");
    ::chmod((dir / "readonly").c_str(), 0444);
    ::mkdir((dir / "folder").c_str(), 0755);
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    CFile holder(Wide(dir / "open").c_str(), CFile::modeRead | CFile::shareDenyNone);
    for (const char* name : {"readonly", "open", "folder", "none"})
        EXPECT_EQ(CFileWipeOut::WipeOutFile(Wide(dir / name).c_str()), 0) << name;
    EXPECT_EQ(CFileWipeOut::WipeOutFile(nullptr), 0);
    EXPECT_NE(CFileWipeOut::WipeOutFile(Wide(dir / "link").c_str()), 0);
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"folder", "open", "readonly", "target"}));
    for (const char* name : {"readonly", "open", "target"})
        EXPECT_EQ(ReadBytes(dir / name), "keep") << name;
}
#endif
