#include "fileops/FileChecks.h"

#include "platform/Registry.h"

using namespace plat;

int IsExplorerIconsOnly()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG result = RegQueryValueExW(key, u"IconsOnly", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 1;  // absent or unreadable counts as set
    return value != 0 ? 1 : 0;
}
