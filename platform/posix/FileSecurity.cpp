// GetFileSecurityW and SetFileSecurityW for the discretionary access list,
// over POSIX ACLs (libacl).
//
// The descriptor handed out is this layer's own: a header, then the access
// ACL in libacl's external form, then for a folder its default ACL (the
// entries new files inherit), if it has one.
#include "platform/Security.h"

#include "platform/LastError.h"
#include "platform/posix/NativePath.h"

#include <acl/libacl.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/acl.h>
#include <sys/stat.h>

namespace plat {
namespace {

struct DescriptorHeader {
    char magic[4];
    uint32_t version;
    uint32_t totalSize;
    uint32_t accessSize;
    uint32_t defaultSize;
    uint32_t reserved;
};
constexpr char kMagic[4] = {'P', 'V', 'S', 'D'};
constexpr uint32_t kVersion = 1;

struct AclFree {
    void operator()(void* acl) const { acl_free(acl); }
};
using Acl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

bool Unsupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

bool OnlyDacl(SECURITY_INFORMATION info)
{
    return info == DACL_SECURITY_INFORMATION;
}

}  // namespace

BOOL GetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                      DWORD length, LPDWORD lengthNeeded)
{
    if (!OnlyDacl(requested))
        return Fail(ERROR_NOT_SUPPORTED);
    if (lengthNeeded == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    struct stat st{};
    auto native = posix::StatPathOrFail(fileName, st);
    if (!native)
        return FALSE;
    Acl access(acl_get_file(native->c_str(), ACL_TYPE_ACCESS));
    if (!access && Unsupported(errno))
        access.reset(acl_from_mode(st.st_mode));  // no ACLs on this file system: the permission bits
    if (!access) {
        posix::SetLastErrorFromErrno(errno, *native);
        return FALSE;
    }
    Acl inherited;
    if (S_ISDIR(st.st_mode)) {
        inherited.reset(acl_get_file(native->c_str(), ACL_TYPE_DEFAULT));
        if (inherited && acl_entries(inherited.get()) <= 0)
            inherited.reset();
    }
    const ssize_t accessSize = acl_size(access.get());
    const ssize_t defaultSize = inherited ? acl_size(inherited.get()) : 0;
    if (accessSize <= 0 || defaultSize < 0)
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    const auto total = static_cast<DWORD>(sizeof(DescriptorHeader) + accessSize + defaultSize);
    *lengthNeeded = total;
    if (descriptor == nullptr || length < total)
        return Fail(ERROR_INSUFFICIENT_BUFFER);

    auto* out = static_cast<char*>(descriptor);
    DescriptorHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kVersion;
    header.totalSize = total;
    header.accessSize = static_cast<uint32_t>(accessSize);
    header.defaultSize = static_cast<uint32_t>(defaultSize);
    std::memcpy(out, &header, sizeof header);
    if (acl_copy_ext(out + sizeof header, access.get(), accessSize) < 0 ||
        (inherited && acl_copy_ext(out + sizeof header + accessSize, inherited.get(), defaultSize) < 0))
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    return TRUE;
}

BOOL SetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    if (!OnlyDacl(info))
        return Fail(ERROR_NOT_SUPPORTED);
    if (descriptor == nullptr)
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    const auto* in = static_cast<const char*>(descriptor);
    DescriptorHeader header{};
    std::memcpy(&header, in, sizeof header);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kVersion ||
        header.accessSize == 0 ||
        static_cast<uint64_t>(header.totalSize) !=
            sizeof header + static_cast<uint64_t>(header.accessSize) + header.defaultSize)
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    Acl access(acl_copy_int(in + sizeof header));
    if (!access || acl_valid(access.get()) != 0)
        return Fail(ERROR_INVALID_SECURITY_DESCR);
    Acl inherited;
    if (header.defaultSize > 0) {
        inherited.reset(acl_copy_int(in + sizeof header + header.accessSize));
        if (!inherited || acl_valid(inherited.get()) != 0)
            return Fail(ERROR_INVALID_SECURITY_DESCR);
    }

    struct stat st{};
    auto native = posix::StatPathOrFail(fileName, st);
    if (!native)
        return FALSE;
    if (acl_set_file(native->c_str(), ACL_TYPE_ACCESS, access.get()) != 0) {
        const int err = errno;
        mode_t mode = 0;
        // Without ACLs here, a list that the permission bits can say still goes on.
        if (!Unsupported(err) || acl_equiv_mode(access.get(), &mode) != 0)
            return Fail(Unsupported(err) ? ERROR_NOT_SUPPORTED : posix::Win32ErrorFromErrno(err, *native));
        if (::chmod(native->c_str(), (st.st_mode & 07000) | (mode & 0777)) != 0) {
            posix::SetLastErrorFromErrno(errno, *native);
            return FALSE;
        }
    }
    if (S_ISDIR(st.st_mode)) {
        const int result = inherited ? acl_set_file(native->c_str(), ACL_TYPE_DEFAULT, inherited.get())
                                     : acl_delete_def_file(native->c_str());
        if (result != 0 && !(Unsupported(errno) && !inherited) && errno != ENODATA) {
            posix::SetLastErrorFromErrno(errno, *native);
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace plat
