// Cost of the diagnostic log: a line filtered out by the level mask against
// an empty function call, and a line written in the default format against a
// bare write(2) of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/ratio_reporter.h"
#include "diaglog/log_facility.h"

namespace {

using kalvo::diaglog::LogFacility;

constexpr const char* kMessage = "Dualmaster(0) KV_GetMemShort: Line(0)-Sta(3)-Ofs(0)-Cnt(1): OK";

// A private folder and runtime namespace for the run, removed at exit.
class BenchFolder {
  public:
    BenchFolder() {
        char pattern[] = "/tmp/kalvo-log-bench-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        path_ = pattern;
        std::filesystem::create_directory(path_ + "/runtime");
        setenv("KALVO_RUNTIME_DIR", (path_ + "/runtime").c_str(), 1);
        if (chdir(path_.c_str()) != 0) std::abort();
    }
    ~BenchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    void writeIni(const char* name, const char* text) const {
        FILE* f = std::fopen((path_ + "/" + name).c_str(), "wb");
        std::fputs(text, f);
        std::fclose(f);
    }

  private:
    std::string path_;
};

BenchFolder& folder() {
    static BenchFolder f;
    return f;
}

[[gnu::noinline]] void emptyCall(int value) {
    benchmark::DoNotOptimize(value);
}

void BM_EmptyCall(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        emptyCall(i++);
    }
}
BENCHMARK(BM_EmptyCall);

void BM_LogLineFiltered(benchmark::State& state) {
    folder().writeIni("FilteredLog.ini", "[LOG]\r\nLOGLEVEL=10001H\r\n");
    LogFacility log;
    if (!log.open("FilteredLog", "FilteredLog.ini", "FilteredLog.Map", 0)) {
        state.SkipWithError("log open failed");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        uint32_t type = 0x10004;  // detail line: not in the mask
        benchmark::DoNotOptimize(type);
        log.writef(type, "%s: Ofs(%d)", "KVMBrd0", i++);
    }
}
BENCHMARK(BM_LogLineFiltered);

void BM_LogLineWritten(benchmark::State& state) {
    folder().writeIni("WrittenLog.ini", "[LOG]\r\nLOGLEVEL=10007H\r\n");
    LogFacility log;
    if (!log.open("WrittenLog", "WrittenLog.ini", "WrittenLog.Map", 0)) {
        state.SkipWithError("log open failed");
        return;
    }
    for (auto _ : state) {
        log.write(0x10002, kMessage);
    }
}
BENCHMARK(BM_LogLineWritten);

void BM_BareWrite(benchmark::State& state) {
    folder();
    // The same bytes a written line takes: stamp, marker, message, line end.
    const std::string line = std::string("01/02/25 03:04:05 **   ") + kMessage + "\r\n";
    const int fd = ::open("BareWrite.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    }
    ::close(fd);
}
BENCHMARK(BM_BareWrite);

KALVO_RATIO("BM_LogLineFiltered", "BM_EmptyCall", 2.0);
KALVO_RATIO("BM_LogLineWritten", "BM_BareWrite", 2.0);

}  // namespace
