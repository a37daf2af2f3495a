// The host's entry points: the module entry and the framework's module list,
// and window messages delivered on the sending thread to registered receivers.
#include "module/ModuleEntry.h"
#include "platform/LastError.h"
#include "platform/Messaging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <thread>

using namespace plat;

static size_t Registered(HMODULE module)
{
    const auto modules = AfxRegisteredModules();
    return static_cast<size_t>(std::count(modules.begin(), modules.end(), module));
}

// Each call of the entry, with a handle of our own: its result, and the record and list after it.
TEST(ModuleEntry, ResultsAndRegistrationPerReason)
{
    HINSTANCE const instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7e570000));
    const struct { DWORD reason; bool refuseInit; BOOL result; size_t registered; } steps[] = {
        {DLL_PROCESS_ATTACH, true, 0, 0},  // a refused initialisation fails the load
        {DLL_PROCESS_ATTACH, false, 1, 1}, {DLL_THREAD_ATTACH, false, 1, 1}, {DLL_THREAD_DETACH, false, 1, 1},
        {7, false, 1, 1}, {DLL_PROCESS_DETACH, false, 1, 0}, {DLL_PROCESS_DETACH, false, 1, 0},
    };
    for (const auto& s : steps) {
        AfxSetInitExtensionModuleFailure(s.refuseInit);
        EXPECT_EQ(DllMain(instance, s.reason, nullptr), s.result) << s.reason;
        AfxSetInitExtensionModuleFailure(false);
        EXPECT_EQ(PVCodecDLL.bInitialized != FALSE, s.registered == 1) << s.reason;
        EXPECT_EQ(Registered(instance), s.registered) << s.reason;
    }
    EXPECT_EQ(PVCodecDLL.hModule, instance);
    AFX_EXTENSION_MODULE record{FALSE, nullptr, nullptr};  // a library deleted early leaves the list
    ASSERT_TRUE(AfxInitExtensionModule(record, instance));
    auto library = std::make_unique<CDynLinkLibrary>(record);
    new CDynLinkLibrary(record);  // the list's own, released with the module
    library.reset();
    EXPECT_EQ(Registered(instance), 1u);
    AfxTermExtensionModule(record);
    EXPECT_EQ(Registered(instance), 0u);
}

#ifdef PVCODEC_SHARED_LIBRARY
// POSIX only: loading the shared library runs the entry with its own handle.
TEST(ModuleEntry, RunsWhenTheSharedLibraryLoadsAndUnloads)
{
    const size_t before = AfxRegisteredModules().size();
    void* library = dlopen(PVCODEC_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(library, "_ZN8CPVCodec23ConvertFileAlgToProgAlgEh"), &info), 0);
    EXPECT_EQ(Registered(static_cast<HMODULE>(info.dli_fbase)), 1u);
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(AfxRegisteredModules().size(), before);
}
#endif

TEST(SendMessage, DeliversSynchronouslyOnlyToARegisteredReceiver)
{
    std::vector<std::tuple<UINT, WPARAM, LPARAM, std::thread::id>> received;
    HWND self = RegisterWindow([&](UINT message, WPARAM wParam, LPARAM lParam) {
        received.emplace_back(message, wParam, lParam, std::this_thread::get_id());
        return static_cast<LRESULT>(wParam * 2 + 1);
    });
    HWND gone = RegisterWindow([&](UINT, WPARAM, LPARAM) {
        UnregisterWindow(gone);  // a receiver may unregister itself
        return LRESULT{7};
    });
    EXPECT_EQ(SendMessageW(self, WM_USER + 7, 50, 3), 101);
    EXPECT_EQ(SendMessageW(gone, WM_USER, 0, 0), 7);
    UnregisterWindow(self);
    for (HWND unknown : {self, gone, reinterpret_cast<HWND>(0xdead)}) {
        SetLastError(0);
        EXPECT_EQ(SendMessageW(unknown, WM_USER + 7, 1, 0), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    }
    EXPECT_EQ(received, (decltype(received){{1031u, 50u, 3, std::this_thread::get_id()}}));
}
