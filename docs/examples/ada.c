/*
 * ADA: channel 1 of ADA_1. The unit's version is asked through the command
 * protocol (the call waits for the unit's reply), then a value is written to
 * the channel's output and read back from the input, which on the example
 * network is wired to it.
 */
#include <kalvo/kalvo.h>
#include <stdio.h>
#include <time.h>

#include "report.h"

int main(void) {
    const int32_t unit = 1, channel = 1;
    int32_t version = 0, value = -1;
    if (check("KV_ADA_Open(1)", KV_ADA_Open(unit))) return 1;
    /* Reply waits poll every millisecond: ask for a 1 ms timer around them. */
    KV_BeginPeriod();
    int32_t ret = check("KV_ADA_GetVersion", KV_ADA_GetVersion(unit, &version));
    if (!ret) ret = check("KV_ADA_OutValue", KV_ADA_OutValue(unit, channel, 2048));
    for (int i = 0; !ret && i < 500 && value != 2048; ++i) {
        const struct timespec ms = {0, 1000000};
        ret = check("KV_ADA_InValue", KV_ADA_InValue(unit, channel, &value));
        nanosleep(&ms, NULL);
    }
    KV_EndPeriod();
    if (!ret) printf("ADA_1: version word %04X, channel 1 reads %d\n", version, value);
    KV_ADA_OutValue(unit, channel, 0);
    KV_ADA_Close(unit);
    return ret || value != 2048;
}
