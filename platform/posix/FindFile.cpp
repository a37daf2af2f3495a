// FindFirstFileW, FindNextFileW and FindClose over stat and the folder listing.
#include "platform/FileFind.h"
#include "platform/LastError.h"
#include "platform/WideString.h"
#include "platform/posix/FileInfo.h"
#include "platform/posix/NativePath.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace plat {
namespace {

struct Search {
    std::vector<WIN32_FIND_DATAW> found;
    size_t next = 0;
};

std::mutex g_searchMutex;
std::map<HANDLE, std::unique_ptr<Search>>& Searches()
{
    static std::map<HANDLE, std::unique_ptr<Search>> searches;
    return searches;
}

bool HasWildcard(std::u16string_view name)
{
    return name.find_first_of(u"*?") != std::u16string_view::npos;
}

// Windows matching of one name against a pattern of '*' and '?', without
// regard to case; "*.*" matches every name, with a dot or without.
bool Matches(std::u16string_view pattern, std::u16string_view name)
{
    if (pattern == u"*.*")
        pattern = u"*";
    size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || WideToLower(pattern[p]) == WideToLower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

WIN32_FIND_DATAW Describe(const std::string& native, std::u16string_view name, const posix::FileInfo& info)
{
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = posix::AttributesOf(native, info);
    data.ftCreationTime = info.created;
    data.ftLastAccessTime = info.accessed;
    data.ftLastWriteTime = info.written;
    data.nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(info.size);
    const size_t n = std::min<size_t>(name.size(), MAX_PATH - 1);
    std::copy_n(name.begin(), n, data.cFileName);
    data.cFileName[n] = 0;
    return data;
}

HANDLE Fail(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* findData)
{
    auto native = posix::NativePathOrFail(fileName);
    if (!native)
        return INVALID_HANDLE_VALUE;
    if (findData == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const size_t slash = native->rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : native->substr(0, slash));
    const std::string leaf = slash == std::string::npos ? *native : native->substr(slash + 1);
    if (leaf.empty())
        return Fail(ERROR_FILE_NOT_FOUND);  // a name ending in a separator names no file
    const std::u16string pattern = Utf8ToUtf16(leaf);

    auto search = std::make_unique<Search>();
    if (!HasWildcard(pattern)) {
        posix::FileInfo info;
        if (int err = posix::StatPath(*native, info); err != 0) {
            posix::SetLastErrorFromErrno(err, *native);
            return INVALID_HANDLE_VALUE;
        }
        search->found.push_back(Describe(*native, pattern, info));
    } else {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
        if (!dir)
            return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                             : posix::Win32ErrorFromErrno(errno));
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::u16string name = Utf8ToUtf16(entry->d_name);
            if (!Matches(pattern, name))
                continue;
            const std::string path = (folder == "/" ? "" : folder) + "/" + entry->d_name;
            posix::FileInfo info;
            if (posix::StatPath(path, info) == 0)
                search->found.push_back(Describe(path, name, info));
        }
        if (search->found.empty())
            return Fail(ERROR_FILE_NOT_FOUND);
    }
    *findData = search->found[0];
    search->next = 1;
    HANDLE handle = search.get();
    std::lock_guard lock(g_searchMutex);
    Searches().emplace(handle, std::move(search));
    return handle;
}

BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData)
{
    std::lock_guard lock(g_searchMutex);
    auto it = Searches().find(findFile);
    if (it == Searches().end() || findData == nullptr) {
        SetLastError(it == Searches().end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Search& search = *it->second;
    if (search.next >= search.found.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *findData = search.found[search.next++];
    return TRUE;
}

BOOL FindClose(HANDLE findFile)
{
    std::lock_guard lock(g_searchMutex);
    if (Searches().erase(findFile) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // namespace plat
