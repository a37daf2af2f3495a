// Runs the pvcodec command as a child process: its exit status, standard output and standard error.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ToolResult {
    int status = -1;  // exit status; -1 when the command did not exit normally
    std::string out;
    std::string err;
};

// Without PVCODEC_KEY and QZTRACE, then `environment`; standard input `stdinFile` or /dev/null; with
// `interruptAfterMs`, SIGINT is sent that long after the start.
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment = {}, const std::string& stdinFile = "",
                   int interruptAfterMs = 0);

// Under a pseudo-terminal (standard error a terminal): all the output in `out`.
ToolResult RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments);
