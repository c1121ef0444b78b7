// kalvo-config run as a real program, as a script would run it.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/support/program_run.h"

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
    const auto run = kalvo::testing::runProgram(std::string(KALVO_CONFIG_PATH) + " -C " +
                                                quoted(folder) + " " + arguments);
    return {run.exitCode, run.output};
}

}  // namespace kalvo::tool::test
