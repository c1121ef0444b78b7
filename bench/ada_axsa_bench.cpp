// Command latency of the ADA and AXSA calls on the simulated line, against
// the line itself, in one run: a private device host serves the example
// configuration folder's network with a 1 ms cycle, and libKalvo binds the
// real Pcimaster64 by "Kind".
//
// The baseline is one round trip through the line as an application sees
// it: a DIO output word written and polled back (1 ms steps) from the unit's
// wired input. An ADA command needs two such trips (the reply, then the
// return to data mode), an AXSA PutCmdEx one. The figures that count are
// medians (a late wake-up of the cycle thread on a busy machine lands in the
// mean); each benchmark reports its median as a counter, and the last one
// prints the medians' ratios to the baseline and to the cycle period, with
// the bounds (ADA median at most 6 ms, AXSA at most 4 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bench/sample_network.h"
#include "kalvo/kalvo.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "tests/support/private_host.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kalvo::platform::ModuleHandle;

constexpr double kCycleMs = 1.0;  // the host's --cycle-us 1000
constexpr double kAdaBoundMs = 6.0;
constexpr double kAxsaBoundMs = 4.0;

template <typename Fn>
Fn bind(ModuleHandle module, const char* name) {
    return reinterpret_cast<Fn>(kalvo::platform::getProcAddress(module, name));
}

struct Library {
    ModuleHandle kalvo = nullptr;
    decltype(&KV_DIO_OutData) dioOut = nullptr;
    decltype(&KV_DIO_InData) dioIn = nullptr;
    decltype(&KV_ADA_PutCmd) adaPutCmd = nullptr;
    decltype(&KV_AXSA_PutCmdEx) axsaPutCmdEx = nullptr;
    decltype(&KV_EndPeriod) endPeriod = nullptr;
    bool ready = false;

    explicit Library(const std::string& dir) {
        // Only failures are logged: the figures are the protocol's, not the log's.
        std::ofstream(dir + "/KalvoLog.ini") << "[LOG]\nLOGLEVEL=1H\n";
        kalvo = kalvo::platform::loadLibrary(KALVO_LIBRARY_PATH);
        if (!kalvo) return;
        dioOut = bind<decltype(dioOut)>(kalvo, "KV_DIO_OutData");
        dioIn = bind<decltype(dioIn)>(kalvo, "KV_DIO_InData");
        adaPutCmd = bind<decltype(adaPutCmd)>(kalvo, "KV_ADA_PutCmd");
        axsaPutCmdEx = bind<decltype(axsaPutCmdEx)>(kalvo, "KV_AXSA_PutCmdEx");
        endPeriod = bind<decltype(endPeriod)>(kalvo, "KV_EndPeriod");
        auto dioOpen = bind<decltype(&KV_DIO_Open)>(kalvo, "KV_DIO_Open");
        auto adaOpen = bind<decltype(&KV_ADA_Open)>(kalvo, "KV_ADA_Open");
        auto axsaOpen = bind<decltype(&KV_AXSA_Open)>(kalvo, "KV_AXSA_Open");
        auto beginPeriod = bind<decltype(&KV_BeginPeriod)>(kalvo, "KV_BeginPeriod");
        if (!dioOut || !dioIn || !adaPutCmd || !axsaPutCmdEx || !endPeriod || !dioOpen ||
            !adaOpen || !axsaOpen || !beginPeriod)
            return;
        ready = dioOpen(1) == 0 && adaOpen(1) == 0 && axsaOpen(1) == 0;
        beginPeriod();
        kalvo::platform::timeBeginPeriod(1);
    }
    ~Library() {
        if (!kalvo) return;
        kalvo::platform::timeEndPeriod(1);
        if (endPeriod) endPeriod();
        kalvo::platform::freeLibrary(kalvo);
    }
};

struct Setup {
    std::string dir;
    kalvo::drivertest::PrivateHost host;
    std::unique_ptr<Library> library;
    std::map<std::string, double> medians;  // ms
    bool ok = false;

    Setup() {
        if (!kalvo::bench::startSampleNetwork("ada_axsa_bench", host, &dir, {"--cycle-us", "1000"}))
            return;
        library = std::make_unique<Library>(dir);
        ok = library->ready;
        if (!ok) std::fprintf(stderr, "ada_axsa_bench: the units did not open\n");
    }
    ~Setup() {
        library.reset();  // before the host, so the board library still reaches its board
        host.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// Times each iteration of op (which returns false on a failed call) and
// reports the median as a counter and for the summary.
template <typename Op>
void timed(benchmark::State& state, const char* name, Op&& op) {
    if (!setup().ok) return state.SkipWithError("no device host or units");
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!op()) return state.SkipWithError("a call failed");
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    state.counters["median_ms"] = median;
    setup().medians[name] = median;
}

// The baseline: write DIO_1's output word and poll its wired input in 1 ms
// steps until the unit gave it back.
void BM_LineRoundTrip(benchmark::State& state) {
    Library* lib = setup().library.get();
    int32_t value = 0;
    timed(state, "line", [&] {
        value = (value + 1) & 0xFFFF;
        if (lib->dioOut(1, value) != 0) return false;
        for (uint16_t in = 0; lib->dioIn(1, &in) == 0;) {
            if (in == value) return true;
            kalvo::platform::sleepMs(1);
        }
        return false;
    });
}

// ADA_1 channel 1: get filter (command 0x4000), reply and return to data mode.
void BM_AdaPutCmd(benchmark::State& state) {
    Library* lib = setup().library.get();
    timed(state, "ada", [&] {
        uint16_t reply = 0;
        return lib->adaPutCmd(1, 1, 0x4000, 0, &reply) == 0;
    });
}

// AXSA_1 job 1: read the position ('P'), answered with the pair just sent.
void BM_AxsaPutCmdEx(benchmark::State& state) {
    Library* lib = setup().library.get();
    timed(state, "axsa", [&] {
        uint16_t status = 0;
        int32_t data = 0;
        return lib->axsaPutCmdEx(1, 1, 'P', 0, 0, &status, &data) == 0;
    });
}

void report(const char* what, double median, double bound, double line) {
    std::printf(
        "median %-22s = %6.2f ms  ratio to the cycle (%.0f ms) = %.2f  to the line "
        "round trip = %.2f  (bound %.0f ms: %s)\n",
        what, median, kCycleMs, median / kCycleMs, median / line, bound,
        median <= bound ? "ok" : "OVER");
}

void BM_Medians(benchmark::State& state) {
    for (auto _ : state) {
    }
    auto& m = setup().medians;
    if (!m.count("line") || !m.count("ada") || !m.count("axsa"))
        return state.SkipWithError("a latency benchmark did not run");
    std::printf("median %-22s = %6.2f ms  ratio to the cycle (%.0f ms) = %.2f\n",
                "line round trip (DIO)", m["line"], kCycleMs, m["line"] / kCycleMs);
    report("KV_ADA_PutCmd", m["ada"], kAdaBoundMs, m["line"]);
    report("KV_AXSA_PutCmdEx", m["axsa"], kAxsaBoundMs, m["line"]);
}

BENCHMARK(BM_LineRoundTrip)->UseManualTime()->Iterations(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdaPutCmd)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AxsaPutCmdEx)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Medians)->Iterations(1);

}  // namespace

// The means, for the record; the bounds apply to the medians above.
KALVO_RATIO("BM_AdaPutCmd/iterations:300/manual_time",
            "BM_LineRoundTrip/iterations:500/manual_time", 0);
KALVO_RATIO("BM_AxsaPutCmdEx/iterations:300/manual_time",
            "BM_LineRoundTrip/iterations:500/manual_time", 0);
