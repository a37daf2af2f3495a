#include "extcrypto/LibraryPaths.h"

#include "platform/FileFind.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "platform/WideString.h"

#include <atomic>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// One file find on exactly that path, as the library search asks.
bool FileExists(const plat::WCHAR* path)
{
    plat::CFileFind finder;
    return finder.FindFile(path) != plat::FALSE;
}


constexpr plat::WCHAR kInstallKeyW[] = u"SOFTWARE\\VELQUIST\\PVDirectory";
constexpr plat::WCHAR kInstallValueW[] = u"PVVPVPath";
constexpr char kInstallKeyA[] = "SOFTWARE\\VELQUIST\\PVDirectory";
constexpr char kInstallValueA[] = "PVVPVPath";
constexpr size_t kRegistryBufferUnits = 2048;
constexpr plat::DWORD kRegistryDataSize = 2048;  // bytes, for both forms
constexpr size_t kModuleFileUnits = 512;
// "\Velquist\VPV" with this host's separator: 13 units.
constexpr std::u16string_view kVendorFolder = u"Velquist";
constexpr std::u16string_view kProductFolder = u"VPV";
constexpr size_t kVendorSuffixLength = 1 + kVendorFolder.size() + 1 + kProductFolder.size();
static_assert(kVendorSuffixLength == 13);

template <typename Char>
constexpr Char Separator()
{
    return static_cast<Char>(plat::kPathSeparator);
}

template <typename Char>
size_t Length(const Char* text, size_t capacity)
{
    size_t n = 0;
    while (n < capacity && text[n] != 0)
        ++n;
    return n;
}

// Appends the parts to the NUL-terminated string in `buffer` when all of
// them fit with the NUL; otherwise leaves it alone and returns false.
template <typename Char>
bool Append(std::span<Char> buffer, std::initializer_list<std::basic_string_view<Char>> parts)
{
    size_t at = Length(buffer.data(), buffer.size());
    size_t total = at;
    for (auto part : parts)
        total += part.size();
    if (at >= buffer.size() || total + 1 > buffer.size())
        return false;
    for (auto part : parts) {
        std::memcpy(buffer.data() + at, part.data(), part.size() * sizeof(Char));
        at += part.size();
    }
    buffer[at] = 0;
    return true;
}

std::string Narrow(std::u16string_view text)
{
    return std::string(text.begin(), text.end());  // ASCII only
}

// kernel32's exports are __stdcall (WINAPI), which on 32-bit Windows the
// callee's own return pops; elsewhere there is one convention, and the
// layer's kernel32 table holds its own functions.
#if defined(_WIN32)
#define KERNEL32_CALL __stdcall
#else
#define KERNEL32_CALL
#endif

// The Windows-directory functions, resolved once per process: the export of
// "kernel32.dll" when there is one, else GetWindowsDirectory. Resolution
// gives the same answer every time, so concurrent first users may both
// resolve; the atomic publishes a complete pointer.
using WindowsDirectoryFnW = plat::UINT(KERNEL32_CALL*)(plat::LPWSTR, plat::UINT);
using WindowsDirectoryFnA = plat::UINT(KERNEL32_CALL*)(plat::LPSTR, plat::UINT);
std::atomic<WindowsDirectoryFnW> g_windowsDirectoryW{nullptr};
std::atomic<WindowsDirectoryFnA> g_windowsDirectoryA{nullptr};

// The fallbacks in the same convention.
plat::UINT KERNEL32_CALL LayerWindowsDirectoryW(plat::LPWSTR buffer, plat::UINT size)
{
    return plat::GetWindowsDirectoryW(buffer, size);
}
plat::UINT KERNEL32_CALL LayerWindowsDirectoryA(plat::LPSTR buffer, plat::UINT size)
{
    return plat::GetWindowsDirectoryA(buffer, size);
}

// One of them: the export `name`, else `fallback`, cached in `cache`.
template <class Fn>
Fn KernelFunctionOr(std::atomic<Fn>& cache, const char* name, Fn fallback)
{
    Fn fn = cache.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = reinterpret_cast<Fn>(plat::GetProcAddress(plat::GetModuleHandleA("kernel32.dll"), name));
        if (fn == nullptr)
            fn = fallback;
        cache.store(fn, std::memory_order_release);
    }
    return fn;
}

WindowsDirectoryFnW WindowsDirectoryFunctionW()
{
    return KernelFunctionOr(g_windowsDirectoryW, "GetSystemWindowsDirectoryW", &LayerWindowsDirectoryW);
}

WindowsDirectoryFnA WindowsDirectoryFunctionA()
{
    return KernelFunctionOr(g_windowsDirectoryA, "GetSystemWindowsDirectoryA", &LayerWindowsDirectoryA);
}

// The folder part of the executable's path, separator included.
template <typename Char, typename GetName>
int ModuleDirectory(std::span<Char, kLibraryPathUnits> destination, GetName getName)
{
    std::vector<Char> path(kModuleFileUnits, 0);
    plat::DWORD n = getName(path.data(), static_cast<plat::DWORD>(path.size()));
    if (n == 0 || n >= path.size())  // unknown, or cut short
        return 0;
    size_t cut = n;
    while (cut > 0 && !plat::IsPathSeparator(static_cast<char16_t>(path[cut - 1])))
        --cut;
    if (cut == 0 || cut + 1 > destination.size())
        return 0;
    std::memcpy(destination.data(), path.data(), cut * sizeof(Char));
    destination[cut] = 0;
    return 1;
}

// Fills `destination` from the registry value, else the Windows folder.
template <typename Char, typename ReadValue, typename WindowsDirectory>
void InstallDirectory(std::span<Char> destination, ReadValue readValue, WindowsDirectory windowsDirectory)
{
    if (destination.empty())
        return;
    destination[0] = 0;
    // One unit more than the data size allows, so the value always ends in a NUL.
    std::vector<Char> value(kRegistryBufferUnits + 1, 0);
    readValue(value.data());
    size_t length = Length(value.data(), value.size());
    if (length > 0) {
        size_t n = length < destination.size() - 1 ? length : destination.size() - 1;
        std::memcpy(destination.data(), value.data(), n * sizeof(Char));
        destination[n] = 0;
        return;
    }
    auto capacity = static_cast<plat::UINT>(destination.size());
    plat::UINT n = windowsDirectory(destination.data(), capacity);
    if (n == 0)
        return;
    if (n >= capacity) {  // the folder did not fit: nothing was written
        destination[0] = 0;
        return;
    }
    if (n + kVendorSuffixLength >= capacity)
        return;
    const Char sep[] = {Separator<Char>()};
    if constexpr (sizeof(Char) == 1) {
        std::string vendor = Narrow(kVendorFolder), product = Narrow(kProductFolder);
        Append<Char>(destination, {std::string_view(sep, 1), vendor, std::string_view(sep, 1), product});
    } else {
        Append<Char>(destination, {std::u16string_view(sep, 1), kVendorFolder, std::u16string_view(sep, 1),
                                   kProductFolder});
    }
}

}  // namespace

int GetModuleDirectoryW(std::span<plat::WCHAR, kLibraryPathUnits> destination)
{
    return ModuleDirectory(destination, [](plat::WCHAR* buffer, plat::DWORD size) {
        return plat::GetModuleFileNameW(nullptr, buffer, size);
    });
}

int GetModuleDirectoryA(std::span<char, kLibraryPathUnits> destination)
{
    return ModuleDirectory(destination, [](char* buffer, plat::DWORD size) {
        return plat::GetModuleFileNameA(nullptr, buffer, size);
    });
}

void GetInstallDirectoryW(std::span<plat::WCHAR> destination)
{
    InstallDirectory(
        destination,
        [](plat::WCHAR* value) {
            ReadRegistryValueW(plat::HKEY_LOCAL_MACHINE, kInstallKeyW, kInstallValueW, value, kRegistryDataSize);
        },
        [](plat::WCHAR* buffer, plat::UINT size) { return WindowsDirectoryFunctionW()(buffer, size); });
}

void GetInstallDirectoryA(std::span<char> destination)
{
    InstallDirectory(
        destination,
        [](char* value) {
            ReadRegistryValueA(plat::HKEY_LOCAL_MACHINE, kInstallKeyA, kInstallValueA, value, kRegistryDataSize);
        },
        [](char* buffer, plat::UINT size) { return WindowsDirectoryFunctionA()(buffer, size); });
}

plat::REGSAM RegistryReadAccess()
{
    return IsWow64() == 1 ? (plat::KEY_READ | plat::KEY_WOW64_64KEY) : plat::KEY_READ;
}

int ReadRegistryValueW(plat::HKEY root, plat::LPCWSTR subKey, plat::LPCWSTR valueName, void* data, plat::DWORD size)
{
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExW(root, subKey, 0, RegistryReadAccess(), &key) != plat::ERROR_SUCCESS)
        return 0;
    plat::DWORD dataSize = size;
    plat::RegQueryValueExW(key, valueName, nullptr, nullptr, static_cast<plat::LPBYTE>(data), &dataSize);
    plat::RegCloseKey(key);
    return 1;
}

int ReadRegistryValueA(plat::HKEY root, plat::LPCSTR subKey, plat::LPCSTR valueName, void* data, plat::DWORD size)
{
    plat::HKEY key = nullptr;
    if (plat::RegOpenKeyExA(root, subKey, 0, RegistryReadAccess(), &key) != plat::ERROR_SUCCESS)
        return 0;
    plat::DWORD dataSize = size;
    plat::RegQueryValueExA(key, valueName, nullptr, nullptr, static_cast<plat::LPBYTE>(data), &dataSize);
    plat::RegCloseKey(key);
    return 1;
}

plat::BOOL IsWow64()
{
    using IsWow64ProcessFn = plat::BOOL(KERNEL32_CALL*)(plat::HANDLE, plat::BOOL*);
    plat::BOOL wow64 = plat::FALSE;
    auto fn = reinterpret_cast<IsWow64ProcessFn>(
        plat::GetProcAddress(plat::GetModuleHandleA("kernel32"), "IsWow64Process"));
    if (fn != nullptr)
        fn(plat::GetCurrentProcess(), &wow64);
    return wow64;
}

std::optional<std::u16string> FindCryptoLibraryPath()
{
    constexpr std::u16string_view name = kCryptoLibraryName;
    const plat::WCHAR sep[] = {plat::kPathSeparator};
    std::array<plat::WCHAR, kLibraryPathUnits> path{};
    if (GetModuleDirectoryW(path) == 1 && Append<plat::WCHAR>(path, {name}) && FileExists(path.data()))
        return std::u16string(path.data());
    path.fill(0);
    GetInstallDirectoryW(path);
    if (path[0] == 0 || !Append<plat::WCHAR>(path, {std::u16string_view(sep, 1), name}))
        return std::nullopt;
    return std::u16string(path.data());
}

std::optional<std::string> FindAteLibraryPath()
{
    constexpr std::string_view name = kAteLibraryName;
    const char sep[] = {static_cast<char>(plat::kPathSeparator)};
    std::array<char, kLibraryPathUnits> path{};
    if (GetModuleDirectoryA(path) == 1 && Append<char>(path, {name})) {
        std::u16string wide = plat::Utf8ToUtf16(path.data());
        if (FileExists(wide.c_str()))
            return std::string(path.data());
    }
    path.fill(0);
    GetInstallDirectoryA(path);
    if (path[0] == 0 || !Append<char>(path, {std::string_view(sep, 1), name}))
        return std::nullopt;
    return std::string(path.data());
}
