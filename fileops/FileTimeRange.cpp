#include "fileops/FileChecks.h"

#include "platform/FileFind.h"
#include "platform/FileTime.h"

using namespace plat;

int IsFileTimeInRange(plat::LPCWSTR path)
{
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(path, &data);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    for (const FILETIME* time : {&data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime}) {
        SYSTEMTIME calendar{};
        if (!FileTimeToSystemTime(time, &calendar))
            return 0;
        // 1970 to 2037: what the framework's file status can carry.
        if (static_cast<WORD>(calendar.wYear - 1970) > 67)
            return 0;
    }
    return 1;
}
