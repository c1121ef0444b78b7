// The plug-and-play device class in the real device host with real client
// processes: opens held while a board is stopped (replayed after the start,
// cancelled when their client dies or the host stops), the power commands
// of kalvo-devctl against open handles, and clients that keep requesting
// while the board is stopped, started and put to sleep under them. Statuses
// are checked as the client sees them (its Win32 error) and as the driver
// completed them (the host's record, `kalvo-devctl requests`).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/request_blocks.h"
#include "platform/device.h"
#include "platform/device_protocol.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace kalvo::requests;
using kalvo::boardlib::closeBoardDevice;
using kalvo::boardlib::openBoardDevice;
using kalvo::boardlib::requestMapMemory;
using kalvo::boardlib::requestStatus;
using kalvo::drivertest::devctl;
using kalvo::drivertest::deviceListLine;
using kalvo::platform::HANDLE;
using kalvo::platform::INVALID_HANDLE_VALUE;
using kalvo::platform::lastError;
using kalvo::testing::spawnChild;

const char* const kTolva0 = "\\\\.\\tolva0";
const char* const kTolva1 = "\\\\.\\tolva1";
const char* const kFirstBoard = "pci-0000:03:00.0";
constexpr uint32_t kBoardIdWord = 0x808;
constexpr uint32_t kWindowLength = 0x1000;

#define CHILD_CHECK(condition)                                                             \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s failed (last error %u)\n", __FILE__, __LINE__, \
                         #condition, static_cast<unsigned>(lastError()));                  \
            return 1;                                                                      \
        }                                                                                  \
    } while (0)

void touch(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

template <class Cond>
bool waitFor(Cond cond, std::chrono::milliseconds limit = 20s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return cond();
}

size_t entries(const std::string& dir) {
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// The host's threads and open descriptors, as its process record shows them.
struct HostCounts {
    size_t threads, descriptors;
    bool operator==(const HostCounts&) const = default;
};
HostCounts countsOf(pid_t pid) {
    std::string proc = "/proc/" + std::to_string(pid);
    return {entries(proc + "/task"), entries(proc + "/fd")};
}

uint64_t mapWindow(HANDLE device) {
    MapRequestBlock64 block{MapCommand::Map, 0, 0, kWindowLength, 0};
    return requestMapMemory(device, &block) == 0 ? block.address : 0;
}

// path, ready file, board ID: opens (held while the board is stopped), then
// maps the window and reads the board's ID word through it.
KALVO_CHILD(open_then_map) {
    touch(args.at(1));
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    uint64_t address = mapWindow(device);
    CHILD_CHECK(address != 0);
    uint16_t id = *reinterpret_cast<volatile uint16_t*>(address + kBoardIdWord);
    CHILD_CHECK(id == std::strtoul(args.at(2).c_str(), nullptr, 0));
    closeBoardDevice(device);
    return 0;
}

// path, ready file: an open that waits (the board is stopped) until the
// process is killed or the host goes; exits 0 when the open failed.
KALVO_CHILD(held_open) {
    touch(args.at(1));
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device == INVALID_HANDLE_VALUE);
    return 0;
}

// path, stop file: opens, requests and closes again until the stop file
// appears; every request ends with success or a status the board's states
// document (held requests end when the board returns; a removed board
// refuses). Exit 0 when nothing else was seen.
KALVO_CHILD(open_request_close) {
    while (!std::filesystem::exists(args.at(1))) {
        HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
        if (device == INVALID_HANDLE_VALUE) {
            // Gone for good (surprise removal) or the host ended.
            uint32_t error = lastError();
            CHILD_CHECK(error == kalvo::platform::ERROR_ACCESS_DENIED ||
                        error == kalvo::platform::ERROR_FILE_NOT_FOUND);
            std::this_thread::sleep_for(2ms);
            continue;
        }
        for (int i = 0; i < 4; ++i) {
            StatusBlock status{};
            if (requestStatus(device, &status) != 0) {
                CHILD_CHECK(lastError() == kalvo::platform::ERROR_ACCESS_DENIED);
                break;
            }
            uint64_t address = mapWindow(device);
            if (address == 0) {
                CHILD_CHECK(lastError() == kalvo::platform::ERROR_ACCESS_DENIED);
                break;
            }
            // A board removed in between refuses the unmap too.
            MapRequestBlock64 unmap{MapCommand::Unmap, 0, address, kWindowLength, 0};
            if (requestMapMemory(device, &unmap) != 0) {
                CHILD_CHECK(lastError() == kalvo::platform::ERROR_ACCESS_DENIED);
                break;
            }
        }
        closeBoardDevice(device);
        std::this_thread::sleep_for(3ms);  // room for a stop between rounds
    }
    return 0;
}

// path: opens (held while a stop is queried), asks for the board's status
// and closes.
KALVO_CHILD(open_status_close) {
    HANDLE device = openBoardDevice(args.at(0).c_str(), 64);
    CHILD_CHECK(device != INVALID_HANDLE_VALUE);
    StatusBlock status{};
    CHILD_CHECK(requestStatus(device, &status) == 0);
    closeBoardDevice(device);
    return 0;
}

// One row of `kalvo-devctl requests`.
struct RecordRow {
    uint64_t sequence = 0;
    std::string time, location;
    uint32_t pid = 0;
    std::string function, control, status;
    uint64_t bytes = 0;
    std::string how;
};

std::vector<RecordRow> recordRows(const std::string& location) {
    auto run = kalvo::drivertest::devctl("requests " + location);
    std::vector<RecordRow> rows;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        RecordRow row;
        if (in >> row.sequence >> row.time >> row.location >> row.pid >> row.function >>
            row.control >> row.status >> row.bytes >> row.how)
            rows.push_back(row);
    }
    return rows;
}

// The rows of one kind ("held", "replayed", ...) after sequence number from.
std::vector<RecordRow> rowsOf(const std::vector<RecordRow>& rows, const std::string& how,
                              uint64_t from = 0) {
    std::vector<RecordRow> out;
    for (auto& r : rows)
        if (r.how == how && r.sequence > from) out.push_back(r);
    return out;
}

uint64_t lastSequence(const std::string& location) {
    auto rows = recordRows(location);
    return rows.empty() ? 0 : rows.back().sequence;
}

// One raw connection that asks to open path and hangs up without waiting
// for the answer, as a client killed in its open would.
bool openAndHangUp(const std::string& folder, const std::string& path) {
    namespace wire = kalvo::platform::device_wire;
    int sock = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (sock < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = folder + "/" + wire::kSocketName;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    bool sent = false;
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        auto open = wire::makeFrame<wire::OpenFrame>(wire::FrameType::Open, path.size());
        open.desiredAccess = 0xC0000000u;
        open.shareMode = 3;
        open.creationDisposition = 3;
        open.wordSize = 64;
        open.pathLength = static_cast<uint32_t>(path.size());
        sent = wire::sendFrame(sock, &open, sizeof open, path.data(), path.size());
    }
    ::close(sock);
    return sent;
}

class PowerHostE2E : public ::testing::Test {
  protected:
    void startHost(const std::string& boards) {
        std::string why;
        ASSERT_TRUE(host_.start(file("devices"), file("devhost.log"), boards, &why)) << why;
    }
    void TearDown() override { EXPECT_EQ(host_.stop(), 0) << host_.log(); }
    std::string file(const std::string& name) const { return env_.work().file(name); }

    kalvo::testing::IsolatedEnvironment env_;
    kalvo::drivertest::PrivateHost host_;
};

TEST_F(PowerHostE2E, AnOpenHeldAcrossStopAndStartGetsAWorkingWindowInItsOwnProcess) {
    startHost("tolva:id=5");
    ASSERT_EQ(devctl(std::string("pnp-stop ") + kFirstBoard).exitCode, 0);
    const HostCounts idle = countsOf(host_.pid());
    auto client = spawnChild("open_then_map", {kTolva0, file("ready"), "5"});
    // The open is in the host (its connection has a thread) before the start.
    ASSERT_TRUE(waitFor([&] { return countsOf(host_.pid()).threads > idle.threads; }));
    ASSERT_EQ(devctl(std::string("pnp-start ") + kFirstBoard).exitCode, 0);
    EXPECT_EQ(client.wait(), 0);
}

TEST_F(PowerHostE2E, AClientKilledInAHeldOpenLeavesNothingBehind) {
    startHost("tolva:id=0,tolva:id=1");
    ASSERT_EQ(devctl(std::string("pnp-stop ") + kFirstBoard).exitCode, 0);
    const HostCounts idle = countsOf(host_.pid());

    auto client = spawnChild("held_open", {kTolva0, file("ready")});
    ASSERT_TRUE(waitFor([&] { return countsOf(host_.pid()).threads > idle.threads; }));
    client.kill(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return countsOf(host_.pid()) == idle; }))
        << countsOf(host_.pid()).threads << " threads, " << countsOf(host_.pid()).descriptors
        << " descriptors";

    // Many clients that give up their held opens: none stays in the host,
    // and the other board's clients are served all along.
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(openAndHangUp(file("devices"), kTolva0)) << i;
    HANDLE other = openBoardDevice(kTolva1, 64);
    ASSERT_NE(other, INVALID_HANDLE_VALUE) << lastError();
    StatusBlock status{};
    EXPECT_EQ(requestStatus(other, &status), 0);
    closeBoardDevice(other);
    EXPECT_TRUE(waitFor([&] { return countsOf(host_.pid()) == idle; }))
        << countsOf(host_.pid()).threads << " threads, " << countsOf(host_.pid()).descriptors
        << " descriptors";

    // A client still waiting in a held open does not keep the host from
    // stopping: the open is cancelled and the host ends at once.
    auto waiting = spawnChild("held_open", {kTolva0, file("ready2")});
    ASSERT_TRUE(waitFor([&] { return countsOf(host_.pid()).threads > idle.threads; }));
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(host_.stop(), 0) << host_.log();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);  // one second, with room for load
    EXPECT_EQ(waiting.wait(), 0);
}

TEST_F(PowerHostE2E, PowerCommandsMeetOpenHandlesAsTheDeviceClassRules) {
    startHost("tolva:id=0,tolva:id=1");
    // Idle devices: the listing shows each one's power state.
    EXPECT_NE(deviceListLine(kFirstBoard).find(" D0 "), std::string::npos)
        << deviceListLine(kFirstBoard);
    HANDLE device = openBoardDevice(kTolva1, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    // A sleep that the open handle vetoes fails and names the status; the
    // other board, which had accepted it, goes on serving its clients.
    auto sleep = devctl("power S3");
    EXPECT_NE(sleep.exitCode, 0);
    EXPECT_NE(sleep.output.find("C0000001"), std::string::npos) << sleep.output;
    auto client = spawnChild("open_then_map", {kTolva0, file("ready"), "0"});
    EXPECT_EQ(client.wait(60s), 0) << "the open of the board that accepted the sleep is held";
    StatusBlock status{};
    EXPECT_EQ(requestStatus(device, &status), 0);
    closeBoardDevice(device);

    // Without handles the sleep goes through; an open brings the board back.
    EXPECT_EQ(devctl("power S3").exitCode, 0);
    EXPECT_NE(deviceListLine(kFirstBoard).find(" D3 "), std::string::npos)
        << deviceListLine(kFirstBoard);
    EXPECT_EQ(spawnChild("open_then_map", {kTolva0, file("ready2"), "0"}).wait(60s), 0);
    EXPECT_EQ(devctl("power S0").exitCode, 0);

    // A device power state for one board, and bad arguments explained.
    EXPECT_EQ(devctl(std::string("device-power ") + kFirstBoard + " D2").exitCode, 0);
    EXPECT_NE(deviceListLine(kFirstBoard).find(" D2 "), std::string::npos);
    auto bad = devctl(std::string("device-power ") + kFirstBoard + " D7");
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.output.find("D0 to D3"), std::string::npos) << bad.output;
    auto nowhere = devctl("power S3 pci-9999:00:00.0");
    EXPECT_NE(nowhere.exitCode, 0);
    EXPECT_NE(nowhere.output.find("no board at pci-9999:00:00.0"), std::string::npos)
        << nowhere.output;
}

TEST_F(PowerHostE2E, ClientsKeepRequestingWhileTheBoardIsStoppedStartedAndPutToSleep) {
    startHost("tolva:id=0");
    const HostCounts idle = countsOf(host_.pid());
    std::vector<kalvo::testing::ChildProcess> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(spawnChild("open_request_close", {kTolva0, file("stop")}));
    const std::string board = kFirstBoard;
    int stops = 0, sleeps = 0;
    for (int round = 0; round < 50; ++round) {
        // A stop or a sleep is refused while a client holds a handle; the
        // clients close between their rounds, so many go through.
        if (devctl("pnp-stop " + board).exitCode == 0) {
            ++stops;
            ASSERT_EQ(devctl("pnp-start " + board).exitCode, 0) << host_.log();
        }
        if (devctl("power S3").exitCode == 0) ++sleeps;
        ASSERT_EQ(devctl("power S0").exitCode, 0);
        ASSERT_EQ(devctl("device-power " + board + (round % 2 ? " D0" : " D3")).exitCode, 0);
    }
    ASSERT_EQ(devctl("device-power " + board + " D0").exitCode, 0);
    EXPECT_EQ(devctl("surprise " + board).exitCode, 0);
    touch(file("stop"));
    for (auto& client : clients) EXPECT_EQ(client.wait(60s), 0);
    ASSERT_TRUE(host_.running()) << host_.log();
    EXPECT_TRUE(waitFor([&] { return countsOf(host_.pid()) == idle; }))
        << countsOf(host_.pid()).threads << " threads, " << countsOf(host_.pid()).descriptors
        << " descriptors";
    std::printf("%d of 50 stops and %d of 50 sleeps went through\n", stops, sleeps);
}

TEST_F(PowerHostE2E, OpensHeldBetweenQueryStopAndStopRunInArrivalOrderAfterStartOrCancelStop) {
    startHost("tolva:id=0");
    const std::string board = kFirstBoard;
    struct Case {
        const char* name;
        std::vector<std::string> release;  // kalvo-devctl commands that end the hold
    };
    const Case cases[] = {
        {"stop, then start", {"pnp-stop " + board, "pnp-start " + board}},
        {"cancel stop", {"cancel-stop " + board}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t from = lastSequence(board);
        ASSERT_EQ(devctl("query-stop " + board).exitCode, 0) << host_.log();
        // Three clients, each open held before the next one starts.
        std::vector<kalvo::testing::ChildProcess> clients;
        std::vector<uint32_t> pids;
        for (size_t i = 0; i < 3; ++i) {
            clients.push_back(spawnChild("open_status_close", {kTolva0}));
            pids.push_back(uint32_t(clients.back().pid()));
            ASSERT_TRUE(waitFor([&] {
                return rowsOf(recordRows(board), "held", from).size() == i + 1;
            })) << devctl("requests " + board).output;
        }
        for (auto& command : c.release) ASSERT_EQ(devctl(command).exitCode, 0) << command;
        // The clients saw their opens and status requests succeed ...
        for (auto& client : clients) EXPECT_EQ(client.wait(60s), 0);
        // ... and the driver replayed the opens in the order they arrived,
        // each with STATUS_SUCCESS and no bytes.
        auto rows = recordRows(board);
        auto held = rowsOf(rows, "held", from);
        auto replayed = rowsOf(rows, "replayed", from);
        ASSERT_EQ(held.size(), 3u);
        ASSERT_EQ(replayed.size(), 3u) << devctl("requests " + board).output;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(held[i].pid, pids[i]);
            EXPECT_EQ(replayed[i].pid, pids[i]);
            EXPECT_EQ(replayed[i].function, "IRP_MJ_CREATE");
            EXPECT_EQ(replayed[i].status, "STATUS_SUCCESS(0x00000000)");
            EXPECT_EQ(replayed[i].bytes, 0u);
        }
        // Their status requests, once the board served again, completed at once.
        auto completed = rowsOf(rows, "completed", from);
        ASSERT_EQ(completed.size(), 3u);
        for (auto& row : completed) {
            EXPECT_EQ(row.control, "IOCTL_TOLVA_STATUS");
            EXPECT_EQ(row.status, "STATUS_SUCCESS(0x00000000)");
            EXPECT_GT(row.bytes, 0u);
        }
    }
}

TEST_F(PowerHostE2E, AHeldOpenItsCallerAbandonsEndsCancelledWithNoBytes) {
    startHost("tolva:id=0");
    const std::string board = kFirstBoard;
    ASSERT_EQ(devctl("query-stop " + board).exitCode, 0);
    auto client = spawnChild("held_open", {kTolva0, file("ready")});
    const uint32_t pid = uint32_t(client.pid());
    ASSERT_TRUE(waitFor([&] { return rowsOf(recordRows(board), "held").size() == 1; }));
    client.kill(SIGKILL);
    ASSERT_TRUE(waitFor([&] { return rowsOf(recordRows(board), "cancelled").size() == 1; }))
        << devctl("requests " + board).output;
    RecordRow row = rowsOf(recordRows(board), "cancelled")[0];
    EXPECT_EQ(row.pid, pid);
    EXPECT_EQ(row.function, "IRP_MJ_CREATE");
    EXPECT_EQ(row.status, "STATUS_CANCELLED(0xC0000120)");
    EXPECT_EQ(row.bytes, 0u);
    // Nothing else is held: cancel stop replays nothing, and the board serves.
    ASSERT_EQ(devctl("cancel-stop " + board).exitCode, 0);
    EXPECT_TRUE(rowsOf(recordRows(board), "replayed").empty());
    EXPECT_EQ(spawnChild("open_status_close", {kTolva0}).wait(60s), 0);
}

TEST_F(PowerHostE2E, StatusesAsTheClientSeesThemAndAsTheDriverCompletedThem) {
    startHost("tolva:id=0");
    const std::string board = kFirstBoard;
    HANDLE device = openBoardDevice(kTolva0, 64);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    struct Case {
        const char* name;
        const char* before;  // kalvo-devctl command first, or null
        uint32_t win32;      // the client's error (0: success)
        const char* status;  // the host's record
    };
    const Case cases[] = {
        {"served", nullptr, 0, "STATUS_SUCCESS(0x00000000)"},
        {"a stop queried with a handle open is refused and changes nothing", "query-stop", 0,
         "STATUS_SUCCESS(0x00000000)"},
        {"after surprise removal", "surprise", kalvo::platform::ERROR_ACCESS_DENIED,
         "STATUS_DELETE_PENDING(0xC0000056)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.before) devctl(std::string(c.before) + " " + board);
        StatusBlock status{};
        int result = requestStatus(device, &status);
        EXPECT_EQ(result == 0 ? 0u : lastError(), c.win32);
        auto rows = recordRows(board);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().control, "IOCTL_TOLVA_STATUS");
        EXPECT_EQ(rows.back().status, c.status);
        EXPECT_EQ(rows.back().how, "completed");
        EXPECT_EQ(rows.back().pid, uint32_t(getpid()));
        if (c.win32 != 0) {
            EXPECT_EQ(rows.back().bytes, 0u);
        }
    }
    closeBoardDevice(device);
    auto bad = devctl("requests pci-9999:00:00.0");
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.output.find("no device at pci-9999:00:00.0"), std::string::npos) << bad.output;
}

}  // namespace
