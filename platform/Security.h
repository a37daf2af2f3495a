// A file's access-control list, as GetFileSecurityW and SetFileSecurityW
// handle the discretionary list (DACL_SECURITY_INFORMATION). Here it is the
// file's POSIX access ACL together with its permission bits (and a folder's
// default ACL), carried as an opaque descriptor. Owner and group are never
// read or changed.
#pragma once

#include "platform/WinTypes.h"

namespace plat {

using SECURITY_INFORMATION = DWORD;
using PSECURITY_DESCRIPTOR = void*;

inline constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x1;
inline constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x2;
inline constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;
inline constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x8;
inline constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;

// Two calls: the first with length 0 fails with ERROR_INSUFFICIENT_BUFFER
// and puts the size needed in *lengthNeeded; the second, with a buffer of
// that size, fills it. Only DACL_SECURITY_INFORMATION is supported
// (anything else: ERROR_NOT_SUPPORTED).
BOOL GetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                      DWORD length, LPDWORD lengthNeeded);
// Puts a descriptor from GetFileSecurityW on a file. A descriptor that this
// layer did not make fails with ERROR_INVALID_SECURITY_DESCR.
BOOL SetFileSecurityW(LPCWSTR fileName, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);

}  // namespace plat
