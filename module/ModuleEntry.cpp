#include "module/ModuleEntry.h"

#include <new>

plat::AFX_EXTENSION_MODULE PVCodecDLL = {plat::FALSE, nullptr, nullptr};

PVCODEC_MODULE_ENTRY DllMain(plat::HINSTANCE hInstance, plat::DWORD dwReason, void* /*lpReserved*/)
{
    if (dwReason == plat::DLL_PROCESS_ATTACH) {
        if (!plat::AfxInitExtensionModule(PVCodecDLL, hInstance))
            return 0;
        // From here the framework owns the object and destroys it on detach;
        // if it cannot be allocated the module simply stays unregistered.
        (void)new (std::nothrow) plat::CDynLinkLibrary(PVCodecDLL, plat::FALSE);
        return 1;
    }
    if (dwReason == plat::DLL_PROCESS_DETACH) {
        plat::AfxTermExtensionModule(PVCodecDLL, plat::FALSE);
        return 1;
    }
    return 1;
}
