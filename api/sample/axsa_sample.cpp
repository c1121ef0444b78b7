// AXSA: job (axis) 1 of AXSA_1. KV_AXSA_PutCmdEx sends a command with a
// function code and a 28-bit parameter and waits for the unit's answer, a
// status word and a data value; here: set the speed ('V'), move to a target
// ('T', answered with the target), then read the position ('P') while the
// axis travels. KV_AXSA_PutCmd / KV_AXSA_AnsWith do the same in two steps
// for an application that does other work meanwhile.
#include <chrono>
#include <cstdio>
#include <thread>

#include "kalvo/kalvo.h"
#include "kalvo/kalvo_errors.h"
#include "sample_units.h"

namespace {

constexpr int kUnit = 1;
constexpr int kJob = 1;
constexpr int32_t kSpeed = 'V', kMove = 'T', kPosition = 'P';
constexpr int32_t kTarget = 25000;

const char* motion(uint16_t status) {
    return (status & 0x10) ? "refused" : (status & 0x01) ? "in position" : "moving";
}

}  // namespace

int runAxsaSample(const SampleOptions&) {
    std::printf("== AXSA: AXSA_1 job %d (an axis driven by command and answer)\n", kJob);
    int ret = KV_AXSA_Open(kUnit);
    std::printf("AXSA_1: KV_AXSA_Open = %d%s%s\n", ret, ret ? " " : "",
                ret ? kalvo_api_error_text(ret) : "");
    if (ret != 0) return 1;

    int failures = 0;
    uint16_t status = 0;
    int32_t data = 0;
    ret = KV_AXSA_PutCmdEx(kUnit, kJob, kPosition, 0, 0, &status, &data);
    std::printf("position before the move: %d (KV_AXSA_PutCmdEx = %d)\n", data, ret);
    const int32_t start = data;
    ret = KV_AXSA_PutCmdEx(kUnit, kJob, kSpeed, 0, 500, &status, &data);
    std::printf("speed set: %d per cycle (KV_AXSA_PutCmdEx = %d)\n", data, ret);
    failures += ret != 0;
    ret = KV_AXSA_PutCmdEx(kUnit, kJob, kMove, 0, kTarget, &status, &data);
    std::printf("move to %d answered: target %d, status %04Xh %s (KV_AXSA_PutCmdEx = %d)\n",
                kTarget, data, status, motion(status), ret);
    if (ret != 0 || data != kTarget) ++failures;

    // The axis travels on its own; read its position until it arrives.
    int32_t last = start;
    for (int i = 0; i < 200 && ret == 0; ++i) {
        ret = KV_AXSA_PutCmdEx(kUnit, kJob, kPosition, 0, 0, &status, &data);
        if (ret != 0) break;
        if (data != last && (i % 5 == 0 || data == kTarget))
            std::printf("  position %6d  %s\n", data, motion(status));
        last = data;
        if (data == kTarget) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (ret != 0 || last != kTarget) {
        std::printf("the axis did not arrive (position %d, code %d)\n", last, ret);
        ++failures;
    } else {
        std::printf("arrived: position %d, status %04Xh %s\n", last, status, motion(status));
    }
    KV_AXSA_Close(kUnit);
    return failures;
}
