// The configuration tool's save, load and KalvoConfig.dat of a full network
// (four boards, every address used, every station's 16 logical IDs taken),
// against writing and reading the same bytes with plain file calls. The three
// together should stay within 20 ms, so that a save in the editor never
// stalls it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "tool/model/config_dat.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"

namespace {

namespace fs = std::filesystem;
using namespace kalvo::tool;

// The example model table's models, enough for the stations below.
ModelTable benchModels() {
    ModelTable t;
    t.add({"QMADA04", "4-channel analogue I/O", "ADA", 33, 1, 4, 0, "QMS"});
    t.add({"QMDIO32", "32-point digital I/O", "DIO", 18, 1, 2, 0, "QMS"});
    t.add({"MRUM04*", "4-axis controller", "AXSA", 40, 3, 4, 0, "MRU"});
    return t;
}

struct FullNetwork {
    ModelTable models = benchModels();
    ConfigModel model{models};
    std::string folder;
    std::vector<std::string> files{"Kalvo.ini", "Cardmaster.ini", "KV40MST.ini", "KalvoConfig.dat"};

    FullNetwork() {
        // TMPDIR=/dev/shm puts the folder where syncing to disk costs nothing:
        // the difference is what the crash-safe replacement's syncs cost.
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/kalvo-tool-bench-XXXXXX";
        folder = mkdtemp(name.data());
        model.setFolder(folder);
        model.startNew(boardSettingsFromKinds({1, 2, 3, 4}, {{{3, 0}, {6, 1}, {12, 1}, {6, 0}}}));
        const int32_t ada = models.findModel("QMADA04"), dio = models.findModel("QMDIO32");
        for (int b = 0; b < kBoardSlots; ++b)
            for (int a = 0; a < kAddresses; a += 4) {
                if (a % 8 == 4) {
                    placeStation(model, b, 0, a, kStaAxs4);
                } else {
                    placeStation(model, b, 0, a, kStaMst);
                    setStationModules(model, b, 0, a, {dio, dio, ada, ada});
                }
            }
        // A network the check passes, or the checked save measures a refusal.
        if (!saveFolder(model).ok()) {
            std::fprintf(stderr, "tool_bench: the full network does not save\n");
            std::abort();
        }
    }
    ~FullNetwork() { fs::remove_all(folder); }

    // The editor's Save (the check of what it writes, the files and
    // KalvoConfig.dat), then Open's load.
    void saveLoadDat() {
        saveFolder(model);
        loadConfiguration(model);
    }
};

FullNetwork& network() {
    static FullNetwork n;
    return n;
}

std::string readPlain(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    return text;
}

void writePlain(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

void ToolSave(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(saveConfiguration(network().model).ok());
}
BENCHMARK(ToolSave)->Unit(benchmark::kMillisecond);

// The model walk alone (the sections a save writes, before the ini class).
void ToolSaveWalk(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(saveInput(network().model).Units.size());
}
BENCHMARK(ToolSaveWalk)->Unit(benchmark::kMillisecond);

void ToolLoad(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(loadConfiguration(network().model).ok());
}
BENCHMARK(ToolLoad)->Unit(benchmark::kMillisecond);

void ToolConfigDat(benchmark::State& state) {
    std::string error;
    for (auto _ : state) benchmark::DoNotOptimize(writeConfigDat(network().model, &error));
}
BENCHMARK(ToolConfigDat)->Unit(benchmark::kMillisecond);

// The tool's save as the editor runs it: Kalvo.ini checked in memory before
// anything is written, then the files and KalvoConfig.dat.
void ToolSaveChecked(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(saveFolder(network().model).ok());
}
BENCHMARK(ToolSaveChecked)->Unit(benchmark::kMillisecond);

// The check alone: Kalvo.ini rendered, read back and checked in memory.
void ToolSaveCheck(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(saveRefusals(network().model).size());
}
BENCHMARK(ToolSaveCheck)->Unit(benchmark::kMillisecond);

void ToolSaveLoadDat(benchmark::State& state) {
    double worst = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        network().saveLoadDat();
        worst = std::max(worst, std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    }
    state.counters["worst_ms"] = worst;
    state.counters["within_20ms"] = worst <= 20.0;
}
BENCHMARK(ToolSaveLoadDat)->Unit(benchmark::kMillisecond);

// The same bytes written and read back with plain file calls.
void PlainFilesSaveLoadDat(benchmark::State& state) {
    FullNetwork& n = network();
    std::vector<std::pair<std::string, std::string>> contents;
    for (const std::string& f : n.files)
        contents.emplace_back(n.folder + "/" + f, readPlain(n.folder + "/" + f));
    for (auto _ : state) {
        for (auto& [path, text] : contents) writePlain(path + ".plain", text);
        for (auto& [path, text] : contents) benchmark::DoNotOptimize(readPlain(path + ".plain"));
    }
}
BENCHMARK(PlainFilesSaveLoadDat)->Unit(benchmark::kMillisecond);

KALVO_RATIO("ToolSaveLoadDat", "PlainFilesSaveLoadDat", 0);
// What the refusal check adds to the unchecked save of Kalvo.ini and the
// board library ini files.
KALVO_RATIO("ToolSaveCheck", "ToolSave", 0);
KALVO_RATIO("ToolSaveChecked", "ToolSave", 0);

}  // namespace
