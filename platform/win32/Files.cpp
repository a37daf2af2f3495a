// The Win32 file, name, attribute and drive calls of platform/FileApi.h: the
// system's own.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/PathText.h"
#include "platform/WideString.h"
#include "platform/win32/WinApi.h"

#include <cstring>
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

UINT MakeTempFile(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars)
{
    // The system writes up to MAX_PATH units; a smaller buffer gets the name only when it fits.
    wchar_t name[MAX_PATH];
    const UINT number = ::GetTempFileNameW(win32::Wide(pathName), win32::Wide(prefix != nullptr ? prefix : u""),
                                           unique, name);
    if (number == 0)
        return 0;
    const size_t length = std::wcslen(name);
    if (length + 1 > bufferChars) {
        if (unique == 0)
            ::DeleteFileW(name);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    std::memcpy(tempFileName, name, (length + 1) * sizeof(wchar_t));
    return number;
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

bool DriveRootForPath(LPCWSTR path, std::u16string& root)
{
    const std::u16string_view text(path != nullptr ? path : u"", WideLength(path));
    if (text.empty() || IsSharePath(text))
        return false;
    if (HasDriveLetter(text)) {
        root.assign(1, text[0]);
        root += u":\\";
        return true;
    }
    // A relative path lies on the volume of the current folder (or of the
    // folder it names, a mounted volume included).
    wchar_t volume[MAX_PATH];
    if (!::GetVolumePathNameW(win32::Wide(path), volume, MAX_PATH))
        return false;
    root.assign(win32::Utf16(volume));
    return true;
}

}  // namespace plat
