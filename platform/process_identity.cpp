#include "platform/process_identity.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kalvo::platform::detail {
namespace {

std::atomic<uint32_t> gPid{0};
thread_local uint32_t tTid = 0;

void refreshAfterFork() {
    gPid.store(static_cast<uint32_t>(::getpid()), std::memory_order_relaxed);
    tTid = 0;
}

[[gnu::constructor]] void installForkHandler() {
    gPid.store(static_cast<uint32_t>(::getpid()), std::memory_order_relaxed);
    pthread_atfork(nullptr, nullptr, &refreshAfterFork);
}

// /proc/<id>/stat: "pid (comm) S ..." where comm may hold spaces and
// parentheses, so the state is the first field after the last ')'. A zombie
// (Z) or dead (X) task no longer runs; the kernel keeps it only until the
// parent reaps it. A zombie thread-group leader whose other threads still
// run is alive as a process, so the thread count (field 20) decides then.
enum class TaskState { Gone, Zombie, Running };

TaskState taskState(uint32_t id, int* threads) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", id);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ESRCH ? TaskState::Gone : TaskState::Running;
    char buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return TaskState::Gone;
    buf[n] = '\0';
    const char* p = std::strrchr(buf, ')');
    if (!p || p[1] != ' ') return TaskState::Running;
    char state = p[2];
    if (threads) {
        // Fields after the state: 4 ppid ... 20 num_threads.
        const char* q = p + 2;
        for (int field = 3; field < 20 && q; ++field) {
            q = std::strchr(q, ' ');
            if (q) ++q;
        }
        *threads = q ? std::atoi(q) : 0;
    }
    return state == 'Z' || state == 'X' ? TaskState::Zombie : TaskState::Running;
}

bool signalable(uint32_t id) {
    if (id == 0 || id > 0x3FFFFFFFu) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

}  // namespace

uint32_t currentPid() noexcept {
    uint32_t pid = gPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = static_cast<uint32_t>(::getpid());
        gPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

uint32_t currentTid() noexcept {
    if (tTid == 0) tTid = static_cast<uint32_t>(::syscall(SYS_gettid));
    return tTid;
}

bool processAlive(uint32_t pid) noexcept {
    if (!signalable(pid)) return false;
    int threads = 0;
    TaskState s = taskState(pid, &threads);
    if (s == TaskState::Gone) return false;
    return s == TaskState::Running || threads > 1;
}

bool threadAlive(uint32_t tid) noexcept {
    if (!signalable(tid)) return false;
    return taskState(tid, nullptr) == TaskState::Running;
}

}  // namespace kalvo::platform::detail
