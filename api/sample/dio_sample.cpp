// DIO: a bit walked through DIO_1's output word and bits of DIO_2 set and
// cleared one by one; each step shows the word written, the word read back
// from the output area, the word the unit answers, and whether the unit's
// station answers on the line.
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <thread>

#include "kalvo/kalvo.h"
#include "kalvo/kalvo_errors.h"
#include "sample_units.h"

namespace {

// The unit answers in its next line cycle; give it a few.
bool inputFollows(int unit, uint16_t expected, int intervalMs, uint16_t* input) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
    do {
        if (KV_DIO_InData(unit, input) != 0) return false;
        if (*input == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// The first process to load the library starts the lines; a line connects in
// the driver's 10 ms steps, so its stations may not answer yet. Wait for both
// units' stations (at most two seconds) before judging any step.
bool stationsAnswer(std::initializer_list<int> units) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        bool all = true;
        for (int unit : units) {
            int32_t condition = 0;
            all = all && KV_DIO_GetCondition(unit, &condition) == 0 && condition == 1;
        }
        if (all) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

int runDioSample(const SampleOptions& options) {
    std::printf("== DIO: DIO_1 and DIO_2 (one 16-bit output and input word each)\n");
    int failures = 0;
    for (int unit : {1, 2}) {
        const int ret = KV_DIO_Open(unit);
        std::printf("DIO_%d: KV_DIO_Open = %d%s%s\n", unit, ret, ret ? " " : "",
                    ret ? kalvo_api_error_text(ret) : "");
        if (ret != 0) ++failures;
    }
    if (failures) return failures;
    if (!stationsAnswer({1, 2}))
        std::printf(
            "the stations of DIO_1 and DIO_2 do not answer yet (2 s after the start); "
            "the steps below show what the line does\n");

    std::printf("\n%5s  %-28s  %-28s\n", "step", "DIO_1 out / back / in  cond",
                "DIO_2 bit  out / in  cond");
    int mismatches = 0;
    for (int step = 0; step < options.cycles; ++step) {
        const auto pattern = static_cast<uint16_t>(1u << (step % 16));
        KV_DIO_OutData(1, pattern);
        const int bitNo = (step / 2) % 16;
        const int bitValue = (step % 2) == 0;
        KV_DIO_OutDataBit(2, bitNo, bitValue);

        uint16_t back = 0, in1 = 0, out2 = 0, in2 = 0;
        const bool ok1 = inputFollows(1, pattern, options.intervalMs, &in1);
        KV_DIO_InOData(1, &back);
        KV_DIO_InOData(2, &out2);
        const bool ok2 = inputFollows(2, out2, options.intervalMs, &in2);
        int32_t cond1 = 0, cond2 = 0;
        KV_DIO_GetCondition(1, &cond1);
        KV_DIO_GetCondition(2, &cond2);
        if (!ok1 || !ok2 || back != pattern) ++mismatches;
        std::printf("%5d  %04X / %04X / %04X  %d%s     %2d=%d  %04X / %04X  %d%s\n", step, pattern,
                    back, in1, cond1, ok1 ? "  " : " !", bitNo, bitValue, out2, in2, cond2,
                    ok2 ? "" : " !");
    }
    KV_DIO_OutData(1, 0);
    KV_DIO_OutData(2, 0);
    for (int unit : {1, 2}) KV_DIO_Close(unit);
    std::printf("%d steps, %d with an input that did not follow its output\n", options.cycles,
                mismatches);
    return mismatches;
}
