#include "support/ToolRun.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <csignal>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;  // EIO once the terminal's other side is closed
    }
    return text;
}

// Runs in the child: the environment, then the command.
[[noreturn]] void Exec(const std::string& tool, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment)
{
    std::vector<char*> argv = {const_cast<char*>(tool.c_str())};
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    unsetenv("PVCODEC_KEY");
    unsetenv("QZTRACE");
    for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
    execv(tool.c_str(), argv.data());
    _exit(127);
}

int ExitStatus(pid_t pid)
{
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment, const std::string& stdinFile,
                   int interruptAfterMs)
{
    // Files that the child writes and the parent reads afterwards: simpler than draining two pipes at once.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
        dup2(in, STDIN_FILENO);
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        Exec(tool, arguments, environment);
    }
    if (pid > 0 && interruptAfterMs > 0) {
        usleep(static_cast<useconds_t>(interruptAfterMs) * 1000);
        kill(pid, SIGINT);
    }
    ToolResult result{ExitStatus(pid), "", ""};
    for (auto [file, text] : {std::pair{out, &result.out}, {err, &result.err}}) {
        lseek(fileno(file), 0, SEEK_SET);
        *text = ReadAll(fileno(file));
        std::fclose(file);
    }
    return result;
}

ToolResult RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments)
{
    std::fflush(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0)
        Exec(tool, arguments, {});
    ToolResult result;
    if (pid > 0) {
        result.out = ReadAll(terminal);
        close(terminal);
    }
    result.status = ExitStatus(pid);
    return result;
}
