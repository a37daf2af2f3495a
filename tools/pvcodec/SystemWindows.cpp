#include "System.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>

namespace cli::sys {
namespace {

std::optional<FileFacts> Facts(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return std::nullopt;
    FileFacts facts;
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    facts.size = static_cast<long long>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    facts.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                    (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    return facts;
}

std::atomic<bool>* g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_stop->exchange(true))
        std::_Exit(130);
    return TRUE;
}

}  // namespace

void StopOnInterrupt(std::atomic<bool>& stop)
{
    g_stop = &stop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void KeepInterruptsAway() {}

void UseBinaryStandardStreams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StandardErrorIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteErrorText(std::string_view text)
{
    std::fflush(stderr);
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!text.empty() && text.size() < INT_MAX && GetConsoleMode(console, &mode)) {
        const int size = static_cast<int>(text.size());
        std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
        DWORD written = 0;
        if (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
            return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int OpenFile(const std::string& path, int flags, int mode)
{
    const int permissions = (mode & 0400 ? _S_IREAD : 0) | (mode & 0200 ? _S_IWRITE : 0);
    return _wopen(FsPath(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, permissions);
}

bool WriteAll(int fd, const void* data, size_t length)
{
    return _write(fd, data, static_cast<unsigned>(length)) == static_cast<int>(length);
}

bool CloseFile(int fd)
{
    return _close(fd) == 0;
}

bool RemoveFile(const std::string& path)
{
    return _wunlink(FsPath(path).c_str()) == 0;
}

std::optional<FileFacts> FactsOf(int fd)
{
    return Facts(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

std::optional<FileFacts> FactsOfName(const std::string& path)
{
    // Attributes only, a reparse point itself rather than its target, and
    // folders too; shared with everyone, so that it never gets in the way.
    HANDLE handle = CreateFileW(FsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<FileFacts> facts = Facts(handle);
    CloseHandle(handle);
    return facts;
}

}  // namespace cli::sys
