// The AXSA calls: the unit number check and slot lookup of the frame, the
// job number check, the unit's operation, one log line as the call returns.
#include "api/axsa/axsa_unit.h"
#include "api/frame/unit_calls.h"
#include "kalvo/kalvo.h"

using namespace kalvo::api;

namespace {

constexpr FamilyCalls kAxsa{kFamilyAxsa, "AXSA", kLogAxsa};
constexpr LogType kAxsaCall = kLogAxsa | kLevelCall;

// A job outside the unit, or a missing out-pointer, gives 3 before anything
// is sent or read.
template <typename Op>
int32_t withJob(int32_t unit, int32_t job, bool pointersOk, Op&& op) {
    return withUnit<AxsaUnit>(kAxsa, unit, [&](AxsaUnit& u) -> int32_t {
        if (!u.validJob(job) || !pointersOk) return KALVO_ERR_ARGUMENT;
        return op(u);
    });
}

}  // namespace

extern "C" {

KV_API int32_t KV_AXSA_Open(int32_t unit) {
    return openUnit(kAxsa, unit, nullptr, false, &AxsaUnit::make);
}

KV_API int32_t KV_AXSA_OpenEx(UnitPlacement* placement) {
    return openUnit(kAxsa, 0, placement, true, &AxsaUnit::make);
}

KV_API int32_t KV_AXSA_Close(int32_t unit) {
    return closeUnit(kAxsa, unit);
}

KV_API int32_t KV_AXSA_GetCondition(int32_t unit, int32_t* condition) {
    return unitCondition(kAxsa, unit, condition);
}

KV_API int32_t KV_AXSA_PutCmd(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                              int32_t parameter2) {
    const int32_t ret = withJob(unit, jobNo, true, [&](AxsaUnit& u) {
        return u.putCmd(jobNo, command, parameter1, parameter2);
    });
    apiLog().writef(kAxsaCall,
                    "AXSA(%d) KV_AXSA_PutCmd: JNo(%d)-Cmd(%xh)-Para1(%xh)-Para2(%xh): Ret(%xh)",
                    unit, jobNo, command & 0xFFFF, parameter1 & 0xFFFF, parameter2 & 0xFFFF, ret);
    return ret;
}

// ComErr is 0 in every case, also when the answer is not there yet.
KV_API int32_t KV_AXSA_Answer(int32_t unit, int32_t jobNo, uint16_t* status, uint16_t* comErr) {
    const int32_t ret = withJob(unit, jobNo, status && comErr, [&](AxsaUnit& u) {
        *comErr = 0;
        return u.answer(jobNo, status);
    });
    apiLog().writef(kAxsaCall, "AXSA(%d) KV_AXSA_Answer: JNo(%d)-Status(%xh)-ComErr(%xh): Ret(%xh)",
                    unit, jobNo, status ? *status : 0u, 0u, ret);
    return ret;
}

KV_API int32_t KV_AXSA_AnsWith(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData,
                               uint16_t* comErr) {
    const int32_t ret = withJob(unit, jobNo, status && jobData && comErr, [&](AxsaUnit& u) {
        *comErr = 0;
        AxsaAnswer answer{*status, *jobData};
        const int32_t r = u.answerWith(jobNo, &answer);
        *status = answer.status;
        if (r == KALVO_OK) *jobData = answer.data;
        return r;
    });
    apiLog().writef(kAxsaCall,
                    "AXSA(%d) KV_AXSA_AnsWith: JNo(%d)-Status(%xh)-JData(%d)-ComErr(%xh): Ret(%xh)",
                    unit, jobNo, status ? *status : 0u, jobData ? *jobData : 0, 0u, ret);
    return ret;
}

// Each half is stored when it matched, so 0x21 still gives the status and
// 0x22 the data.
KV_API int32_t KV_AXSA_GetStatus(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData) {
    const int32_t ret = withJob(unit, jobNo, status && jobData, [&](AxsaUnit& u) {
        AxsaAnswer answer{*status, *jobData};
        const int32_t r = u.getStatus(jobNo, &answer);
        *status = answer.status;
        *jobData = answer.data;
        return r;
    });
    apiLog().writef(kAxsaCall,
                    "AXSA(%d) KV_AXSA_GetStatus: JNo(%d)-Status(%xh)-JData(%d): Ret(%xh)", unit,
                    jobNo, status ? *status : 0u, jobData ? *jobData : 0, ret);
    return ret;
}

// The caller's status and data are written only when the answer came.
KV_API int32_t KV_AXSA_PutCmdEx(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                                int32_t parameter2, uint16_t* status, int32_t* jobData) {
    AxsaAnswer answer;
    const int32_t ret = withJob(unit, jobNo, status && jobData, [&](AxsaUnit& u) {
        answer = {*status, *jobData};
        const int32_t r = u.putCmdEx(jobNo, command, parameter1, parameter2, &answer);
        if (r == KALVO_OK) {
            *status = answer.status;
            *jobData = answer.data;
        }
        return r;
    });
    apiLog().writef(kAxsaCall,
                    "AXSA(%d) KV_AXSA_PutCmdEx: JNo(%d)-Cmd(%xh)-Para1(%xh)-Para2(%d)-Status(%xh)-"
                    "JData(%d): Ret(%xh)",
                    unit, jobNo, command, parameter1 & 0xFFFF, parameter2, answer.status,
                    answer.data, ret);
    return ret;
}

KV_API int32_t KV_AXSA_PutForm(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                               int32_t parameter) {
    const int32_t ret = withJob(unit, jobNo, true, [&](AxsaUnit& u) {
        return u.putForm(jobNo, command, function, parameter);
    });
    apiLog().writef(kAxsaCall,
                    "AXSA(%d) KV_AXSA_PutForm: JNo(%d)-Cmd(%xh)-Func(%xh)-Para(%d): Ret(%xh)", unit,
                    jobNo, command, function & 0xFFFF, parameter & 0xFFFF, ret);
    return ret;
}

KV_API int32_t KV_AXSA_PutFormEx(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                                 int32_t parameter, uint16_t* status, int32_t* jobData) {
    return KV_AXSA_PutCmdEx(unit, jobNo, command, function, parameter, status, jobData);
}

}  // extern "C"
