// A typical log call line through the wsprintf-style formatter, against the
// C library's snprintf with the same text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include "bench/ratio_reporter.h"
#include "platform/format.h"

namespace {

void FormatLogLine(benchmark::State& state) {
    char buf[256];
    int32_t board = 1, station = 3, ret = -1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kalvo::platform::format(
            buf, sizeof buf, "%s: KV_SetMemShort: Board(%d) Station(%d) Data(%04xh): NG: Ret(%lxh)",
            "Pcimaster64", board, station, 0x1234, ret));
    }
}
BENCHMARK(FormatLogLine);

void SnprintfLogLine(benchmark::State& state) {
    char buf[256];
    int32_t board = 1, station = 3, ret = -1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(
            buf, sizeof buf, "%s: KV_SetMemShort: Board(%d) Station(%d) Data(%04xh): NG: Ret(%xh)",
            "Pcimaster64", board, station, 0x1234, static_cast<unsigned>(ret)));
    }
}
BENCHMARK(SnprintfLogLine);

KALVO_RATIO("FormatLogLine", "SnprintfLogLine", 2.0);

}  // namespace
