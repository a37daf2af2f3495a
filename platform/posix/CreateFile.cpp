// CreateFileW and CloseHandle, through the same open as CFile.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace plat {
namespace {

struct FileHandle {
    int fd;
};

std::mutex g_handleMutex;
std::map<HANDLE, std::unique_ptr<FileHandle>>& Handles()
{
    static std::map<HANDLE, std::unique_ptr<FileHandle>> handles;
    return handles;
}

}  // namespace

HANDLE backend::CreateHandle(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                             DWORD flagsAndAttributes)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return INVALID_HANDLE_VALUE;
    constexpr DWORD kWriteThrough = 0x80000000u;  // FILE_FLAG_WRITE_THROUGH
    backend::OpenRequest request;
    request.share.read = (desiredAccess & GENERIC_READ) != 0;
    request.share.write = (desiredAccess & GENERIC_WRITE) != 0;
    request.share.shareRead = (shareMode & FILE_SHARE_READ) != 0;
    request.share.shareWrite = (shareMode & FILE_SHARE_WRITE) != 0;
    request.share.shareDelete = (shareMode & FILE_SHARE_DELETE) != 0;
    request.disposition = creationDisposition;
    request.writeThrough = (flagsAndAttributes & kWriteThrough) != 0;
    DWORD error = 0;
    const int fd = posix::OpenFile(*native, request, error);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    auto object = std::make_unique<FileHandle>(FileHandle{fd});
    HANDLE handle = object.get();
    std::lock_guard lock(g_handleMutex);
    Handles().emplace(handle, std::move(object));
    return handle;
}

BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<FileHandle> object;
    {
        std::lock_guard lock(g_handleMutex);
        auto it = Handles().find(handle);
        if (it == Handles().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        Handles().erase(it);
    }
    if (::close(object->fd) != 0) {
        posix::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

}  // namespace plat
