// Cost of the diagnostic log: a line filtered out by the level mask against
// an empty function call; a line written (copied into the slot's ring, which
// the log's thread writes to the file) against a bare write(2) of the same
// bytes and against snprintf of the same text into a buffer; and two threads
// logging at once against one (the times are per line of all threads, so a
// ratio at most 1 means two threads write at least as many lines a second).
// "dropped" counts lines the ring refused because the log's thread had not
// emptied it in time (on a machine whose cores are busy elsewhere): the
// "ToFile" runs flush every 256 lines, so that their time is that of lines
// in the file, the writes included, and none is dropped (reported against
// write(2), not bounded: a flush waits for the log's thread, which on a busy
// machine may be waiting for a core).
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

// One log per benchmark, opened before its threads start and closed after.
class OpenLog {
  public:
    bool open(const char* base) {
        const std::string name = base;
        folder().writeIni((name + ".ini").c_str(), "[LOG]\r\nLOGLEVEL=10007H\r\n");
        return log_.open(base, (name + ".ini").c_str(), (name + ".Map").c_str(), 0);
    }
    LogFacility& log() { return log_; }
    // The lines refused during the run, as a counter of the benchmark.
    void report(benchmark::State& state, uint64_t droppedBefore) {
        state.counters["dropped"] = static_cast<double>(log_.droppedLines() - droppedBefore);
    }

  private:
    LogFacility log_;
};

OpenLog& writtenLog() {
    static OpenLog log;
    static const bool opened = log.open("WrittenLog");
    if (!opened) std::abort();
    return log;
}

void BM_LogLineWritten(benchmark::State& state) {
    LogFacility& log = writtenLog().log();
    const uint64_t dropped = log.droppedLines();
    for (auto _ : state) {
        log.write(0x10002, kMessage);
    }
    writtenLog().report(state, dropped);
}
BENCHMARK(BM_LogLineWritten);

// A call line as the libraries write them: formatted from its arguments.
constexpr const char* kFormat = "%s(%d) KV_GetMemShort: Line(%d)-Sta(%d)-Ofs(%d)-Cnt(%d): OK";

void BM_LogLineFormatted(benchmark::State& state) {
    LogFacility& log = writtenLog().log();
    const uint64_t dropped = log.droppedLines();
    int i = 0;
    for (auto _ : state) {
        log.writef(0x10002, kFormat, "Dualmaster", 0, 0, 3, i++ & 63, 1);
    }
    writtenLog().report(state, dropped);
}
BENCHMARK(BM_LogLineFormatted);

void BM_LogLineFormattedToFile(benchmark::State& state) {
    LogFacility& log = writtenLog().log();
    const uint64_t dropped = state.thread_index() == 0 ? log.droppedLines() : 0;
    int i = 0;
    for (auto _ : state) {
        log.writef(0x10002, kFormat, "Dualmaster", 0, 0, 3, i & 63, 1);
        if ((++i & 255) == 0) log.flush();
    }
    log.flush();
    if (state.thread_index() == 0) writtenLog().report(state, dropped);
}
BENCHMARK(BM_LogLineFormattedToFile)->Threads(1)->UseRealTime();
BENCHMARK(BM_LogLineFormattedToFile)->Threads(2)->UseRealTime();

// The same line's text, stamp and marker included, formatted into a buffer.
void BM_SnprintfLine(benchmark::State& state) {
    char line[LogFacility::kLineRoom];
    int i = 0;
    for (auto _ : state) {
        std::snprintf(line, sizeof line,
                      "%s %s%s(%d) KV_GetMemShort: Line(%d)-Sta(%d)-Ofs(%d)-Cnt(%d): OK\r\n",
                      "01/02/25 03:04:05", "**   ", "Dualmaster", 0, 0, 3, i++ & 63, 1);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_SnprintfLine);

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
KALVO_RATIO("BM_LogLineWritten", "BM_BareWrite", 0.3);
KALVO_RATIO("BM_LogLineFormatted", "BM_SnprintfLine", 3.0);
KALVO_RATIO("BM_LogLineFormattedToFile/real_time/threads:1", "BM_BareWrite", 0);
KALVO_RATIO("BM_LogLineFormattedToFile/real_time/threads:2",
            "BM_LogLineFormattedToFile/real_time/threads:1", 1.0);

}  // namespace
