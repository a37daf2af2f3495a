// Internal to the layer: the one way files are opened, shared by CFile,
// CreateFileW and _wfopen, with Windows' creation dispositions, its
// read-only rule and its share modes.
#pragma once

#include "platform/posix/ShareLock.h"
#include "platform/WinTypes.h"

#include <string>
#include <sys/stat.h>

namespace plat::posix {

// The mode of every file the layer makes: its owner's alone, whatever the
// umask. What a file is made for here is, as often as not, a decrypted
// document, which nobody else may read while it is written; who else may use
// the finished file comes with the status put on it (CFile::SetStatus carries
// the source's permission bits). A Windows file takes its folder's
// inheritable access entries instead.
inline constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR;

using backend::OpenRequest;

// A descriptor (close-on-exec, blocking) or -1. A file it creates has
// kNewFileMode (a folder's default ACL is masked down to it). On failure the
// Win32 error is the last error and is returned in `error`. A folder cannot
// be opened (ERROR_ACCESS_DENIED), nor can a read-only file be opened for writing or
// replaced; an open that conflicts with another's share mode gives
// ERROR_SHARING_VIOLATION and changes nothing (truncation happens only after
// the share check). On success the last error is ERROR_ALREADY_EXISTS when
// CREATE_ALWAYS or OPEN_ALWAYS found the file, else 0.
int OpenFile(const std::string& native, const OpenRequest& request, DWORD& error);

}  // namespace plat::posix
