// The Win32 file, path and drive calls the library makes, with their Win32
// names, arguments and results; a failure sets the last error
// (platform/LastError.h). Paths are UTF-16; both '\' and '/' separate their
// components.
#pragma once

#include "platform/WinTypes.h"

#include <string>

namespace plat {

// ---- CreateFileW: only what the library uses (the destination probe).
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

// Takes part in share modes as CFile does. The security attributes and the
// template are ignored. A file it creates is its owner's alone, as one that
// CFile creates (see CFileStatus).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPVOID securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);

// ---- Names.
// No 8.3 names exist here: the short form is the path itself, for a path
// that exists (else FALSE-like 0 with ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND). Returns the length copied, or the size needed
// (with its NUL) when `bufferChars` is too small.
DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD bufferChars);
// Creates "<folder>/<first 3 of prefix><XXXX>.tmp" (XXXX four hexadecimal
// digits) exclusively, its owner's alone, and returns the number; with a non-zero
// `unique` only composes that name. 0 when the folder is missing or not
// writable, or the name does not fit MAX_PATH characters.
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName);
// The same with the caller's buffer size in characters.
UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars);
// Fails for a read-only file (ERROR_ACCESS_DENIED), a folder, and a file
// that is open (ERROR_SHARING_VIOLATION), as on Windows.
BOOL DeleteFileW(LPCWSTR fileName);
// Renames a file or folder within its file system; fails with
// ERROR_ALREADY_EXISTS when `newName` exists, with ERROR_SHARING_VIOLATION
// when the file is open, and with ERROR_NOT_SAME_DEVICE across file systems.
BOOL MoveFileW(LPCWSTR existingName, LPCWSTR newName);

// ---- Attributes.
// FILE_ATTRIBUTE_READONLY: the owner may not write; HIDDEN: the name begins
// with a dot; DIRECTORY; NORMAL when none of these applies.
DWORD GetFileAttributesW(LPCWSTR fileName);
// READONLY takes every write permission away; its absence (NORMAL included)
// gives the owner write permission back. Other attributes change nothing.
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes);

// ---- Drives.
inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

// The type of the file system that holds `rootPath` (the path itself, or the
// nearest folder above it that exists): network file systems are
// DRIVE_REMOTE, one on a removable block device DRIVE_REMOVABLE, a CD or DVD
// DRIVE_CDROM, the rest DRIVE_FIXED. A Windows drive root ("C:\") names no
// drive here: DRIVE_NO_ROOT_DIR. A null path means the current folder.
UINT GetDriveTypeW(LPCWSTR rootPath);

// The root that decides whether `path` lies on a local drive. A path that
// begins with two separators (\\server\share, //server/share) is a share
// folder: false. A Windows drive path ("C:..." ) gives its drive root
// "C:\"; any other path is judged by the file system that holds it and
// gives itself.
bool DriveRootForPath(LPCWSTR path, std::u16string& root);

}  // namespace plat
