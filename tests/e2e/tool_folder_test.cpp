// The tool's files are what the run-time reads: a folder built with
// kalvo-config commands only, served by a private device host whose
// simulated network is that folder, and driven through libKalvo.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "host/network_admin.h"
#include "tests/support/kalvo_loader.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_run.h"

namespace kalvo::tool::test {
namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

class ToolFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        // The model table installed with the program is the one used: the folder
        // holds only what the commands write.
        for (const char* step :
             {"new --board 1=Pcimaster64", "place 1 1 MST QMDIO16 QMDIO16", "place 1 2 MST QMADA04",
              "place 1 4 AXS4", "place 1 8 MST QMSIO01"}) {
            ToolRun r = kalvoConfig(env_.workDir(), step);
            ASSERT_EQ(r.exitCode, 0) << step << ": " << r.output;
        }
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "tolva:id=0", &why, {"--network", env_.workDir()}))
            << why;
        kv_ = std::make_unique<apitest::KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << host_.log();
    }
    void TearDown() override {
        kv_.reset();
        EXPECT_EQ(host_.stop(), 0) << host_.log();
    }
    bool unitShows(const std::string& unit, const std::string& text) {
        return eventually(
            [&] { return admin_.describeUnit(unit).find(text) != std::string::npos; });
    }

    kalvo::testing::IsolatedEnvironment env_;
    drivertest::PrivateHost host_;
    kernel::host::NetworkAdmin admin_{env_.work().file("devices")};
    std::unique_ptr<apitest::KalvoLibrary> kv_;
};

// One row per unit the tool placed: its section, how to open it and how to
// see a value travel out to the simulated unit and back.
struct UnitRow {
    const char* section;
    std::function<int32_t(apitest::KalvoLibrary&)> open;
    std::function<int32_t(apitest::KalvoLibrary&, uint16_t)> write;
    std::function<bool(apitest::KalvoLibrary&, uint16_t*)> read;
    const char* wordShown;  // the unit's own view of the written word
    uint16_t written;
};

TEST_F(ToolFolder, UnitsPlacedByTheToolAnswerThroughTheLibrary) {
    const UnitRow rows[] = {
        {"DIO_1", [](auto& kv) { return kv.KV_DIO_Open(1); },
         [](auto& kv, uint16_t v) { return kv.KV_DIO_OutData(1, v); },
         [](auto& kv, uint16_t* v) { return kv.KV_DIO_InData(1, v) == 0; }, "[0] out 0x1234",
         0x1234},
        {"DIO_2", [](auto& kv) { return kv.KV_DIO_Open(2); },
         [](auto& kv, uint16_t v) { return kv.KV_DIO_OutData(2, v); },
         [](auto& kv, uint16_t* v) { return kv.KV_DIO_InData(2, v) == 0; }, "[1] out 0xa5a5",
         0xA5A5},
        // Channel 1 of the analog unit at station 2, its input wired to its
        // output.
        {"ADA_1", [](auto& kv) { return kv.KV_ADA_Open(1); },
         [](auto& kv, uint16_t v) { return kv.KV_ADA_OutValue(1, 1, v); },
         [](auto& kv, uint16_t* v) {
             int32_t value = -1;
             const bool ok = kv.KV_ADA_InValue(1, 1, &value) == 0;
             *v = static_cast<uint16_t>(value);
             return ok;
         },
         "ch1 [0] out 0x0123", 0x0123},
    };
    for (const UnitRow& row : rows) {
        ASSERT_EQ(row.open(*kv_), 0) << row.section;
        ASSERT_EQ(row.write(*kv_, row.written), 0) << row.section;
        EXPECT_TRUE(unitShows(row.section, row.wordShown))
            << row.section << ": " << admin_.describeUnit(row.section);
        // The simulated unit's inputs follow its outputs until set.
        uint16_t word = 0;
        EXPECT_TRUE(eventually([&] { return row.read(*kv_, &word) && word == row.written; }))
            << row.section << " read " << word;
    }
    ASSERT_TRUE(admin_.setInput("DIO_2", 1, 0xBEEF)) << admin_.lastError();
    uint16_t word = 0;
    EXPECT_TRUE(eventually([&] { return kv_->KV_DIO_InData(2, &word) == 0 && word == 0xBEEF; }));
    // The analog unit answers the command protocol (its version).
    int32_t version = 0;
    EXPECT_EQ(kv_->KV_ADA_GetVersion(1, &version), 0);
    EXPECT_EQ(version, 0xE103);  // the reply word: command code and version 1.03
    // The other units of the folder are on the simulated line where the
    // tool put them.
    for (const char* unit : {"AXSA_1", "SIO_1"}) EXPECT_NE(admin_.describeUnit(unit), "") << unit;
}

}  // namespace
}  // namespace kalvo::tool::test
