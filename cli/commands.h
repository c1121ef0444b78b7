// The subcommands of kalvo. Each runs in the configuration folder (kalvo
// changed into it) and returns the exit status: 0 done, 1 failed or
// something wrong, 2 bad command line.
#pragma once

#include <cstdint>
#include <string>

namespace kalvo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int runStatus();
int runUnits(bool watch, int intervalMs);
int runDoctor();
int runStrerror(const std::string& code);

// UNIT is "DIO_1", "DIO_1.5" (bit 5), "ADA_2.3" (channel 3), "AXSA_1" or
// "AXSA_1.2" (job 2), "SIO_1"; CHANNEL is an optional word: a number (bit,
// channel or job), "in"/"out" for DIO, "status" for AXSA, "receive"/"send"
// for SIO.
struct UnitRequest {
    std::string unit;
    std::string channel;
    std::string value;
    int timeoutMs = 1000;
};
int runGet(const UnitRequest& request);
int runSet(const UnitRequest& request);

}  // namespace kalvo::cli
