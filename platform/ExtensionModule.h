// The host framework's extension-module services: the record an extension
// module keeps for itself, its initialisation and release, and the library
// objects through which the framework knows the modules attached to the
// process. The framework owns the list of those objects and destroys them.
#pragma once

#include "platform/WinTypes.h"

#include <vector>

namespace plat {

// Reasons given to a module entry by the loader.
inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;

// One per extension module, with static lifetime in the module.
struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
};

// Records the module in `state`. Nonzero on success; a record that is already
// initialised is left as it is and answers nonzero.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);

// Destroys the library objects of the module in `state` (of every module when
// bAll is TRUE) and marks the record released. Nothing for a record that was
// never initialised.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// Makes a module known to the framework. Create it with new: from its
// construction on it belongs to the framework, which destroys it in
// AfxTermExtensionModule. Deleting it earlier takes it off the list.
class CDynLinkLibrary {
public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
    virtual ~CDynLinkLibrary();
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    HMODULE m_hModule;
    HMODULE m_hResource;
    BOOL m_bSystem;
};

// The modules the framework knows, in order of registration (one entry per
// library object).
std::vector<HMODULE> AfxRegisteredModules();

// Fault injection for tests: while set, AfxInitExtensionModule answers 0.
void AfxSetInitExtensionModuleFailure(bool fail);

}  // namespace plat
