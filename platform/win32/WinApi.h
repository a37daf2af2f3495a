// Internal to the Windows backend, and the one place that includes
// <windows.h>: the system's declarations beside the layer's.
//
// The system headers define as macros many names that the layer declares in
// namespace plat with the same values (ERROR_*, FILE_*, DRIVE_*, REG_*, TRUE,
// MAX_PATH ...), and some names as macros of their wide forms
// (FindNextFile -> FindNextFileW, which would rename CFileFind's member). A
// file that included both could not be compiled. Here every such macro is
// checked against the layer's value and removed, so that after this header a
// file sees both sides: plat::ERROR_FILE_NOT_FOUND, plat::DWORD
// (uint32_t), plat::WCHAR (char16_t) and plat::CreateFileW, and the system's
// ::DWORD (unsigned long), ::WCHAR (wchar_t) and ::CreateFileW.
#pragma once

#if !defined(_WIN32)
#error "platform/win32/WinApi.h is for Windows builds"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <shlobj.h>

// The system's values of the names the layer shares, taken before the macros go.
#define PLAT_WIN32_SHARED_CONSTANTS(X) \
    X(CREATE_ALWAYS) X(CREATE_NEW) X(DACL_SECURITY_INFORMATION) X(DLL_PROCESS_ATTACH) \
    X(DLL_PROCESS_DETACH) X(DLL_THREAD_ATTACH) X(DLL_THREAD_DETACH) X(DRIVE_CDROM) X(DRIVE_FIXED) \
    X(DRIVE_NO_ROOT_DIR) X(DRIVE_RAMDISK) X(DRIVE_REMOTE) X(DRIVE_REMOVABLE) X(DRIVE_UNKNOWN) \
    X(ERROR_ACCESS_DENIED) X(ERROR_ALREADY_EXISTS) X(ERROR_BUFFER_OVERFLOW) X(ERROR_BUSY) \
    X(ERROR_DIRECTORY) X(ERROR_DIR_NOT_EMPTY) X(ERROR_DISK_FULL) X(ERROR_FILENAME_EXCED_RANGE) \
    X(ERROR_FILE_EXISTS) X(ERROR_FILE_NOT_FOUND) X(ERROR_FILE_TOO_LARGE) X(ERROR_HANDLE_DISK_FULL) \
    X(ERROR_HANDLE_EOF) X(ERROR_INSUFFICIENT_BUFFER) X(ERROR_INVALID_DATA) X(ERROR_INVALID_HANDLE) \
    X(ERROR_INVALID_NAME) X(ERROR_INVALID_PARAMETER) X(ERROR_INVALID_SECURITY_DESCR) \
    X(ERROR_INVALID_WINDOW_HANDLE) X(ERROR_IO_DEVICE) X(ERROR_LOCK_VIOLATION) X(ERROR_MOD_NOT_FOUND) \
    X(ERROR_MORE_DATA) X(ERROR_NEGATIVE_SEEK) X(ERROR_NOT_ENOUGH_MEMORY) X(ERROR_NOT_SAME_DEVICE) \
    X(ERROR_NOT_SUPPORTED) X(ERROR_NO_MORE_FILES) X(ERROR_NO_SYSTEM_RESOURCES) X(ERROR_PATH_NOT_FOUND) \
    X(ERROR_PROC_NOT_FOUND) X(ERROR_READ_FAULT) X(ERROR_SEEK) X(ERROR_SHARING_VIOLATION) \
    X(ERROR_SUCCESS) X(ERROR_TOO_MANY_OPEN_FILES) X(ERROR_WRITE_FAULT) X(ERROR_WRITE_PROTECT) X(FALSE) \
    X(FILE_ATTRIBUTE_ARCHIVE) X(FILE_ATTRIBUTE_DIRECTORY) X(FILE_ATTRIBUTE_HIDDEN) \
    X(FILE_ATTRIBUTE_NORMAL) X(FILE_ATTRIBUTE_REPARSE_POINT) X(FILE_ATTRIBUTE_READONLY) X(FILE_ATTRIBUTE_SYSTEM) X(FILE_SHARE_DELETE) \
    X(FILE_SHARE_READ) X(FILE_SHARE_WRITE) X(GENERIC_READ) X(GENERIC_WRITE) \
    X(GROUP_SECURITY_INFORMATION) X(IDOK) X(INVALID_FILE_ATTRIBUTES) X(KEY_QUERY_VALUE) X(KEY_READ) \
    X(KEY_WOW64_64KEY) X(MAX_PATH) X(MB_OK) X(OPEN_ALWAYS) X(OPEN_EXISTING) \
    X(OWNER_SECURITY_INFORMATION) X(REG_BINARY) X(REG_DWORD) X(REG_EXPAND_SZ) X(REG_MULTI_SZ) \
    X(REG_NONE) X(REG_QWORD) X(REG_SZ) X(SACL_SECURITY_INFORMATION) X(SHCNE_DELETE) X(SHCNF_FLUSH) \
    X(SHCNF_FLUSHNOWAIT) X(SHCNF_PATHW) X(TRUE) X(TRUNCATE_EXISTING) X(WM_USER)

namespace plat::win32::sdk {
#define PLAT_WIN32_KEEP(name) inline constexpr unsigned long long sdk_##name = static_cast<unsigned long long>(name);
PLAT_WIN32_SHARED_CONSTANTS(PLAT_WIN32_KEEP)
#undef PLAT_WIN32_KEEP
}  // namespace plat::win32::sdk

#undef CREATE_ALWAYS
#undef CREATE_NEW
#undef DACL_SECURITY_INFORMATION
#undef DLL_PROCESS_ATTACH
#undef DLL_PROCESS_DETACH
#undef DLL_THREAD_ATTACH
#undef DLL_THREAD_DETACH
#undef DRIVE_CDROM
#undef DRIVE_FIXED
#undef DRIVE_NO_ROOT_DIR
#undef DRIVE_RAMDISK
#undef DRIVE_REMOTE
#undef DRIVE_REMOVABLE
#undef DRIVE_UNKNOWN
#undef ERROR_ACCESS_DENIED
#undef ERROR_ALREADY_EXISTS
#undef ERROR_BUFFER_OVERFLOW
#undef ERROR_BUSY
#undef ERROR_DIRECTORY
#undef ERROR_DIR_NOT_EMPTY
#undef ERROR_DISK_FULL
#undef ERROR_FILENAME_EXCED_RANGE
#undef ERROR_FILE_EXISTS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_FILE_TOO_LARGE
#undef ERROR_HANDLE_DISK_FULL
#undef ERROR_HANDLE_EOF
#undef ERROR_INSUFFICIENT_BUFFER
#undef ERROR_INVALID_DATA
#undef ERROR_INVALID_HANDLE
#undef ERROR_INVALID_NAME
#undef ERROR_INVALID_PARAMETER
#undef ERROR_INVALID_SECURITY_DESCR
#undef ERROR_INVALID_WINDOW_HANDLE
#undef ERROR_IO_DEVICE
#undef ERROR_LOCK_VIOLATION
#undef ERROR_MOD_NOT_FOUND
#undef ERROR_MORE_DATA
#undef ERROR_NEGATIVE_SEEK
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_NOT_SAME_DEVICE
#undef ERROR_NOT_SUPPORTED
#undef ERROR_NO_MORE_FILES
#undef ERROR_NO_SYSTEM_RESOURCES
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_PROC_NOT_FOUND
#undef ERROR_READ_FAULT
#undef ERROR_SEEK
#undef ERROR_SHARING_VIOLATION
#undef ERROR_SUCCESS
#undef ERROR_TOO_MANY_OPEN_FILES
#undef ERROR_WRITE_FAULT
#undef ERROR_WRITE_PROTECT
#undef FALSE
#undef FILE_ATTRIBUTE_ARCHIVE
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_HIDDEN
#undef FILE_ATTRIBUTE_NORMAL
#undef FILE_ATTRIBUTE_REPARSE_POINT
#undef FILE_ATTRIBUTE_READONLY
#undef FILE_ATTRIBUTE_SYSTEM
#undef FILE_SHARE_DELETE
#undef FILE_SHARE_READ
#undef FILE_SHARE_WRITE
#undef GENERIC_READ
#undef GENERIC_WRITE
#undef GROUP_SECURITY_INFORMATION
#undef IDOK
#undef INVALID_FILE_ATTRIBUTES
#undef KEY_QUERY_VALUE
#undef KEY_READ
#undef KEY_WOW64_64KEY
#undef MAX_PATH
#undef MB_OK
#undef OPEN_ALWAYS
#undef OPEN_EXISTING
#undef OWNER_SECURITY_INFORMATION
#undef REG_BINARY
#undef REG_DWORD
#undef REG_EXPAND_SZ
#undef REG_MULTI_SZ
#undef REG_NONE
#undef REG_QWORD
#undef REG_SZ
#undef SACL_SECURITY_INFORMATION
#undef SHCNE_DELETE
#undef SHCNF_FLUSH
#undef SHCNF_FLUSHNOWAIT
#undef SHCNF_PATHW
#undef TRUE
#undef TRUNCATE_EXISTING
#undef WM_USER
// Handles: the layer's are the same values (checked where they are mapped).
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE
#undef INVALID_HANDLE_VALUE
// Wide-form names.
#undef FindNextFile

#include "platform/ExtensionModule.h"
#include "platform/FileApi.h"
#include "platform/Framework.h"
#include "platform/Security.h"
#include "platform/Shell.h"
#include "platform/WinTypes.h"

#define PLAT_WIN32_SAME(name) \
    static_assert(plat::win32::sdk::sdk_##name == static_cast<unsigned long long>(plat::name), #name);
PLAT_WIN32_SHARED_CONSTANTS(PLAT_WIN32_SAME)
#undef PLAT_WIN32_SAME

namespace plat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units on both sides");

// The layer's UTF-16 strings as the system's wide strings.
inline const wchar_t* Wide(LPCWSTR text)
{
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(LPWSTR text)
{
    return reinterpret_cast<wchar_t*>(text);
}
inline LPCWSTR Utf16(const wchar_t* text)
{
    return reinterpret_cast<LPCWSTR>(text);
}

}  // namespace plat::win32
