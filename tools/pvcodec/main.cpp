// pvcodec: protect documents from the command line.
#include "Commands.h"
#include "System.h"

#include "platform/WideString.h"

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <iterator>
#include <vector>

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
    sys::WriteErrorText("pvcodec: " + message + "\n");
}

}  // namespace cli

namespace {

int Main(int argc, char** argv)
{
    cli::sys::UseBinaryStandardStreams();
    CLI::App app{"pvcodec: protected document containers and raw ciphers"};
    app.require_subcommand(1);
    // Options are --name everywhere; a path beginning with / is a path, also on
    // Windows (set before the subcommands, which take it over).
    app.allow_windows_style_options(false);
    int exitStatus = 0;
    cli::AddEncryptCommand(app, exitStatus);
    cli::AddDecryptCommand(app, exitStatus);
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

}  // namespace

#if defined(_WIN32)
// Windows hands the arguments over as UTF-16 (the program is linked with
// -municode); the command works in UTF-8 throughout.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::u16string wide(argv[i], argv[i] + std::wcslen(argv[i]));
        std::optional<std::string> text = plat::Utf16ToUtf8(wide);
        if (!text) {
            cli::Fail("argument " + std::to_string(i) + " is not valid UTF-16");
            return 2;
        }
        arguments.push_back(std::move(*text));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return Main(argc, pointers.data());
}
#else
int main(int argc, char** argv)
{
    return Main(argc, argv);
}
#endif
