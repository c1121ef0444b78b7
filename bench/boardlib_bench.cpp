// The board library's GM calls against the same work written inline: a
// one-word KV_SetMemShort / KV_GetMemShort (argument check, semaphore,
// write count register, access, log filter) against a bare semaphore wait,
// store or load and release on the same window. The board runs on an
// in-memory device in a private folder and runtime namespace.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "bench/ratio_reporter.h"
#include "boardlib/frame/library.h"
#include "driver/requests/chip_registers.h"
#include "kalvo/board_library.h"
#include "platform/semaphore.h"
#include "tests/support/board_fakes.h"

namespace {

namespace chip = kalvo::chipmap;

using namespace kalvo::boardlib;

// Library attached, board 0 open on a fake device; logging off (no log ini).
struct OpenBoard {
    OpenBoard() {
        char folder[] = "/tmp/kalvo-boardlib-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
        dir = folder;
        setenv("KALVO_RUNTIME_DIR", folder, 1);
        devices = new test::FakeDevices(1);
        if (!libraryAttach() || KV_open(0) != 0) std::abort();
        void* address = nullptr;
        KV_Attach(0, 0, &address);
        window = static_cast<uint8_t*>(address);
    }
    ~OpenBoard() {
        libraryDetach();
        delete devices;
        std::string command = "rm -rf " + dir;
        if (system(command.c_str()) != 0) return;
    }
    std::string dir;
    test::FakeDevices* devices = nullptr;
    uint8_t* window = nullptr;
};

OpenBoard& board() {
    static OpenBoard b;
    return b;
}

void BM_KvSetMemShort(benchmark::State& state) {
    board();
    uint16_t word = 0x1234;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KV_SetMemShort(0, 0, &word, 3, 0, 1));
        ++word;
    }
}
BENCHMARK(BM_KvSetMemShort);

void BM_KvGetMemShort(benchmark::State& state) {
    board();
    uint16_t word = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KV_GetMemShort(0, 0, &word, 3, 0, 1));
        benchmark::DoNotOptimize(word);
    }
}
BENCHMARK(BM_KvGetMemShort);

// The same semaphore (by name), the count register and the word, inline.
void BM_InlineSetShort(benchmark::State& state) {
    uint8_t* window = board().window;
    auto semaphore = kalvo::platform::Semaphore::createOrOpen("Kalvo1Brd00_GmSemW", 1, 1);
    uint16_t word = 0x1234;
    for (auto _ : state) {
        semaphore.wait();
        *reinterpret_cast<volatile uint16_t*>(window + chip::kWriteCountRegister) = 1;
        *reinterpret_cast<volatile uint16_t*>(window + chip::kGmArea + 24) = word;
        semaphore.release();
        ++word;
    }
}
BENCHMARK(BM_InlineSetShort);

void BM_InlineGetShort(benchmark::State& state) {
    uint8_t* window = board().window;
    auto semaphore = kalvo::platform::Semaphore::createOrOpen("Kalvo1Brd00_GmSemR", 1, 1);
    for (auto _ : state) {
        semaphore.wait();
        uint16_t word = *reinterpret_cast<volatile uint16_t*>(window + chip::kGmArea + 24);
        semaphore.release();
        benchmark::DoNotOptimize(word);
    }
}
BENCHMARK(BM_InlineGetShort);

void BM_KvSetMemByte64(benchmark::State& state) {
    board();
    uint8_t bytes[64] = {};
    for (auto _ : state) benchmark::DoNotOptimize(KV_SetMemByte(0, 0, bytes, 0, 0, 64));
    state.SetBytesProcessed(state.iterations() * 64);
}
BENCHMARK(BM_KvSetMemByte64);

void BM_KvGetReg64(benchmark::State& state) {
    board();
    uint64_t value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KV_GetReg64(0, 0, chip::kConditionRegister, &value));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_KvGetReg64);

}  // namespace

KALVO_RATIO("BM_KvSetMemShort", "BM_InlineSetShort", 1.3);
KALVO_RATIO("BM_KvGetMemShort", "BM_InlineGetShort", 1.3);
KALVO_RATIO("BM_KvSetMemByte64", "BM_InlineSetShort", 0);
KALVO_RATIO("BM_KvGetReg64", "BM_InlineGetShort", 0);
