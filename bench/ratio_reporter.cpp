#include "bench/ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace kalvo::bench {
namespace {

// Repetitions a ratio is read through: on a loaded machine one run of either
// side can be off by tens of percent, the median of ten is not.
constexpr int kMinRepetitions = 10;

struct Ratio {
    std::string ours, baseline;
    double bound;
};

std::vector<Ratio>& ratios() {
    static std::vector<Ratio> r;
    return r;
}

// Keeps the console output short (the aggregates of repeated runs) and
// remembers every repetition's time per iteration.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                if (!run.error_occurred)
                    times[run.run_name.str()].push_back(run.GetAdjustedRealTime());
                if (run.repetitions <= 1) shown.push_back(run);
            } else if (run.aggregate_name == "median" || run.aggregate_name == "cv") {
                shown.push_back(run);
            }
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }
    std::map<std::string, std::vector<double>> times;  // by name, in repetition order
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The ratio of each repetition (ours over the baseline of the same
// repetition; interleaved runs put both under the same load), its median and
// the range of the middle half.
struct RatioReading {
    double median = 0, low = 0, high = 0;
    size_t count = 0;
};

RatioReading read(const std::vector<double>& ours, const std::vector<double>& baseline) {
    std::vector<double> r;
    for (size_t i = 0; i < ours.size() && i < baseline.size(); ++i)
        if (baseline[i] > 0) r.push_back(ours[i] / baseline[i]);
    RatioReading reading;
    reading.count = r.size();
    if (r.empty()) return reading;
    std::sort(r.begin(), r.end());
    reading.median = median(r);
    reading.low = r[(r.size() - 1) / 4];
    reading.high = r[r.size() - 1 - (r.size() - 1) / 4];
    return reading;
}

// The arguments with at least kMinRepetitions repetitions, interleaved at
// random unless the caller chose otherwise.
std::vector<char*> withRepetitions(int argc, char** argv, std::vector<std::string>& storage) {
    bool interleaving = false;
    int repetitions = 0;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const char* rep = "--benchmark_repetitions=";
        if (std::strncmp(argv[i], rep, std::strlen(rep)) == 0) {
            repetitions = std::atoi(argv[i] + std::strlen(rep));
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0)
            interleaving = true;
        args.push_back(argv[i]);
    }
    if (repetitions > 0 && repetitions < kMinRepetitions)
        std::fprintf(stderr, "--benchmark_repetitions=%d: ratios need at least %d; using %d\n",
                     repetitions, kMinRepetitions, kMinRepetitions);
    storage.push_back("--benchmark_repetitions=" +
                      std::to_string(std::max(repetitions, kMinRepetitions)));
    if (!interleaving) storage.push_back("--benchmark_enable_random_interleaving=true");
    for (std::string& s : storage) args.push_back(s.data());
    args.push_back(nullptr);
    return args;
}

}  // namespace

bool registerRatio(const char* ours, const char* baseline, double bound) {
    ratios().push_back({ours, baseline, bound});
    return true;
}

}  // namespace kalvo::bench

int main(int argc, char** argv) {
    std::vector<std::string> storage;
    std::vector<char*> args = kalvo::bench::withRepetitions(argc, argv, storage);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    kalvo::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    int over = 0;
    for (const auto& r : kalvo::bench::ratios()) {
        auto a = reporter.times.find(r.ours), b = reporter.times.find(r.baseline);
        if (a == reporter.times.end() || b == reporter.times.end()) continue;
        kalvo::bench::RatioReading q = kalvo::bench::read(a->second, b->second);
        if (q.count == 0) continue;
        std::printf("ratio %s / %s = %.2f (middle half %.2f-%.2f of %zu)", r.ours.c_str(),
                    r.baseline.c_str(), q.median, q.low, q.high, q.count);
        if (r.bound > 0) {
            bool ok = q.median <= r.bound;
            over += !ok;
            std::printf(" (bound %.2f: %s)\n", r.bound, ok ? "ok" : "OVER");
        } else {
            std::printf(" (reported)\n");
        }
    }
    if (over) std::printf("%d ratio(s) over their bound\n", over);
    benchmark::Shutdown();
    return 0;
}
