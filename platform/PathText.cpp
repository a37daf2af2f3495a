#include "platform/PathText.h"

namespace plat {

size_t FindLastSeparator(std::u16string_view path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (IsPathSeparator(path[i - 1]))
            return i - 1;
    return std::u16string_view::npos;
}

size_t FindFirstSeparator(std::u16string_view path, size_t from)
{
    for (size_t i = from; i < path.size(); ++i)
        if (IsPathSeparator(path[i]))
            return i;
    return std::u16string_view::npos;
}

bool EndsWithSeparator(std::u16string_view path)
{
    return !path.empty() && IsPathSeparator(path.back());
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name)
{
    std::u16string out(folder);
    if (!out.empty() && !EndsWithSeparator(out))
        out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

std::u16string_view FileNamePart(std::u16string_view path)
{
    size_t i = FindLastSeparator(path);
    return i == std::u16string_view::npos ? path : path.substr(i + 1);
}

bool IsSharePath(std::u16string_view path)
{
    return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

bool HasDriveLetter(std::u16string_view path)
{
    return path.size() >= 2 && path[1] == u':' &&
           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
}

}  // namespace plat
