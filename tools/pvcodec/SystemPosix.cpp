#include "System.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli::sys {
namespace {

FileFacts Facts(const struct stat& st)
{
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<long long>(st.st_size),
            S_ISREG(st.st_mode)};
}

std::atomic<bool>* g_stop = nullptr;

void OnInterrupt(int)
{
    if (g_stop->exchange(true))
        std::_Exit(130);
}

}  // namespace

void UseBinaryStandardStreams() {}

void StopOnInterrupt(std::atomic<bool>& stop)
{
    g_stop = &stop;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void KeepInterruptsAway()
{
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
}

bool StandardErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void WriteErrorText(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

int OpenFile(const std::string& path, int flags, int mode)
{
    return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

bool WriteAll(int fd, const void* data, size_t length)
{
    return ::write(fd, data, length) == static_cast<ssize_t>(length);
}

bool CloseFile(int fd)
{
    return ::close(fd) == 0;
}

bool RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::optional<FileFacts> FactsOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return Facts(st);
}

std::optional<FileFacts> FactsOfName(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return Facts(st);
}

}  // namespace cli::sys
