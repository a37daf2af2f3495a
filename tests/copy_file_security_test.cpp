// CopyFileSecurity: a file's access list, extra entries included, goes onto
// another file whose owner stays; failures are traced as the host expects.
// The access-list checks are POSIX only.
#include "PVCodec.h"
#include "platform/LastError.h"
#include "platform/Security.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <sys/acl.h>
#include <unistd.h>

using namespace plat;

namespace {

const std::string kTrace = "[PVCodec.dll]CPVCodec::CopyFileSecurity() ";

std::string AclText(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS)
{
    acl_t acl = acl_get_file(path.c_str(), type);
    char* text = acl != nullptr ? acl_to_any_text(acl, nullptr, ',', 0) : nullptr;
    const std::string out = text != nullptr ? text : "<none>";
    acl_free(text);
    acl_free(acl);
    return out;
}

bool SetAcl(const std::string& path, const char* text, acl_type_t type = ACL_TYPE_ACCESS)
{
    acl_t acl = acl_from_text(text);
    const bool ok = acl != nullptr && acl_set_file(path.c_str(), type, acl) == 0;
    acl_free(acl);
    return ok;
}

}  // namespace

TEST(CopyFileSecurity, CopiesAccessListsAndPermissionsAndKeepsTheOwner)
{
    TempDir dir;
    const std::string source = dir / "source", target = dir / "target";
    WriteBytes(source, "s");
    WriteBytes(target, "t");
    // Plain permissions first; the folders' modes are set after mkdir, whatever the umask.
    ::chmod(source.c_str(), 0640);
    ::chmod(target.c_str(), 0606);
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(source).c_str(), Wide(target).c_str()), 1);
    EXPECT_EQ(ModeOf(target), 0640u);
    if (!SetAcl(source, "u::rw-,u:4242:r--,g::r--,g:4343:rw-,m::rw-,o::---"))
        GTEST_SKIP() << "no access-control lists on this file system";
    if (::geteuid() == 0) {  // the target belongs to someone else; that stays so
        ASSERT_EQ(::chown(target.c_str(), 4444, 4445), 0);
    }
    struct stat before{}, after{};
    ::stat(target.c_str(), &before);
    TraceCapture traces;
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(source).c_str(), Wide(target).c_str()), 1);
    EXPECT_EQ(traces.Lines(), (std::vector<std::string>{kTrace + "WATCH! Entering", kTrace + "WATCH! Success GetFileSecurity()",
                                                        kTrace + "WATCH! Success SetFileSecurity()"}));
    EXPECT_EQ(AclText(target), AclText(source));
    EXPECT_NE(AclText(target).find("user:4242:r--"), std::string::npos) << AclText(target);
    ::stat(target.c_str(), &after);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 0777, 0660u);  // owner rw, mask rw, others nothing
    EXPECT_EQ(ReadBytes(target), "t");

    for (const char* folder : {"from", "to"})  // a folder's inherited list goes too
        std::filesystem::create_directory(dir / folder);
    ::chmod((dir / "from").c_str(), 0755);
    ::chmod((dir / "to").c_str(), 0700);
    ASSERT_TRUE(SetAcl(dir / "from", "u::rwx,g::r-x,o::r-x,u:4242:rwx,m::rwx", ACL_TYPE_DEFAULT));
    EXPECT_EQ(CPVCodec::CopyFileSecurity(Wide(dir / "from").c_str(), Wide(dir / "to").c_str()), 1);
    EXPECT_EQ(AclText(dir / "to", ACL_TYPE_DEFAULT), AclText(dir / "from", ACL_TYPE_DEFAULT));
    EXPECT_EQ(ModeOf(dir / "to"), 0755u);
}

TEST(CopyFileSecurity, MissingFileFailsAtTheAttributes)
{
    TempDir dir;
    LayOut(dir.Path());
    for (const auto& [from, to] : {std::pair{"none", "f"}, std::pair{"f", "none"}}) {
        TraceCapture traces;
        EXPECT_EQ(CPVCodec::CopyFileSecurity(PathIn(dir.Path(), from).c_str(), PathIn(dir.Path(), to).c_str()), 0);
        EXPECT_EQ(traces.Lines(), (std::vector<std::string>{kTrace + "WATCH! Entering", kTrace + "BAD! Fail GetFileAttributes"}));
    }
    EXPECT_EQ(Listing(dir.Path()), "dir/ f=content ro=keep(ro)");
}

// The two-call size protocol; only the access list can be asked for; a
// descriptor that this layer did not make is refused and changes nothing.
TEST(FileSecurity, TwoCallSizeProtocolAndRefusals)
{
    TempDir dir;
    WriteBytes(dir / "f", "x");
    const std::u16string path = Wide(dir / "f");
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), needed - 1, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), needed, &needed));
    EXPECT_FALSE(GetFileSecurityW(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(GetFileSecurityW(Wide(dir / "none").c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    buffer.assign(64, 0x5A);
    ::chmod((dir / "f").c_str(), 0604);
    EXPECT_FALSE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    EXPECT_EQ(ModeOf(dir / "f"), 0604u);
}
