// What Windows tells its shell, its windows and an attached debugger: nobody
// listens here.
#include "platform/Backend.h"
#include "platform/LastError.h"

namespace plat::backend {

void AnnounceShellChange(LONG, UINT, LPCVOID, LPCVOID) {}

void DebuggerOutput(std::u16string_view) {}

LRESULT SendToWindow(HWND, UINT, WPARAM, LPARAM)
{
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

}  // namespace plat::backend
