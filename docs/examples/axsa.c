/*
 * AXSA: job (axis) 1 of AXSA_1. KV_AXSA_PutCmdEx sends a command with a
 * function code and a 28-bit parameter and waits for the unit's answer, a
 * status word and a data value: here the position is asked ('P'), a speed
 * set ('V') and a move started ('T', answered with its target).
 */
#include <kalvo/kalvo.h>
#include <stdio.h>

#include "report.h"

int main(void) {
    const int32_t unit = 1, job = 1, target = 1000;
    uint16_t status = 0;
    int32_t position = 0, answered = 0;
    if (check("KV_AXSA_Open(1)", KV_AXSA_Open(unit))) return 1;
    KV_BeginPeriod();
    int32_t ret =
        check("KV_AXSA_PutCmdEx P", KV_AXSA_PutCmdEx(unit, job, 'P', 0, 0, &status, &position));
    if (!ret)
        ret = check("KV_AXSA_PutCmdEx V",
                    KV_AXSA_PutCmdEx(unit, job, 'V', 0, 500, &status, &answered));
    if (!ret)
        ret = check("KV_AXSA_PutCmdEx T",
                    KV_AXSA_PutCmdEx(unit, job, 'T', 0, target, &status, &answered));
    KV_EndPeriod();
    if (!ret)
        printf("AXSA_1 job 1: position %d, move to %d answered with %d, status %04X\n", position,
               target, answered, status);
    KV_AXSA_Close(unit);
    return ret || answered != target;
}
