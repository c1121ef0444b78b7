// kalvo-sample: opens the DIO units of the configuration in the current
// directory and shows live I/O on the network: the word written, the word
// read back from the output area, the word the unit answers, and whether the
// unit's station answers on the line.
//
// Run it with the configuration folder as the current directory (the Kalvo
// library reads Kalvo.ini from there when it is loaded, before main).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "kalvo/kalvo.h"
#include "show_sio.h"

namespace {

void usage(FILE* out) {
    std::fputs(
        "usage: kalvo-sample [--cycles N] [--interval-ms MS] [--help]\n"
        "\n"
        "Opens DIO_1 and DIO_2 of Kalvo.ini in the current directory, walks a bit\n"
        "through DIO_1's output word and toggles bits of DIO_2, and prints what\n"
        "was written, read back and answered by the unit, with each unit's\n"
        "condition (1 when its station answers on the line). Then sends a line of\n"
        "text through SIO_1's channel and shows it received.\n"
        "\n"
        "  --cycles N        steps to run (default 16)\n"
        "  --interval-ms MS  time between a write and the reads (default 20)\n"
        "\n"
        "Exit status 0 when every unit opened, every input followed its output and\n"
        "the line of text came back.\n",
        out);
}

bool parseCount(const char* text, int min, int max, int* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (!text[0] || *end || v < min || v > max) return false;
    *value = static_cast<int>(v);
    return true;
}

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

}  // namespace

int main(int argc, char** argv) {
    int cycles = 16;
    int intervalMs = 20;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            usage(stdout);
            return 0;
        }
        if (!std::strcmp(a, "--cycles") && i + 1 < argc &&
            parseCount(argv[i + 1], 1, 1000000, &cycles)) {
            ++i;
        } else if (!std::strcmp(a, "--interval-ms") && i + 1 < argc &&
                   parseCount(argv[i + 1], 1, 60000, &intervalMs)) {
            ++i;
        } else {
            std::fprintf(stderr, "kalvo-sample: bad argument \"%s\"\n\n", a);
            usage(stderr);
            return 2;
        }
    }

    std::printf("board 1: KV_CheckBoard = %d%s\n", KV_CheckBoard(1),
                KV_CheckBoard(1) == 0 ? " (open)" : " (not usable: see KalvoLog_*.log)");
    int failures = 0;
    for (int unit : {1, 2}) {
        const int ret = KV_DIO_Open(unit);
        std::printf("DIO_%d: KV_DIO_Open = %d\n", unit, ret);
        if (ret != 0) ++failures;
    }
    if (failures) {
        std::fprintf(stderr,
                     "kalvo-sample: a unit did not open; is the device host running "
                     "with this folder's network, and is this the configuration folder?\n");
        return 1;
    }

    KV_BeginPeriod();
    std::printf("\n%5s  %-28s  %-28s\n", "step", "DIO_1 out / back / in  cond",
                "DIO_2 bit  out / in  cond");
    int mismatches = 0;
    for (int step = 0; step < cycles; ++step) {
        const auto pattern = static_cast<uint16_t>(1u << (step % 16));
        KV_DIO_OutData(1, pattern);
        const int bitNo = (step / 2) % 16;
        const int bitValue = (step % 2) == 0;
        KV_DIO_OutDataBit(2, bitNo, bitValue);

        uint16_t back = 0, in1 = 0, out2 = 0, in2 = 0;
        const bool ok1 = inputFollows(1, pattern, intervalMs, &in1);
        KV_DIO_InOData(1, &back);
        KV_DIO_InOData(2, &out2);
        const bool ok2 = inputFollows(2, out2, intervalMs, &in2);
        int32_t cond1 = 0, cond2 = 0;
        KV_DIO_GetCondition(1, &cond1);
        KV_DIO_GetCondition(2, &cond2);
        if (!ok1 || !ok2 || back != pattern) ++mismatches;
        std::printf("%5d  %04X / %04X / %04X  %d%s     %2d=%d  %04X / %04X  %d%s\n", step, pattern,
                    back, in1, cond1, ok1 ? "  " : " !", bitNo, bitValue, out2, in2, cond2,
                    ok2 ? "" : " !");
    }
    KV_EndPeriod();

    KV_DIO_OutData(1, 0);
    KV_DIO_OutData(2, 0);
    for (int unit : {1, 2}) KV_DIO_Close(unit);
    std::printf("\n%d steps, %d with an input that did not follow its output\n", cycles,
                mismatches);

    const bool sioOk = showSio();
    return mismatches || !sioOk ? 1 : 0;
}
