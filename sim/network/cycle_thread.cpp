#include "sim/network/cycle_thread.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace kalvo::sim {

namespace {

constexpr int64_t kNanosPerSecond = 1'000'000'000;
// Longest single sleep, so that a stop request is seen promptly even with a
// long cycle period.
constexpr int64_t kSleepChunkNanos = 50'000'000;
// The kernel may delay a timer wake-up by the thread's slack (50 us by
// default) to batch wake-ups; a cycle clock wants it small.
constexpr unsigned long kTimerSlackNanos = 1000;
// How often the chips are looked at while no line runs.
constexpr int64_t kIdlePeriodNanos = 10'000'000;

int64_t toNanos(const timespec& t) {
    return int64_t(t.tv_sec) * kNanosPerSecond + t.tv_nsec;
}

timespec fromNanos(int64_t n) {
    return timespec{static_cast<time_t>(n / kNanosPerSecond),
                    static_cast<long>(n % kNanosPerSecond)};
}

int64_t now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return toNanos(t);
}

}  // namespace

CycleThread::CycleThread(uint32_t cycleMicros, Step step)
    : cycleMicros_(cycleMicros), step_(std::move(step)), thread_([this] { run(); }) {}

CycleThread::~CycleThread() {
    stop();
}

void CycleThread::stop() {
    stopping_.store(true);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void CycleThread::run() {
    prctl(PR_SET_TIMERSLACK, kTimerSlackNanos, 0, 0, 0);
    const int64_t period = int64_t(cycleMicros_) * 1000;
    int64_t due = now() + period;
    while (!stopping_.load(std::memory_order_relaxed)) {
        // Sleep to the due time, in chunks so that stop() is seen.
        for (;;) {
            const int64_t wake = std::min(due, now() + kSleepChunkNanos);
            const timespec at = fromNanos(wake);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
            }
            if (wake >= due || stopping_.load(std::memory_order_relaxed)) break;
        }
        if (stopping_.load(std::memory_order_relaxed)) break;

        const int64_t started = now();
        const uint64_t lateness = started > due ? uint64_t(started - due) : 0;
        if (lateness > worstLatenessNanos_.load(std::memory_order_relaxed)) {
            worstLatenessNanos_.store(lateness, std::memory_order_relaxed);
        }
        if (lateness >= uint64_t(period)) {
            lateCycles_.fetch_add(1, std::memory_order_relaxed);
            due = started;  // start the schedule again rather than catch up
        }
        const bool running = step_();
        cycles_.fetch_add(1, std::memory_order_relaxed);
        due += running ? period : std::max(period, kIdlePeriodNanos);
    }
}

LineTiming CycleThread::timing() const {
    LineTiming t;
    t.cycleMicros = cycleMicros_;
    t.cycles = cycles_.load(std::memory_order_relaxed);
    t.worstLatenessMicros = worstLatenessNanos_.load(std::memory_order_relaxed) / 1000;
    t.lateCycles = lateCycles_.load(std::memory_order_relaxed);
    return t;
}

}  // namespace kalvo::sim
