// pvcodec: protect documents from the command line.
#include "Commands.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <unistd.h>

namespace cli {

std::string ReadAllStdin()
{
    std::string data;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        data.append(buffer, n);
    return data;
}

bool WriteAllStdout(const char* data, size_t length)
{
    return std::fwrite(data, 1, length, stdout) == length && std::fflush(stdout) == 0;
}

void Fail(const std::string& message)
{
    std::fprintf(stderr, "pvcodec: %s\n", message.c_str());
}

}  // namespace cli

int main(int argc, char** argv)
{
    CLI::App app{"pvcodec: protected document containers and raw ciphers"};
    app.require_subcommand(1);
    int exitStatus = 0;
    cli::AddRawCommand(app, exitStatus);
    cli::AddInspectCommand(app, exitStatus);
    cli::AddRsaCommand(app, exitStatus);
    cli::AddGenkeyCommand(app, exitStatus);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return exitStatus;
}
