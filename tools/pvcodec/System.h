// What the pvcodec command asks of the operating system, written once per
// system (SystemPosix.cpp, SystemWindows.cpp). Names from the command line
// are UTF-8 everywhere in the command (Windows hands them over as UTF-16,
// converted once in main.cpp); a file is opened through the system's own
// form of its name, so a name in any script reaches the file it names.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cli::sys {

// A UTF-8 name as a path of the file-system library, and back.
inline std::filesystem::path FsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Standard input and output carry bytes unchanged (Windows: binary mode).
void UseBinaryStandardStreams();

// Whether standard error is a terminal (Windows: a console), where a
// progress bar can be drawn.
bool StandardErrorIsTerminal();

// Writes UTF-8 text to standard error as it comes. A Windows console is
// handed the text as UTF-16, so that it shows every name whatever its code
// page; a pipe or a file gets the UTF-8 bytes.
void WriteErrorText(std::string_view text);

// What the command checks of a file: which file it is, its size, and whether
// it is a regular file. On Windows the device is the volume's serial number
// and the inode the file index.
struct FileFacts {
    uint64_t device = 0;
    uint64_t inode = 0;
    long long size = 0;
    bool regular = false;
};

// open(2) of a UTF-8 name with `flags` (O_RDONLY, O_WRONLY | O_CREAT |
// O_EXCL ...) and `mode`; never inherited by child processes, binary on
// Windows. -1 with errno set when it fails.
int OpenFile(const std::string& path, int flags, int mode = 0600);
bool WriteAll(int fd, const void* data, size_t length);
bool CloseFile(int fd);
bool RemoveFile(const std::string& path);

// From now on an interrupt (POSIX: SIGINT or SIGTERM; Windows: Ctrl-C or
// Ctrl-Break) sets `stop`; a second one ends the
// process at once with status 130.
void StopOnInterrupt(std::atomic<bool>& stop);
// Interrupts go to another thread than this one (POSIX: they are blocked
// here, so that a worker's system calls are never cut short; Windows: the
// console's handler has a thread of its own already).
void KeepInterruptsAway();

std::optional<FileFacts> FactsOf(int fd);
// The name itself: a symbolic link is not followed.
std::optional<FileFacts> FactsOfName(const std::string& path);

}  // namespace cli::sys
