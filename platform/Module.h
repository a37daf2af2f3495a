// Modules and the system folders: loading a library at run time, finding
// its exports, the host executable's own path, the Windows folder and the
// WOW64 question, with the Win32 names and results.
//
// On this host:
// - A module is a shared object opened with dlopen; its handle is the dlopen
//   handle and is never closed. A path that contains no separator is looked
//   up the way dlopen looks names up.
// - "kernel32.dll" (also "kernel32", any case) is a module of the layer
//   itself: GetModuleHandleA/W and LoadLibraryW give a handle to it, and
//   GetProcAddress finds in it the functions below that Windows keeps there
//   (GetSystemWindowsDirectoryW/A, GetWindowsDirectoryW/A, IsWow64Process).
// - The null module is the running executable (/proc/self/exe).
// - The Windows folder is the absolute folder named by the environment
//   variable PVCODEC_WINDOWS_DIR (read on every call; ignored in set-user-id
//   programs), else "pvcodec/windows" in the folder this layer's own library
//   was loaded from: the installed library finds what is installed with it
//   (the outside crypto libraries under "Velquist/VPV" there), wherever the
//   installation lies.
// - The process is never a 32-bit process on 64-bit Windows: IsWow64Process
//   answers FALSE unless a test asks otherwise.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <string>

namespace plat {

// The Windows folder when PVCODEC_WINDOWS_DIR names none (see above);
// /usr/lib/pvcodec/windows when the layer cannot tell where it was loaded from.
std::string DefaultWindowsDirectory();

// Loads the module at `path` (or finds it when already loaded); null on failure.
HMODULE LoadLibraryW(LPCWSTR path);
// The module already loaded from `name`, without loading it; null when there
// is none. A null name gives the executable.
HMODULE GetModuleHandleW(LPCWSTR name);
HMODULE GetModuleHandleA(LPCSTR name);
// The address of the export `name`; null when the module lacks it.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// The full path of a module (only the null module, the executable, is
// known here). Returns the length copied without the NUL; when the buffer is
// too small, the path is cut to size - 1 units, NUL-terminated, and size is
// returned. 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// The Windows folder. Returns its length without the NUL when it fits in
// `size` units (bytes for the A forms), else the size needed including the
// NUL, leaving the buffer untouched; 0 on failure.
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);
UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size);

HANDLE GetCurrentProcess();
BOOL IsWow64Process(HANDLE process, BOOL* wow64);

// For tests and embedding hosts: makes the null module's path (the host
// executable) `path` instead of the running executable; nullopt restores it.
void SetHostExecutablePath(std::optional<std::u16string> path);
// For tests: what IsWow64Process reports for the current process.
void SetWow64Process(BOOL wow64);

}  // namespace plat
