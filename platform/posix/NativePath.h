// Internal to the layer: wide paths as the operating system takes them, and
// errno values as Win32 error codes.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace plat::posix {

// The native (UTF-8, '/') form of a caller's path. A null path or an unpaired
// surrogate gives nullopt with ERROR_INVALID_NAME as the last error, an empty
// path nullopt with ERROR_PATH_NOT_FOUND.
std::optional<std::string> NativePathOrFail(LPCWSTR path);
// NativePathOrFail, then stat(2) of that path into `st`; nullopt with the
// last error set (as SetLastErrorFromErrno) where the file cannot be reached.
std::optional<std::string> StatPathOrFail(LPCWSTR path, struct stat& st);

// The folder that holds `native`: "a/b" for "a/b/c", "/" for "/c", "." for "c".
std::string ParentFolder(const std::string& native);
// The last component, trailing separators ignored.
std::string LastComponent(const std::string& native);

// The Win32 code for errno `err` from an operation on `native`. A missing
// file is ERROR_FILE_NOT_FOUND when its folder exists and
// ERROR_PATH_NOT_FOUND when not, as Windows tells the two apart.
DWORD Win32ErrorFromErrno(int err, const std::string& native);
DWORD Win32ErrorFromErrno(int err);
// Stores the Win32 code for `err` as the last error and returns it.
DWORD SetLastErrorFromErrno(int err, const std::string& native);
DWORD SetLastErrorFromErrno(int err);

// An absolute form of `native` (the current folder prepended to a relative path).
std::string AbsolutePath(const std::string& native);

}  // namespace plat::posix
