// The subcommands of kalvo-config, each working on a configuration folder
// through the tool's model functions.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kalvo::tool::cli {

struct Context {
    std::string folder;  // configuration folder
    std::string
        libraryDir;  // where libKalvo is installed (its board libraries are looked for there first)
    std::ostream* out;
    std::ostream* err;
};

// Exit statuses: 0 done, 1 the command failed or found problems, 2 usage.
inline constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

// Runs command with its arguments; "--help" among them prints its help.
int runCommand(const Context& ctx, const std::string& command,
               const std::vector<std::string>& args);
bool isCommand(const std::string& name);
// The overview of every command.
std::string usage();

// The names of the commands, one a line.
std::string commandNames();

}  // namespace kalvo::tool::cli
