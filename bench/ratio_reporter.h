// Ratio reporting for benchmarks: each benchmark file names pairs of
// benchmarks (ours, baseline) and an optional bound; after the run the main
// prints "ratio <ours> / <baseline> = R (middle half L-H of N) (bound B:
// ok|OVER)". Ratios, not absolute times, are what the project tracks: both
// sides run in one process on one machine at one moment. Every benchmark runs
// at least ten repetitions, interleaved at random with the others; R is the
// median of the per-repetition ratios and L-H the range of their middle half,
// so a ratio near its bound on a loaded machine reads as noise, not as a
// regression.
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
