// kalvo-config: the configuration tool's command-line companion, so that an
// integrator can build, change and check a configuration folder from a
// script.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/data_dir.h"
#include "tool/cli/config_commands.h"

int main(int argc, char** argv) {
    using namespace kalvo::tool::cli;
    // The global options, then COMMAND and its words as they are: each
    // command reads its own arguments (and its --help).
    std::string folder = ".";
    const std::string text = usage();
    const size_t commandsAt = text.find("\ncommands:\n");
    CLI::App app(text.substr(text.find('\n') + 1, commandsAt - text.find('\n') - 1),
                 "kalvo-config");
    app.set_version_flag("--version", "kalvo-config " KALVO_VERSION);
    app.footer("Commands:\n" + text.substr(commandsAt + 11));
    app.add_option("-C", folder, "the configuration folder (default: the current one)");
    app.prefix_command();
    // For the shell completion and the man page: the commands, one a line.
    app.add_flag_callback(
           "--list-commands",
           [] {
               std::cout << commandNames();
               throw CLI::Success();
           },
           "")
        ->group("");
    if (const int end = kalvo::platform::parseCommandLine(app, argc, argv); end >= 0) return end;
    const std::vector<std::string> args = app.remaining();
    if (args.empty()) {
        std::cerr << "kalvo-config: no command given\n" << usage();
        return kExitUsage;
    }
    if (args[0].size() > 1 && args[0][0] == '-' && !isCommand(args[0])) {
        std::cerr << "kalvo-config: unknown option " << args[0] << " (see kalvo-config --help)\n";
        return kExitUsage;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "kalvo-config: the configuration folder " << folder
                  << " does not exist; create it or give another with -C\n";
        return kExitFailed;
    }
    // The board libraries: in the installed library folder beside this
    // program's (multiarch on Debian), else in lib/ as the build tree has it.
    std::string libraryDir;
    for (const char* dir : {KALVO_LIBDIR, "lib"}) {
        const auto candidate = (kalvo::platform::programFolder() / ".." / dir).lexically_normal();
        if (std::filesystem::is_directory(candidate, ec)) {
            libraryDir = candidate.string();
            break;
        }
    }
    Context ctx{folder, libraryDir, &std::cout, &std::cerr};
    return runCommand(ctx, args[0], std::vector<std::string>(args.begin() + 1, args.end()));
}
