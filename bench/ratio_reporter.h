// Ratio reporting for benchmarks: each benchmark file names pairs of
// benchmarks (ours, baseline) and an optional bound; after the run the main
// prints "ratio <ours>/<baseline> = R (bound B: ok|OVER)". Ratios, not
// absolute times, are what the project tracks: both sides run in one process
// on one machine at one moment.
#pragma once

namespace kalvo::bench {

bool registerRatio(const char* ours, const char* baseline, double bound);

}  // namespace kalvo::bench

#define KALVO_RATIO_CAT2(a, b) a##b
#define KALVO_RATIO_CAT(a, b) KALVO_RATIO_CAT2(a, b)
// bound <= 0: report only.
#define KALVO_RATIO(ours, baseline, bound)                                     \
    [[maybe_unused]] static const bool KALVO_RATIO_CAT(kalvoRatio, __LINE__) = \
        ::kalvo::bench::registerRatio(ours, baseline, bound)
