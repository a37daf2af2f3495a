#include "platform/ExtensionModule.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>

namespace plat {
namespace {

struct LibraryList {
    std::mutex mutex;
    std::vector<std::unique_ptr<CDynLinkLibrary>> libraries;
};

// Never destroyed: library objects may still be registered when the process
// ends, and a module's unload may come after static destruction has begun.
LibraryList& Libraries()
{
    static LibraryList* list = new LibraryList;
    return *list;
}

std::atomic<bool> g_failInit{false};

}  // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule)
{
    if (g_failInit.load())
        return FALSE;
    if (state.bInitialized)
        return TRUE;
    state.hModule = hModule;
    state.hResource = hModule;
    state.bInitialized = TRUE;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll)
{
    if (!state.bInitialized)
        return;
    std::vector<std::unique_ptr<CDynLinkLibrary>> released;
    {
        LibraryList& list = Libraries();
        std::lock_guard lock(list.mutex);
        auto keep = std::stable_partition(list.libraries.begin(), list.libraries.end(), [&](const auto& library) {
            return !bAll && library->m_hModule != state.hModule;
        });
        std::move(keep, list.libraries.end(), std::back_inserter(released));
        list.libraries.erase(keep, list.libraries.end());
    }
    // Destroyed outside the lock: their destructors look for themselves on the list.
    released.clear();
    state.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem)
{
    LibraryList& list = Libraries();
    std::lock_guard lock(list.mutex);
    list.libraries.emplace_back(this);
}

CDynLinkLibrary::~CDynLinkLibrary()
{
    LibraryList& list = Libraries();
    std::lock_guard lock(list.mutex);
    auto it = std::find_if(list.libraries.begin(), list.libraries.end(),
                           [this](const auto& library) { return library.get() == this; });
    if (it != list.libraries.end()) {
        (void)it->release();  // deleted by its owner right now, not by the list
        list.libraries.erase(it);
    }
}

std::vector<HMODULE> AfxRegisteredModules()
{
    LibraryList& list = Libraries();
    std::lock_guard lock(list.mutex);
    std::vector<HMODULE> modules;
    for (const auto& library : list.libraries)
        modules.push_back(library->m_hModule);
    return modules;
}

void AfxSetInitExtensionModuleFailure(bool fail)
{
    g_failInit.store(fail);
}

}  // namespace plat
