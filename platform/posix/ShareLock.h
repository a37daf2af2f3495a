// Internal to the layer: Windows share modes over open file description
// locks (fcntl F_OFD_SETLK).
//
// Every open made through the layer holds shared locks on single bytes far
// beyond any real data (just below the largest file offset), one byte each
// for "open for reading", "open for writing", "denies reading", "denies
// writing" and "denies deletion". Before it is allowed, an open looks (with
// F_OFD_GETLK) for another open that holds a byte it conflicts with: reading
// while another denies reading, denying reading while another reads, and the
// same for writing. It takes its own locks first and looks afterwards, so
// that of two conflicting opens racing each other at least one sees the
// other (both may then fail); two conflicting opens never both succeed.
// Deletion and renaming look for the "denies deletion" byte, held by every
// open without FILE_SHARE_DELETE (CFile never shares deletion).
//
// The locks are advisory: programs that do not use this layer are not held
// back. Opens on file systems without these locks, and write-only opens of a
// file its owner may not read (the locks need a readable descriptor), take
// part in no share modes; a file the layer cannot open for reading is never
// seen as held open.
#pragma once

#include "platform/Backend.h"
#include "platform/WinTypes.h"

#include <string>

namespace plat::posix {

using backend::ShareMode;

// Takes the locks for an open on `fd` and checks them against the other
// opens of the file. 0 when the open may go on (also when the file system
// has no such locks); ERROR_SHARING_VIOLATION when it conflicts, with none
// of its locks kept.
DWORD TakeShareLocks(int fd, const ShareMode& mode);

// Whether an open through the layer that does not share deletion holds the
// regular file `native`: deleting or renaming it is then a sharing violation.
bool IsHeldOpen(const std::string& native);

}  // namespace plat::posix
