// Internal to the layer: what each operating system's backend
// (platform/posix, platform/win32; CMake builds one) gives the portable parts
// of the layer. The portable parts keep what is the same everywhere: CFile's
// buffer and exceptions, the test seam's fault points, FILETIME arithmetic.
//
// Unless said otherwise a call answers 0 (or TRUE) on success and otherwise
// the Win32 error code (or FALSE), which it also leaves as the last error.
#pragma once

#include "platform/File.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::backend {

// An open's access and what it lets others do at the same time.
struct ShareMode {
    bool read = false;         // this open reads
    bool write = false;        // this open writes
    bool shareRead = true;     // others may read
    bool shareWrite = true;    // others may write
    bool shareDelete = false;  // others may delete or rename
};

struct OpenRequest {
    ShareMode share;        // share.read / share.write: the access asked for
    DWORD disposition = 3;  // CREATE_NEW 1, CREATE_ALWAYS 2, OPEN_EXISTING 3, OPEN_ALWAYS 4, TRUNCATE_EXISTING 5
    bool writeThrough = false;
};

// ---- Open files, as CFile uses them. A handle is INVALID_HANDLE_VALUE
// when there is none.
//
// A folder cannot be opened (ERROR_ACCESS_DENIED), nor can a read-only file
// be opened for writing or replaced; an open that conflicts with another's
// share mode gives ERROR_SHARING_VIOLATION and changes nothing. On success
// the last error is ERROR_ALREADY_EXISTS when CREATE_ALWAYS or OPEN_ALWAYS
// found the file, else 0. A file it creates is its owner's alone where files
// carry permissions (see CFileStatus).
HANDLE OpenHandle(LPCWSTR fileName, const OpenRequest& request, DWORD& error);
// Reads until `count` bytes or the end of the file; `done` says how many came.
DWORD ReadHandle(HANDLE file, void* buffer, size_t count, size_t& done);
// Writes all `count` bytes (ERROR_DISK_FULL when the file takes no more).
DWORD WriteHandle(HANDLE file, const void* buffer, size_t count);
// `from`: CFile::begin, current or end. A position before the start is
// ERROR_NEGATIVE_SEEK.
DWORD SeekHandle(HANDLE file, LONGLONG offset, UINT from, ULONGLONG& position);
DWORD HandleLength(HANDLE file, ULONGLONG& length);
// Cuts or extends the file and moves the position to its new end.
DWORD SetHandleLength(HANDLE file, ULONGLONG length);
// The file's data and metadata through to the disk.
DWORD SyncHandle(HANDLE file);
DWORD CloseFileHandle(HANDLE file);
// The status of an open file; `name` is the name it was opened under.
BOOL HandleStatus(HANDLE file, const std::u16string& name, CFileStatus& status);

// ---- Files by name.
BOOL PathStatus(LPCWSTR fileName, CFileStatus& status);
// As CFile::SetStatus.
BOOL PutStatus(LPCWSTR fileName, const CFileStatus& status);
// DeleteFileW and MoveFileW without the test seam's count (CFile::Remove and
// CFile::Rename have fault points of their own).
BOOL RemoveFile(LPCWSTR fileName);
BOOL RenameFile(LPCWSTR existingName, LPCWSTR newName);
// CreateFileW and GetTempFileNameW past the test seam.
HANDLE CreateHandle(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                    DWORD flagsAndAttributes);
UINT MakeTempFile(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars);

// The root of the volume that holds `path` (neither a share nor a drive
// letter path): the path itself where volumes have no roots of their own.
bool VolumeRoot(LPCWSTR path, std::u16string& root);

// ---- Memory, the shell and the debugger.
// CoTaskMemAlloc past the test seam.
LPVOID AllocateTaskMemory(SIZE_T size);
// SHChangeNotify where a shell listens; nothing elsewhere.
void AnnounceShellChange(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);
// SendMessageW to a window that is not a receiver of RegisterWindow: the
// system's window on Windows; elsewhere none exists (0 with
// ERROR_INVALID_WINDOW_HANDLE).
LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// OutputDebugStringW where a debugger can listen; nothing elsewhere.
void DebuggerOutput(std::u16string_view text);

}  // namespace plat::backend
