// The utility library's wipe: the old bytes are overwritten and the file renamed before it
// goes, nothing is left under the path, and what it must not touch stays as it was.
#include "PVCommon.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "support/ContainerFiles.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace plat;
using containerfiles::Entries;

TEST(FileWipeOut, OverwritesRenamesAndRemoves)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{200'000}}) {
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
        ASSERT_EQ(overwritten.size(), size);
        size_t same = 0;  // random bytes match about 1 in 256
        for (size_t i = 0; i < size; ++i)
            same += overwritten[i] == original[i];
        EXPECT_LE(same, size / 100 + 1);
        ASSERT_EQ(renamed.size(), 1u);
        EXPECT_NE(renamed[0], "secret.doc");
        EXPECT_TRUE(Entries(dir.Path()).empty());
    }
}

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
