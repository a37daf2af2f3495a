// The host checks: IsFileInLocalDrive and the drive types behind it (share
// folders, Windows drive paths, paths judged by the file system that holds
// them), and IsExplorerIconsOnly for each state of the user's registry.
#include "PVCodec.h"
#include "fileops/FileChecks.h"
#include "platform/FileApi.h"
#include "support/RegistrySandbox.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <sys/statfs.h>

using namespace plat;

// Each path: the answer and the one trace line (a drive type, or "share folder").
TEST(LocalDrive, AnswersAndTraces)
{
    const auto magic = [](const char* path) {
        struct statfs fs{};
        return ::statfs(path, &fs) == 0 ? static_cast<long>(fs.f_type) : -1L;
    };
    const bool shmIsTmpfs = magic("/dev/shm") == 0x01021994;
    const bool rootIsDisk = magic("/") != 0x01021994 && magic("/") != 0x858458F6 && magic("/") != 0x6969;  // tmpfs, ramfs, NFS
    const UINT current = GetDriveTypeW(u".");
    const struct { std::u16string path; int expected; std::string trace; bool applies; } rows[] = {
        {u"//server/share/doc.txt", 0, "share folder", true},
        {u"\\\\server\\share\\doc.txt", 0, "share folder", true},
        {u"", 0, "share folder", true},
        {u"C:\\Users\\doc.txt", 1, "DriveType=1", true},  // no drive letters here: DRIVE_NO_ROOT_DIR counts as local
        {u"d:doc.txt", 1, "DriveType=1", true},
        {u"/dev/shm/pvcodec-none/doc.txt", 1, "DriveType=6", shmIsTmpfs},  // judged by its folder
        {u"/pvcodec-none/doc.txt", 1, "DriveType=3", rootIsDisk},
        {u"doc.txt", current == DRIVE_REMOTE || current == DRIVE_REMOVABLE ? 0 : 1, "DriveType=" + std::to_string(current), true},
    };
    for (const auto& r : rows) {
        if (!r.applies)
            continue;
        TraceCapture traces;
        EXPECT_EQ(CPVCodec::IsFileInLocalDrive(r.path.c_str()), r.expected) << r.trace;
        EXPECT_EQ(traces.Lines(), std::vector<std::string>{"[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! " + r.trace});
    }
    EXPECT_EQ(GetDriveTypeW(u"//server/share"), DRIVE_REMOTE);
    EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(nullptr), current);
    EXPECT_TRUE(!shmIsTmpfs || GetDriveTypeW(u"/dev/shm") == DRIVE_RAMDISK);
    for (const char16_t* root : {u"/", u"\\", u"/pvcodec-none/deeper/still"})
        EXPECT_TRUE(!rootIsDisk || GetDriveTypeW(root) == DRIVE_FIXED);
}

// The user's hive body ("" = no hive); the machine's setting never counts.
TEST(ExplorerIconsOnly, AnswersPerRegistryState)
{
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n";
    const struct { std::string user; int expected; } rows[] = {
        {"", 0},
        {"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer]\n\"IconsOnly\"=dword:00000001\n", 0},
        {key + "\"Other\"=dword:00000001\n", 1},  // the key without the value
        {key + "\"IconsOnly\"=dword:00000000\n", 0},
        {key + "\"IconsOnly\"=dword:00000001\n", 1},
        {key + "\"IconsOnly\"=dword:00010000\n", 1},
        {key + "\"IconsOnly\"=hex:00\n", 0},
        {key + "\"IconsOnly\"=hex(b):00,00,00,00,00,00,00,00\n", 1},  // longer than four bytes
        {key + "\"iconsonly\"=dword:00000000\n", 0},                  // names ignore case
    };
    for (const auto& r : rows) {
        RegistrySandbox registry;
        if (!r.user.empty())
            registry.WriteUtf16("HKEY_CURRENT_USER", r.user);
        registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                           "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n"
                           "\"IconsOnly\"=dword:00000001\n");
        EXPECT_EQ(IsExplorerIconsOnly(), r.expected) << r.user;
    }
}
