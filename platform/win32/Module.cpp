// Modules and the system folders: the system's own calls. The test hooks of
// platform/Module.h (the host executable's path, the WOW64 answer) take
// precedence while a test sets them.
#include "platform/Module.h"

#include "platform/WideString.h"
#include "platform/win32/WinApi.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace plat {
namespace {

std::mutex g_hostMutex;
std::optional<std::u16string>& HostOverride()
{
    static std::optional<std::u16string> path;
    return path;
}

// What a test made IsWow64Process answer; -1 while the system answers.
std::atomic<int> g_wow64{-1};

HMODULE Ours(::HMODULE module)
{
    return reinterpret_cast<HMODULE>(module);
}

::HMODULE Theirs(HMODULE module)
{
    return reinterpret_cast<::HMODULE>(module);
}

// Copies `text` as GetModuleFileName does: cut to size - 1 units when too long.
DWORD CopyCut(std::u16string_view text, LPWSTR buffer, DWORD size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    const size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n * sizeof(char16_t));
    buffer[n] = 0;
    return n < text.size() ? size : static_cast<DWORD>(n);
}

}  // namespace

std::string DefaultWindowsDirectory()
{
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return "C:\\Windows";
    return Utf16ToUtf8(std::u16string_view(win32::Utf16(folder), n)).value_or("C:\\Windows");
}

HMODULE LoadLibraryW(LPCWSTR path)
{
    return path == nullptr ? nullptr : Ours(::LoadLibraryW(win32::Wide(path)));
}

HMODULE GetModuleHandleW(LPCWSTR name)
{
    return Ours(::GetModuleHandleW(name == nullptr ? nullptr : win32::Wide(name)));
}

HMODULE GetModuleHandleA(LPCSTR name)
{
    return Ours(::GetModuleHandleA(name));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<FARPROC>(::GetProcAddress(Theirs(module), name));
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    if (module == nullptr) {
        std::lock_guard lock(g_hostMutex);
        if (HostOverride())
            return CopyCut(*HostOverride(), buffer, size);
    }
    return ::GetModuleFileNameW(Theirs(module), win32::Wide(buffer), size);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    if (module == nullptr) {
        std::lock_guard lock(g_hostMutex);
        if (HostOverride()) {
            const std::string narrow = Utf16ToUtf8(*HostOverride()).value_or("");
            if (buffer == nullptr || size == 0)
                return 0;
            const size_t n = narrow.size() < size ? narrow.size() : size - 1;
            std::memcpy(buffer, narrow.data(), n);
            buffer[n] = 0;
            return n < narrow.size() ? size : static_cast<DWORD>(n);
        }
    }
    return ::GetModuleFileNameA(Theirs(module), buffer, size);
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    return ::GetWindowsDirectoryW(win32::Wide(buffer), size);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    return ::GetWindowsDirectoryA(buffer, size);
}

UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    return ::GetSystemWindowsDirectoryW(win32::Wide(buffer), size);
}

UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size)
{
    return ::GetSystemWindowsDirectoryA(buffer, size);
}

HANDLE GetCurrentProcess()
{
    return ::GetCurrentProcess();
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64)
{
    if (wow64 == nullptr)
        return FALSE;
    if (const int forced = g_wow64.load(); forced >= 0) {
        *wow64 = forced;
        return TRUE;
    }
    ::BOOL answer = 0;
    if (!::IsWow64Process(process, &answer))
        return FALSE;
    *wow64 = answer != 0 ? TRUE : FALSE;
    return TRUE;
}

void SetHostExecutablePath(std::optional<std::u16string> path)
{
    std::lock_guard lock(g_hostMutex);
    HostOverride() = std::move(path);
}

void SetWow64Process(BOOL wow64)
{
    g_wow64.store(wow64);
}

}  // namespace plat
