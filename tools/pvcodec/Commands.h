// The subcommands of the pvcodec command. Each Add* function registers one
// subcommand on the application; its callback sets the process exit status.
#pragma once

#include <CLI/CLI.hpp>

namespace cli {

void AddRawCommand(CLI::App& app, int& exitStatus);
void AddInspectCommand(CLI::App& app, int& exitStatus);
void AddRsaCommand(CLI::App& app, int& exitStatus);
void AddGenkeyCommand(CLI::App& app, int& exitStatus);

// Reads all of standard input / writes all of a buffer to standard output.
std::string ReadAllStdin();
bool WriteAllStdout(const char* data, size_t length);
// One plain line on standard error: "pvcodec: <message>".
void Fail(const std::string& message);

}  // namespace cli
