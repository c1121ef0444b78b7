// The simulated chip keeps its own model of the register map on purpose;
// every location and bit it shares with the driver and the board library
// must sit where their map puts it.
#include <gtest/gtest.h>

#include "driver/requests/chip_registers.h"
#include "sim/chip/chip_map.h"

namespace {

namespace model = kalvo::sim::chip;
namespace shared = kalvo::chipmap;

TEST(ChipMap, TheModelAgreesWithTheSharedRegisterMap) {
    struct Row {
        const char* name;
        uint64_t model;
        uint64_t shared;
    };
    const Row rows[] = {
        {"GM area", model::kGmArea, shared::kGmArea},
        {"write count", model::kWriteCount, shared::kWriteCountRegister},
        {"station condition", model::kStationCondition, shared::kConditionRegister},
        {"mail register", model::kMailRegister, shared::kMailRegister},
        {"command", model::kCommand, shared::kCommandRegister},
        {"command set-up", model::kCommandSetUp, shared::kCommandSetUp},
        {"command start", model::kCommandStart, shared::kCommandStart},
        {"command running", model::kCommandRunning, shared::kCommandRunning},
        {"CHKC", model::kChkc, shared::kChkcRegister},
        {"mail control", model::kMailControl, shared::kMailControl},
        {"mail send request", model::kMailSendRequest, shared::kMailSendRequest},
        {"mail send register", model::kMailSend, shared::kMailSendRegister},
        {"mail status", model::kMailStatus, shared::kMailStatusRegister},
        {"receive control 1", model::kReceiveControl1, shared::kReceiveControl1},
        {"receive control 2", model::kReceiveControl2, shared::kReceiveControl2},
        {"receive enabled", model::kReceiveEnabled, shared::kReceiveEnabled},
        {"receive full", model::kReceiveFull, shared::kReceiveFull},
        {"station register", model::kStationRegister, shared::kStationRegister},
        {"station baud bits", model::kStationBaudMask, shared::kStationBaudMask},
        {"station long frame", model::kStationLongFrame, shared::kStationLongFrame},
        {"mail send buffer", model::kMailSendBuffer, shared::kMailSendBuffer},
        {"mail receive buffer 1", model::kMailReceiveBuffer1, shared::kMailReceiveBuffer1},
        {"mail receive buffer 2", model::kMailReceiveBuffer2, shared::kMailReceiveBuffer2},
    };
    for (const Row& row : rows) EXPECT_EQ(row.model, row.shared) << row.name;
}

}  // namespace
