#include "platform/Debug.h"

#include "platform/Backend.h"
#include "platform/WideString.h"

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <string>

namespace plat {
namespace {

std::mutex g_debugMutex;
DebugOutputHook& Hook()
{
    static DebugOutputHook hook;
    return hook;
}

}  // namespace

void OutputDebugStringW(LPCWSTR text)
{
    std::u16string_view view(text != nullptr ? text : u"", WideLength(text));
    DebugOutputHook hook;
    {
        std::lock_guard lock(g_debugMutex);
        hook = Hook();
    }
    if (hook) {
        hook(view);
        return;
    }
    backend::DebuggerOutput(view);
    const char* target = std::getenv("PVCODEC_DEBUG_OUTPUT");
    if (target == nullptr || std::strcmp(target, "stderr") != 0)
        return;
    std::string line = Utf16ToUtf8(view).value_or("?");
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    (void)std::fwrite(line.data(), 1, line.size(), stderr);
}

void OutputDebugStringA(LPCSTR text)
{
    std::u16string wide = Utf8ToUtf16(text != nullptr ? text : "");
    OutputDebugStringW(wide.c_str());
}

void SetDebugOutputHook(DebugOutputHook hook)
{
    std::lock_guard lock(g_debugMutex);
    Hook() = std::move(hook);
}

}  // namespace plat
