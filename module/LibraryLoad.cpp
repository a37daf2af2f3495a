// Runs the module entry when the shared library is loaded into a host and
// when it is unloaded, as the loader does for a Windows module.
#include "PVCodec.h"
