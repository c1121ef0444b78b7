#include "bench/ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kalvo::bench {
namespace {

struct Ratio {
    std::string ours, baseline;
    double bound;
};

std::vector<Ratio>& ratios() {
    static std::vector<Ratio> r;
    return r;
}

// Keeps the console output and remembers each run's time per iteration.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

bool registerRatio(const char* ours, const char* baseline, double bound) {
    ratios().push_back({ours, baseline, bound});
    return true;
}

}  // namespace kalvo::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kalvo::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    int over = 0;
    for (const auto& r : kalvo::bench::ratios()) {
        auto a = reporter.times.find(r.ours), b = reporter.times.find(r.baseline);
        if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
        double ratio = a->second / b->second;
        if (r.bound > 0) {
            bool ok = ratio <= r.bound;
            over += !ok;
            std::printf("ratio %s / %s = %.2f (bound %.2f: %s)\n", r.ours.c_str(),
                        r.baseline.c_str(), ratio, r.bound, ok ? "ok" : "OVER");
        } else {
            std::printf("ratio %s / %s = %.2f (reported)\n", r.ours.c_str(), r.baseline.c_str(),
                        ratio);
        }
    }
    if (over) std::printf("%d ratio(s) over their bound\n", over);
    benchmark::Shutdown();
    return 0;
}
