// GetShortPathNameW and GetTempFileNameW.
#include "platform/Backend.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/PathText.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/OpenFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

UINT Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

std::u16string TempName(std::u16string_view folder, std::u16string_view prefix, UINT number)
{
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string name(prefix.substr(0, 3));
    for (int shift = 12; shift >= 0; shift -= 4)
        name.push_back(kHex[(number >> shift) & 0xF]);
    name += u".tmp";
    return JoinPath(folder, name);
}

bool CopyOut(const std::u16string& text, LPWSTR out, DWORD bufferChars)
{
    if (text.size() + 1 > bufferChars)
        return false;
    std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
    out[text.size()] = 0;
    return true;
}

// Where this process starts looking for a free number; every attempt moves on.
std::atomic<unsigned>& NextNumber()
{
    static std::atomic<unsigned> next{static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ (static_cast<unsigned>(::getpid()) << 7))};
    return next;
}

}  // namespace

DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD bufferChars)
{
    if (longPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    struct stat st{};
    if (!posix::StatPathOrFail(longPath, st))  // the file must exist
        return 0;
    const size_t length = WideLength(longPath);
    if (shortPath == nullptr || bufferChars <= length)
        return static_cast<DWORD>(length + 1);
    std::memmove(shortPath, longPath, length * sizeof(char16_t));
    shortPath[length] = 0;
    return static_cast<DWORD>(length);
}

UINT backend::MakeTempFile(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars)
{
    const std::u16string_view folder(pathName, WideLength(pathName));
    const std::u16string_view pre(prefix != nullptr ? prefix : u"", WideLength(prefix));
    auto nativeFolder = posix::NativePathOrFail(folder.empty() ? u"." : pathName);
    if (!nativeFolder)
        return 0;
    struct stat st{};
    if (::stat(nativeFolder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Fail(ERROR_DIRECTORY);

    if (unique != 0) {
        // Only composes the name.
        const UINT number = unique & 0xFFFF;
        if (!CopyOut(TempName(folder, pre, number), tempFileName, bufferChars))
            return Fail(ERROR_BUFFER_OVERFLOW);
        return number;
    }
    if (TempName(folder, pre, 0).size() + 1 > bufferChars)
        return Fail(ERROR_BUFFER_OVERFLOW);
    for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
        const UINT number = NextNumber().fetch_add(1, std::memory_order_relaxed) % 0xFFFF + 1;
        const std::u16string name = TempName(folder, pre, number);
        auto native = ToNativePath(name.c_str());
        if (!native)
            return Fail(ERROR_INVALID_NAME);
        const int fd =
            ::open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, posix::kNewFileMode);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Fail(posix::Win32ErrorFromErrno(errno, *native));
        }
        ::close(fd);
        CopyOut(name, tempFileName, bufferChars);
        return number;
    }
    return Fail(ERROR_FILE_EXISTS);
}

}  // namespace plat
