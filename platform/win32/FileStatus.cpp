// A file's status: read from an open file or by name, and put on a file, as
// the framework does it. Windows files carry no permission bits: m_access
// stays empty, and who may use a file comes from its folder.
#include "platform/Backend.h"
#include "platform/LastError.h"
#include "platform/win32/WinApi.h"

#include <vector>

namespace plat {
namespace {

FILETIME Ours(const ::FILETIME& time)
{
    return FILETIME{time.dwLowDateTime, time.dwHighDateTime};
}

::FILETIME Theirs(const FILETIME& time)
{
    return ::FILETIME{time.dwLowDateTime, time.dwHighDateTime};
}

bool IsGiven(const FILETIME& time)
{
    return time.dwLowDateTime != 0 || time.dwHighDateTime != 0;
}

std::u16string FullPath(LPCWSTR name)
{
    const ::DWORD needed = ::GetFullPathNameW(win32::Wide(name), 0, nullptr, nullptr);
    if (needed == 0)
        return name;
    std::vector<wchar_t> buffer(needed);
    const ::DWORD length = ::GetFullPathNameW(win32::Wide(name), needed, buffer.data(), nullptr);
    return length == 0 || length >= needed ? std::u16string(name) : std::u16string(win32::Utf16(buffer.data()), length);
}

void Fill(CFileStatus& status, LPCWSTR name, DWORD attributes, const ::FILETIME& created,
          const ::FILETIME& accessed, const ::FILETIME& written, ULONGLONG size)
{
    status.m_ctime = Ours(created);
    status.m_atime = Ours(accessed);
    status.m_mtime = Ours(written);
    status.m_size = size;
    status.m_attribute = static_cast<BYTE>(attributes & ~FILE_ATTRIBUTE_NORMAL);
    status.m_szFullName = FullPath(name);
    status.m_access.reset();
}

}  // namespace

namespace backend {

BOOL HandleStatus(HANDLE file, const std::u16string& name, CFileStatus& status)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info))
        return FALSE;
    Fill(status, name.c_str(), info.dwFileAttributes, info.ftCreationTime, info.ftLastAccessTime,
         info.ftLastWriteTime, (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    return TRUE;
}

BOOL PathStatus(LPCWSTR fileName, CFileStatus& status)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (fileName == nullptr || !::GetFileAttributesExW(win32::Wide(fileName), GetFileExInfoStandard, &data))
        return FALSE;
    Fill(status, fileName, data.dwFileAttributes, data.ftCreationTime, data.ftLastAccessTime,
         data.ftLastWriteTime, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return TRUE;
}

BOOL PutStatus(LPCWSTR fileName, const CFileStatus& status)
{
    const ::DWORD current = ::GetFileAttributesW(win32::Wide(fileName));
    if (current == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    // A read-only file is made writable first, so that its times can be set.
    if ((current & FILE_ATTRIBUTE_READONLY) != 0 &&
        !::SetFileAttributesW(win32::Wide(fileName), current & ~FILE_ATTRIBUTE_READONLY))
        return FALSE;
    if (IsGiven(status.m_mtime)) {
        const HANDLE file = ::CreateFileW(win32::Wide(fileName), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return FALSE;
        const ::FILETIME created = Theirs(status.m_ctime), accessed = Theirs(status.m_atime),
                         written = Theirs(status.m_mtime);
        const bool set = ::SetFileTime(file, IsGiven(status.m_ctime) ? &created : nullptr,
                                       IsGiven(status.m_atime) ? &accessed : nullptr, &written) != 0;
        const ::DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (!set) {
            ::SetLastError(error);
            return FALSE;
        }
    }
    const DWORD attributes = status.m_attribute != 0 ? status.m_attribute : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesW(win32::Wide(fileName), attributes) ? TRUE : FALSE;
}

}  // namespace backend
}  // namespace plat
