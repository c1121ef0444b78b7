#include "platform/process_identity.h"

#include "platform/semaphore.h"  // gProcessId, read by the inline lock path

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

std::atomic<uint32_t> gProcessId{0};

namespace {

thread_local uint32_t tTid = 0;

void refreshAfterFork() {
    gProcessId.store(static_cast<uint32_t>(::getpid()), std::memory_order_relaxed);
    tTid = 0;
}

[[gnu::constructor]] void installForkHandler() {
    gProcessId.store(static_cast<uint32_t>(::getpid()), std::memory_order_relaxed);
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
    int readError = errno;
    ::close(fd);
    if (n < 0 && readError == ESRCH) return TaskState::Gone;  // reaped meanwhile
    if (n <= 0) return TaskState::Running;                    // no verdict: assume alive
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

// kill(id, 0) finds every task that has not been reaped. EPERM means a live
// task of another user, whose /proc entry may be hidden from us.
enum class Presence { Gone, Ours, Foreign };

Presence presence(uint32_t id) {
    if (id == 0 || id > 0x3FFFFFFFu) return Presence::Gone;
    if (::kill(static_cast<pid_t>(id), 0) == 0) return Presence::Ours;
    return errno == ESRCH ? Presence::Gone : Presence::Foreign;
}

}  // namespace

uint32_t currentPid() noexcept {
    uint32_t pid = gProcessId.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = static_cast<uint32_t>(::getpid());
        gProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

uint32_t currentTid() noexcept {
    if (tTid == 0) tTid = static_cast<uint32_t>(::syscall(SYS_gettid));
    return tTid;
}

bool processAlive(uint32_t pid) noexcept {
    Presence p = presence(pid);
    if (p != Presence::Ours) return p == Presence::Foreign;
    int threads = 0;
    TaskState s = taskState(pid, &threads);
    if (s == TaskState::Gone) return false;
    return s == TaskState::Running || threads > 1;
}

bool threadAlive(uint32_t tid) noexcept {
    Presence p = presence(tid);
    if (p != Presence::Ours) return p == Presence::Foreign;
    return taskState(tid, nullptr) == TaskState::Running;
}

}  // namespace kalvo::platform::detail
