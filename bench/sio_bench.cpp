// Serial throughput through libKalvo, the real board library and a private
// device host whose line cycles every 1 ms, in each direction on SIO_1 of
// the example configuration folder:
// - send: PutData of a message through the unit's loopback;
// - receive: GetData of a message a terminal program wrote into the unit's
//   pseudo-terminal all at once.
// The baseline is the handshake bound of the same message: one block of six
// bytes per acknowledged handshake, and a handshake takes at least two line
// cycles (the unit sees the request and acknowledges; it sees the request
// withdrawn and drops its acknowledge), so 3000 bytes per second at 1 ms.
// A ratio of 2 or less is at least 1500 bytes per second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bench/ratio_reporter.h"
#include "bench/sample_network.h"
#include "kalvo/kalvo.h"
#include "platform/module.h"
#include "tests/support/private_host.h"

namespace {

namespace fs = std::filesystem;
using kalvo::platform::ModuleHandle;

constexpr int32_t kMessage = 600;  // 100 blocks
constexpr int kCycleUs = 1000;

struct Library {
    ModuleHandle kalvo = nullptr;
    decltype(&KV_SIO_PutData) putData = nullptr;
    decltype(&KV_SIO_GetData) getData = nullptr;
    decltype(&KV_SIO_ClearBuffer) clearBuffer = nullptr;
    bool ready = false;

    explicit Library(const std::string& dir) {
        std::ofstream(dir + "/KalvoLog.ini") << "[LOG]\nLOGLEVEL=0H\n";
        kalvo = kalvo::platform::loadLibrary(KALVO_LIBRARY_PATH);
        if (!kalvo) return;
        auto get = [&](const char* name) { return kalvo::platform::getProcAddress(kalvo, name); };
        putData = reinterpret_cast<decltype(putData)>(get("KV_SIO_PutData"));
        getData = reinterpret_cast<decltype(getData)>(get("KV_SIO_GetData"));
        clearBuffer = reinterpret_cast<decltype(clearBuffer)>(get("KV_SIO_ClearBuffer"));
        auto open = reinterpret_cast<decltype(&KV_SIO_Open)>(get("KV_SIO_Open"));
        auto config = reinterpret_cast<decltype(&KV_SIO_Config)>(get("KV_SIO_Config"));
        auto begin = reinterpret_cast<decltype(&KV_BeginPeriod)>(get("KV_BeginPeriod"));
        if (!putData || !getData || !clearBuffer || !open || !config || !begin) return;
        begin();
        ready = open(1) == 0 && config(1, 1, 0, 0, 0, 0, 40960, 4096) == 0;
    }
    ~Library() {
        if (kalvo) kalvo::platform::freeLibrary(kalvo);
    }
};

struct Setup {
    std::string dir;
    kalvo::drivertest::PrivateHost host;
    std::unique_ptr<Library> library;
    bool ok = false;

    Setup() {
        if (!kalvo::bench::startSampleNetwork("sio_bench", host, &dir,
                                              {"--cycle-us", std::to_string(kCycleUs)}))
            return;
        library = std::make_unique<Library>(dir);
        ok = library->ready;
        if (!ok) std::fprintf(stderr, "sio_bench: SIO_1 did not open or configure\n");
    }
    ~Setup() {
        library.reset();  // before the host, so the board library's unload reaches its board
        host.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void reportRate(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * kMessage);
}

void BM_SioSend(benchmark::State& state) {
    if (!setup().ok) return state.SkipWithError("no device host or no SIO_1");
    Library& lib = *setup().library;
    std::vector<uint8_t> message(kMessage, 'S');
    for (auto _ : state) {
        int32_t sent = 0;
        if (lib.putData(1, 1, message.data(), kMessage, &sent, 0) != 0 || sent != kMessage)
            return state.SkipWithError("PutData failed");
    }
    reportRate(state);
    lib.clearBuffer(1, 1);
}

// The terminal side of the unit's pseudo-terminal: its path is in the
// unit's description.
int openTerminal() {
    if (kalvo::drivertest::devctl("sim unit SIO_1 pty 1").exitCode != 0) return -1;
    const std::string description = kalvo::drivertest::devctl("sim unit SIO_1").output;
    std::smatch match;
    if (!std::regex_search(description, match, std::regex("pty (/dev/pts/[0-9]+)"))) return -1;
    return ::open(match[1].str().c_str(), O_RDWR | O_NOCTTY);
}

void BM_SioReceive(benchmark::State& state) {
    if (!setup().ok) return state.SkipWithError("no device host or no SIO_1");
    Library& lib = *setup().library;
    lib.clearBuffer(1, 1);
    const int terminal = openTerminal();
    if (terminal < 0) return state.SkipWithError("no pseudo-terminal on SIO_1");
    std::vector<uint8_t> message(kMessage, 'R'), back(kMessage);
    for (auto _ : state) {
        if (::write(terminal, message.data(), message.size()) != kMessage)
            return state.SkipWithError("the terminal took less");
        int32_t received = 0;
        if (lib.getData(1, 1, back.data(), kMessage, &received, 0) != 0 || received != kMessage)
            return state.SkipWithError("GetData failed");
    }
    reportRate(state);
    ::close(terminal);
    kalvo::drivertest::devctl("sim unit SIO_1 loopback 1");
}

// The message's handshakes at two line cycles each.
void BM_HandshakeBound(benchmark::State& state) {
    const auto bound = std::chrono::microseconds(kMessage / 6 * 2 * kCycleUs);
    for (auto _ : state) std::this_thread::sleep_for(bound);
    reportRate(state);
}

BENCHMARK(BM_HandshakeBound)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SioSend)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SioReceive)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

KALVO_RATIO("BM_SioSend/iterations:8/real_time", "BM_HandshakeBound/iterations:4/real_time", 2.0);
KALVO_RATIO("BM_SioReceive/iterations:8/real_time", "BM_HandshakeBound/iterations:4/real_time",
            2.0);
