// kalvo-config run as a real program, as a script would run it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kalvo::tool::test {

struct ToolRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

inline std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// kalvo-config -C folder <arguments>.
inline ToolRun kalvoConfig(const std::string& folder, const std::string& arguments) {
    const std::string command =
        std::string(KALVO_CONFIG_PATH) + " -C " + quoted(folder) + " " + arguments + " 2>&1";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace kalvo::tool::test
