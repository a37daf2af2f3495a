// Window messages. A window here is a receiver that the caller registers: a
// function of (message, wParam, lParam). SendMessageW calls it at once, on
// the sending thread, and returns its result. On Windows a handle that is no
// registered receiver is the system's window, and gets the system's call.
#pragma once

#include "platform/WinTypes.h"

#include <functional>

namespace plat {

using WindowReceiver = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

// Hands out a new opaque window handle for `receiver` (never null).
HWND RegisterWindow(WindowReceiver receiver);
// The handle stops receiving; unknown handles are ignored.
void UnregisterWindow(HWND window);

// Delivers the message synchronously and returns the receiver's result. An
// unknown or null handle does nothing and returns 0 (ERROR_INVALID_WINDOW_HANDLE).
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// For a test or a host: a receiver that lives as long as this object.
class ScopedWindow {
public:
    explicit ScopedWindow(WindowReceiver receiver) : m_window(RegisterWindow(std::move(receiver))) {}
    ~ScopedWindow() { UnregisterWindow(m_window); }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;
    HWND Handle() const { return m_window; }

private:
    HWND m_window;
};

}  // namespace plat
