// What Windows tells its shell and an attached debugger: nobody listens here.
#include "platform/Backend.h"

namespace plat::backend {

void AnnounceShellChange(LONG, UINT, LPCVOID, LPCVOID) {}

void DebuggerOutput(std::u16string_view) {}

}  // namespace plat::backend
