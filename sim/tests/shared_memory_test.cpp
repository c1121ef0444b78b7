// The physical memory as other processes and threads share it: a client
// process maps a view of the file (as the host asks it to) and sees the
// same bytes as the host's drivers; resets and mappings from many threads.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "sim/board_layout.h"
#include "sim/simulated_hardware.h"
#include "tests/support/child_process.h"

namespace kalvo::sim {
namespace {

using testing::spawnChild;

template <class T>
T load(const void* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
template <class T>
void store(void* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

// args: how to reach the file ("path" <path> or "fd" <number>), the file
// offset of the board's region, the memory window's offset in the region.
// Maps the whole 64 KiB region as a granular view would, checks the host's
// pattern and the board ID word, and answers through the chip memory.
KALVO_CHILD(map_region) {
    if (args.size() != 4) return 10;
    int fd = args[0] == "path" ? open(args[1].c_str(), O_RDWR) : std::stoi(args[1]);
    if (fd < 0) return 11;
    const off_t region = static_cast<off_t>(std::stoull(args[2]));
    const size_t window = std::stoul(args[3]);
    void* view = mmap(nullptr, kRegionSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, region);
    if (view == MAP_FAILED) return 12;
    auto* memory = static_cast<uint8_t*>(view) + window;
    if (load<uint16_t>(memory + kBoardIdOffset) != kUnnumberedBoardId) return 13;
    for (uint32_t i = 0; i < 0x200; ++i) {
        if (memory[0x200 + i] != static_cast<uint8_t>(i * 7)) return 14;
    }
    store<uint32_t>(memory + 0x44C, 0xC0DE0100);
    munmap(view, kRegionSize);
    close(fd);
    return 0;
}

class SharedPhysicalMemory : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        auto specs = parseBoardSet("tolva:id=2,kvmdrv:id=0x00FF", &error);
        ASSERT_TRUE(specs) << error;
        hw_ = SimulatedHardware::create(*specs, &error);
        ASSERT_TRUE(hw_) << error;
        // The driver fills the GM area of board 1 through its own mapping.
        auto* window = static_cast<uint8_t*>(hw_->mapIoSpace(hw_->memoryWindowAddress(1), 4096));
        ASSERT_NE(window, nullptr);
        for (uint32_t i = 0; i < 0x200; ++i) window[0x200 + i] = static_cast<uint8_t>(i * 7);
        window_ = window;
    }
    void TearDown() override {
        if (window_ != nullptr) hw_->unmapIoSpace(window_, 4096);
    }
    std::vector<std::string> regionArgs() const {
        const uint64_t offset = hw_->memoryWindowAddress(1) - hw_->physicalBase();
        const uint64_t region = offset & ~(kRegionSize - 1);
        return {std::to_string(region), std::to_string(offset - region)};
    }

    std::unique_ptr<SimulatedHardware> hw_;
    uint8_t* window_ = nullptr;
};

TEST_F(SharedPhysicalMemory, ProcessOpeningTheFileByPathSeesTheSameBytes) {
    std::string path =
        "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(hw_->physicalMemoryFd());
    auto region = regionArgs();
    auto child = spawnChild("map_region", {"path", path, region[0], region[1]});
    ASSERT_EQ(child.wait(), 0);
    EXPECT_EQ(load<uint32_t>(window_ + 0x44C), 0xC0DE0100u);
    EXPECT_EQ(load<uint32_t>(hw_->memoryWindow(0) + 0x44C), 0u);  // the other board untouched
}

TEST_F(SharedPhysicalMemory, ProcessGivenTheDescriptorSeesTheSameBytes) {
    // The host hands the descriptor over; across exec only a copy without
    // close-on-exec survives, as a passed descriptor would arrive.
    int passed = dup(hw_->physicalMemoryFd());
    ASSERT_GE(passed, 0);
    auto region = regionArgs();
    auto child = spawnChild("map_region", {"fd", std::to_string(passed), region[0], region[1]});
    int status = child.wait();
    close(passed);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(load<uint32_t>(window_ + 0x44C), 0xC0DE0100u);
}

TEST(SimulatedHardwareThreads, MappingsAndResetPulsesFromManyThreads) {
    std::string error;
    auto hw = SimulatedHardware::create(*parseBoardSet("tolva:count=2", nullptr), &error);
    ASSERT_TRUE(hw) << error;
    std::atomic<uint64_t> handled{0};
    std::atomic<bool> stop{false};

    std::vector<std::thread> threads;
    for (size_t board = 0; board < 2; ++board) {
        // Pulses the reset bit the way the reset request does.
        threads.emplace_back([&, board] {
            auto* control = static_cast<uint8_t*>(
                hw->mapIoSpace(hw->controlWindowAddress(board), kControlWindowLength));
            const uint64_t reg = hw->controlWindowAddress(board) + kControlRegister;
            auto* word = reinterpret_cast<uint32_t*>(control + kControlRegister);
            for (int i = 0; i < 200; ++i) {
                std::atomic_ref<uint32_t> r(*word);
                r.store(r.load() | kControlResetBit);
                hw->ioSpaceWritten(reg, 4);
                r.store(r.load() ^ kControlResetBit);
                hw->ioSpaceWritten(reg, 4);
            }
            hw->unmapIoSpace(control, kControlWindowLength);
        });
    }
    // Maps and unmaps the memory windows, as a stopping and starting driver would.
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                void* window = hw->mapIoSpace(hw->memoryWindowAddress(i % 2), 4096);
                ASSERT_NE(window, nullptr);
                EXPECT_EQ(load<uint16_t>(static_cast<uint8_t*>(window) + kBoardIdOffset), i % 2);
                hw->unmapIoSpace(window, 4096);
            }
            (void)t;
        });
    }
    // A chip model coming and going.
    threads.emplace_back([&] {
        while (!stop.load()) {
            hw->setResetHandler(0, [&](size_t) { handled.fetch_add(1); });
            hw->setResetHandler(0, nullptr);
            (void)hw->resetCount(0);
        }
    });
    for (size_t i = 0; i + 1 < threads.size(); ++i) threads[i].join();
    stop.store(true);
    threads.back().join();

    EXPECT_EQ(hw->resetCount(0), 200u);
    EXPECT_EQ(hw->resetCount(1), 200u);
    EXPECT_LE(handled.load(), 200u);
    EXPECT_EQ(hw->liveMappings(), 0u);
}

}  // namespace
}  // namespace kalvo::sim
