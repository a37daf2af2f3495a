#include "fileops/FileChecks.h"

#include "PVCodec.h"
#include "QZTracer.h"
#include "module/HostTypes.h"
#include "platform/FileApi.h"

#include <string>

using namespace plat;

// A share folder (\\server\share, //server/share) is not local. A Windows
// drive path is judged by its drive root "X:\"; other paths, which carry no
// drive letter here, by the file system that holds them.
int FileInLocalDrive(LPCWSTR path)
{
    std::u16string root;
    if (!DriveRootForPath(path, root)) {
        QZTraceW(u"[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! share folder");
        return 0;
    }
    const UINT type = GetDriveTypeW(root.c_str());
    QZTraceW(u"[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! DriveType=%d", static_cast<int>(type));
    return type == DRIVE_REMOTE || type == DRIVE_REMOVABLE ? 0 : 1;
}

int CPVCodec::IsFileInLocalDrive(const PVWCHAR* path)
{
    return FileInLocalDrive(host::Path(path));
}
