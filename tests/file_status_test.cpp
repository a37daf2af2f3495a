// A file's status as set and read back, the FILETIME calendar, IsFileTimeInRange, CopyFileSecurity.
#include "PVCodec.h"
#include "fileops/FileChecks.h"
#include "platform/File.h"
#include "platform/FileFind.h"
#include "platform/FileTime.h"
#include "platform/LastError.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"
#include "support/SecurityText.h"
#include "support/Wine.h"

#include <gtest/gtest.h>

#include <array>
#ifndef _WIN32
#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <unistd.h>
#endif

using namespace plat;

// 2021-06-01 12:00:00 UTC plus 1234567 ticks: every digit below the second in use.
constexpr ULONGLONG kT = 132'670'224'000'000'000ull + 1'234'567, kSecond = 10'000'000;

// Each step puts (access, write, attribute; 0: not given) on "f"; GetStatus, entry and IsFileTimeInRange judge.
TEST(FileStatusContract, SetThenGet)
{
    constexpr LONGLONG kNow = 1'700'000'000, k2038 = 2'145'916'800;
    const auto u = [](LONGLONG seconds) -> ULONGLONG { return (seconds + kFileTimeEpochOffsetSeconds) * kSecond; };
    const struct { ULONGLONG access, write; BYTE attr; ULONGLONG accessAfter, writeAfter; int inRange; } steps[] = {
        {u(0), u(0), 0, u(0), u(0), 1}, {u(k2038 - 1), u(k2038 - 1), 0, u(k2038 - 1), u(k2038 - 1), 1},
        {u(-1), u(kNow), 0, u(-1), u(kNow), 0}, {u(kNow), u(-1), 0, u(kNow), u(-1), 0},
        {u(k2038), u(kNow), 0, u(k2038), u(kNow), 0}, {u(kNow), u(k2038), 0, u(kNow), u(k2038), 0},
        {u(kNow), u(2'147'483'648), 0, u(kNow), u(2'147'483'648), 0},
        {kT, kT + kSecond, CFile::normal, kT, kT + kSecond, 1}, {0, 0, CFile::normal, kT, kT + kSecond, 1},
        {0, kT + 5, CFile::normal, kT, kT + 5, 1},              {kT + 1, kT + 7, CFile::readOnly, kT + 1, kT + 7, 1},
        {0, kT + 2 * kSecond, CFile::normal, kT + 1, kT + 2 * kSecond, 1},  // onto the read-only file
    };
    TempDir dir;
    LayOut(dir.Path());
    const std::u16string path = PathIn(dir.Path(), "f");
    CFileStatus status, put;
    const BYTE wineArchive = UnderWine() ? CFile::archive : 0;  // Wine keeps ARCHIVE on every file whatever is set
    for (const auto& s : steps) {
        put.m_atime = TicksToFileTime(s.access);
        put.m_mtime = TicksToFileTime(s.write);
        put.m_attribute = s.attr;
        CFile::SetStatus(path.c_str(), put);
        ASSERT_TRUE(CFile::GetStatus(path.c_str(), status));
        WIN32_FIND_DATAW entry{};
        FindClose(FindFirstFileW(path.c_str(), &entry));
        using Times = std::array<ULONGLONG, 5>;
        const auto ticks = [](const FILETIME& t) { return FileTimeToTicks(t); };
        EXPECT_EQ((Times{ticks(status.m_atime), ticks(status.m_mtime), ticks(entry.ftLastAccessTime),
                         ticks(entry.ftLastWriteTime), ticks(entry.ftCreationTime)}),
                  (Times{s.accessAfter, s.writeAfter, s.accessAfter, s.writeAfter, ticks(status.m_ctime)}));
        EXPECT_EQ(status.m_attribute, s.attr | wineArchive);  // NORMAL is no attribute bit of the status
        EXPECT_EQ(status.m_size, 7u);
        EXPECT_EQ(std::filesystem::path(status.m_szFullName), std::filesystem::path(path));  // either separator
        EXPECT_EQ(IsFileTimeInRange(path.c_str()), s.inRange);
    }
    EXPECT_EQ(Listing(dir.Path()), "dir/ f=content ro=keep(ro)");
    EXPECT_FALSE(CFile::GetStatus(PathIn(dir.Path(), "none").c_str(), status));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    LONG error = 0;
    EXPECT_EQ(ThrownCause([&] { CFile::SetStatus(PathIn(dir.Path(), "none").c_str(), status); }, &error),
              CFileException::fileNotFound);
    EXPECT_EQ(error, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(IsFileTimeInRange(PathIn(dir.Path(), "none").c_str()) + IsFileTimeInRange(nullptr), 0);
#ifndef _WIN32
    const timespec before1601[2] = {{kNow, 0}, {-12'000'000'000, 0}};  // POSIX only: no FILETIME for it
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f").c_str(), before1601, 0), 0);
    EXPECT_EQ(IsFileTimeInRange(path.c_str()), 0);
#endif
}

// FILETIME to calendar and back (below the millisecond dropped); the top bit or a field out of range fails.
TEST(FileTimeContract, Calendar)
{
    const auto fields = [](const SYSTEMTIME& t) {
        return std::array{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
    };
    const struct { ULONGLONG ticks; SYSTEMTIME calendar; } rows[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},  {863'999'999'999, {1601, 1, 1, 1, 23, 59, 59, 999}},
        {116'444'735'990'000'000, {1969, 12, 3, 31, 23, 59, 59, 0}},
        {137'903'903'999'990'000, {2037, 12, 4, 31, 23, 59, 59, 999}},
        {137'919'572'480'000'000, {2038, 1, 2, 19, 3, 14, 8, 0}},
        {125'962'560'000'000'000, {2000, 2, 2, 29, 0, 0, 0, 0}},
        {0x7FFF'FFFF'FFFF'FFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},
    };
    SYSTEMTIME calendar{};
    FILETIME time{};
    for (const auto& r : rows) {
        time = TicksToFileTime(r.ticks);
        ASSERT_TRUE(FileTimeToSystemTime(&time, &calendar));
        EXPECT_EQ(fields(calendar), fields(r.calendar)) << r.ticks;
        ASSERT_TRUE(SystemTimeToFileTime(&r.calendar, &time));
        EXPECT_EQ(FileTimeToTicks(time), r.ticks - r.ticks % 10'000);
    }
    time = TicksToFileTime(0x8000'0000'0000'0000ull);
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&time, &calendar));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (SYSTEMTIME bad : {SYSTEMTIME{1600, 12, 0, 31, 0, 0, 0, 0}, SYSTEMTIME{1900, 2, 0, 29, 0, 0, 0, 0},
                           SYSTEMTIME{2001, 13, 0, 1, 0, 0, 0, 0}, SYSTEMTIME{2001, 4, 0, 31, 0, 0, 0, 0},
                           SYSTEMTIME{2001, 1, 0, 1, 24, 0, 0, 0}, SYSTEMTIME{2001, 1, 0, 1, 0, 0, 0, 1000},
                           SYSTEMTIME{2001, 1, 0, 1, 0, 60, 0, 0}, SYSTEMTIME{2001, 1, 0, 1, 0, 0, 60, 0},
                           SYSTEMTIME{30829, 1, 0, 1, 0, 0, 0, 0}})
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &time)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
}

const std::string kTrace = "[PVCodec.dll]CPVCodec::CopyFileSecurity() ";

TEST(CopyFileSecurity, AMissingFileIsRefusedBeforeAnyList)
{
    TempDir dir;
    LayOut(dir.Path());
    for (const auto& [from, to] : {std::pair{"none", "f"}, std::pair{"f", "none"}}) {
        TraceCapture traces;
        EXPECT_EQ(CPVCodec::CopyFileSecurity(HostPath(dir / from).c_str(), HostPath(dir / to).c_str()), 0);
        EXPECT_EQ(traces.Lines(),
                  (std::vector<std::string>{kTrace + "WATCH! Entering", kTrace + "BAD! Fail GetFileAttributes"}));
    }
    EXPECT_EQ(Listing(dir.Path()), "dir/ f=content ro=keep(ro)");
}

#ifdef _WIN32
// The access list as the system's SDDL text, read and set apart from the layer under test. Wine keeps no list:
// it makes one up from the Unix permissions it sets instead, so there the two lists only differ.
TEST(CopyFileSecurity, CopiesTheAccessList)
{
    TempDir dir;
    WriteBytes(dir / "source", "s");
    WriteBytes(dir / "target", "t");
    const std::u16string source = Wide(dir / "source"), target = Wide(dir / "target");
    std::vector<std::string> copied;
    for (const char* dacl : {"D:P(A;;FA;;;BA)(A;;FR;;;WD)", "D:P(A;;FA;;;SY)(D;;FW;;;WD)"}) {
        ASSERT_TRUE(securitytext::SetDacl(source, dacl)) << dacl;
        TraceCapture traces;
        EXPECT_EQ(CPVCodec::CopyFileSecurity(HostPath(dir / "source").c_str(), HostPath(dir / "target").c_str()), 1);
        EXPECT_EQ(traces.Lines().back(), kTrace + "WATCH! Success SetFileSecurity()");
        copied.push_back(securitytext::Dacl(target));
        EXPECT_EQ(copied.back(), securitytext::Dacl(source)) << dacl;
        EXPECT_TRUE(UnderWine() || copied.back() == dacl) << copied.back();
    }
    EXPECT_NE(copied[0], copied[1]);
}
#else
namespace {  // POSIX only from here: access-control lists and permission bits

using AclPtr = std::unique_ptr<void, int (*)(void*)>;

std::string AclText(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS)
{
    const AclPtr acl(acl_get_file(path.c_str(), type), acl_free);
    const AclPtr text(acl ? acl_to_any_text(static_cast<acl_t>(acl.get()), nullptr, ',', 0) : nullptr, acl_free);
    return text ? static_cast<const char*>(text.get()) : "<none>";
}

bool SetAcl(const std::string& path, const char* text, acl_type_t type = ACL_TYPE_ACCESS)
{
    const AclPtr acl(acl_from_text(text), acl_free);
    return acl && acl_set_file(path.c_str(), type, static_cast<acl_t>(acl.get())) == 0;
}

}  // namespace

TEST(CopyFileSecurity, CopiesAccessListsAndPermissionsAndKeepsTheOwner)
{
    TempDir dir;
    LayOut(dir.Path());
    const std::string source = dir / "f", target = dir / "target";
    WriteBytes(target, "t");
    ::chmod(source.c_str(), 0640);  // plain permissions first
    ::chmod(target.c_str(), 0606);
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(source).c_str(), Wide(target).c_str()), 1);
    EXPECT_EQ(ModeOf(target), 0640u);
    if (!SetAcl(source, "u::rw-,u:4242:r--,g::r--,g:4343:rw-,m::rw-,o::---"))
        GTEST_SKIP() << "no access-control lists on this file system";
    EXPECT_TRUE(::geteuid() != 0 || ::chown(target.c_str(), 4444, 4445) == 0);  // someone else's target stays so
    struct stat before{}, after{};
    ::stat(target.c_str(), &before);
    TraceCapture traces;
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(source).c_str(), Wide(target).c_str()), 1);
    EXPECT_EQ(traces.Lines(), (std::vector<std::string>{kTrace + "WATCH! Entering",
                                                        kTrace + "WATCH! Success GetFileSecurity()",
                                                        kTrace + "WATCH! Success SetFileSecurity()"}));
    EXPECT_EQ(AclText(target), AclText(source));
    ::stat(target.c_str(), &after);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 0777, 0660u);  // owner rw, mask rw, others nothing

    std::filesystem::create_directory(dir / "to");  // a folder's inherited list goes too
    ::chmod((dir / "dir").c_str(), 0755);
    ::chmod((dir / "to").c_str(), 0700);
    ASSERT_TRUE(SetAcl(dir / "dir", "u::rwx,g::r-x,o::r-x,u:4242:rwx,m::rwx", ACL_TYPE_DEFAULT));
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(dir / "dir").c_str(), Wide(dir / "to").c_str()), 1);
    EXPECT_EQ(AclText(dir / "to", ACL_TYPE_DEFAULT), AclText(dir / "dir", ACL_TYPE_DEFAULT));
    EXPECT_EQ(ModeOf(dir / "to"), 0755u);
}
#endif
