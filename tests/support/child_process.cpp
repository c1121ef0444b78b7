#include "tests/support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

namespace kalvo::testing {
namespace {

std::map<std::string, ChildFn>& registry() {
    static std::map<std::string, ChildFn> r;
    return r;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

bool registerChild(const char* name, ChildFn fn) {
    registry()[name] = fn;
    return true;
}

bool runChildIfRequested(int argc, char** argv, int& exitCode) {
    if (argc < 3 || std::strcmp(argv[1], "--kalvo-child") != 0) return false;
    auto it = registry().find(argv[2]);
    if (it == registry().end()) {
        std::fprintf(stderr, "unknown child function %s\n", argv[2]);
        exitCode = 127;
        return true;
    }
    std::vector<std::string> args(argv + 3, argv + argc);
    exitCode = it->second(args);
    return true;
}

ChildProcess spawnChild(const std::string& name, const std::vector<std::string>& args) {
    return spawnChildVia({}, name, args);
}

ChildProcess spawnChildVia(const std::vector<std::string>& launcher, const std::string& name,
                           const std::vector<std::string>& args) {
    // Resolve our own binary before fork: /proc/self/exe is per process.
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';

    std::vector<std::string> all = launcher;
    all.insert(all.end(), {launcher.empty() ? "/proc/self/exe" : self, "--kalvo-child", name});
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    ChildProcess child;
    pid_t pid = fork();
    if (pid == 0) {
        execv(launcher.empty() ? self : launcher[0].c_str(), argv.data());
        _exit(126);
    }
    child.pid_ = pid;
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) kill(SIGKILL);
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) kill(SIGKILL);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return status_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = decodeStatus(status);
            pid_ = -1;
            return status_;
        }
        if (r < 0) {
            pid_ = -1;
            return status_ = -1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void ChildProcess::kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) status_ = decodeStatus(status);
    pid_ = -1;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = decodeStatus(status);
        pid_ = -1;
        return false;
    }
    return r == 0;
}

}  // namespace kalvo::testing
