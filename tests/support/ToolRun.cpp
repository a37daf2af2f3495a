#include "support/ToolRun.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char*> Argv(const std::string& tool, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;  // end, or EIO once the terminal's other side is closed
    }
    return text;
}

int ExitStatus(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A file that the child writes and the parent reads afterwards: simpler than
// draining two pipes at once.
struct Capture {
    FILE* file = std::tmpfile();
    ~Capture() { std::fclose(file); }
    std::string Text()
    {
        lseek(fileno(file), 0, SEEK_SET);
        return ReadAll(fileno(file));
    }
};

}  // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment, const std::string& stdinFile)
{
    Capture out, err;
    std::vector<char*> argv = Argv(tool, arguments);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
        if (in < 0)
            _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(fileno(out.file), STDOUT_FILENO);
        dup2(fileno(err.file), STDERR_FILENO);
        unsetenv("PVCODEC_KEY");
        unsetenv("QZTRACE");
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    ToolResult result;
    if (pid < 0)
        return result;
    result.status = ExitStatus(pid);
    result.out = out.Text();
    result.err = err.Text();
    return result;
}

ToolResult RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv = Argv(tool, arguments);
    std::fflush(nullptr);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        unsetenv("PVCODEC_KEY");
        unsetenv("QZTRACE");
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    ToolResult result;
    if (pid < 0)
        return result;
    result.out = ReadAll(master);
    close(master);
    result.status = ExitStatus(pid);
    return result;
}
