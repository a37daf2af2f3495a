// _wfopen: the runtime library's own.
#include "platform/Stdio.h"
#include "platform/win32/WinApi.h"

#include <cstdio>

namespace plat {

FILE* _wfopen(LPCWSTR fileName, LPCWSTR mode)
{
    return ::_wfopen(win32::Wide(fileName), win32::Wide(mode));
}

}  // namespace plat
