// The ADA, AXSA and SIO families against the stand-in board, with a remote
// unit played by a child process in the board's GM area: the waits of every
// family under any "TimeOutTimes", an AXSA unit opened again after its last
// holder closed, SIO requests left standing by a killed process, failed
// board calls, and bytes taken while another caller empties the ring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/page_file_map.h"
#include "platform/semaphore.h"
#include "tests/support/api_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_board/test_board_window.h"
#include "tests/support/kalvo_loader.h"

namespace kalvo::apitest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Where the units sit: ADA_1 station 2 word 0, AXSA_1 station 4 words 0-3
// (one job), SIO_1 station 8 words 0-3 (one channel; word 3 the control or
// status word). Inputs are at the station + 32.
constexpr int kAdaStation = 2;
constexpr int kAxsaStation = 4;
constexpr int kSioStation = 8;
constexpr int kInputs = 32;
// A unit takes a few line cycles to answer.
constexpr auto kUnitDelay = 20ms;

UnitPlacement placement(int base, int words) {
    UnitPlacement p{};
    p.unit = 1;
    p.board = 1;
    p.line = 1;
    p.base = base;
    for (int i = 0; i < 16; ++i) p.offsets[i] = i < words ? i : -1;
    return p;
}

// One TestBoard whose line is not started (no start-up pause), with the
// line's timeout multiplier as given.
std::string iniWithMultiplier(int32_t multiplier) {
    return "[KALVO]\r\nBoard=1\r\n[BOARD_1]\r\nKind=TestBoard\r\nLineMax=1\r\nTimeOutTimes_1=" +
           std::to_string(multiplier) + "\r\n";
}

// The board's window as the test (or the unit) sees it.
class Window {
  public:
    Window()
        : map_(platform::PageFileMap::createOrOpen(testboard::windowName(0),
                                                   testboard::kWindowSize)) {}
    bool valid() const { return map_.valid(); }
    volatile uint16_t& gm(int station, int word) {
        auto* base = static_cast<uint8_t*>(map_.data()) + testboard::kGmOffset;
        return reinterpret_cast<volatile uint16_t*>(base)[station * 4 + word];
    }
    void fail(int offset, uint32_t code) {
        reinterpret_cast<std::atomic<uint32_t>*>(static_cast<uint8_t*>(map_.data()) + offset)
            ->store(code);
    }

  private:
    platform::PageFileMap map_;
};

// The three units as remote units behave, each answering kUnitDelay after
// it sees a request: ADA answers a command code with the code and 0x123 and
// otherwise feeds its output value back; AXSA answers a block whose pair
// code differs from the last one it took (a repeat is ignored) with the pair
// in its status and the command byte as data; SIO acknowledges a send
// request and takes the acknowledge back with the request.
KALVO_CHILD(unit_player) {
    Window w;
    if (!w.valid()) return 2;
    // True once a request has stood for kUnitDelay.
    struct Delay {
        Clock::time_point since{};
        bool pending = false;
        bool over(bool requested) {
            if (!requested) return pending = false;
            if (!pending) since = Clock::now();
            pending = true;
            return Clock::now() - since >= kUnitDelay;
        }
    } ada, sio;
    int lastPair = 0;
    for (;; std::this_thread::sleep_for(1ms)) {
        const uint16_t out = w.gm(kAdaStation, 0);
        if (!(out & 0xE000)) w.gm(kAdaStation + kInputs, 0) = out & 0x0FFF;
        if (ada.over(out & 0xE000))
            w.gm(kAdaStation + kInputs, 0) = static_cast<uint16_t>((out & 0xE000) | 0x123);

        const uint16_t w0 = w.gm(kAxsaStation, 0), w1 = w.gm(kAxsaStation, 1),
                       w2 = w.gm(kAxsaStation, 2);
        const int pair = w0 >> 14;
        if (pair != 0 && pair == (w1 >> 14) && pair == (w2 >> 14) && pair != lastPair) {
            lastPair = pair;
            const auto tag = static_cast<uint16_t>(pair << 14);
            w.gm(kAxsaStation + kInputs, 0) = static_cast<uint16_t>(0x01 | (pair << 2));
            w.gm(kAxsaStation + kInputs, 1) = tag;
            w.gm(kAxsaStation + kInputs, 2) = static_cast<uint16_t>(tag | (w0 & 0xFF));
        }

        volatile uint16_t& status = w.gm(kSioStation + kInputs, 3);
        const bool request = w.gm(kSioStation, 3) & 0x8000;
        status = static_cast<uint16_t>(sio.over(request) ? status | 0x8000 : status & 0x7FFF);
    }
}

class UnitFamilies : public ::testing::Test {
  protected:
    // Loads the library with Kalvo.ini as given and opens the three units.
    void load(const std::string& ini) {
        kv_.reset();
        env_.work().write("Kalvo.ini", ini);
        kv_ = std::make_unique<KalvoLibrary>();
        ASSERT_TRUE(kv_->loaded());
        UnitPlacement ada = placement(kAdaStation, 1), axsa = placement(kAxsaStation, 4),
                      sio = placement(kSioStation, 4);
        ASSERT_EQ(kv_->KV_ADA_OpenEx(&ada), 0);
        ASSERT_EQ(kv_->KV_AXSA_OpenEx(&axsa), 0);
        ASSERT_EQ(kv_->KV_SIO_OpenEx(&sio), 0);
    }
    void TearDown() override { kv_.reset(); }

    testing::IsolatedEnvironment env_;
    std::unique_ptr<KalvoLibrary> kv_;
    Window window_;
};

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// Every family's wait ends within its bound, whatever Kalvo.ini says: a
// multiplier of -1 or 0 looks once and does not wait (a silent unit gives
// the timeout codes at once, Config does not pause), and a huge one neither
// wraps to a short limit (the answering unit is waited for) nor overflows.
TEST_F(UnitFamilies, EveryFamilysWaitEndsWithinItsBoundWhateverTheMultiplier) {
    struct Row {
        int32_t multiplier;
        bool unitAnswers;
        int32_t ada, axsa, sioSend;  // the codes of the three waits
    };
    const Row rows[] = {
        {-1, false, 0x11, 0x11, 0x20},
        {0, false, 0x11, 0x11, 0x20},
        {1 << 30, true, 0, 0, 0},  // x100 and x200 are 0 in 32 bits
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("TimeOutTimes " + std::to_string(row.multiplier));
        load(iniWithMultiplier(row.multiplier));
        testing::ChildProcess unit;
        if (row.unitAnswers) unit = testing::spawnChild("unit_player");
        // Silent units: each wait looks once; 2 s is room for a loaded machine.
        const auto bound = row.unitAnswers ? 10s : 2s;
        auto timed = [&](const char* call, int32_t expected, const std::function<int32_t()>& fn) {
            const auto start = Clock::now();
            EXPECT_EQ(fn(), expected) << call;
            EXPECT_LT(Clock::now() - start, bound) << call;
        };
        uint16_t reply = 0, status = 0;
        int32_t data = 0, sent = 0;
        timed("KV_ADA_PutCmd", row.ada,
              [&] { return kv_->KV_ADA_PutCmd(1, 1, 0x4000, 0, &reply); });
        timed("KV_AXSA_PutCmdEx", row.axsa,
              [&] { return kv_->KV_AXSA_PutCmdEx(1, 1, 0x30, 0, 0, &status, &data); });
        const uint8_t byte = 'x';
        timed("KV_SIO_PutData", row.sioSend,
              [&] { return kv_->KV_SIO_PutData(1, 1, &byte, 1, &sent, 0); });
        // The settle of a configuration is the multiplier times 10 ms.
        if (!row.unitAnswers)
            timed("KV_SIO_Config", 0, [&] { return kv_->KV_SIO_Config(1, 1, 0, 0, 0, 0, 0, 0); });
        timed("KV_SIO_Close", 0, [&] { return kv_->KV_SIO_Close(1); });
    }
}

// The unit ignores a block that carries the pair code of the last one it
// took. A unit closed by its last holder and opened again starts its
// counter from the code standing in the job's block, so the next command
// is answered for itself rather than matched with the old answer.
TEST_F(UnitFamilies, AnAxsaUnitOpenedAgainAfterItsLastHolderClosedGetsItsOwnAnswer) {
    load(boardsIni({"TestBoard"}));
    auto unit = testing::spawnChild("unit_player");
    ASSERT_EQ(kv_->KV_AXSA_PutCmd(1, 1, 0x31, 0, 0), 0);
    uint16_t status = 0, comErr = 0;
    ASSERT_TRUE(eventually([&] { return kv_->KV_AXSA_Answer(1, 1, &status, &comErr) == 0; }));
    ASSERT_EQ(kv_->KV_AXSA_Close(1), 0);  // the pair map goes with it

    UnitPlacement axsa = placement(kAxsaStation, 4);
    ASSERT_EQ(kv_->KV_AXSA_OpenEx(&axsa), 0);
    int32_t data = 0;
    EXPECT_EQ(kv_->KV_AXSA_PutCmdEx(1, 1, 0x32, 0, 0, &status, &data), 0);
    EXPECT_EQ(data, 0x32) << "the answer to the command before the close";
    EXPECT_EQ(window_.gm(kAxsaStation, 0) >> 14, 2);
}

// Opens SIO_1 in its own folder (args: folder, "config" or "clear error"),
// whose line waits 100000 x 10 ms per settle, and sets the request: it stays
// in the settle until it is killed.
KALVO_CHILD(sio_request_for_ever) {
    std::filesystem::current_path(args.at(0));
    KalvoLibrary kv;
    UnitPlacement sio = placement(kSioStation, 4);
    if (!kv.loaded() || kv.KV_SIO_OpenEx(&sio) != 0) return 2;
    if (args.at(1) == "config") return kv.KV_SIO_Config(1, 1, 0x05, 0, 0, 0, 0, 0) == 0 ? 0 : 3;
    return kv.KV_SIO_ClearError(1, 1) == 0 ? 0 : 3;
}

TEST_F(UnitFamilies, SioRequestsLeftStandingByAKilledProcessAreTakenBack) {
    load(boardsIni({"TestBoard"}));
    ASSERT_EQ(kv_->KV_SIO_Config(1, 1, 0, 0, 0, 0, 0, 0), 0);  // this process receives
    const std::string slow = env_.work().file("slow");
    std::filesystem::create_directories(slow);
    env_.work().write("slow/Kalvo.ini", iniWithMultiplier(100000));
    const struct {
        const char* call;
        uint16_t bits;  // what it sets for its settle
    } rows[] = {{"config", 0x0840}, {"clear error", 0x0800}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        auto child = testing::spawnChild("sio_request_for_ever", {slow, row.call});
        // Set, and standing until the child is killed (its settle lasts 1000 s).
        ASSERT_TRUE(
            eventually([&] { return (window_.gm(kSioStation, 3) & row.bits) == row.bits; }, 30s));
        child.kill(SIGKILL);
        EXPECT_TRUE(eventually([&] { return (window_.gm(kSioStation, 3) & 0x0840) == 0; }))
            << std::hex << window_.gm(kSioStation, 3);
    }
    EXPECT_EQ(kv_->KV_SIO_ClearError(1, 1), 0);  // its lock was taken over
}

// A block that cannot be read is not rebuilt from zeros: the call gives the
// board library's code and the output block keeps its data bytes and bits.
TEST_F(UnitFamilies, SioCallsPassOnAFailedBoardCallAndWriteNothingBuiltFromIt) {
    load(boardsIni({"TestBoard"}));
    const uint16_t before[4] = {0x1111, 0x2222, 0x3333, 0x0005};
    for (int i = 0; i < 4; ++i) window_.gm(kSioStation, i) = before[i];
    constexpr uint32_t kNotMapped = 16;  // the board library's KV_ERR_NOT_MAPPED
    const uint8_t bytes[3] = {1, 2, 3};
    int32_t sent = -1;
    const struct {
        const char* name;
        int offset;  // reads or writes fail
        std::function<int32_t()> call;
    } rows[] = {
        {"Config, read", testboard::kReadFailOffset,
         [&] { return kv_->KV_SIO_Config(1, 1, 0x07, 0, 0, 0, 0, 0); }},
        {"ClearError, read", testboard::kReadFailOffset,
         [&] { return kv_->KV_SIO_ClearError(1, 1); }},
        {"PutData, read", testboard::kReadFailOffset,
         [&] { return kv_->KV_SIO_PutData(1, 1, bytes, 3, &sent, 1000); }},
        {"Config, write", testboard::kWriteFailOffset,
         [&] { return kv_->KV_SIO_Config(1, 1, 0x07, 0, 0, 0, 0, 0); }},
        {"ClearError, write", testboard::kWriteFailOffset,
         [&] { return kv_->KV_SIO_ClearError(1, 1); }},
        {"PutData, write", testboard::kWriteFailOffset,
         [&] { return kv_->KV_SIO_PutData(1, 1, bytes, 3, &sent, 1000); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window_.fail(row.offset, kNotMapped);
        EXPECT_EQ(row.call(), int32_t(kNotMapped));
        window_.fail(row.offset, 0);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(window_.gm(kSioStation, i), before[i]) << i;
    }
    EXPECT_EQ(sent, 0);
}

// The receive error flag is a receive thread's last look at the unit. Once
// the unit reports no error any more (its error was reset), GetData goes by
// the unit, not by an older look: here the receive threads are held at
// their cycle lock, so the flag stays as their last cycle left it.
TEST_F(UnitFamilies, SioGetDataGoesByTheUnitsErrorNotByAnOlderLook) {
    load(boardsIni({"TestBoard"}));
    ASSERT_EQ(kv_->KV_SIO_Config(1, 1, 0, 0, 0, 0, 0, 0), 0);
    volatile uint16_t& status = window_.gm(kSioStation + kInputs, 3);
    status = 0x0800;  // a receive error
    uint8_t byte = 0;
    int32_t received = 0;
    ASSERT_EQ(kv_->KV_SIO_GetData(1, 1, &byte, 1, &received, 0), KALVO_ERR_UNIT_ERROR);
    auto cycle = platform::Semaphore::createOrOpen("SIO(1)RcvThrdSmph00", 1, 1);
    ASSERT_TRUE(cycle.valid());
    cycle.wait();
    status = 0;  // reset: the unit reports none
    EXPECT_EQ(kv_->KV_SIO_GetData(1, 1, &byte, 1, &received, 50), KALVO_ERR_TIMEOUT);
    cycle.release(1);
}

// GetData counts the bytes and takes them in one step: while another thread
// empties the shared ring as fast as it can, a GetData that gives 0 always
// took all it asked for. (Without the log, the calls run at full speed.)
TEST_F(UnitFamilies, SioGetDataNeverGivesSuccessWithFewerBytesThanAsked) {
    env_.work().write("KalvoLog.ini", "[LOG]\nLOGLEVEL=0H\n");
    load(boardsIni({"TestBoard"}));
    // The receive ring as every process maps it: the layout is fixed.
    auto ring = platform::PageFileMap::createOrOpen("SIO(1)RcvBuff00Map.Map", 40980);
    auto lock = platform::Semaphore::createOrOpen("SIO(1)RcvBuff00Smph", 1, 1);
    ASSERT_TRUE(ring.valid() && lock.valid());
    auto* fields = static_cast<int32_t*>(ring.data());  // count, capacity, read, write
    auto* data = static_cast<uint8_t*>(ring.data()) + 16;
    // Six bytes in, as a receive thread puts a block.
    auto put6 = [&] {
        lock.wait();
        const int32_t capacity = fields[1];
        for (int i = 0; i < 6; ++i) {
            data[fields[3]] = 'a';
            fields[3] = fields[3] == capacity ? 0 : fields[3] + 1;
            if (fields[3] == fields[2]) fields[2] = fields[2] == capacity ? 0 : fields[2] + 1;
        }
        lock.release(1);
    };
    std::atomic<bool> stop{false};
    std::thread clearer([&] {
        while (!stop) kv_->KV_SIO_ClearBuffer(1, 1);
    });
    int short_ = 0, whole = 0;
    for (const auto end = Clock::now() + 2s; Clock::now() < end;) {
        put6();
        uint8_t bytes[6];
        int32_t received = 0;
        if (kv_->KV_SIO_GetData(1, 1, bytes, 6, &received, 1) != 0) continue;
        ++whole;
        if (received != 6) ++short_;
    }
    stop = true;
    clearer.join();
    EXPECT_EQ(short_, 0) << "of " << whole;
}

}  // namespace
}  // namespace kalvo::apitest
