#include "platform/posix/NativePath.h"

#include "platform/LastError.h"
#include "platform/WideString.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::posix {
namespace {

// ERROR_GEN_FAILURE: a failure without a closer Win32 code.
constexpr DWORD kErrorGenFailure = 31;

std::string WithoutTrailingSlashes(const std::string& native)
{
    std::string s = native;
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

bool IsFolder(const std::string& native)
{
    struct stat st{};
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<std::string> NativePathOrFail(LPCWSTR path)
{
    auto native = ToNativePath(path);
    if (!native) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    if (native->empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    return native;
}

std::string ParentFolder(const std::string& native)
{
    std::string s = WithoutTrailingSlashes(native);
    size_t slash = s.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    s.resize(slash);
    return WithoutTrailingSlashes(s);
}

std::string LastComponent(const std::string& native)
{
    std::string s = WithoutTrailingSlashes(native);
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

DWORD Win32ErrorFromErrno(int err)
{
    switch (err) {
    case 0: return 0;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_INVALID_NAME;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY: return ERROR_BUSY;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_SHARING_VIOLATION;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOLCK: return ERROR_LOCK_VIOLATION;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EIO: return ERROR_IO_DEVICE;
    case ESPIPE: return ERROR_SEEK;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return kErrorGenFailure;
    }
}

DWORD Win32ErrorFromErrno(int err, const std::string& native)
{
    if (err == ENOENT && !IsFolder(ParentFolder(native)))
        return ERROR_PATH_NOT_FOUND;
    return Win32ErrorFromErrno(err);
}

DWORD SetLastErrorFromErrno(int err, const std::string& native)
{
    DWORD error = Win32ErrorFromErrno(err, native);
    SetLastError(error);
    return error;
}

std::optional<std::string> StatPathOrFail(LPCWSTR path, struct stat& st)
{
    auto native = NativePathOrFail(path);
    if (native && ::stat(native->c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno, *native);
        return std::nullopt;
    }
    return native;
}

DWORD SetLastErrorFromErrno(int err)
{
    DWORD error = Win32ErrorFromErrno(err);
    SetLastError(error);
    return error;
}

std::string AbsolutePath(const std::string& native)
{
    if (!native.empty() && native[0] == '/')
        return native;
    std::string cwd;
    cwd.resize(4096);
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            return native;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    if (native.empty() || native == ".")
        return cwd;
    if (native.rfind("./", 0) == 0)
        return (cwd == "/" ? "" : cwd) + native.substr(1);
    return (cwd == "/" ? "" : cwd) + "/" + native;
}

}  // namespace plat::posix
