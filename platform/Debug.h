// The debugger output channel (OutputDebugString). Texts written here are
// not trace lines: on Windows only an attached debugger sees them.
//
// On Windows they go to the debugger; elsewhere nowhere by default. The
// environment variable PVCODEC_DEBUG_OUTPUT=stderr also sends each text as one
// line to standard error.
// A test or host can install a hook that receives every text instead.
#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <string_view>

namespace plat {

void OutputDebugStringW(LPCWSTR text);
void OutputDebugStringA(LPCSTR text);

using DebugOutputHook = std::function<void(std::u16string_view text)>;
// An empty function restores the default.
void SetDebugOutputHook(DebugOutputHook hook);

}  // namespace plat
