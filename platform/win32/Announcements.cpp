// What the library tells the shell, windows and an attached debugger: the
// system's calls.
#include "platform/Backend.h"
#include "platform/win32/WinApi.h"

#include <string>

namespace plat::backend {

void AnnounceShellChange(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2)
{
    ::SHChangeNotify(eventId, flags, item1, item2);
}

LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageW(reinterpret_cast<::HWND>(window), message, wParam, lParam);
}

void DebuggerOutput(std::u16string_view text)
{
    const std::u16string line(text);
    ::OutputDebugStringW(win32::Wide(line.c_str()));
}

}  // namespace plat::backend
