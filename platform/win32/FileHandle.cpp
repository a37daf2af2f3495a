// Open files as CFile uses them: system file handles, with the system's own
// share modes, read-only rule and creation dispositions.
#include "platform/Backend.h"
#include "platform/LastError.h"
#include "platform/win32/WinApi.h"

#include <algorithm>

namespace plat {
namespace {

// One ReadFile or WriteFile call moves at most this much.
constexpr size_t kChunk = size_t{1} << 30;

DWORD Failed()
{
    return static_cast<DWORD>(::GetLastError());
}

}  // namespace

namespace backend {

HANDLE OpenHandle(LPCWSTR fileName, const OpenRequest& request, DWORD& error)
{
    if (fileName == nullptr) {
        SetLastError(error = ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD access = (request.share.read ? GENERIC_READ : 0) | (request.share.write ? GENERIC_WRITE : 0);
    const DWORD share = (request.share.shareRead ? FILE_SHARE_READ : 0) |
                        (request.share.shareWrite ? FILE_SHARE_WRITE : 0) |
                        (request.share.shareDelete ? FILE_SHARE_DELETE : 0);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (request.writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
    const HANDLE file =
        ::CreateFileW(win32::Wide(fileName), access, share, nullptr, request.disposition, flags, nullptr);
    error = file == INVALID_HANDLE_VALUE ? Failed() : 0;
    return file;
}

DWORD ReadHandle(HANDLE file, void* buffer, size_t count, size_t& done)
{
    auto* out = static_cast<char*>(buffer);
    done = 0;
    while (done < count) {
        ::DWORD n = 0;
        if (!::ReadFile(file, out + done, static_cast<::DWORD>(std::min(count - done, kChunk)), &n, nullptr))
            return Failed();
        if (n == 0)
            break;
        done += n;
    }
    return 0;
}

DWORD WriteHandle(HANDLE file, const void* buffer, size_t count)
{
    const auto* in = static_cast<const char*>(buffer);
    for (size_t done = 0; done < count;) {
        ::DWORD n = 0;
        if (!::WriteFile(file, in + done, static_cast<::DWORD>(std::min(count - done, kChunk)), &n, nullptr))
            return Failed();
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            return ERROR_DISK_FULL;
        }
        done += n;
    }
    return 0;
}

DWORD SeekHandle(HANDLE file, LONGLONG offset, UINT from, ULONGLONG& position)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER at;
    const ::DWORD method = from == CFile::begin ? FILE_BEGIN : from == CFile::current ? FILE_CURRENT : FILE_END;
    if (!::SetFilePointerEx(file, distance, &at, method))
        return Failed();
    position = static_cast<ULONGLONG>(at.QuadPart);
    return 0;
}

DWORD HandleLength(HANDLE file, ULONGLONG& length)
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size))
        return Failed();
    length = static_cast<ULONGLONG>(size.QuadPart);
    return 0;
}

DWORD SetHandleLength(HANDLE file, ULONGLONG length)
{
    ULONGLONG position = 0;
    if (DWORD error = SeekHandle(file, static_cast<LONGLONG>(length), CFile::begin, position); error != 0)
        return error;
    return ::SetEndOfFile(file) ? 0 : Failed();
}

DWORD SyncHandle(HANDLE file)
{
    return ::FlushFileBuffers(file) ? 0 : Failed();
}

DWORD CloseFileHandle(HANDLE file)
{
    return ::CloseHandle(file) ? 0 : Failed();
}

}  // namespace backend

BOOL FlushFileToDisk(LPCWSTR fileName)
{
    // The folder entry needs nothing of its own: NTFS journals it with the file.
    const HANDLE file = ::CreateFileW(win32::Wide(fileName), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    const BOOL flushed = ::FlushFileBuffers(file) ? TRUE : FALSE;
    const ::DWORD error = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(error);
    return flushed;
}

BOOL FlushFolderToDisk(LPCWSTR /*path*/)
{
    // Renames and removals are journalled by NTFS; there is no folder to sync.
    return TRUE;
}

}  // namespace plat
