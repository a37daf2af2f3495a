#include "platform/Messaging.h"

#include "platform/Backend.h"
#include "platform/LastError.h"

#include <map>
#include <memory>
#include <mutex>

namespace plat {
namespace {

struct Windows {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<WindowReceiver>> receivers;
    uintptr_t next = 0x10000;  // handles look like Windows' small numbers, never null
};

Windows& TheWindows()
{
    static Windows windows;
    return windows;
}

}  // namespace

HWND RegisterWindow(WindowReceiver receiver)
{
    Windows& w = TheWindows();
    std::lock_guard lock(w.mutex);
    uintptr_t id = w.next;
    w.next += 4;
    w.receivers.emplace(id, std::make_shared<WindowReceiver>(std::move(receiver)));
    return reinterpret_cast<HWND>(id);
}

void UnregisterWindow(HWND window)
{
    Windows& w = TheWindows();
    std::lock_guard lock(w.mutex);
    w.receivers.erase(reinterpret_cast<uintptr_t>(window));
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<WindowReceiver> receiver;
    {
        Windows& w = TheWindows();
        std::lock_guard lock(w.mutex);
        auto it = w.receivers.find(reinterpret_cast<uintptr_t>(window));
        if (it != w.receivers.end())
            receiver = it->second;
    }
    if (!receiver || !*receiver)
        return backend::SendToWindow(window, message, wParam, lParam);
    // Called outside the lock: the receiver may send or unregister itself.
    return (*receiver)(message, wParam, lParam);
}

}  // namespace plat
