#include "boardlib/window/window_users.h"

#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <thread>

namespace kalvo::boardlib {
namespace {

// Every record made, newest first; a record is reused once its thread has
// ended, and freed only at unload (a thread may hold its record until it
// ends, and the list is walked without a lock).
std::atomic<WindowUser*> gUsers{nullptr};
// For a thread whose record could not be made: its accesses cannot be
// waited for, so no window is made inaccessible from then on.
WindowUser gUnaccounted;
std::atomic<bool> gSomeoneUnaccounted{false};

std::mutex gKeyMutex;
pthread_key_t gKey;
std::atomic<bool> gKeyMade{false};
// How the barrier is had: 0 none, else the membarrier command.
std::atomic<int> gBarrier{0};

long membarrier(int command) noexcept {
    return ::syscall(__NR_membarrier, command, 0, 0);
}

void threadEnded(void* record) noexcept {
    static_cast<WindowUser*>(record)->owned.store(false, std::memory_order_release);
}

bool makeKey() noexcept {
    std::lock_guard lock(gKeyMutex);
    if (gKeyMade.load(std::memory_order_relaxed)) return true;
    if (pthread_key_create(&gKey, threadEnded) != 0) return false;
    gKeyMade.store(true, std::memory_order_release);
    return true;
}

WindowUser* takeRecord() noexcept {
    for (WindowUser* u = gUsers.load(std::memory_order_acquire); u != nullptr; u = u->next) {
        bool free = false;
        if (!u->owned.load(std::memory_order_relaxed) &&
            u->owned.compare_exchange_strong(free, true, std::memory_order_acquire))
            return u;
    }
    auto* u = new (std::nothrow) WindowUser;
    if (u == nullptr) return nullptr;
    u->next = gUsers.load(std::memory_order_relaxed);
    while (!gUsers.compare_exchange_weak(u->next, u, std::memory_order_release,
                                         std::memory_order_relaxed)) {
    }
    return u;
}

}  // namespace

WindowUser* detail::registerWindowUser() noexcept {
    // The key's destructor frees the record when the thread ends; a record
    // stays its thread's for as long as the thread lives (also across an
    // unload and load of the library in a program that links it).
    WindowUser* u = makeKey() ? takeRecord() : nullptr;
    if (u == nullptr || pthread_setspecific(gKey, u) != 0) {
        if (u != nullptr) u->owned.store(false, std::memory_order_release);
        gSomeoneUnaccounted.store(true, std::memory_order_relaxed);
        return &gUnaccounted;
    }
    tWindowUser = u;
    return u;
}

void startWindowUsers() noexcept {
    makeKey();
    // The private barrier must be asked for before it is used; the global
    // one, slower, serves where it cannot be.
    if (gBarrier.load() == 0) {
        const long offered = membarrier(MEMBARRIER_CMD_QUERY);
        if (offered > 0 && (offered & MEMBARRIER_CMD_PRIVATE_EXPEDITED) &&
            membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0)
            gBarrier.store(MEMBARRIER_CMD_PRIVATE_EXPEDITED);
        else if (offered > 0 && (offered & MEMBARRIER_CMD_GLOBAL))
            gBarrier.store(MEMBARRIER_CMD_GLOBAL);
    }
}

void endWindowUsers() noexcept {
    std::lock_guard lock(gKeyMutex);
    if (!gKeyMade.load(std::memory_order_relaxed)) return;
    // No destructor of this library may run once it is gone. The records of
    // threads still alive stay theirs (they keep them in tWindowUser).
    pthread_key_delete(gKey);
    gKeyMade.store(false, std::memory_order_release);
    // Those of ended threads are nobody's: once the library is unmapped the
    // list that holds them is gone with it, so they go now. No call of the
    // library runs during its unload, so nothing walks the list meanwhile.
    WindowUser* kept = nullptr;
    for (WindowUser* u = gUsers.exchange(nullptr, std::memory_order_acquire); u != nullptr;) {
        WindowUser* next = u->next;
        if (u->owned.load(std::memory_order_acquire)) {
            u->next = kept;
            kept = u;
        } else {
            delete u;
        }
        u = next;
    }
    gUsers.store(kept, std::memory_order_release);
}

bool waitForWindowUsers() noexcept {
    const int command = gBarrier.load();
    if (command == 0 || membarrier(command) != 0) return false;
    if (gSomeoneUnaccounted.load(std::memory_order_relaxed)) return false;
    for (WindowUser* u = gUsers.load(std::memory_order_acquire); u != nullptr; u = u->next) {
        const uint32_t seen = u->sequence.load(std::memory_order_acquire);
        if ((seen & 1) == 0) continue;
        // Inside: it leaves within its few accesses (or it was preempted
        // there and runs again soon).
        while (u->sequence.load(std::memory_order_acquire) == seen) std::this_thread::yield();
    }
    return true;
}

}  // namespace kalvo::boardlib
