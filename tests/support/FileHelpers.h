// Whole files written and read without the platform layer; the contract tables' scratch layout and listing.
#pragma once

#include "PVCodec.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/FileException.h"
#include "platform/FileTime.h"
#include "platform/WideString.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>

// A path for the platform layer.
inline std::u16string Wide(const std::string& utf8)
{
    return plat::Utf8ToUtf16(utf8);
}

// A path and a window as a host hands them to CPVCodec (wchar_t and HWND on
// Windows, the platform layer's own types elsewhere).
using HostString = std::basic_string<PVWCHAR>;
inline HostString HostPath(const std::string& utf8)
{
    const std::u16string wide = Wide(utf8);
    return HostString(wide.begin(), wide.end());
}
inline PVHWND HostWindow(plat::HWND window)
{
    return static_cast<PVHWND>(window);
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path)  // a dangling link too
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

inline mode_t ModeOf(const std::string& path)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// `name` in `folder`: a leading '\' joins with Windows' separator; '|' is an unpaired surrogate.
inline std::u16string PathIn(const std::string& folder, const std::string& name)
{
    std::u16string path = Wide(folder + (name.starts_with('\\') ? "" : "/") + name);
    std::replace(path.begin(), path.end(), u'|', char16_t{0xDC00});
    return path;
}

// The scratch layout: "f" holds "content", "ro" holds "keep" and is read-only, "dir" is a folder.
inline void LayOut(const std::string& folder)
{
    WriteBytes(folder + "/f", "content");
    WriteBytes(folder + "/ro", "keep");
    plat::SetFileAttributesW(Wide(folder + "/ro").c_str(), plat::FILE_ATTRIBUTE_READONLY);
    std::filesystem::create_directory(folder + "/dir");
}

// What `folder` holds as the layer sees it, sorted: "dir/ f=content ro=keep(ro)".
inline std::string Listing(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    std::string out;
    for (const std::string& name : names) {
        const plat::DWORD attributes = plat::GetFileAttributesW(Wide(folder + "/" + name).c_str());
        out += (out.empty() ? "" : " ") + name;
        out += (attributes & plat::FILE_ATTRIBUTE_DIRECTORY) ? "/" : "=" + ReadBytes(folder + "/" + name);
        out += (attributes & plat::FILE_ATTRIBUTE_READONLY) ? "(ro)" : "";
    }
    return out;
}

// The cause of the CFileException that `call` throws (none when it returns), with its OS error and name.
template <typename Call>
int ThrownCause(Call call, plat::LONG* osError = nullptr, std::u16string* name = nullptr)
{
    try {
        call();
        return plat::CFileException::none;
    } catch (const plat::CFileException& e) {
        if (osError != nullptr)
            *osError = e.m_lOsError;
        if (name != nullptr)
            *name = e.m_strFileName;
        return e.m_cause;
    }
}

// A file's access and write times in seconds from 1970 (before it too), and its attributes, set through the
// layer's CFile::SetStatus, whose settings the status contract checks; its write time back in seconds.
inline void PutTimes(const std::string& path, int64_t access, int64_t write, plat::BYTE attribute = 0)
{
    const auto time = [](int64_t seconds) {
        return plat::TicksToFileTime(static_cast<plat::ULONGLONG>(seconds + plat::kFileTimeEpochOffsetSeconds) *
                                     10'000'000);
    };
    plat::CFileStatus status;
    status.m_atime = time(access);
    status.m_mtime = time(write);
    status.m_attribute = attribute;
    plat::CFile::SetStatus(Wide(path).c_str(), status);
}
inline int64_t WriteTimeOf(const std::string& path)
{
    plat::CFileStatus status;
    plat::CFile::GetStatus(Wide(path).c_str(), status);
    return static_cast<int64_t>(plat::FileTimeToTicks(status.m_mtime) / 10'000'000) -
           plat::kFileTimeEpochOffsetSeconds;
}
