// Real child processes for cross-process tests.
//
// A test binary registers child functions with KALVO_CHILD(name); spawnChild
// fork+execs the binary itself with "--kalvo-child <name> args...", and the
// test main runs that function instead of the tests. The child's exit status
// is the function's result. Children inherit the environment and the current
// directory (so the private runtime namespace of the test).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kalvo::testing {

using ChildFn = int (*)(const std::vector<std::string>& args);

bool registerChild(const char* name, ChildFn fn);
// Runs a child function when argv asks for one; returns true and sets
// exitCode then. Called by the test main before GoogleTest starts.
bool runChildIfRequested(int argc, char** argv, int& exitCode);

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();  // kills and reaps a child still running

    pid_t pid() const { return pid_; }
    // Exit status (0-255), 128 + signal for a killed child, -1 on time-out
    // (the child is then still running).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void kill(int signal);  // sends the signal and reaps the child
    bool running();

  private:
    friend ChildProcess spawnChildVia(const std::vector<std::string>&, const std::string&,
                                      const std::vector<std::string>&);
    pid_t pid_ = -1;
    int status_ = -1;
};

ChildProcess spawnChild(const std::string& name, const std::vector<std::string>& args = {});
// The same through a launcher that execs the rest of its command line, e.g.
// setpriv dropping to another user (test_users.h).
ChildProcess spawnChildVia(const std::vector<std::string>& launcher, const std::string& name,
                           const std::vector<std::string>& args = {});

}  // namespace kalvo::testing

#define KALVO_CHILD_CAT2(a, b) a##b
#define KALVO_CHILD_CAT(a, b) KALVO_CHILD_CAT2(a, b)
#define KALVO_CHILD(name)                                                                \
    static int KALVO_CHILD_CAT(kalvoChild_, name)(const std::vector<std::string>& args); \
    [[maybe_unused]] static const bool KALVO_CHILD_CAT(kalvoChildReg_, name) =           \
        ::kalvo::testing::registerChild(#name, &KALVO_CHILD_CAT(kalvoChild_, name));     \
    static int KALVO_CHILD_CAT(kalvoChild_,                                              \
                               name)([[maybe_unused]] const std::vector<std::string>& args)
