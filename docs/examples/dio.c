/*
 * DIO: DIO_1's output word written, read back from the output area, and the
 * unit's input word read until it follows (on the example network the
 * unit's inputs are wired to its outputs).
 */
#include <kalvo/kalvo.h>
#include <stdio.h>
#include <time.h>

#include "report.h"

int main(void) {
    const int32_t unit = 1;
    uint16_t back = 0, in = 0;
    int32_t bit = 0;
    if (check("KV_DIO_Open(1)", KV_DIO_Open(unit))) return 1;
    int32_t ret = check("KV_DIO_OutData", KV_DIO_OutData(unit, 0x00A5));
    if (!ret) ret = check("KV_DIO_OutDataBit", KV_DIO_OutDataBit(unit, 8, 1));
    if (!ret) ret = check("KV_DIO_InOData", KV_DIO_InOData(unit, &back));
    /* The unit answers in one of its next line cycles. */
    for (int i = 0; !ret && i < 500 && in != back; ++i) {
        const struct timespec ms = {0, 1000000};
        ret = check("KV_DIO_InData", KV_DIO_InData(unit, &in));
        nanosleep(&ms, NULL);
    }
    if (!ret) ret = check("KV_DIO_InDataBit", KV_DIO_InDataBit(unit, 8, &bit));
    if (!ret) printf("DIO_1: output %04X, input %04X, input bit 8 = %d\n", back, in, bit);
    KV_DIO_OutData(unit, 0);
    KV_DIO_Close(unit);
    return ret || in != back;
}
