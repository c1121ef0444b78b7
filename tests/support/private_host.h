// A device host of the test's own: the real kalvo-devhost process with the
// board driver modules and a simulated board set, serving in a private
// folder (KALVO_DEVICE_DIR), and kalvo-devctl to look into it. The host is
// stopped with SIGTERM and killed if it does not end, so that no test leaves
// a host behind.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kalvo::drivertest {

struct ToolRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// kalvo-devctl with the arguments, against the folder in KALVO_DEVICE_DIR.
inline ToolRun devctl(const std::string& arguments) {
    std::string command = std::string(KALVO_DEVCTL_PATH) + " " + arguments + " 2>&1";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The line of `kalvo-devctl list` for a board location; empty when none.
inline std::string deviceListLine(const std::string& location) {
    std::istringstream list(devctl("list").output);
    for (std::string line; std::getline(list, line);)
        if (line.rfind(location + " ", 0) == 0) return line;
    return {};
}

class PrivateHost {
  public:
    PrivateHost() = default;
    PrivateHost(const PrivateHost&) = delete;
    PrivateHost& operator=(const PrivateHost&) = delete;
    ~PrivateHost() { kill(); }

    // Runs the host through a launcher (test_users.h: setpriv to another
    // user), with the service's umask 0007. Set before start().
    void runVia(std::vector<std::string> launcher) { launcher_ = std::move(launcher); }

    // Starts kalvo-devhost serving in folder with the three driver modules
    // and the board set (and any further host options), and waits until it
    // serves (its banner line). False, with the host's output in *why, when
    // it does not come up.
    bool start(const std::string& folder, const std::string& logPath, const std::string& boards,
               std::string* why, const std::vector<std::string>& moreOptions = {}) {
        folder_ = folder;
        log_ = logPath;
        // Emptied here, not only by the child: a host started again on the
        // same log must not be taken for up by its predecessor's banner.
        std::ofstream(logPath, std::ios::trunc);
        setenv("KALVO_DEVICE_DIR", folder.c_str(), 1);
        std::vector<std::string> args = {KALVO_DEVHOST_PATH,
                                         "--driver",
                                         KALVO_TOLVA_DRIVER_PATH,
                                         "--driver",
                                         KALVO_KVMDRV_DRIVER_PATH,
                                         "--driver",
                                         KALVO_CARDMASTER_DRIVER_PATH,
                                         "--boards",
                                         boards};
        args.insert(args.end(), moreOptions.begin(), moreOptions.end());
        args.insert(args.begin(), launcher_.begin(), launcher_.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) {
            *why = "fork failed";
            return false;
        }
        if (pid_ == 0) {
            // Should the test process die without its teardown, the host
            // goes with it.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            if (!launcher_.empty()) umask(0007);
            execv(argv[0], argv.data());
            _exit(127);
        }
        // Sanitizer builds start slowly: the bound is generous.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!running()) {
                *why =
                    "the host ended at once (status " + std::to_string(exitStatus_) + "): " + log();
                return false;
            }
            if (log().find("kalvo-devhost: serving") != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        *why = "the host did not come up: " + log();
        return false;
    }

    // True while the host process lives (reaps it once it ended).
    pid_t pid() const { return pid_; }

    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return false;
        }
        return true;
    }

    // SIGTERM, the host's own stop (it stops and removes every device),
    // then waits for the process to end; kills it when it does not. The
    // signal rather than the admin socket, so that a stop works even while
    // an admin request waits in the host. The host's exit status: 0 for an
    // orderly end, 128 + signal for a crash or a kill, -1 when nothing was
    // running.
    int stop() {
        if (!running()) return exitStatus_;
        ::kill(pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill();
        return exitStatus_;
    }

    std::string log() const {
        std::ifstream in(log_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            if (waitpid(pid_, &status, 0) == pid_) exitStatus_ = 128 + SIGKILL;
            pid_ = -1;
        }
        if (!folder_.empty()) unsetenv("KALVO_DEVICE_DIR");
    }

    pid_t pid_ = -1;
    int exitStatus_ = -1;
    std::vector<std::string> launcher_;
    std::string folder_;
    std::string log_;
};

}  // namespace kalvo::drivertest
