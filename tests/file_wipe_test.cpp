// The utility library's wipe: nothing is left under the path, the old bytes
// are gone from the file before it is removed, and what it must not touch
// (a link's target, a read-only or open file) stays as it was.
#include "PVCommon.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* e = ::readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.push_back(e->d_name);
    ::closedir(dir);
    return names;
}

std::string Document(size_t size)
{
    std::string text;
    while (text.size() < size)
        text += "The quick brown fox jumps over the lazy dog. ";
    text.resize(size);
    return text;
}

}  // namespace

TEST(FileWipeOut, LeavesNothingBehind)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{70'000}}) {
        TempDir dir;
        WriteBytes(dir / "secret.doc", Document(size));
        EXPECT_NE(CFileWipeOut::WipeOutFile(Wide(dir / "secret.doc").c_str()), 0) << size;
        EXPECT_TRUE(Entries(dir.Path()).empty()) << size;
    }
}

TEST(FileWipeOut, OverwritesTheWholeContentBeforeRemoving)
{
    TempDir dir;
    const std::string original = Document(200'000);
    WriteBytes(dir / "secret.doc", original);
    fault::Scope seam;
    std::string seenOverwritten, seenRenamed;
    std::vector<std::string> points;
    fault::SetHook([&](std::string_view point) {
        points.emplace_back(point);
        if (point == hook::kWipeOverwritten)
            seenOverwritten = ReadBytes(dir / "secret.doc");
        if (point == hook::kWipeRenamed) {
            auto names = Entries(dir.Path());
            seenRenamed = names.size() == 1 ? names[0] : "";
        }
    });
    EXPECT_NE(CFileWipeOut::WipeOutFile(Wide(dir / "secret.doc").c_str()), 0);
    EXPECT_EQ(points, (std::vector<std::string>{hook::kWipeOverwritten, hook::kWipeRenamed}));

    // Same length, and no stretch of the old text left in it.
    ASSERT_EQ(seenOverwritten.size(), original.size());
    size_t same = 0;
    for (size_t i = 0; i < original.size(); ++i)
        same += seenOverwritten[i] == original[i];
    EXPECT_LT(same, original.size() / 100);  // random bytes match ~1/256 of the time
    EXPECT_EQ(seenOverwritten.find("quick brown fox"), std::string::npos);
    // Renamed within the folder, away from the original name, before removal.
    EXPECT_FALSE(seenRenamed.empty());
    EXPECT_NE(seenRenamed, "secret.doc");
    EXPECT_TRUE(Entries(dir.Path()).empty());
}

TEST(FileWipeOut, RemovesOnlyTheLinkOfASymbolicLink)
{
    TempDir dir;
    WriteBytes(dir / "target", "keep me");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    EXPECT_NE(CFileWipeOut::WipeOutFile(Wide(dir / "link").c_str()), 0);
    EXPECT_FALSE(Exists(dir / "link"));
    EXPECT_EQ(ReadBytes(dir / "target"), "keep me");
}

TEST(FileWipeOut, RefusesWhatItMayNotWipe)
{
    TempDir dir;
    WriteBytes(dir / "readonly", "keep");
    ::chmod((dir / "readonly").c_str(), 0444);
    ::mkdir((dir / "folder").c_str(), 0755);
    WriteBytes(dir / "open", "keep");
    CFile holder(Wide(dir / "open").c_str(), CFile::modeRead | CFile::shareDenyNone);

    EXPECT_EQ(CFileWipeOut::WipeOutFile(Wide(dir / "readonly").c_str()), 0);
    EXPECT_EQ(ReadBytes(dir / "readonly"), "keep");
    EXPECT_EQ(CFileWipeOut::WipeOutFile(Wide(dir / "open").c_str()), 0);
    EXPECT_EQ(ReadBytes(dir / "open"), "keep");
    EXPECT_EQ(CFileWipeOut::WipeOutFile(Wide(dir / "folder").c_str()), 0);
    EXPECT_EQ(CFileWipeOut::WipeOutFile(Wide(dir / "none").c_str()), 0);
    EXPECT_EQ(CFileWipeOut::WipeOutFile(nullptr), 0);
    EXPECT_EQ(Entries(dir.Path()).size(), 3u);
}
