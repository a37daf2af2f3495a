// The application framework's services that the library uses outside files:
// the modal message box.
#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <string_view>

namespace plat {

// Shows `text` and waits for the user; here the text goes as one line to
// standard error and the answer is IDOK at once.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpContext = 0);

// Lets a test or host see the texts instead; an empty function restores the default.
using MessageBoxHook = std::function<int(std::u16string_view text, UINT type, UINT helpContext)>;
void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace plat
