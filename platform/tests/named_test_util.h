// Helpers shared by the named-object tests: a file-based "ready" handshake
// with child processes (independent of the objects under test) and a
// monotonic clock readable across processes.
#pragma once

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace kalvo::testing {

inline int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// Children run in the test's fresh current directory; a marker file there
// tells the parent a step is done.
inline void markReady(const std::string& name) {
    std::string tmp = name + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "w")) {
        std::fclose(f);
        std::rename(tmp.c_str(), name.c_str());
    }
}

inline bool awaitReady(const std::string& name,
                       std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(name)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void sleepForever() {
    for (;;) pause();
}

}  // namespace kalvo::testing
