// What a Windows host sees when it includes the system's header and this
// library's: both compile together, and the types it hands the exported
// functions are the system's own, so that L"..." paths and window handles
// pass without a cast.
#include "PVCodec.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <type_traits>

static_assert(std::is_same_v<PVWCHAR, wchar_t> && std::is_same_v<PVWCHAR, WCHAR>);
static_assert(std::is_same_v<const PVWCHAR*, LPCWSTR>);
static_assert(std::is_same_v<PVHWND, HWND>);
