// The registry: the system's own. The layer's HKEY is the system's key
// handle (the predefined roots have the same values).
#include "platform/Registry.h"

#include "platform/win32/WinApi.h"

namespace plat {
namespace {

::HKEY Theirs(HKEY key)
{
    return reinterpret_cast<::HKEY>(key);
}

static_assert(sizeof(::DWORD) == sizeof(DWORD), "sizes pass through as they are");

}  // namespace

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    return ::RegOpenKeyExW(Theirs(root), win32::Wide(subKey), options, access, reinterpret_cast<::PHKEY>(result));
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    return ::RegOpenKeyExA(Theirs(root), subKey, options, access, reinterpret_cast<::PHKEY>(result));
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return ::RegQueryValueExW(Theirs(key), win32::Wide(valueName), reinterpret_cast<::LPDWORD>(reserved),
                              reinterpret_cast<::LPDWORD>(type), data, reinterpret_cast<::LPDWORD>(size));
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return ::RegQueryValueExA(Theirs(key), valueName, reinterpret_cast<::LPDWORD>(reserved),
                              reinterpret_cast<::LPDWORD>(type), data, reinterpret_cast<::LPDWORD>(size));
}

LONG RegCloseKey(HKEY key)
{
    return ::RegCloseKey(Theirs(key));
}

}  // namespace plat
