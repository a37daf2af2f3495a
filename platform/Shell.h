// The shell's path helpers and change notification.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

inline constexpr LONG SHCNE_DELETE = 0x00000004;
inline constexpr UINT SHCNF_PATHW = 0x0005;
inline constexpr UINT SHCNF_FLUSH = 0x1000;
inline constexpr UINT SHCNF_FLUSHNOWAIT = 0x3000;  // includes SHCNF_FLUSH, as the system defines it

// Tells the shell that an item changed. No shell here watches for it: the
// call does nothing (the test seam records it).
void SHChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);

// Strips the last component and its separator in place: "a/b/c" -> "a/b",
// "/c" -> "/", "C:\c" -> "C:\", "c" -> "". TRUE when something was removed.
BOOL PathRemoveFileSpecW(LPWSTR path);
// TRUE when a file or folder exists under `path`.
BOOL PathFileExistsW(LPCWSTR path);

}  // namespace plat
