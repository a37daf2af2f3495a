// FindFirstFileW, FindNextFileW and FindClose: the system's own, with its
// record copied into the layer's.
#include "platform/FileFind.h"
#include "platform/LastError.h"
#include "platform/win32/WinApi.h"

#include <cstring>

namespace plat {
namespace {

void Copy(const ::WIN32_FIND_DATAW& from, WIN32_FIND_DATAW* to)
{
    to->dwFileAttributes = from.dwFileAttributes;
    to->ftCreationTime = FILETIME{from.ftCreationTime.dwLowDateTime, from.ftCreationTime.dwHighDateTime};
    to->ftLastAccessTime = FILETIME{from.ftLastAccessTime.dwLowDateTime, from.ftLastAccessTime.dwHighDateTime};
    to->ftLastWriteTime = FILETIME{from.ftLastWriteTime.dwLowDateTime, from.ftLastWriteTime.dwHighDateTime};
    to->nFileSizeHigh = from.nFileSizeHigh;
    to->nFileSizeLow = from.nFileSizeLow;
    to->dwReserved0 = from.dwReserved0;
    to->dwReserved1 = from.dwReserved1;
    static_assert(sizeof to->cFileName == sizeof from.cFileName &&
                  sizeof to->cAlternateFileName == sizeof from.cAlternateFileName);
    std::memcpy(to->cFileName, from.cFileName, sizeof to->cFileName);
    std::memcpy(to->cAlternateFileName, from.cAlternateFileName, sizeof to->cAlternateFileName);
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* findData)
{
    ::WIN32_FIND_DATAW data;
    const HANDLE search = ::FindFirstFileW(win32::Wide(fileName), &data);
    if (search != INVALID_HANDLE_VALUE && findData != nullptr)
        Copy(data, findData);
    return search;
}

BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData)
{
    if (findData == nullptr) {  // the system would write through it
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ::WIN32_FIND_DATAW data;
    if (!::FindNextFileW(findFile, &data))
        return FALSE;
    Copy(data, findData);
    return TRUE;
}

BOOL FindClose(HANDLE findFile)
{
    return ::FindClose(findFile) ? TRUE : FALSE;
}

}  // namespace plat
