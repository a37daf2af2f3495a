#include "platform/Framework.h"

#include "platform/WideString.h"

#include <cstdio>
#include <mutex>

namespace plat {
namespace {
std::mutex g_hookMutex;
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

int AfxMessageBox(LPCWSTR text, UINT type, UINT helpContext)
{
    std::u16string_view view(text != nullptr ? text : u"", WideLength(text));
    MessageBoxHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = Hook();
    }
    if (hook)
        return hook(view, type, helpContext);
    std::string line = Utf16ToUtf8(view).value_or("?");
    line.push_back('\n');
    (void)std::fwrite(line.data(), 1, line.size(), stderr);
    return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook)
{
    std::lock_guard lock(g_hookMutex);
    Hook() = std::move(hook);
}

}  // namespace plat
