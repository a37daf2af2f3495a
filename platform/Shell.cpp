#include "platform/Shell.h"

#include "platform/Backend.h"
#include "platform/FaultInjection.h"
#include "platform/FileApi.h"
#include "platform/PathText.h"

namespace plat {

void SHChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2)
{
    backend::AnnounceShellChange(eventId, flags, item1, item2);
    if (!fault::Active())
        return;
    std::u16string_view path;
    if (item1 != nullptr && (flags & 0xFF) == SHCNF_PATHW) {
        auto text = static_cast<LPCWSTR>(item1);
        path = std::u16string_view(text, WideLength(text));
    }
    fault::RecordShellNotification(eventId, flags, path);
}

BOOL PathRemoveFileSpecW(LPWSTR path)
{
    if (path == nullptr)
        return FALSE;
    const std::u16string_view text(path, WideLength(path));
    size_t keep;
    const size_t last = FindLastSeparator(text);
    if (last == std::u16string_view::npos)
        keep = HasDriveLetter(text) ? 2 : 0;  // "C:name" -> "C:", "name" -> ""
    else if (last == 0)
        keep = 1;  // "/name" -> "/"
    else if (last == 1 && IsSharePath(text))
        keep = 2;  // "\\" stays
    else if (last == 2 && HasDriveLetter(text))
        keep = 3;  // "C:\name" -> "C:\"
    else
        keep = last;
    if (keep >= text.size())
        return FALSE;
    path[keep] = 0;
    return TRUE;
}

BOOL PathFileExistsW(LPCWSTR path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? TRUE : FALSE;
}

}  // namespace plat
