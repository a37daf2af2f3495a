// Internal to the layer: what Windows reports about a file (attributes,
// size, the three times), read from the operating system with statx.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <sys/types.h>

namespace plat::posix {

struct FileInfo {
    mode_t mode = 0;
    gid_t group = 0;
    ULONGLONG size = 0;
    FILETIME created{};   // birth time; the last write where the file system keeps none
    FILETIME accessed{};
    FILETIME written{};
    bool hasBirthTime = false;
    bool IsFolder() const;
    bool IsRegular() const;
};

// Follows symbolic links. 0, or the errno of the failure.
int StatPath(const std::string& native, FileInfo& info);
int StatDescriptor(int fd, FileInfo& info);

// FILE_ATTRIBUTE_* of a file: READONLY without the owner's write permission,
// HIDDEN for a name that begins with a dot, DIRECTORY, else NORMAL.
DWORD AttributesOf(const std::string& native, const FileInfo& info);
bool IsReadOnlyMode(mode_t mode);
// `mode` with the READONLY attribute applied: read-only takes every write
// permission away, writable gives the owner's back.
mode_t WithReadOnly(mode_t mode, bool readOnly);

}  // namespace plat::posix
