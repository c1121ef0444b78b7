// ADA: channel 1 of ADA_1. Values are written to the channel's output
// (KV_ADA_OutValue clamps them to the 12-bit range 0..4095), read back from
// the output area (KV_ADA_InOValue) and read from the unit's input
// (KV_ADA_InValue), which on the example network is wired to the output.
// Settings and the unit's version are asked through the command protocol
// (KV_ADA_GetVersion, KV_ADA_GetInRange, ...): each call waits for the
// unit's reply, so it takes a few line cycles and gives 0x11 when the unit
// does not answer in time. The output value is the same before and after.
#include <chrono>
#include <cstdio>
#include <thread>

#include "kalvo/kalvo.h"
#include "kalvo/kalvo_errors.h"
#include "sample_units.h"

namespace {

constexpr int kUnit = 1;
constexpr int kChannel = 1;

// The unit answers in its next line cycle; give it a few.
bool inputFollows(int32_t expected, int intervalMs, int32_t* input) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
    do {
        if (KV_ADA_InValue(kUnit, kChannel, input) != 0) return false;
        if (*input == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace

int runAdaSample(const SampleOptions& options) {
    std::printf("== ADA: ADA_1 channel %d (12-bit analogue output and input)\n", kChannel);
    int ret = KV_ADA_Open(kUnit);
    std::printf("ADA_1: KV_ADA_Open = %d%s%s\n", ret, ret ? " " : "",
                ret ? kalvo_api_error_text(ret) : "");
    if (ret != 0) return 1;

    int failures = 0;
    int32_t version = 0;
    ret = KV_ADA_GetVersion(kUnit, &version);
    if (ret == 0) {
        std::printf("version: %X.%02X (reply word %04Xh)\n", (version >> 8) & 0x0F, version & 0xFF,
                    version);
    } else {
        std::printf("version: no answer (KV_ADA_GetVersion = %d)\n", ret);
        ++failures;
    }
    int32_t inRange = 0, outRange = 0;
    if (KV_ADA_GetInRange(kUnit, kChannel, &inRange) == 0 &&
        KV_ADA_GetOutRange(kUnit, kChannel, &outRange) == 0) {
        std::printf("range codes: input %d, output %d\n", inRange >> 8, outRange >> 8);
    } else {
        std::printf("range codes: no answer\n");
        ++failures;
    }

    std::printf("\n%8s  %8s  %8s  %s\n", "written", "output", "input", "");
    for (int32_t value : {0, 1000, 2048, 4095, 5000, -5}) {
        KV_ADA_OutValue(kUnit, kChannel, value);
        const int32_t expected = value < 0 ? 0 : (value > 4095 ? 4095 : value);
        int32_t back = -1, input = -1;
        KV_ADA_InOValue(kUnit, kChannel, &back);
        const bool follows = inputFollows(expected, options.intervalMs, &input);
        if (back != expected || !follows) ++failures;
        std::printf("%8d  %8d  %8d  %s%s\n", value, back, input,
                    expected != value ? "(clamped to 0..4095)" : "",
                    follows ? "" : " ! the input did not follow");
    }
    KV_ADA_OutValue(kUnit, kChannel, 0);
    KV_ADA_Close(kUnit);
    std::printf("%s\n", failures ? "ADA: something did not answer as expected"
                                 : "ADA: every value came back through the wiring");
    return failures;
}
