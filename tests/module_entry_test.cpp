// The module entry and the framework's extension-module list: results per
// reason, registration on attach and release on detach, a refused
// initialisation, and the entry run by loading and unloading the shared
// library itself.
#include "module/ModuleEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>

using namespace plat;

namespace {

size_t Registered(HMODULE module)
{
    auto modules = AfxRegisteredModules();
    return static_cast<size_t>(std::count(modules.begin(), modules.end(), module));
}

// A handle of our own, so that the entry's work is told apart from any
// other module registered in this process.
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7e570000));

TEST(ModuleEntry, ResultsAndRegistrationPerReason)
{
    EXPECT_EQ(DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr), 1);
    EXPECT_TRUE(PVCodecDLL.bInitialized);
    EXPECT_EQ(PVCodecDLL.hModule, kInstance);
    EXPECT_EQ(Registered(kInstance), 1u);

    // Thread notifications and unknown reasons do nothing.
    for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DWORD{7}})
        EXPECT_EQ(DllMain(kInstance, reason, nullptr), 1);
    EXPECT_EQ(Registered(kInstance), 1u);

    EXPECT_EQ(DllMain(kInstance, DLL_PROCESS_DETACH, nullptr), 1);
    EXPECT_FALSE(PVCodecDLL.bInitialized);
    EXPECT_EQ(Registered(kInstance), 0u);

    // A detach without an attach releases nothing and still answers 1.
    EXPECT_EQ(DllMain(kInstance, DLL_PROCESS_DETACH, nullptr), 1);
}

TEST(ModuleEntry, RefusedInitialisationFailsTheLoad)
{
    AfxSetInitExtensionModuleFailure(true);
    EXPECT_EQ(DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr), 0);
    AfxSetInitExtensionModuleFailure(false);
    EXPECT_FALSE(PVCodecDLL.bInitialized);
    EXPECT_EQ(Registered(kInstance), 0u);
}

TEST(ExtensionModule, LibraryDeletedEarlyLeavesTheList)
{
    AFX_EXTENSION_MODULE record{FALSE, nullptr, nullptr};
    HMODULE module = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7e580000));
    ASSERT_TRUE(AfxInitExtensionModule(record, module));
    auto* library = new CDynLinkLibrary(record);
    new CDynLinkLibrary(record);
    EXPECT_EQ(Registered(module), 2u);
    delete library;
    EXPECT_EQ(Registered(module), 1u);
    AfxTermExtensionModule(record);
    EXPECT_EQ(Registered(module), 0u);
}

#ifdef PVCODEC_SHARED_LIBRARY
// Loading the shared library runs the entry with the library's own handle.
TEST(ModuleEntry, RunsWhenTheSharedLibraryLoadsAndUnloads)
{
    size_t before = AfxRegisteredModules().size();
    void* library = dlopen(PVCODEC_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto modules = AfxRegisteredModules();
    ASSERT_EQ(modules.size(), before + 1);
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(library, "_ZN8CPVCodec23ConvertFileAlgToProgAlgEh"), &info), 0);
    EXPECT_EQ(modules.back(), info.dli_fbase);
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(AfxRegisteredModules().size(), before);
}
#endif

}  // namespace
