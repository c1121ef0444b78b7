// The commands of kalvo-devctl: one row each, with its usage text and its
// handler. Most forward one request to the host's admin channel.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kalvo::kernel::host {

struct DevctlCommand {
    const char* name;
    const char* usage;  // the lines --help shows, and all that help COMMAND prints
    size_t minArgs, maxArgs;
    // Runs with the arguments after the command; the exit code.
    int (*run)(const std::string& folder, const std::vector<std::string>& args);
};

const std::vector<DevctlCommand>& devctlCommands();

// The command named so; null when there is none.
const DevctlCommand* findDevctlCommand(const std::string& name);

// The whole --help text: the header, then every command's usage.
std::string devctlUsage();

// kalvo-devctl with its arguments: the exit code (0 done, 1 refused or
// failed, 2 bad command line).
int runDevctl(const std::vector<std::string>& args);

}  // namespace kalvo::kernel::host
