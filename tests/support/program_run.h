// A program run as a script runs it: a shell command line, its standard
// output and standard error read together, and its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kalvo::testing {

struct ProgramRun {
    int exitCode = -1;   // -1 when it did not start or did not exit normally
    std::string output;  // stdout and stderr together
};

inline ProgramRun runProgram(const std::string& commandLine) {
    ProgramRun run;
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace kalvo::testing
