// Uncontended wait + release of a named semaphore, against the C library's
// named POSIX semaphore doing the same. Both stay in user space when nobody
// else waits; ours must not cost much more.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <semaphore.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/ratio_reporter.h"
#include "platform/semaphore.h"

namespace {

using kalvo::platform::Semaphore;

// A private namespace for the run, so no user's objects are touched.
class PrivateNamespace {
  public:
    PrivateNamespace() {
        char pattern[] = "/tmp/kalvo-bench-XXXXXX";
        if (mkdtemp(pattern)) dir_ = pattern;
        setenv("KALVO_RUNTIME_DIR", dir_.c_str(), 1);
    }
    ~PrivateNamespace() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

  private:
    std::string dir_;
};

void NamedSemaphoreWaitRelease(benchmark::State& state) {
    PrivateNamespace ns;
    auto sem = Semaphore::createOrOpen("Bench(1)Smph", 1, 1);
    if (!sem.valid()) {
        state.SkipWithError("cannot create the semaphore");
        return;
    }
    for (auto _ : state) {
        sem.wait();
        sem.release();
    }
}
BENCHMARK(NamedSemaphoreWaitRelease);

void PosixSemaphoreWaitPost(benchmark::State& state) {
    std::string name = "/kalvo-bench-" + std::to_string(getpid());
    sem_t* sem = sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 1);
    if (sem == SEM_FAILED) {
        state.SkipWithError("sem_open failed");
        return;
    }
    sem_unlink(name.c_str());
    for (auto _ : state) {
        sem_wait(sem);
        sem_post(sem);
    }
    sem_close(sem);
}
BENCHMARK(PosixSemaphoreWaitPost);

KALVO_RATIO("NamedSemaphoreWaitRelease", "PosixSemaphoreWaitPost", 1.5);

}  // namespace
