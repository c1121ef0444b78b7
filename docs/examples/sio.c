/*
 * SIO: channel 1 of SIO_1. The channel is configured once (line settings
 * and buffer sizes; this also starts the library's receive thread), a line
 * of text is sent and received back (the example network's unit loops its
 * channel back), each call with a time limit.
 */
#include <kalvo/kalvo.h>
#include <stdio.h>
#include <string.h>

#include "report.h"

int main(void) {
    const int32_t unit = 1, channel = 1, timeoutMs = 2000;
    const char* text = "hello through SIO_1\r\n";
    const int32_t length = (int32_t)strlen(text);
    uint8_t back[64] = {0};
    int32_t sent = 0, received = 0;
    if (check("KV_SIO_Open(1)", KV_SIO_Open(unit))) return 1;
    KV_BeginPeriod();
    /* 0 for every line code leaves the unit at its defaults; buffer sizes of
     * 0 give the smallest, 4096 bytes. */
    int32_t ret = check("KV_SIO_Config", KV_SIO_Config(unit, channel, 0, 0, 0, 0, 0, 0));
    if (!ret)
        ret = check("KV_SIO_PutData",
                    KV_SIO_PutData(unit, channel, (const uint8_t*)text, length, &sent, timeoutMs));
    if (!ret)
        ret = check("KV_SIO_GetData",
                    KV_SIO_GetData(unit, channel, back, length, &received, timeoutMs));
    KV_EndPeriod();
    if (!ret)
        printf("SIO_1: sent %d bytes, received %d: %.*s", sent, received, (int)received, back);
    KV_SIO_Close(unit);
    return ret || received != length || memcmp(back, text, (size_t)length) != 0;
}
