// The three shared libraries against a real device host on simulated boards,
// loaded by bare name in real child processes: the instance scan, a board
// without a device, the finish at unload in the last process only, the
// identity calls, Cardmaster's board range, and two builds in one process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "kalvo/board_library.h"
#include "platform/module.h"
#include "platform/win_error.h"
#include "tests/support/child_process.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kalvo::platform::HANDLE;
using kalvo::platform::INVALID_HANDLE_VALUE;
using kalvo::testing::spawnChild;

#define CHILD_CHECK(condition)                                                             \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s failed (last error %u)\n", __FILE__, __LINE__, \
                         #condition, static_cast<unsigned>(kalvo::platform::lastError())); \
            return 1;                                                                      \
        }                                                                                  \
    } while (0)

// The calls a child binds from a library loaded by bare name.
struct Library {
    kalvo::platform::ModuleHandle module = nullptr;
    decltype(&KV_open) open = nullptr;
    decltype(&KV_close) close = nullptr;
    decltype(&KV_start) start = nullptr;
    decltype(&KV_GetReg16) getReg16 = nullptr;
    decltype(&KV_SetMemShort) setMemShort = nullptr;
    decltype(&KV_MailOpen) mailOpen = nullptr;
    decltype(&KV_MailWaitObject) mailWait = nullptr;

    bool load(const std::string& name) {
        module = kalvo::platform::loadLibrary(name.c_str());
        if (module == nullptr) return false;
        auto bind = [&](auto& fn, const char* symbol) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                kalvo::platform::getProcAddress(module, symbol));
            return fn != nullptr;
        };
        return bind(open, "KV_open") && bind(close, "KV_close") && bind(start, "KV_start") &&
               bind(getReg16, "KV_GetReg16") && bind(setMemShort, "KV_SetMemShort") &&
               bind(mailOpen, "KV_MailOpen") && bind(mailWait, "KV_MailWaitObject");
    }
    bool free() { return kalvo::platform::freeLibrary(module); }
};

void touch(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

bool waitForFile(const std::string& path) {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// library, board, expected code[, expected board ID word of the chosen
// instance]: KV_open, and the ID word read through the opened window.
KALVO_CHILD(open_board) {
    Library lib;
    CHILD_CHECK(lib.load(args.at(0)));
    const int32_t board = std::stoi(args.at(1));
    const int32_t code = lib.open(board);
    if (code != std::stoi(args.at(2))) std::fprintf(stderr, "KV_open gave %d\n", code);
    CHILD_CHECK(code == std::stoi(args.at(2)));
    if (args.size() > 3) {
        uint16_t id = 0;
        CHILD_CHECK(lib.getReg16(board, 0, 0x808, &id) == 0);
        CHILD_CHECK(id == std::stoul(args.at(3), nullptr, 0));
    } else if (code != 0) {
        uint16_t id = 0;
        // Out of the build's range stays 3; a board that failed to open is
        // not open.
        const int32_t expected = code == KV_ERR_ARGUMENT ? KV_ERR_ARGUMENT : KV_ERR_NOT_OPEN;
        CHILD_CHECK(lib.getReg16(board, 0, 0x808, &id) == expected);
    }
    CHILD_CHECK(lib.free());
    return 0;
}

// library, ready file, stop file: board 0 open and its line started at
// stations 2 to 4 with the pattern in their output blocks, then unloaded
// once the stop file appears (or at once when it is "-").
KALVO_CHILD(start_and_unload) {
    Library lib;
    CHILD_CHECK(lib.load(args.at(0)));
    CHILD_CHECK(lib.open(0) == 0);
    CHILD_CHECK(lib.start(0, 0, 2, 3, 0) == 0);
    uint16_t pattern[12];
    for (auto& w : pattern) w = 0xABCD;
    CHILD_CHECK(lib.setMemShort(0, 0, pattern, 2, 0, 12) == 0);
    touch(args.at(1));
    if (args.at(2) != "-") CHILD_CHECK(waitForFile(args.at(2)));
    CHILD_CHECK(lib.free());
    return 0;
}

// library, ready file, stop file: holds board 0 open until the stop file.
KALVO_CHILD(hold_board) {
    Library lib;
    CHILD_CHECK(lib.load(args.at(0)));
    CHILD_CHECK(lib.open(0) == 0);
    touch(args.at(1));
    CHILD_CHECK(waitForFile(args.at(2)));
    CHILD_CHECK(lib.free());
    return 0;
}

KALVO_CHILD(identity) {
    struct Expected {
        const char *library, *board, *dll;
    } builds[] = {{"Pcimaster64", "PCI-Kalvo-MST-01", "Pcimaster64.dll"},
                  {"Dualmaster", "PCI-DLM-02", "Dualmaster.dll"},
                  {"Cardmaster", "PCC-Kalvo-MST", "Cardmaster.dll"}};
    for (const Expected& e : builds) {
        auto module = kalvo::platform::loadLibrary(e.library);
        CHILD_CHECK(module != nullptr);
        auto name = reinterpret_cast<void (*)(char*)>(
            kalvo::platform::getProcAddress(module, "KV_boardname"));
        auto dll = reinterpret_cast<void (*)(char*)>(
            kalvo::platform::getProcAddress(module, "KV_dllname"));
        auto version = reinterpret_cast<void (*)(char*)>(
            kalvo::platform::getProcAddress(module, "KV_version"));
        auto maxline =
            reinterpret_cast<int32_t (*)()>(kalvo::platform::getProcAddress(module, "KV_maxline"));
        CHILD_CHECK(name && dll && version && maxline);
        char text[32];
        name(text);
        CHILD_CHECK(std::strcmp(text, e.board) == 0);
        dll(text);
        CHILD_CHECK(std::strcmp(text, e.dll) == 0);
        version(text);
        CHILD_CHECK(std::strcmp(text, "1.3.0.0") == 0);
        CHILD_CHECK(maxline() == 1);
        CHILD_CHECK(kalvo::platform::freeLibrary(module));
    }
    return 0;
}

// Pcimaster64 and Dualmaster in one process: two board tables, two log
// slot maps, and the same five mail events for board 0 line 0.
KALVO_CHILD(two_builds) {
    Library pci, dual;
    CHILD_CHECK(pci.load("Pcimaster64"));
    CHILD_CHECK(dual.load("Dualmaster"));
    CHILD_CHECK(pci.open(0) == 0);
    CHILD_CHECK(dual.open(0) == 0);
    uint16_t id = 0;
    CHILD_CHECK(dual.getReg16(0, 0, 0x808, &id) == 0 && id == 0x0000);
    CHILD_CHECK(pci.getReg16(0, 0, 0x808, &id) == 0 && id == 0x0000);

    // A waiter in Dualmaster wakes when Pcimaster64 closes its board 0: the
    // close event's name carries no library prefix.
    CHILD_CHECK(dual.mailOpen(0, 0) == 0);
    int32_t waited = 0;
    std::thread waiter([&] {
        uint16_t status = 0;
        waited = dual.mailWait(0, 0, &status);
    });
    std::this_thread::sleep_for(100ms);
    CHILD_CHECK(pci.close(0) == 0);
    waiter.join();
    CHILD_CHECK(waited == KV_MAIL_CLOSED);
    CHILD_CHECK(pci.getReg16(0, 0, 0x808, &id) == KV_ERR_NOT_OPEN);
    CHILD_CHECK(dual.getReg16(0, 0, 0x808, &id) == 0);  // its own table still holds board 0
    CHILD_CHECK(dual.close(0) == 0);
    CHILD_CHECK(pci.free());
    CHILD_CHECK(dual.free());
    return 0;
}

class BoardE2E : public ::testing::Test {
  protected:
    // Children find the libraries by bare name on the loader's search path,
    // as an installed application does.
    void SetUp() override { setenv("LD_LIBRARY_PATH", KALVO_BOARDLIB_DIR, 1); }
    void startHost(const std::string& boards) {
        std::string why;
        ASSERT_TRUE(
            host_.start(env_.work().file("devices"), env_.work().file("devhost.log"), boards, &why))
            << why;
    }
    // A word of board tolva<instance>'s window, seen from this process.
    uint32_t boardWord(const char* path, uint32_t offset, bool wide = false) {
        HANDLE device = kalvo::boardlib::openBoardDevice(path, 64);
        EXPECT_NE(device, INVALID_HANDLE_VALUE);
        kalvo::requests::MapRequestBlock64 block{0, 0, 0, 4096, 0};
        EXPECT_EQ(kalvo::boardlib::requestMapMemory(device, &block), 0);
        auto* base = reinterpret_cast<volatile uint8_t*>(block.address);
        uint32_t value = wide ? *reinterpret_cast<volatile uint32_t*>(base + offset)
                              : *reinterpret_cast<volatile uint16_t*>(base + offset);
        block.command = -1;
        kalvo::boardlib::requestMapMemory(device, &block);
        kalvo::boardlib::closeBoardDevice(device);
        return value;
    }
    int32_t lineState(const char* path) {
        HANDLE device = kalvo::boardlib::openBoardDevice(path, 64);
        kalvo::requests::StatusBlock status{};
        EXPECT_EQ(kalvo::boardlib::requestStatus(device, &status), 0);
        kalvo::boardlib::closeBoardDevice(device);
        return status.lineState;
    }
    bool outputBlocksHold(const char* path, uint16_t value) {
        for (uint32_t offset = 0x200 + 16; offset < 0x200 + 40; offset += 2)
            if (boardWord(path, offset) != value) return false;
        return true;
    }

    kalvo::testing::IsolatedEnvironment env_;
    kalvo::drivertest::PrivateHost host_;
};

TEST_F(BoardE2E, TheScanChoosesInstancesByBoardIdWord) {
    startHost("kvmdrv:id=0x0001,kvmdrv:id=0x00FF,kvmdrv:id=0x0000");
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "1", "0", "0x0001"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "2", "0", "0x00FF"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "0", "0", "0x0000"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "3", "4"}).wait(), 0);
}

TEST_F(BoardE2E, NoInstanceGivesFourAndTheBoardStaysClosed) {
    startHost("tolva:id=0");
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "0", "4"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Cardmaster", "0", "4"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Pcimaster64", "0", "0", "0"}).wait(), 0);
}

TEST_F(BoardE2E, CardmasterOpensItsInstanceByNumberWithoutAScan) {
    startHost("cardmaster:id=0x00FF,cardmaster:id=0x00FF");
    EXPECT_EQ(spawnChild("open_board", {"Cardmaster", "2", "3"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Cardmaster", "1", "0", "0x00FF"}).wait(), 0);
    EXPECT_EQ(spawnChild("open_board", {"Dualmaster", "1", "4"}).wait(), 0);
}

TEST_F(BoardE2E, UnloadInTheOnlyProcessResetsAndStopsTheLine) {
    startHost("tolva:id=0");
    const char* tolva0 = "\\\\.\\tolva0";
    auto child = spawnChild("start_and_unload",
                            {"Pcimaster64", env_.work().file("ready"), env_.work().file("stop")});
    ASSERT_TRUE(waitForFile(env_.work().file("ready")));
    EXPECT_NE(lineState(tolva0), 0);
    EXPECT_TRUE(outputBlocksHold(tolva0, 0xABCD));
    touch(env_.work().file("stop"));
    ASSERT_EQ(child.wait(), 0);
    EXPECT_EQ(lineState(tolva0), 0);
    EXPECT_TRUE(outputBlocksHold(tolva0, 0));
}

TEST_F(BoardE2E, UnloadWithASecondProcessOnlyCloses) {
    startHost("tolva:id=0");
    const char* tolva0 = "\\\\.\\tolva0";
    auto holder = spawnChild(
        "hold_board", {"Pcimaster64", env_.work().file("held"), env_.work().file("release")});
    ASSERT_TRUE(waitForFile(env_.work().file("held")));
    auto child = spawnChild("start_and_unload", {"Pcimaster64", env_.work().file("ready"), "-"});
    ASSERT_EQ(child.wait(), 0);
    EXPECT_NE(lineState(tolva0), 0);
    EXPECT_TRUE(outputBlocksHold(tolva0, 0xABCD));
    touch(env_.work().file("release"));
    EXPECT_EQ(holder.wait(), 0);
}

TEST_F(BoardE2E, IdentityCallsWithoutABoard) {
    EXPECT_EQ(spawnChild("identity").wait(), 0);
}

TEST_F(BoardE2E, TwoBuildsInOneProcess) {
    startHost("tolva:id=0,kvmdrv:id=0");
    const std::string ini = "[LOG]\r\nLOGLEVEL=10007H\r\n";
    env_.work().write("Pcimaster64Log.ini", ini);
    env_.work().write("DualmasterLog.ini", ini);
    EXPECT_EQ(spawnChild("two_builds").wait(), 0);
    const std::string pci = env_.work().read("Pcimaster64Log_0000.log");
    const std::string dual = env_.work().read("DualmasterLog_0000.log");
    EXPECT_NE(pci.find("Pcimaster64.dll Service Start"), std::string::npos);
    EXPECT_NE(pci.find("Kalvo1Brd00_StaSem"), std::string::npos);
    EXPECT_NE(dual.find("Dualmaster.dll Service Stop"), std::string::npos);
    EXPECT_NE(dual.find("KVMBrd00_StaSem"), std::string::npos);
    EXPECT_EQ(dual.find("Kalvo1Brd"), std::string::npos);
}

}  // namespace
