#include "platform/process_registry.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/process_identity.h"
#include "platform/runtime_dir.h"
#include "platform/win_error.h"

namespace kalvo::platform::detail {
namespace {

constexpr const char* kAliveFile = ".alive";

// Namespaces this process is recorded in, each with its ".alive" file. The
// descriptor stays open until exit: closing any descriptor of that file
// would drop the process's record locks on it.
std::mutex gMutex;
std::vector<std::pair<std::string, int>>& recorded() {
    static auto* r = new std::vector<std::pair<std::string, int>>;  // used until exit
    return *r;
}

bool lockByte(int fd, pid_t pid) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = pid;
    fl.l_len = 1;
    int rc;
    do {
        rc = ::fcntl(fd, F_SETLK, &fl);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

// Record locks are not inherited: a child that goes on using the parent's
// objects records its own id.
void prepareFork() {
    gMutex.lock();
}
void parentAfterFork() {
    gMutex.unlock();
}
void childAfterFork() {
    const pid_t self = ::getpid();
    for (auto& [dir, fd] : recorded()) lockByte(fd, self);
    gMutex.unlock();
}

[[gnu::constructor]] void installForkHandlers() {
    pthread_atfork(&prepareFork, &parentAfterFork, &childAfterFork);
}

int aliveFileOf(const std::string& dir) {
    for (auto& [d, fd] : recorded())
        if (d == dir) return fd;
    return -1;
}

}  // namespace

bool registerProcess(const std::string& dir) noexcept {
    try {
        std::lock_guard guard(gMutex);
        if (aliveFileOf(dir) >= 0) return true;
        const int fd = openNamespaceFile(dir, kAliveFile);
        if (fd < 0 || !lockByte(fd, ::getpid())) {
            setLastError(win32ErrorFromErrno(errno));
            if (fd >= 0) ::close(fd);
            return false;
        }
        recorded().emplace_back(dir, fd);
        return true;
    } catch (...) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool holderAlive(const std::string& dir, uint32_t pid) noexcept {
    if (pid == 0 || pid > 0x3FFFFFFFu) return false;
    if (dir.empty() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != EPERM)
        return processAlive(pid);
    int fd;
    {
        std::lock_guard guard(gMutex);
        fd = aliveFileOf(dir);
    }
    if (fd < 0) return true;  // nothing to ask: keep the holder
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(pid);
    fl.l_len = 1;
    if (::fcntl(fd, F_GETLK, &fl) != 0) return true;
    return fl.l_type != F_UNLCK;
}

}  // namespace kalvo::platform::detail
