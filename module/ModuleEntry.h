// The module entry: what the library does when the loader attaches it to a
// process or detaches it. It registers the library with the host's framework
// as an extension module, and nothing else.
#pragma once

#include "platform/ExtensionModule.h"

// The library's extension-module record.
extern plat::AFX_EXTENSION_MODULE PVCodecDLL;

// On Windows this is the DLL's entry, which the loader calls: it has the C
// name and the system's calling convention (_DllMain@12 on 32-bit Windows),
// so that the runtime's start-up calls it rather than its own, which does
// nothing. Elsewhere module/LibraryLoad.cpp calls it.
#if defined(_WIN32)
#define PVCODEC_MODULE_ENTRY extern "C" int __stdcall
#else
#define PVCODEC_MODULE_ENTRY int
#endif

// reason: DLL_PROCESS_ATTACH (1) or DLL_PROCESS_DETACH (0); others do nothing.
// Answers 0 when the framework refuses the module on attach (the load fails),
// otherwise 1.
PVCODEC_MODULE_ENTRY DllMain(plat::HINSTANCE hInstance, plat::DWORD dwReason, void* lpReserved);
