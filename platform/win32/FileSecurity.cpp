// GetFileSecurityW and SetFileSecurityW: the system's own, for the
// discretionary access list only, as everywhere in the layer.
#include "platform/LastError.h"
#include "platform/Security.h"
#include "platform/win32/WinApi.h"

namespace plat {
namespace {

bool OnlyDacl(SECURITY_INFORMATION info)
{
    if (info == DACL_SECURITY_INFORMATION)
        return true;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

}  // namespace

BOOL GetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                      DWORD length, LPDWORD lengthNeeded)
{
    if (!OnlyDacl(requested))
        return FALSE;
    ::DWORD needed = 0;
    const BOOL done = ::GetFileSecurityW(win32::Wide(fileName), requested, descriptor, length, &needed) ? TRUE : FALSE;
    if (lengthNeeded != nullptr)
        *lengthNeeded = needed;
    return done;
}

BOOL SetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    if (!OnlyDacl(info))
        return FALSE;
    return ::SetFileSecurityW(win32::Wide(fileName), info, descriptor) ? TRUE : FALSE;
}

}  // namespace plat
