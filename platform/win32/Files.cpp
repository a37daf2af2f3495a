// The Win32 file, name, attribute and drive calls of platform/FileApi.h: the
// system's own.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/PathText.h"
#include "platform/WideString.h"
#include "platform/win32/WinApi.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

namespace backend {

BOOL RemoveFile(LPCWSTR fileName)
{
    return ::DeleteFileW(win32::Wide(fileName)) ? TRUE : FALSE;
}

BOOL RenameFile(LPCWSTR existingName, LPCWSTR newName)
{
    return ::MoveFileW(win32::Wide(existingName), win32::Wide(newName)) ? TRUE : FALSE;
}

HANDLE CreateHandle(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                    DWORD flagsAndAttributes)
{
    return ::CreateFileW(win32::Wide(fileName), desiredAccess, shareMode, nullptr, creationDisposition,
                         flagsAndAttributes, nullptr);
}

// Composed here as the system composes it (the folder, up to three characters of the prefix, four upper-case
// hexadecimal digits, ".tmp"), joined with the separator the folder already uses: the system's own call
// refuses a buffer past MAX_PATH, which the layer allows, and Wine's writes past MAX_PATH characters unchecked.
UINT MakeTempFile(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars)
{
    std::u16string name(pathName);
    const size_t last = name.find_last_of(u"\\/");
    if (!name.empty() && last != name.size() - 1)
        name += last != std::u16string::npos ? name[last] : u'\\';
    name += std::u16string_view(prefix != nullptr ? prefix : u"").substr(0, 3);
    const size_t digits = name.size();
    name += u"0000.tmp";
    if (name.size() + 1 > bufferChars) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    const auto put = [&](UINT number) {
        for (size_t i = 0; i < 4; ++i)
            name[digits + i] = u"0123456789ABCDEF"[number >> (12 - 4 * i) & 15];
        std::memcpy(tempFileName, name.c_str(), (name.size() + 1) * sizeof(char16_t));
        return number;
    };
    if (unique != 0)
        return put(unique & 0xFFFF);
    const DWORD attributes = ::GetFileAttributesW(win32::Wide(pathName));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    // From a number of the clock on, the first free one, as the system does.
    UINT number = ::GetTickCount() & 0xFFFF;
    for (unsigned tried = 0; tried < 0x10000; ++tried, number = (number + 1) & 0xFFFF) {
        if (number == 0)
            continue;
        put(number);
        const HANDLE file = ::CreateFileW(win32::Wide(name.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            return number;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    tempFileName[0] = 0;
    return 0;
}

}  // namespace backend

BOOL CloseHandle(HANDLE handle)
{
    return ::CloseHandle(handle) ? TRUE : FALSE;
}

DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD bufferChars)
{
    return ::GetShortPathNameW(win32::Wide(longPath), win32::Wide(shortPath), bufferChars);
}

DWORD GetFileAttributesW(LPCWSTR fileName)
{
    return ::GetFileAttributesW(win32::Wide(fileName));
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes)
{
    return ::SetFileAttributesW(win32::Wide(fileName), attributes) ? TRUE : FALSE;
}

UINT GetDriveTypeW(LPCWSTR rootPath)
{
    return ::GetDriveTypeW(win32::Wide(rootPath));
}

bool backend::VolumeRoot(LPCWSTR path, std::u16string& root)
{
    // A relative path lies on the volume of the current folder (or of the
    // folder it names, a mounted volume included).
    wchar_t volume[MAX_PATH];
    if (!::GetVolumePathNameW(win32::Wide(path), volume, MAX_PATH))
        return false;
    root.assign(win32::Utf16(volume));
    return true;
}

}  // namespace plat
