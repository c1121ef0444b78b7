// The device host's start on a configuration folder whose model table is
// about 25 KB with "UnitCount" 100000: loading the folder's network against
// only reading its two files. The model sections are found in one pass, so
// the load stays a small multiple of the reads (it was thousands: every
// model number scanned the whole table).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/ratio_reporter.h"
#include "sim/description/network_description.h"

namespace {

class HugeModelTableFolder {
  public:
    HugeModelTableFolder() {
        char pattern[] = "/tmp/kalvo-description-bench-XXXXXX";
        if (mkdtemp(pattern)) dir_ = pattern;
        std::string ini = "[KALVO]\r\nConfigTool=1\r\nBoard=1\r\n[BOARD_1]\r\nKind=Pcimaster64\r\n";
        for (int a = 0; a < 32; ++a) {
            char section[160];
            std::snprintf(section, sizeof section,
                          "[CTR_1_1_%d]\r\nMstFlg=1\r\nUnit_0=QMDIO%d\r\nCode_0=%d\r\n", a, a, a);
            ini += section;
        }
        write("Kalvo.ini", ini);
        std::string table = "[Config]\r\nUnitCount=100000\r\n";
        for (int m = 0; table.size() < 25 * 1024; ++m) {
            char section[160];
            std::snprintf(section, sizeof section,
                          "[Model_%d]\r\nModel=QMDIO%d\r\nType=DIO\r\nCode=%d\r\nId=1\r\nCh=1\r\n"
                          "Series=QMS\r\n",
                          m, m, m);
            table += section;
        }
        write("ModelTbl.ini", table);
    }
    ~HugeModelTableFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& dir() const { return dir_; }

  private:
    void write(const char* name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string dir_;
};

void LoadFolderWithHugeUnitCount(benchmark::State& state) {
    HugeModelTableFolder folder;
    std::string error;
    auto boards = kalvo::sim::boardsOfConfigurationFolder(folder.dir(), &error);
    for (auto _ : state) {
        auto description = kalvo::sim::loadConfigurationFolder(folder.dir(), boards, &error);
        benchmark::DoNotOptimize(description.boards.size());
    }
    if (!error.empty()) state.SkipWithError(error.c_str());
}
BENCHMARK(LoadFolderWithHugeUnitCount)->Unit(benchmark::kMillisecond);

void ReadFolderFilesOnly(benchmark::State& state) {
    HugeModelTableFolder folder;
    for (auto _ : state) {
        for (const char* name : {"Kalvo.ini", "ModelTbl.ini"}) {
            std::ifstream in(folder.dir() + "/" + name, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            benchmark::DoNotOptimize(text.str().size());
        }
    }
}
BENCHMARK(ReadFolderFilesOnly)->Unit(benchmark::kMillisecond);

// Parsing both files and building the network costs a few dozen reads of
// them at most; a scan per model number would be thousands.
KALVO_RATIO("LoadFolderWithHugeUnitCount", "ReadFolderFilesOnly", 100.0);

}  // namespace
