// The parts of kalvo-sample, one per unit family, each in its own file
// (dio_sample.cpp, ada_sample.cpp, ...). Each opens its units of Kalvo.ini,
// shows what it did and saw, closes them, and returns the number of checks
// that failed (0 when all went as expected).
#pragma once

struct SampleOptions {
    int cycles = 16;      // DIO steps
    int intervalMs = 20;  // time for an input to follow its output
};

int runDioSample(const SampleOptions& options);
int runAdaSample(const SampleOptions& options);
int runAxsaSample(const SampleOptions& options);
int runSioSample(const SampleOptions& options);
