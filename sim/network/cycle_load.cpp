// kalvo-simload: how much a running simulated line costs. Starts one or more
// simulated boards with a line of DIO units each, runs the line for a while
// with nobody touching it, and prints the process's CPU time per second of
// wall time and the cycle thread's lateness figures.
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "sim/chip/chip_map.h"
#include "sim/network/network.h"
#include "sim/simulated_hardware.h"

namespace {

using namespace kalvo::sim;

constexpr const char* kUsage =
    "usage: kalvo-simload [--seconds N] [--units N] [--boards N] [--cycle-us N]\n"
    "\n"
    "Runs idle simulated lines and reports their cost.\n"
    "  --seconds N   how long to measure (default 10)\n"
    "  --units N     DIO units per line, one station each (0..32, default 16)\n"
    "  --boards N    simulated boards, each with its own line (1..8, default 1)\n"
    "  --cycle-us N  cycle period in microseconds (100..1000000, default 1000)\n"
    "  --help        this text\n";

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool parseNumber(const char* text, long low, long high, long* out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long runSeconds = 10, units = 16, boards = 1, cycleMicros = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        long* target = arg == "--seconds"    ? &runSeconds
                       : arg == "--units"    ? &units
                       : arg == "--boards"   ? &boards
                       : arg == "--cycle-us" ? &cycleMicros
                                             : nullptr;
        const long low = arg == "--seconds"  ? 1
                         : arg == "--units"  ? 0
                         : arg == "--boards" ? 1
                                             : 100;
        const long high = arg == "--seconds"  ? 3600
                          : arg == "--units"  ? 32
                          : arg == "--boards" ? 8
                                              : 1'000'000;
        if (target == nullptr || i + 1 >= argc || !parseNumber(argv[i + 1], low, high, target)) {
            std::fprintf(stderr, "kalvo-simload: bad argument %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
        ++i;
    }

    std::string error;
    std::vector<BoardSpec> specs(static_cast<size_t>(boards), BoardSpec{"tolva", 0, {}});
    for (size_t b = 0; b < specs.size(); ++b) specs[b].idWord = static_cast<uint16_t>(b & 3);
    auto hardware = SimulatedHardware::create(specs, &error);
    if (!hardware) {
        std::fprintf(stderr, "kalvo-simload: %s\n", error.c_str());
        return 1;
    }
    auto network = Network::create(*hardware, static_cast<uint32_t>(cycleMicros), &error);
    if (!network) {
        std::fprintf(stderr, "kalvo-simload: %s\n", error.c_str());
        return 1;
    }
    NetworkDescription spec;
    for (size_t b = 0; b < specs.size(); ++b) {
        BoardNetwork line{b, {}, {}};
        for (int s = 0; s < units; ++s) {
            line.stations.push_back({s, 1, "DIO", false});
            line.units.push_back({"DIO", int(b) * 100 + s + 1, "", s, {0, 1, 2, 3}});
        }
        spec.boards.push_back(line);
    }
    if (auto e = network->apply(spec); !e.empty()) {
        std::fprintf(stderr, "kalvo-simload: %s\n", e.c_str());
        return 1;
    }
    // Start every line as the driver's connect sequence ends: address 0,
    // 32 addresses, then the start command.
    for (size_t b = 0; b < specs.size(); ++b) {
        uint8_t* window = hardware->memoryWindow(b);
        std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t*>(window + chip::kStationRegister))
            .store(0x2000);
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(window + chip::kCommand))
            .store(chip::kCommandStart);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the lines come up

    const LineTiming before = network->timing();
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(runSeconds));
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const LineTiming after = network->timing();

    std::printf("boards %ld, units per line %ld, cycle %ld us, measured %.1f s\n", boards, units,
                cycleMicros, wall);
    std::printf("cycles run: %llu (expected %.0f)\n",
                static_cast<unsigned long long>(after.cycles - before.cycles),
                wall * 1e6 / double(cycleMicros));
    std::printf("cpu: %.3f s, %.2f%% of one core\n", cpu, 100.0 * cpu / wall);
    std::printf("worst cycle lateness: %llu us, cycles a whole period late: %llu\n",
                static_cast<unsigned long long>(after.worstLatenessMicros),
                static_cast<unsigned long long>(after.lateCycles));
    return 0;
}
