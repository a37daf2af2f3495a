// Where the outside crypto libraries are looked for: the host executable's
// folder, else the product's install folder from the registry value
// "PVVPVPath" of HKEY_LOCAL_MACHINE\SOFTWARE\VELQUIST\PVDirectory, else the
// system Windows folder with "\Velquist\VPV". Wide helpers serve
// "XecureCrypto.dll", their ANSI twins (UTF-8 here) the path of
// "XecureATE.dll".
//
// Paths never overflow their 260-unit buffers: a composed path that would
// not fit is not used at all (no library is loaded from it), and a path is
// never composed from an unknown folder (no registry value and no Windows
// folder), so a library is never loaded from a bare or relative name.
#pragma once

#include "platform/WinTypes.h"

#include <optional>
#include <span>
#include <string>

inline constexpr size_t kLibraryPathUnits = 260;  // including the terminating NUL

inline constexpr char16_t kCryptoLibraryName[] = u"XecureCrypto.dll";
inline constexpr char kAteLibraryName[] = "XecureATE.dll";

// The host executable's folder, with its trailing separator, into
// `destination`. 1 on success; 0 (destination untouched) when the
// executable's path is unknown, cut short, has no separator or does not fit.
int GetModuleDirectoryW(std::span<plat::WCHAR, kLibraryPathUnits> destination);
int GetModuleDirectoryA(std::span<char, kLibraryPathUnits> destination);

// The product's install folder (no trailing separator added): the registry
// value when non-empty, cut to the capacity; else the system Windows folder
// followed by "\Velquist\VPV" when that fits, or the bare Windows folder
// when it does not. Empty when neither can be had.
void GetInstallDirectoryW(std::span<plat::WCHAR> destination);
void GetInstallDirectoryA(std::span<char> destination);

// Opens `subKey` under `root` for reading (the 64-bit view for a 32-bit
// process on 64-bit Windows) and reads `valueName` into `data` (`size`
// bytes). 1 when the key could be opened (the read itself is not checked), else 0.
int ReadRegistryValueW(plat::HKEY root, plat::LPCWSTR subKey, plat::LPCWSTR valueName, void* data, plat::DWORD size);
int ReadRegistryValueA(plat::HKEY root, plat::LPCSTR subKey, plat::LPCSTR valueName, void* data, plat::DWORD size);

// The access mask of ReadRegistryValueW/A: KEY_READ, with KEY_WOW64_64KEY
// when IsWow64 answers exactly 1.
plat::REGSAM RegistryReadAccess();

// TRUE when the process is a 32-bit process on 64-bit Windows.
plat::BOOL IsWow64();

// The full path of "XecureCrypto.dll" by the search rules: the executable's
// folder when a file find finds it there, else the install folder (not
// tested). nullopt when no usable path can be composed.
std::optional<std::u16string> FindCryptoLibraryPath();
// The same for "XecureATE.dll", in the ANSI code page.
std::optional<std::string> FindAteLibraryPath();
