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
#include "kalvo/kalvo_errors.h"
#include "platform/command_line.h"
#include "platform/data_dir.h"
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

const char* const kDescription =
    "Drives the units of Kalvo.ini in the current directory, one family after\n"
    "the other, and prints what was written, read back and answered:\n"
    "  DIO   DIO_1 and DIO_2: a bit walked through one output word, bits of the\n"
    "        other set and cleared, each input following its output\n"
    "  ADA   ADA_1 channel 1: the version and range codes asked by command,\n"
    "        values written and read back through the unit's wiring\n"
    "  AXSA  AXSA_1 job 1: speed set, a move answered with its target, the\n"
    "        position read until the axis arrives\n"
    "  SIO   SIO_1 channel 1: a line of text sent through the unit's loopback\n"
    "        and shown as received";

}  // namespace

int main(int argc, char** argv) {
    SampleOptions options;
    CLI::App app(kDescription, "kalvo-sample");
    app.set_version_flag("--version", "kalvo-sample " KALVO_VERSION);
    app.footer(
        "Exit status 0 when every unit opened and answered as expected.\n\n"
        "The example configuration folder comes with the tools (share/kalvo/example beside\n"
        "the program's folder, /usr/share/kalvo/example from the packages):\n"
        "  cp -r /usr/share/kalvo/example ~/kalvo-example && cd ~/kalvo-example\n"
        "  kalvo-devctl start --network . && kalvo-sample");
    app.add_option("--cycles", options.cycles, "DIO steps to run")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    app.add_option("--interval-ms", options.intervalMs, "time for an input to follow its output")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    if (const int end = kalvo::platform::parseCommandLine(app, argc, argv); end >= 0) return end;

    const int board = KV_CheckBoard(1);
    if (board == 0) {
        std::printf("board 1: KV_CheckBoard = 0 (open)\n\n");
    } else {
        std::printf("board 1: KV_CheckBoard = %d: %s (kalvo doctor explains why)\n\n", board,
                    kalvo_api_error_text(board));
        // The library read Kalvo.ini of the current directory as it loaded.
        if (std::FILE* ini = std::fopen("Kalvo.ini", "r"))
            std::fclose(ini);
        else
            std::fprintf(stderr,
                         "kalvo-sample: there is no Kalvo.ini here; run it in a configuration "
                         "folder, e.g. a copy of the example folder %s with a device host on "
                         "its network (kalvo-devctl start --network .)\n",
                         kalvo::platform::installedDataPath("example").c_str());
    }

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
