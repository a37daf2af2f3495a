// Registry calls, with the Win32 names and results; nothing is ever written.
// On Windows they are the real registry; elsewhere keys are read from the
// per-root hive files of platform/posix/RegistryHive.h.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
// The size is in bytes and passed by address. A value longer than the buffer
// gives ERROR_MORE_DATA; a null data pointer asks for the size only.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
// String values come back in the ANSI code page, which is UTF-8 here.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCloseKey(HKEY key);

}  // namespace plat
