// kalvo-sample: the calling pattern of each unit family on the units of the
// configuration in the current directory, with live I/O on the network.
// Each family has its own part (dio_sample.cpp, ada_sample.cpp, ...): open
// the unit by number, use it, close it.
//
// Run it with the configuration folder as the current directory (the Kalvo
// library reads Kalvo.ini from there when it is loaded, before main).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kalvo/kalvo.h"
#include "sample_units.h"

namespace {

struct FamilySample {
    const char* family;
    int (*run)(const SampleOptions&);
};

// In the order they run.
const FamilySample kSamples[] = {
    {"DIO", runDioSample},
    {"ADA", runAdaSample},
    {"AXSA", runAxsaSample},
    {"SIO", runSioSample},
};

void usage(FILE* out) {
    std::fputs(
        "usage: kalvo-sample [--cycles N] [--interval-ms MS] [--help]\n"
        "\n"
        "Drives the units of Kalvo.ini in the current directory, one family after\n"
        "the other, and prints what was written, read back and answered:\n"
        "  DIO   DIO_1 and DIO_2: a bit walked through one output word, bits of the\n"
        "        other set and cleared, each input following its output\n"
        "  ADA   ADA_1 channel 1: the version and range codes asked by command,\n"
        "        values written and read back through the unit's wiring\n"
        "  AXSA  AXSA_1 job 1: speed set, a move answered with its target, the\n"
        "        position read until the axis arrives\n"
        "  SIO   SIO_1 channel 1: a line of text sent through the unit's loopback\n"
        "        and shown as received\n"
        "\n"
        "  --cycles N        DIO steps to run (default 16)\n"
        "  --interval-ms MS  time for an input to follow its output (default 20)\n"
        "\n"
        "Exit status 0 when every unit opened and answered as expected.\n",
        out);
}

bool parseCount(const char* text, int min, int max, int* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 0);
    if (!text[0] || *end || v < min || v > max) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SampleOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            usage(stdout);
            return 0;
        }
        if (!std::strcmp(a, "--cycles") && i + 1 < argc &&
            parseCount(argv[i + 1], 1, 1000000, &options.cycles)) {
            ++i;
        } else if (!std::strcmp(a, "--interval-ms") && i + 1 < argc &&
                   parseCount(argv[i + 1], 1, 60000, &options.intervalMs)) {
            ++i;
        } else {
            std::fprintf(stderr, "kalvo-sample: bad argument \"%s\"\n\n", a);
            usage(stderr);
            return 2;
        }
    }

    const int board = KV_CheckBoard(1);
    std::printf("board 1: KV_CheckBoard = %d%s\n\n", board,
                board == 0 ? " (open)" : " (not usable: see KalvoLog_*.log)");

    // The command calls poll for the units' replies in 1 ms steps.
    KV_BeginPeriod();
    int failedFamilies = 0;
    for (const FamilySample& sample : kSamples) {
        const int failures = sample.run(options);
        if (failures) {
            ++failedFamilies;
            std::fprintf(stderr,
                         "kalvo-sample: %s: %d check(s) failed; is the device host running with "
                         "this folder's network, and is this the configuration folder?\n",
                         sample.family, failures);
        }
        std::printf("\n");
    }
    KV_EndPeriod();
    std::printf("%d of %zu families as expected\n",
                static_cast<int>(sizeof kSamples / sizeof kSamples[0]) - failedFamilies,
                sizeof kSamples / sizeof kSamples[0]);
    return failedFamilies ? 1 : 0;
}
