// _wfopen through the layer's open, so that the stream takes part in share modes.
#include "platform/Stdio.h"

#include "platform/LastError.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <cerrno>
#include <string>
#include <unistd.h>

namespace plat {

FILE* _wfopen(LPCWSTR fileName, LPCWSTR mode)
{
    if (mode == nullptr || mode[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        errno = EINVAL;
        return nullptr;
    }
    std::string narrowMode;
    bool plus = false;
    for (LPCWSTR m = mode; *m != 0; ++m) {
        if (*m == u'+')
            plus = true;
        if (*m == u'r' || *m == u'w' || *m == u'a' || *m == u'+' || *m == u'b')
            narrowMode.push_back(static_cast<char>(*m));
    }
    posix::OpenRequest request;
    switch (mode[0]) {
    case u'r': request.disposition = 3; request.share.read = true; request.share.write = plus; break;
    case u'w': request.disposition = 2; request.share.write = true; request.share.read = plus; break;
    case u'a': request.disposition = 4; request.share.write = true; request.share.read = plus; break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        errno = EINVAL;
        return nullptr;
    }
    // The runtime library lets others read and write the file meanwhile.
    request.share.shareRead = true;
    request.share.shareWrite = true;
    auto native = posix::NativePathOrFail(fileName);
    if (!native) {
        errno = ENOENT;
        return nullptr;
    }
    DWORD error = 0;
    const int fd = posix::OpenFile(*native, request, error);
    if (fd < 0) {
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return nullptr;
    }
    FILE* stream = ::fdopen(fd, narrowMode.c_str());
    if (stream == nullptr) {
        const int err = errno;
        ::close(fd);
        posix::SetLastErrorFromErrno(err);
        errno = err;
    }
    return stream;
}

}  // namespace plat
