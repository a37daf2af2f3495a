// The exported functions' path and window arguments as the library's own
// types. A host passes PVWCHAR strings and PVHWND handles (on Windows the
// system's wchar_t and HWND); inside, every path is a char16_t UTF-16 string
// (plat::LPCWSTR) and every window a plat::HWND. Each exported member of
// CPVCodec takes its arguments through these, once, before anything else
// sees them.
#pragma once

#include "PVCodec.h"
#include "platform/WinTypes.h"

namespace host {

static_assert(sizeof(PVWCHAR) == sizeof(char16_t) && alignof(PVWCHAR) == alignof(char16_t),
              "a host's wide character is one UTF-16 unit");

// The host's string itself, read as UTF-16 units: on Windows wchar_t holds
// exactly those. The library only reads it, and the host wrote it before the
// call, across the DLL boundary, so no access through the other type can be
// reordered against those writes. Null stays null, so a missing path is
// refused where it always was.
inline plat::LPCWSTR Path(const PVWCHAR* path) noexcept
{
    return reinterpret_cast<plat::LPCWSTR>(path);
}

// A window handle is a pointer-sized value on both sides; null stays null.
inline plat::HWND Window(PVHWND window) noexcept
{
    return window;
}

}  // namespace host
