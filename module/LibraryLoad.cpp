// Runs the module entry when the shared library is loaded into a host and
// when it is unloaded, as the loader does for a Windows module.
//
// The instance handle is the address at which the library is mapped. A
// loader here cannot be told to refuse a library from its constructor: when
// the entry answers 0 on attach, the library stays loaded but unregistered,
// and no detach is run for it.
#include "module/ModuleEntry.h"

#include <dlfcn.h>

namespace {

bool g_attached = false;

plat::HINSTANCE OwnInstance()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnInstance), &info) != 0)
        return info.dli_fbase;
    return nullptr;
}

__attribute__((constructor)) void AttachToProcess()
{
    g_attached = DllMain(OwnInstance(), plat::DLL_PROCESS_ATTACH, nullptr) != 0;
}

__attribute__((destructor)) void DetachFromProcess()
{
    if (g_attached)
        DllMain(OwnInstance(), plat::DLL_PROCESS_DETACH, nullptr);
    g_attached = false;
}

}  // namespace
