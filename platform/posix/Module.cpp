#include "platform/Module.h"

#include "platform/WideString.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

// The handle of the layer's own "kernel32.dll".
char g_kernel32Tag;
HMODULE Kernel32() { return &g_kernel32Tag; }

std::mutex g_hostMutex;
std::optional<std::u16string>& HostOverride()
{
    static std::optional<std::u16string> path;
    return path;
}

std::atomic<BOOL> g_wow64{FALSE};

bool IsKernel32(std::u16string_view name)
{
    return WideCompareNoCase(name, u"kernel32.dll") == 0 || WideCompareNoCase(name, u"kernel32") == 0;
}

// kernel32's exports that the layer provides, by their exact names.
struct Kernel32Export {
    const char* name;
    FARPROC address;
};
const Kernel32Export kKernel32Exports[] = {
    {"GetSystemWindowsDirectoryW", reinterpret_cast<FARPROC>(&GetSystemWindowsDirectoryW)},
    {"GetSystemWindowsDirectoryA", reinterpret_cast<FARPROC>(&GetSystemWindowsDirectoryA)},
    {"GetWindowsDirectoryW", reinterpret_cast<FARPROC>(&GetWindowsDirectoryW)},
    {"GetWindowsDirectoryA", reinterpret_cast<FARPROC>(&GetWindowsDirectoryA)},
    {"IsWow64Process", reinterpret_cast<FARPROC>(&IsWow64Process)},
};

// The path of a module as UTF-16; nullopt when unknown.
std::optional<std::u16string> ModulePath(HMODULE module)
{
    if (module == nullptr) {
        {
            std::lock_guard lock(g_hostMutex);
            if (HostOverride())
                return HostOverride();
        }
        std::string buffer(4096, '\0');
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n <= 0 || static_cast<size_t>(n) >= buffer.size())
            return std::nullopt;
        buffer.resize(static_cast<size_t>(n));
        return Utf8ToUtf16(buffer);
    }
    if (module == Kernel32())
        return std::nullopt;
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
        map->l_name[0] == 0)
        return std::nullopt;
    return Utf8ToUtf16(map->l_name);
}

// Copies `text` as GetModuleFileName does: cut to size - 1 units when too long.
template <typename Char>
DWORD CopyCut(std::basic_string_view<Char> text, Char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n * sizeof(Char));
    buffer[n] = 0;
    return text.size() < size ? static_cast<DWORD>(n) : size;
}

// Copies `text` as GetWindowsDirectory does: all of it or nothing.
template <typename Char>
UINT CopyWhole(std::basic_string_view<Char> text, Char* buffer, UINT size)
{
    if (text.size() + 1 > size || buffer == nullptr)
        return static_cast<UINT>(text.size() + 1);
    std::memcpy(buffer, text.data(), text.size() * sizeof(Char));
    buffer[text.size()] = 0;
    return static_cast<UINT>(text.size());
}

std::string WindowsDirectory()
{
    std::string dir = DefaultWindowsDirectory();
    if (const char* env = secure_getenv("PVCODEC_WINDOWS_DIR"); env != nullptr && env[0] == '/')
        dir = env;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

}  // namespace

std::string DefaultWindowsDirectory()
{
    // Any function of this library tells the file it was loaded from.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultWindowsDirectory), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/') {
        std::string folder = info.dli_fname;
        folder.resize(folder.rfind('/'));
        return (folder.empty() ? std::string() : folder) + "/pvcodec/windows";
    }
    return "/usr/lib/pvcodec/windows";
}

HMODULE LoadLibraryW(LPCWSTR path)
{
    if (path == nullptr)
        return nullptr;
    if (IsKernel32(std::u16string_view(path, WideLength(path))))
        return Kernel32();
    auto native = ToNativePath(path);
    if (!native || native->empty())
        return nullptr;
    return dlopen(native->c_str(), RTLD_NOW | RTLD_LOCAL);
}

HMODULE GetModuleHandleW(LPCWSTR name)
{
    if (name == nullptr)
        return dlopen(nullptr, RTLD_NOW);
    if (IsKernel32(std::u16string_view(name, WideLength(name))))
        return Kernel32();
    auto native = ToNativePath(name);
    if (!native || native->empty())
        return nullptr;
    return dlopen(native->c_str(), RTLD_NOW | RTLD_NOLOAD);
}

HMODULE GetModuleHandleA(LPCSTR name)
{
    if (name == nullptr)
        return GetModuleHandleW(nullptr);
    std::u16string wide = Utf8ToUtf16(name);
    return GetModuleHandleW(wide.c_str());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module == nullptr || name == nullptr)
        return nullptr;
    if (module == Kernel32()) {
        for (const Kernel32Export& e : kKernel32Exports)
            if (std::strcmp(e.name, name) == 0)
                return e.address;
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    auto path = ModulePath(module);
    if (!path)
        return 0;
    return CopyCut(std::u16string_view(*path), buffer, size);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    auto path = ModulePath(module);
    if (!path)
        return 0;
    auto narrow = Utf16ToUtf8(*path);
    if (!narrow)
        return 0;
    return CopyCut(std::string_view(*narrow), buffer, size);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    std::u16string dir = Utf8ToUtf16(WindowsDirectory());
    return CopyWhole(std::u16string_view(dir), buffer, size);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    std::string dir = WindowsDirectory();
    return CopyWhole(std::string_view(dir), buffer, size);
}

UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) { return GetWindowsDirectoryW(buffer, size); }
UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size) { return GetWindowsDirectoryA(buffer, size); }

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }  // the pseudo handle, as on Windows

BOOL IsWow64Process(HANDLE, BOOL* wow64)
{
    if (wow64 == nullptr)
        return FALSE;
    *wow64 = g_wow64.load();
    return TRUE;
}

void SetHostExecutablePath(std::optional<std::u16string> path)
{
    std::lock_guard lock(g_hostMutex);
    HostOverride() = std::move(path);
}

void SetWow64Process(BOOL wow64) { g_wow64.store(wow64); }

}  // namespace plat
