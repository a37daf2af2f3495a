// Window messages: delivery to a registered receiver on the sending thread,
// and nothing at all for a handle nobody registered.
#include "platform/LastError.h"
#include "platform/Messaging.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

using namespace plat;

TEST(SendMessage, DeliversSynchronouslyToTheReceiver)
{
    std::vector<std::tuple<UINT, WPARAM, LPARAM>> received;
    std::thread::id receiverThread;
    ScopedWindow window([&](UINT message, WPARAM wParam, LPARAM lParam) {
        received.emplace_back(message, wParam, lParam);
        receiverThread = std::this_thread::get_id();
        return static_cast<LRESULT>(wParam * 2);
    });
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(SendMessageW(window.Handle(), WM_USER + 7, 50, 0), 100);
    EXPECT_EQ(SendMessageW(window.Handle(), WM_USER + 7, 100, 0), 200);
    EXPECT_EQ(received, (std::vector<std::tuple<UINT, WPARAM, LPARAM>>{{1031u, 50u, 0}, {1031u, 100u, 0}}));
    EXPECT_EQ(receiverThread, std::this_thread::get_id());
}

TEST(SendMessage, UnknownOrGoneHandleDoesNothing)
{
    int calls = 0;
    HWND window = RegisterWindow([&](UINT, WPARAM, LPARAM) { return ++calls; });
    HWND other = RegisterWindow([&](UINT, WPARAM, LPARAM) { return 0; });
    EXPECT_NE(window, other);
    UnregisterWindow(window);
    UnregisterWindow(other);
    SetLastError(0);
    EXPECT_EQ(SendMessageW(window, WM_USER + 7, 1, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SendMessageW(nullptr, WM_USER + 7, 1, 0), 0);
    EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(0xdead), WM_USER + 7, 1, 0), 0);
    EXPECT_EQ(calls, 0);
}

TEST(SendMessage, ReceiverMayUnregisterItself)
{
    HWND self = nullptr;
    int calls = 0;
    self = RegisterWindow([&](UINT, WPARAM, LPARAM) {
        ++calls;
        UnregisterWindow(self);
        return 1;
    });
    EXPECT_EQ(SendMessageW(self, 1, 0, 0), 1);
    EXPECT_EQ(SendMessageW(self, 1, 0, 0), 0);
    EXPECT_EQ(calls, 1);
}
