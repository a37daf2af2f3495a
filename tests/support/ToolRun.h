// Runs the built pvcodec command as a child process and collects its exit
// status, standard output and standard error, for the tests of the command.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ToolResult {
    int status = -1;  // exit status; -1 when the command did not exit normally
    std::string out;
    std::string err;
};

// `arguments` follow the program name. The child starts without PVCODEC_KEY
// and QZTRACE, then gets `environment`; standard input is `stdinFile` (or
// /dev/null).
ToolResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment = {}, const std::string& stdinFile = "");

// The same under a pseudo-terminal, so that standard error is a terminal:
// everything the command wrote to it comes back in `out`.
ToolResult RunToolOnTerminal(const std::string& tool, const std::vector<std::string>& arguments);
