// The serial family end to end: a real device host serving the example
// configuration folder's network, whose SIO_1 (station 8, one channel) is a
// simulated serial unit looping bytes back; the library bound by path, the
// bytes and block cuts seen at the unit itself, and real child processes
// where processes share a unit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host/network_admin.h"
#include "kalvo/kalvo.h"
#include "platform/module.h"
#include "platform/page_file_map.h"
#include "platform/runtime_dir.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using kernel::host::NetworkAdmin;

// libKalvo loaded by path, with the family calls these tests use.
using SioLibrary = FamilyCalls;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// The names of the named objects that exist in the runtime namespace and
// begin with prefix.
std::vector<std::string> namedObjects(const std::string& runtimeDir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(runtimeDir)) {
        auto name = platform::decodeObjectName(entry.path().filename().string());
        if (name && name->rfind(prefix, 0) == 0) names.push_back(*name);
    }
    return names;
}

// A log line ends with the text (its level's marker comes first).
bool hasLogLine(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines)
        if (line.size() >= text.size() &&
            line.compare(line.size() - text.size(), text.size(), text) == 0)
            return true;
    return false;
}

// The receive ring's map, read as another process on the machine would.
int32_t ringCapacity() {
    auto map = platform::PageFileMap::createOrOpen("SIO(1)RcvBuff00Map.Map", 40980);
    return map.valid() ? static_cast<const int32_t*>(map.data())[1] : -1;
}

class SioNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"Kalvo.ini", "ModelTbl.ini"})
            std::filesystem::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/" + name,
                                       env_.work().file(name));
        // Steps and handshake lines too: the tests read them as records.
        env_.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=FFFFFF1FH\n");
        std::string why;
        ASSERT_TRUE(host_.start(env_.work().file("devices"), env_.work().file("devhost.log"),
                                "tolva:id=0", &why, {"--network", env_.workDir()}))
            << why;
        kv_ = std::make_unique<SioLibrary>();
        ASSERT_TRUE(kv_->loaded());
        ASSERT_EQ(kv_->KV_CheckBoard(1), 0) << host_.log();
    }
    void TearDown() override {
        kv_.reset();
        EXPECT_EQ(host_.stop(), 0) << host_.log();
    }
    void openAndConfigure(int32_t receiveSize = 0, int32_t sendSize = 0) {
        ASSERT_EQ(kv_->KV_SIO_Open(1), 0);
        ASSERT_EQ(kv_->KV_SIO_Config(1, 1, 0x05, 0x10, 0, 0, receiveSize, sendSize), 0);
    }
    bool logShows(const std::string& text) {
        return eventually([&] { return hasLogLine(logLines(env_.work()), text); });
    }
    std::string unitState() { return admin_.describeUnit("SIO_1"); }
    // The control word of channel 1 as the unit last saw it; -1 when unknown.
    int controlWord() {
        std::smatch match;
        const std::string state = unitState();
        if (!std::regex_search(state, match, std::regex("control 0x([0-9a-f]{4})"))) return -1;
        return std::stoi(match[1].str(), nullptr, 16);
    }

    testing::IsolatedEnvironment env_;
    drivertest::PrivateHost host_;
    NetworkAdmin admin_{env_.work().file("devices")};
    std::unique_ptr<SioLibrary> kv_;
};

TEST_F(SioNetwork, ConfigSizesTheSharedReceiveRingAndSendsTheConfigurationCode) {
    ASSERT_EQ(kv_->KV_SIO_Open(1), 0);
    // The first open on the machine: an empty ring of the default size.
    int32_t size = -1;
    EXPECT_EQ(kv_->KV_SIO_CheckBuffer(1, 1, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(ringCapacity(), 4096);

    struct Row {
        int32_t requested, capacity;
    };
    for (const Row& row : {Row{0, 4096}, Row{50000, 40960}, Row{4095, 4096}, Row{5000, 5000},
                           Row{40961, 40960}, Row{-1, 4096}}) {
        EXPECT_EQ(kv_->KV_SIO_Config(1, 1, 0x05, 0x10, 0x20, 0x40, row.requested, row.requested),
                  0);
        EXPECT_EQ(ringCapacity(), row.capacity) << "receive size " << row.requested;
    }
    // The low six bits of the ORed codes reach the unit with the request.
    EXPECT_NE(unitState().find("config 0x0035"), std::string::npos) << unitState();
    EXPECT_TRUE(logShows(
        "SIO(1) KV_SIO_Config: Ch(1)-Boud(5h)-Bit(10h)-Parity(20h)-Stop(40h)-RcvBuf(-1)-SndBuf(-1):"
        " Ret(0h)"));
}

TEST_F(SioNetwork, MessagesComeBackThroughTheLoopbackCutIntoBlocksOfSix) {
    struct Row {
        const char* name;
        size_t length;
        int32_t sendSize;
        const char* blocks;  // the unit's record of the last blocks, or null
    };
    const Row rows[] = {
        {"thirteen bytes", 13, 0, "blocks 6,6,1"},
        {"one byte", 1, 0, nullptr},
        {"5000 bytes through a 4096-byte send ring", 5000, 4096, nullptr},
    };
    openAndConfigure(8192);
    for (const Row& row : rows) {
        std::vector<uint8_t> message(row.length);
        for (size_t i = 0; i < row.length; ++i) message[i] = static_cast<uint8_t>(i * 7 + 3);
        ASSERT_EQ(kv_->KV_SIO_Config(1, 1, 0, 0, 0, 0, 8192, row.sendSize), 0) << row.name;
        int32_t sent = -1;
        EXPECT_EQ(
            kv_->KV_SIO_PutData(1, 1, message.data(), static_cast<int32_t>(row.length), &sent, 0),
            0)
            << row.name;
        EXPECT_EQ(sent, static_cast<int32_t>(row.length)) << row.name;
        if (row.blocks) {
            EXPECT_NE(unitState().find(row.blocks), std::string::npos) << unitState();
        }

        std::vector<uint8_t> back(row.length);
        int32_t received = -1;
        EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, back.data(), static_cast<int32_t>(row.length),
                                      &received, 20000),
                  0)
            << row.name;
        EXPECT_EQ(received, static_cast<int32_t>(row.length)) << row.name;
        EXPECT_EQ(back, message) << row.name;
    }
    int32_t size = -1;
    EXPECT_EQ(kv_->KV_SIO_CheckBuffer(1, 1, &size), 0);
    EXPECT_EQ(size, 0);
}

TEST_F(SioNetwork, GetDataDeliversWhatIsThereAtItsTimeout) {
    openAndConfigure();
    int32_t sent = 0;
    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("abcd").data(), 4, &sent, 1000), 0);
    int32_t size = 0;
    ASSERT_TRUE(eventually([&] { return kv_->KV_SIO_CheckBuffer(1, 1, &size) == 0 && size == 4; }));

    uint8_t data[16] = {};
    int32_t received = -1;
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 0, &received, 0), 0);  // length 0: at once
    EXPECT_EQ(received, 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 10, &received, 100), KALVO_ERR_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 5s);
    EXPECT_EQ(received, 4);
    EXPECT_EQ(std::string(data, data + 4), "abcd");

    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("xy").data(), 2, &sent, 1000), 0);
    ASSERT_TRUE(eventually([&] { return kv_->KV_SIO_CheckBuffer(1, 1, &size) == 0 && size == 2; }));
    EXPECT_EQ(kv_->KV_SIO_ClearBuffer(1, 1), 0);
    EXPECT_EQ(kv_->KV_SIO_CheckBuffer(1, 1, &size), 0);
    EXPECT_EQ(size, 0);
}

TEST_F(SioNetwork, ArgumentsOutOfRangeAreRefusedAndCountsAreZero) {
    ASSERT_EQ(kv_->KV_SIO_Open(1), 0);
    uint8_t data[8] = {};
    struct Row {
        const char* name;
        int32_t unit, channel, length, timeout;
        int32_t expected;
    };
    const Row rows[] = {
        {"channel 0", 1, 0, 4, 10, KALVO_ERR_ARGUMENT},
        {"channel 2 of a one-channel unit", 1, 2, 4, 10, KALVO_ERR_ARGUMENT},
        {"negative timeout", 1, 1, 4, -1, KALVO_ERR_ARGUMENT},
        {"negative length", 1, 1, -1, 10, KALVO_ERR_ARGUMENT},
        {"unit not open", 2, 1, 4, 10, KALVO_ERR_NOT_OPEN},
        {"unit number 0", 0, 1, 4, 10, KALVO_ERR_UNIT},
        {"unit number 1025", 1025, 1, 4, 10, KALVO_ERR_UNIT},
    };
    for (const Row& row : rows) {
        int32_t count = -1;
        EXPECT_EQ(kv_->KV_SIO_GetData(row.unit, row.channel, data, row.length, &count, row.timeout),
                  row.expected)
            << row.name;
        EXPECT_EQ(count, 0) << row.name;
        count = -1;
        EXPECT_EQ(kv_->KV_SIO_PutData(row.unit, row.channel, data, row.length, &count, row.timeout),
                  row.expected)
            << row.name;
        EXPECT_EQ(count, 0) << row.name;
        if (row.length < 0 || row.timeout < 0) continue;
        count = -1;
        EXPECT_EQ(kv_->KV_SIO_CheckBuffer(row.unit, row.channel, &count), row.expected) << row.name;
        EXPECT_EQ(count, 0) << row.name;
        EXPECT_EQ(kv_->KV_SIO_ClearBuffer(row.unit, row.channel), row.expected) << row.name;
        EXPECT_EQ(kv_->KV_SIO_ClearError(row.unit, row.channel), row.expected) << row.name;
        EXPECT_EQ(kv_->KV_SIO_Config(row.unit, row.channel, 0, 0, 0, 0, 0, 0), row.expected)
            << row.name;
    }
    int32_t count = 0;
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, nullptr, 4, &count, 10), KALVO_ERR_ARGUMENT);
    EXPECT_EQ(kv_->KV_SIO_PutData(1, 1, nullptr, 4, &count, 10), KALVO_ERR_ARGUMENT);
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 4, nullptr, 10), KALVO_ERR_ARGUMENT);
    EXPECT_EQ(kv_->KV_SIO_CheckBuffer(1, 1, nullptr), KALVO_ERR_ARGUMENT);
}

TEST_F(SioNetwork, PlacementsWithoutWholeChannelsFailTheOpen) {
    struct Row {
        const char* name;
        std::vector<int32_t> offsets;
        int32_t expected;
    };
    const Row rows[] = {
        {"a channel at offset 2", {2, 3, 4, 5}, KALVO_ERR_UNIT},
        {"second channel at offset 6", {0, 1, 2, 3, 6, 7, 8, 9}, KALVO_ERR_UNIT},
        {"three offsets: no channel", {0, 1, 2}, KALVO_ERR_UNIT},
        {"two channels", {0, 1, 2, 3, 4, 5, 6, 7}, KALVO_OK},
    };
    for (const Row& row : rows) {
        UnitPlacement p{};
        p.unit = 7;
        p.kind = 0x105;
        p.board = 1;
        p.line = 1;
        p.base = 20;
        for (auto& o : p.offsets) o = -1;
        for (size_t i = 0; i < row.offsets.size(); ++i) p.offsets[i] = row.offsets[i];
        EXPECT_EQ(kv_->KV_SIO_OpenEx(&p), row.expected) << row.name;
        if (row.expected == KALVO_OK) {
            EXPECT_EQ(kv_->KV_SIO_Close(7), 0);
        }
        EXPECT_EQ(kv_->KV_SIO_Close(7), KALVO_ERR_NOT_OPEN) << row.name;
    }
}

TEST_F(SioNetwork, UnitErrorsEndTheTransfersWith16AndClearErrorLetsThemGoOn) {
    openAndConfigure();
    int32_t sent = 0, received = 0, size = 0;
    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("abcd").data(), 4, &sent, 1000), 0);
    ASSERT_TRUE(eventually([&] { return kv_->KV_SIO_CheckBuffer(1, 1, &size) == 0 && size == 4; }));

    // Receive error: what was there is delivered, then 16.
    ASSERT_TRUE(admin_.unitCommand("SIO_1", "rx-error 1 on")) << admin_.lastError();
    uint8_t data[16] = {};
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 10, &received, 0), KALVO_ERR_UNIT_ERROR);
    EXPECT_EQ(received, 4);
    EXPECT_EQ(std::string(data, data + 4), "abcd");
    EXPECT_EQ(kv_->KV_SIO_ClearError(1, 1), 0);
    EXPECT_EQ(unitState().find("RX-ERROR"), std::string::npos) << unitState();
    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("after").data(), 5, &sent, 1000), 0);
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 5, &received, 5000), 0);
    EXPECT_EQ(std::string(data, data + received), "after");

    // Send error: the unit takes nothing, nothing counts as sent.
    ASSERT_TRUE(admin_.unitCommand("SIO_1", "tx-error 1 on")) << admin_.lastError();
    EXPECT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("refused").data(), 7, &sent, 0),
              KALVO_ERR_UNIT_ERROR);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(logShows("SIO(1): waitSnd: ERR: Ch(1)"));
    EXPECT_EQ(kv_->KV_SIO_ClearError(1, 1), 0);
    EXPECT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("again").data(), 5, &sent, 1000), 0);
    EXPECT_EQ(sent, 5);
}

TEST_F(SioNetwork, CloseEndsAGetDataWaitingWithoutLimitAndLeavesTheLogItsLines) {
    openAndConfigure();
    int32_t ret = -1, received = -1;
    uint8_t data[16] = {};
    std::thread waiter([&] { ret = kv_->KV_SIO_GetData(1, 1, data, 10, &received, 0); });
    ASSERT_TRUE(logShows("SIO(1): Receive: Start: Ch(1)-Length(10)-TimeOut(0)"));
    EXPECT_EQ(kv_->KV_SIO_Close(1), 0);
    waiter.join();
    EXPECT_EQ(ret, KALVO_ERR_TIMEOUT);
    EXPECT_EQ(received, 0);

    const auto lines = logLines(env_.work());
    for (const char* text : {
             "SIO(1): CheckInfo: MaxChan(1)",
             "SIO(1): CreateSemaphore: Receive Semaphore: OK: Ch(1)-Name(SIO(1)RcvSmph00)",
             "SIO(1): CreateSemaphore: Receive Thread Semaphore: OK: "
             "Ch(1)-Name(SIO(1)RcvThrdSmph00)",
             "SIO(1): CreateSemaphore: Send Semaphore: OK: Ch(1)-Name(SIO(1)SndSmph00)",
             "SIO(1): CreateSemaphore: RW Semaphore: OK: Ch(1)-Name(SIO(1)Smph00)",
             "SIO(1): CreateBuf: Receive Buffer: OK: Ch(1)-Size(4096)",
             "SIO(1): CreateBuf: Sned Buffer: OK: Ch(1)-Size(4096)",
             "SIO(1): CreateThrd: Receive Procces: OK: Ch(1)",
             "SIO(1): Config: Start: "
             "Ch(1)-Boud(5h)-Bit(10h)-Pariyt(0h)-Stop(0h)-RcvBuf(0)-SndBuf(0)",
             "SIO(1): Config: Thread Start: Ch(1)",
             "SIO(1): Config: End: Ch(1)",
             "SIO(1): Receive: End: Ch(1)-Length(10)-RetLength(0)-TimeOut(0): Ret(11h)",
             "SIO(1) KV_SIO_GetData: Ch(1)-RetLength(0): Ret(11h)",
             "SIO(1): DestroyThrd: Receive Procces: Ch(1)-fWait(1)",
             "SIO(1): DestroyBuf: Receive Buffer: Ch(1)",
             "SIO(1): DestroyBuf: Sned Buffer: Ch(1)",
             "SIO(1): DestroySemaphore: RW Semaphore: Ch(1)",
             "SIO(1) KV_SIO_Close End: Ret(0h)",
         })
        EXPECT_TRUE(hasLogLine(lines, text)) << text;
}

TEST_F(SioNetwork, AReceiveAcknowledgeLeftStandingByADeadProcessIsTakenBack) {
    openAndConfigure();
    // A byte round the loop first: the receive thread is in its loop.
    int32_t sent = 0, received = 0;
    uint8_t data[8] = {};
    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("a").data(), 1, &sent, 1000), 0);
    ASSERT_EQ(kv_->KV_SIO_GetData(1, 1, data, 1, &received, 5000), 0);
    // Its handshake of that block is over: acknowledged, and the
    // acknowledge taken back as the unit sees it.
    ASSERT_TRUE(logShows("SIO(1): waitRcv: OK: Ch(1)"));
    ASSERT_TRUE(eventually([&] { return (controlWord() & 0x4000) == 0; })) << unitState();
    // What a process killed inside a receive handshake leaves: the
    // acknowledge bit of SIO_1's output block (station 8) still set.
    void* window = nullptr;
    ASSERT_EQ(kv_->KV_AttachMemory(1, 1, &window), 0);
    // One 64-bit access to the whole block, as the board library makes them.
    auto* block = reinterpret_cast<uint64_t*>(static_cast<uint8_t*>(window) + 0x200 + 8 * 8);
    std::atomic_ref<uint64_t>(*block).fetch_or(uint64_t{0x4000} << 48, std::memory_order_relaxed);

    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("still").data(), 5, &sent, 1000), 0);
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 5, &received, 5000), 0);
    EXPECT_EQ(std::string(data, data + received), "still");
}

KALVO_CHILD(sio_take_four) {
    SioLibrary kv;
    if (!kv.loaded() || kv.KV_SIO_Open(1) != 0) return 2;
    int32_t size = 0, received = 0;
    uint8_t data[8] = {};
    if (kv.KV_SIO_CheckBuffer(1, 1, &size) != 0 || size != 10) return 3;
    if (kv.KV_SIO_GetData(1, 1, data, 4, &received, 1000) != 0) return 4;
    return std::string(data, data + received) == "0123" ? 0 : 5;
}

TEST_F(SioNetwork, TwoProcessesShareOneReceiveRing) {
    openAndConfigure();
    int32_t sent = 0, size = 0;
    ASSERT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("0123456789").data(), 10, &sent, 1000), 0);
    ASSERT_TRUE(
        eventually([&] { return kv_->KV_SIO_CheckBuffer(1, 1, &size) == 0 && size == 10; }));
    EXPECT_EQ(testing::spawnChild("sio_take_four").wait(60s), 0);
    // Taken by the other process: gone for this one.
    EXPECT_EQ(kv_->KV_SIO_CheckBuffer(1, 1, &size), 0);
    EXPECT_EQ(size, 6);
    uint8_t data[8] = {};
    int32_t received = 0;
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, data, 6, &received, 1000), 0);
    EXPECT_EQ(std::string(data, data + received), "456789");
}

// Sends a long message and is killed in the middle of it, holding the
// channel's send lock.
KALVO_CHILD(sio_send_long) {
    SioLibrary kv;
    if (!kv.loaded() || kv.KV_SIO_Open(1) != 0) return 2;
    if (kv.KV_SIO_Config(1, 1, 0, 0, 0, 0, 0, 0) != 0) return 3;
    std::vector<uint8_t> message(40000, 'k');
    int32_t sent = 0;
    kv.KV_SIO_PutData(1, 1, message.data(), static_cast<int32_t>(message.size()), &sent, 0);
    return 4;
}

TEST_F(SioNetwork, NamedObjectsGoWithTheLastCloseAlsoAfterAKilledHolder) {
    openAndConfigure();
    EXPECT_EQ(kv_->KV_SIO_Close(1), 0);
    EXPECT_EQ(namedObjects(env_.runtimeDir(), "SIO(1)"), std::vector<std::string>{});

    auto child = testing::spawnChild("sio_send_long");
    // The unit has taken some of the child's blocks: its PutData holds the
    // send lock.
    ASSERT_TRUE(eventually([&] { return unitState().find("sent 0 ") == std::string::npos; }, 30s))
        << unitState();
    EXPECT_FALSE(namedObjects(env_.runtimeDir(), "SIO(1)").empty());
    child.kill(SIGKILL);

    openAndConfigure();
    int32_t sent = 0;
    EXPECT_EQ(kv_->KV_SIO_PutData(1, 1, bytesOf("next").data(), 4, &sent, 5000), 0);
    EXPECT_EQ(sent, 4);
    EXPECT_EQ(kv_->KV_SIO_Close(1), 0);
    EXPECT_EQ(namedObjects(env_.runtimeDir(), "SIO(1)"), std::vector<std::string>{});
}

}  // namespace
}  // namespace kalvo::apitest
