// Drive types and IsFileInLocalDrive: share folders, Windows drive paths,
// and paths judged by the file system that holds them (a tmpfs, the fixed
// root file system).
#include "PVCodec.h"
#include "platform/FileApi.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <sys/statfs.h>

using namespace plat;

namespace {

constexpr long kTmpfsMagic = 0x01021994;
const std::string kShareTrace = "[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! share folder";

std::string DriveTrace(int type)
{
    return "[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! DriveType=" + std::to_string(type);
}

long FileSystemMagic(const char* path)
{
    struct statfs fs{};
    return ::statfs(path, &fs) == 0 ? static_cast<long>(fs.f_type) : -1;
}

}  // namespace

struct DriveCase {
    const char* name;
    std::u16string path;
    std::string trace;
    int expected;
};

void PrintTo(const DriveCase& c, std::ostream* os) { *os << c.name; }

class LocalDrive : public ::testing::TestWithParam<DriveCase> {};

TEST_P(LocalDrive, AnswersAndTraces)
{
    const DriveCase& c = GetParam();
    TraceCapture traces;
    EXPECT_EQ(CPVCodec::IsFileInLocalDrive(c.path.c_str()), c.expected);
    EXPECT_EQ(traces.Lines(), std::vector<std::string>{c.trace});
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LocalDrive,
    ::testing::Values(DriveCase{"ForwardShare", u"//server/share/doc.txt", kShareTrace, 0},
                      DriveCase{"BackslashShare", u"\\\\server\\share\\doc.txt", kShareTrace, 0},
                      DriveCase{"EmptyPath", u"", kShareTrace, 0},
                      // No drive letters here: the root answers DRIVE_NO_ROOT_DIR, which counts as local.
                      DriveCase{"WindowsDrivePath", u"C:\\Users\\doc.txt", DriveTrace(DRIVE_NO_ROOT_DIR), 1},
                      DriveCase{"LowerCaseDriveLetter", u"d:doc.txt", DriveTrace(DRIVE_NO_ROOT_DIR), 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriveType, TmpfsIsARamDiskAndLocal)
{
    if (FileSystemMagic("/dev/shm") != kTmpfsMagic)
        GTEST_SKIP() << "/dev/shm is not a tmpfs here";
    EXPECT_EQ(GetDriveTypeW(u"/dev/shm"), DRIVE_RAMDISK);
    TraceCapture traces;
    // A file that does not exist yet is judged by its folder.
    EXPECT_EQ(CPVCodec::IsFileInLocalDrive(u"/dev/shm/pvcodec-none/doc.txt"), 1);
    EXPECT_EQ(traces.Lines(), std::vector<std::string>{DriveTrace(DRIVE_RAMDISK)});
}

TEST(DriveType, RootFileSystemIsFixed)
{
    const long magic = FileSystemMagic("/");
    if (magic == kTmpfsMagic || magic == 0x858458F6 /* ramfs */ || magic == 0x6969 /* NFS */)
        GTEST_SKIP() << "the root file system is not a disk here";
    EXPECT_EQ(GetDriveTypeW(u"/"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"/pvcodec-none/deeper/still"), DRIVE_FIXED);
    TraceCapture traces;
    EXPECT_EQ(CPVCodec::IsFileInLocalDrive(u"/pvcodec-none/doc.txt"), 1);
    EXPECT_EQ(traces.Lines(), std::vector<std::string>{DriveTrace(DRIVE_FIXED)});
}

TEST(DriveType, SharesDriveRootsAndTheCurrentFolder)
{
    EXPECT_EQ(GetDriveTypeW(u"//server/share"), DRIVE_REMOTE);
    EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(nullptr), GetDriveTypeW(u"."));
    // A relative name is judged by the file system of the current folder.
    TraceCapture traces;
    const int expected = GetDriveTypeW(u".") == DRIVE_REMOTE || GetDriveTypeW(u".") == DRIVE_REMOVABLE ? 0 : 1;
    EXPECT_EQ(CPVCodec::IsFileInLocalDrive(u"doc.txt"), expected);
    EXPECT_EQ(traces.Lines(), std::vector<std::string>{DriveTrace(static_cast<int>(GetDriveTypeW(u".")))});
}
