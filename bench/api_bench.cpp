// The DIO calls of libKalvo against calling the bound board library directly,
// in one run: a private device host serves the example configuration
// folder's network, libKalvo binds the real Pcimaster64 by "Kind", and the
// baseline binds the same loaded module's KV_SetMemShort / KV_GetMemShort.
// With the log mask 0 the library's cost is the unit lookup, the filter test
// and, for an output, the unit's lock: a named semaphore that every process
// writing the unit shares, which the library must take. So OutData is
// measured against the board call plus one uncontended round trip of such a
// semaphore, InData against the bare board call. With the default mask every
// call also logs a line (copied into the log's ring, which the log's thread
// writes to the file), compared with a bare write(2) of a line of the same
// length; the "ToFile" runs have the logs flushed every 256 calls, so that
// their time includes the lines' writes to the file, and no line is dropped
// when the log's thread finds no free core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/ratio_reporter.h"
#include "bench/sample_network.h"
#include "kalvo/board_library.h"
#include "kalvo/kalvo.h"
#include "platform/flush_hooks.h"
#include "platform/module.h"
#include "platform/semaphore.h"
#include "tests/support/private_host.h"

namespace {

namespace fs = std::filesystem;
using kalvo::platform::ModuleHandle;

// libKalvo loaded with the given log mask (the mask is read at load).
struct Library {
    ModuleHandle kalvo = nullptr;
    ModuleHandle board = nullptr;
    decltype(&KV_DIO_OutData) outData = nullptr;
    decltype(&KV_DIO_InData) inData = nullptr;
    decltype(&::KV_SetMemShort) setMemShort = nullptr;
    decltype(&::KV_GetMemShort) getMemShort = nullptr;
    bool defaultMask = false;

    Library(bool defaultMaskWanted, const std::string& dir) : defaultMask(defaultMaskWanted) {
        const std::string ini = dir + "/KalvoLog.ini";
        if (defaultMask)
            fs::remove(ini);
        else
            std::ofstream(ini) << "[LOG]\nLOGLEVEL=0H\n";
        kalvo = kalvo::platform::loadLibrary(KALVO_LIBRARY_PATH);
        board = kalvo::platform::loadLibrary("Pcimaster64");
        if (!kalvo || !board) return;
        outData = reinterpret_cast<decltype(outData)>(
            kalvo::platform::getProcAddress(kalvo, "KV_DIO_OutData"));
        inData = reinterpret_cast<decltype(inData)>(
            kalvo::platform::getProcAddress(kalvo, "KV_DIO_InData"));
        setMemShort = reinterpret_cast<decltype(setMemShort)>(
            kalvo::platform::getProcAddress(board, "KV_SetMemShort"));
        getMemShort = reinterpret_cast<decltype(getMemShort)>(
            kalvo::platform::getProcAddress(board, "KV_GetMemShort"));
        auto open = reinterpret_cast<decltype(&KV_DIO_Open)>(
            kalvo::platform::getProcAddress(kalvo, "KV_DIO_Open"));
        if (!open || open(1) != 0) outData = nullptr;
    }
    ~Library() {
        if (board) kalvo::platform::freeLibrary(board);
        if (kalvo) kalvo::platform::freeLibrary(kalvo);
    }
    bool ready() const { return outData && inData && setMemShort && getMemShort; }
};

struct Setup {
    std::string dir;
    kalvo::drivertest::PrivateHost host;
    bool ok = false;

    Setup() { ok = kalvo::bench::startSampleNetwork("api_bench", host, &dir); }
    ~Setup() {
        // The libraries go before the host, so that the board library's own
        // unload still reaches its board.
        library.reset();
        host.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::unique_ptr<Library> library;
};

Setup& setup() {
    static Setup s;
    return s;
}

Library* library(benchmark::State& state, bool defaultMask) {
    if (!setup().ok) {
        state.SkipWithError("no device host");
        return nullptr;
    }
    auto& lib = setup().library;
    if (!lib || lib->defaultMask != defaultMask) {
        lib.reset();
        lib = std::make_unique<Library>(defaultMask, setup().dir);
    }
    if (!lib->ready()) {
        state.SkipWithError("libKalvo or Pcimaster64 not usable");
        return nullptr;
    }
    return lib.get();
}

// DIO_1 of the example folder: station 1, word 0; its input at station 33.
void BM_DioOutData(benchmark::State& state, bool defaultMask, bool toFile = false) {
    Library* lib = library(state, defaultMask);
    if (!lib) return;
    int32_t v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lib->outData(1, ++v));
        if (toFile && (v & 255) == 0) kalvo::platform::runFlushHooks();
    }
}

void BM_DioInData(benchmark::State& state, bool defaultMask, bool toFile = false) {
    Library* lib = library(state, defaultMask);
    if (!lib) return;
    uint16_t w = 0;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lib->inData(1, &w));
        if (toFile && (++i & 255) == 0) kalvo::platform::runFlushHooks();
    }
}

void BM_BoardSetMemShort(benchmark::State& state) {
    Library* lib = library(state, false);
    if (!lib) return;
    uint16_t w = 0;
    for (auto _ : state) {
        ++w;
        benchmark::DoNotOptimize(lib->setMemShort(0, 0, &w, 1, 0, 1));
    }
}

// The output lock's work by itself: a named semaphore of count 1 of its own
// (the unit's is held by the open unit), taken and released around the call.
void BM_BoardSetMemShortLocked(benchmark::State& state) {
    Library* lib = library(state, false);
    if (!lib) return;
    auto lock = kalvo::platform::Semaphore::createOrOpen("KalvoBenchOutputLock", 1, 1);
    if (!lock) return state.SkipWithError("no named semaphore");
    uint16_t w = 0;
    for (auto _ : state) {
        ++w;
        lock.wait();
        benchmark::DoNotOptimize(lib->setMemShort(0, 0, &w, 1, 0, 1));
        lock.release();
    }
}

void BM_BoardGetMemShort(benchmark::State& state) {
    Library* lib = library(state, false);
    if (!lib) return;
    uint16_t w = 0;
    for (auto _ : state) benchmark::DoNotOptimize(lib->getMemShort(0, 0, &w, 33, 0, 1));
}

// A log line as the library writes it for OutData, stamp included.
void BM_WriteLine(benchmark::State& state) {
    if (!setup().ok) return state.SkipWithError("no device host");
    const std::string path = setup().dir + "/write-baseline.log";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const char line[] = "12/08/26 07:37:55 **   DIO(1) KV_DIO_OutData: OutData(1a5h): Ret(0h)\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(write(fd, line, sizeof line - 1));
    close(fd);
}

BENCHMARK(BM_BoardSetMemShort);
BENCHMARK(BM_BoardSetMemShortLocked);
BENCHMARK_CAPTURE(BM_DioOutData, Mask0, false);
BENCHMARK(BM_BoardGetMemShort);
BENCHMARK_CAPTURE(BM_DioInData, Mask0, false);
BENCHMARK(BM_WriteLine);
BENCHMARK_CAPTURE(BM_DioOutData, DefaultMask, true);
BENCHMARK_CAPTURE(BM_DioInData, DefaultMask, true);
BENCHMARK_CAPTURE(BM_DioOutData, DefaultMaskToFile, true, true);
BENCHMARK_CAPTURE(BM_DioInData, DefaultMaskToFile, true, true);

}  // namespace

KALVO_RATIO("BM_DioOutData/Mask0", "BM_BoardSetMemShortLocked", 1.2);
KALVO_RATIO("BM_DioOutData/Mask0", "BM_BoardSetMemShort", 0);
KALVO_RATIO("BM_DioInData/Mask0", "BM_BoardGetMemShort", 1.5);
KALVO_RATIO("BM_DioOutData/DefaultMask", "BM_WriteLine", 0.3);
KALVO_RATIO("BM_DioInData/DefaultMask", "BM_WriteLine", 0.3);
KALVO_RATIO("BM_DioOutData/DefaultMaskToFile", "BM_WriteLine", 0);
KALVO_RATIO("BM_DioInData/DefaultMaskToFile", "BM_WriteLine", 0);
