// DriveRootForPath: shares and drive letters are read from the text; any
// other path goes to the backend, which knows the volumes of its system.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/PathText.h"
#include "platform/WideString.h"

namespace plat {

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
    return backend::VolumeRoot(path, root);
}

}  // namespace plat
