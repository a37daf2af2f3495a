// The module entry: what the library does when the loader attaches it to a
// process or detaches it. It registers the library with the host's framework
// as an extension module, and nothing else.
#pragma once

#include "platform/ExtensionModule.h"

// The library's extension-module record.
extern plat::AFX_EXTENSION_MODULE PVCodecDLL;

// reason: DLL_PROCESS_ATTACH (1) or DLL_PROCESS_DETACH (0); others do nothing.
// Answers 0 when the framework refuses the module on attach (the load fails),
// otherwise 1.
int DllMain(plat::HINSTANCE hInstance, plat::DWORD dwReason, void* lpReserved);
