// The simulated boards as the host's drivers see them through the provider.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "sim/board_layout.h"
#include "sim/simulated_hardware.h"

namespace kalvo::sim {
namespace {

using kernel::ResourceDescriptor;

std::unique_ptr<SimulatedHardware> makeHardware(std::string_view text) {
    std::string error;
    auto specs = parseBoardSet(text, &error);
    EXPECT_TRUE(specs) << error;
    auto hardware = SimulatedHardware::create(specs.value_or(std::vector<BoardSpec>{}), &error);
    EXPECT_TRUE(hardware) << error;
    return hardware;
}

std::vector<ResourceDescriptor> memoryRanges(const kernel::BoardDescription& board) {
    std::vector<ResourceDescriptor> ranges;
    for (const auto& r : board.resources) {
        if (r.type == ResourceDescriptor::Memory) ranges.push_back(r);
    }
    return ranges;
}

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

TEST(SimulatedHardware, EachBoardsWindowsLieUnalignedInsideARegionOfItsOwn) {
    auto hw = makeHardware("tolva:id=0,kvmdrv:id=1,cardmaster:id=0");
    ASSERT_TRUE(hw);
    auto boards = hw->boards();
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(hw->physicalSize(), 3 * kRegionSize);
    EXPECT_EQ(hw->physicalBase() % kRegionSize, 0u);

    std::set<uint64_t> regions;
    std::set<std::string> locations;
    for (size_t i = 0; i < boards.size(); ++i) {
        auto ranges = memoryRanges(boards[i]);
        ASSERT_EQ(ranges.size(), 2u);
        const auto& control = ranges[0];
        const auto& memory = ranges[1];
        EXPECT_GE(control.length, 0x80u);
        EXPECT_EQ(memory.length, 4096u);
        EXPECT_NE(control.start % kRegionSize, 0u);
        EXPECT_NE(memory.start % kRegionSize, 0u);
        // A 64 KiB-granular view of either window covers this board alone.
        const uint64_t region = memory.start & ~(kRegionSize - 1);
        EXPECT_EQ(control.start & ~(kRegionSize - 1), region);
        EXPECT_LE(memory.start + memory.length, region + kRegionSize);
        EXPECT_LE(control.start + control.length, region + kRegionSize);
        EXPECT_FALSE(control.start < memory.start + memory.length &&
                     memory.start < control.start + control.length);
        EXPECT_GE(region, hw->physicalBase());
        EXPECT_LE(region + kRegionSize, hw->physicalBase() + hw->physicalSize());
        EXPECT_TRUE(regions.insert(region).second);
        EXPECT_EQ(hw->boardAt(memory.start), i);
        EXPECT_EQ(hw->boardAt(control.start), i);

        EXPECT_TRUE(locations.insert(boards[i].location).second);
        EXPECT_EQ(boards[i].vendorId, kSimVendorId);
        EXPECT_EQ(boards[i].deviceId, simDeviceId(boards[i].kind));
    }
    EXPECT_EQ(boards[0].kind, "tolva");
    EXPECT_EQ(boards[1].kind, "kvmdrv");
    EXPECT_EQ(boards[2].kind, "cardmaster");
    EXPECT_FALSE(hw->boardAt(hw->physicalBase() + hw->physicalSize()));
    EXPECT_FALSE(hw->boardAt(hw->physicalBase() - 1));
}

TEST(SimulatedHardware, BoardIdWordIsVisibleAtItsOffsetInTheMemoryWindow) {
    auto hw = makeHardware("tolva:id=0x0001,tolva:id=0x00FF,tolva:id=0");
    ASSERT_TRUE(hw);
    const uint16_t expected[] = {0x0001, 0x00FF, 0x0000};
    for (size_t i = 0; i < 3; ++i) {
        auto* window = static_cast<uint8_t*>(hw->mapIoSpace(hw->memoryWindowAddress(i), 4096));
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(load<uint16_t>(window + kBoardIdOffset), expected[i]);
        hw->unmapIoSpace(window, 4096);
    }
    hw->setBoardId(2, 0x0003);
    auto* window = static_cast<uint8_t*>(hw->mapIoSpace(hw->memoryWindowAddress(2), 4096));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(load<uint16_t>(window + kBoardIdOffset), 0x0003);
    EXPECT_EQ(hw->boardId(2), 0x0003);
    hw->unmapIoSpace(window, 4096);
}

TEST(SimulatedHardware, IoSpaceMappingsShareTheBytesAndRefuseUnbackedRanges) {
    auto hw = makeHardware("tolva,tolva");
    ASSERT_TRUE(hw);
    // The control window does not start on a page: the mapping must still
    // point at its first byte.
    auto* control = static_cast<uint8_t*>(hw->mapIoSpace(hw->controlWindowAddress(1), 0x80));
    auto* memory = static_cast<uint8_t*>(hw->mapIoSpace(hw->memoryWindowAddress(1), 4096));
    auto* memoryAgain = static_cast<uint8_t*>(hw->mapIoSpace(hw->memoryWindowAddress(1), 4096));
    ASSERT_NE(control, nullptr);
    ASSERT_NE(memory, nullptr);
    ASSERT_NE(memoryAgain, nullptr);
    EXPECT_EQ(hw->liveMappings(), 3u);

    store<uint32_t>(control + 0x10, 0xA5A5A5A5);
    EXPECT_EQ(load<uint32_t>(hw->controlWindow(1) + 0x10), 0xA5A5A5A5u);
    store<uint32_t>(memory + 0x44C, 0x8000);
    EXPECT_EQ(load<uint32_t>(memoryAgain + 0x44C), 0x8000u);
    EXPECT_EQ(load<uint32_t>(hw->memoryWindow(1) + 0x44C), 0x8000u);
    EXPECT_EQ(load<uint32_t>(hw->memoryWindow(0) + 0x44C), 0u);  // the other board

    hw->unmapIoSpace(memoryAgain, 4096);
    hw->unmapIoSpace(memoryAgain, 4096);  // a second unmap does nothing
    hw->unmapIoSpace(memory + 4, 4096);   // not an address handed out
    hw->unmapIoSpace(nullptr, 4096);
    EXPECT_EQ(load<uint32_t>(memory + 0x44C), 0x8000u);  // still mapped
    EXPECT_EQ(hw->liveMappings(), 2u);
    hw->unmapIoSpace(memory, 4096);
    hw->unmapIoSpace(control, 0x80);
    EXPECT_EQ(hw->liveMappings(), 0u);

    const uint64_t end = hw->physicalBase() + hw->physicalSize();
    EXPECT_EQ(hw->mapIoSpace(hw->memoryWindowAddress(0), 0), nullptr);
    EXPECT_EQ(hw->mapIoSpace(hw->physicalBase() - 0x1000, 0x1000), nullptr);
    EXPECT_EQ(hw->mapIoSpace(end, 1), nullptr);
    EXPECT_EQ(hw->mapIoSpace(end - 4, 8), nullptr);
    EXPECT_EQ(hw->mapIoSpace(UINT64_MAX - 2, 16), nullptr);
    EXPECT_EQ(hw->mapIoSpace(hw->memoryWindowAddress(0), SIZE_MAX), nullptr);
    EXPECT_EQ(hw->liveMappings(), 0u);
}

TEST(SimulatedHardware, ResetBitClearsTheChipRegistersAndRunsTheHandler) {
    auto hw = makeHardware("tolva:id=2,tolva:id=3");
    ASSERT_TRUE(hw);
    std::vector<size_t> resets;
    hw->setResetHandler(0, [&](size_t board) { resets.push_back(board); });
    auto* control = static_cast<uint8_t*>(hw->mapIoSpace(hw->controlWindowAddress(0), 0x80));
    ASSERT_NE(control, nullptr);
    uint8_t* chip = hw->memoryWindow(0);
    const uint64_t reg = hw->controlWindowAddress(0) + kControlRegister;
    auto fillChip = [&] {
        store<uint32_t>(chip + 0x44C, 0x0200);
        store<uint32_t>(chip + 0x498, 0x02C5);
        store<uint32_t>(chip + 0x500, 0x1234);
        store<uint32_t>(hw->memoryWindow(1) + 0x44C, 0x0200);
    };
    fillChip();

    // Writes that leave bit 30 clear, or that miss the register, do nothing.
    store<uint32_t>(control + kControlRegister, 0x00000001);
    hw->ioSpaceWritten(reg, 4);
    store<uint32_t>(control + 0x54, kControlResetBit);
    hw->ioSpaceWritten(reg + 4, 4);
    EXPECT_TRUE(resets.empty());
    EXPECT_EQ(load<uint32_t>(chip + 0x44C), 0x0200u);

    // The driver's pulse: set bit 30, then write it back inverted.
    uint32_t value = load<uint32_t>(control + kControlRegister);
    store<uint32_t>(control + kControlRegister, value | kControlResetBit);
    hw->ioSpaceWritten(reg, 4);
    value = load<uint32_t>(control + kControlRegister);
    store<uint32_t>(control + kControlRegister, value ^ kControlResetBit);
    hw->ioSpaceWritten(reg, 4);

    ASSERT_EQ(resets, std::vector<size_t>{0});
    EXPECT_EQ(hw->resetCount(0), 1u);
    EXPECT_EQ(hw->resetCount(1), 0u);
    EXPECT_EQ(load<uint32_t>(chip + 0x44C), 0u);
    EXPECT_EQ(load<uint32_t>(chip + 0x498), 0u);
    EXPECT_EQ(load<uint32_t>(chip + 0x500), 0x1234u);  // mail buffers are memory, not registers
    EXPECT_EQ(hw->boardId(0), 2);                      // jumpers survive a reset
    EXPECT_EQ(load<uint32_t>(hw->memoryWindow(1) + 0x44C), 0x0200u);
    EXPECT_EQ(load<uint32_t>(control + kControlRegister) & kControlResetBit, 0u);

    // A 16-bit store into the register's upper half reaches bit 30 as well.
    fillChip();
    store<uint16_t>(control + kControlRegister + 2, kControlResetBit >> 16);
    hw->ioSpaceWritten(reg + 2, 2);
    EXPECT_EQ(resets.size(), 2u);
    EXPECT_EQ(load<uint32_t>(chip + 0x44C), 0u);

    hw->setResetHandler(0, nullptr);
    hw->resetChip(0);
    EXPECT_EQ(resets.size(), 2u);
    EXPECT_EQ(hw->resetCount(0), 3u);

    // Board indexes and addresses outside the machine are ignored.
    hw->resetChip(7);
    hw->setResetHandler(7, [](size_t) {});
    hw->setBoardId(7, 1);
    EXPECT_EQ(hw->boardId(7), 0);
    EXPECT_EQ(hw->resetCount(7), 0u);
    EXPECT_EQ(hw->memoryWindow(7), nullptr);
    hw->ioSpaceWritten(0, 4);
    hw->ioSpaceWritten(UINT64_MAX, 8);
    hw->unmapIoSpace(control, 0x80);
}

TEST(SimulatedHardware, FaultyBoardsReportOddResourcesOrRefuseMapping) {
    auto hw = makeHardware(
        "tolva:fault=one-memory-range,tolva:fault=extra-resources,"
        "tolva:fault=fail-control-map,tolva:fault=fail-memory-map");
    ASSERT_TRUE(hw);
    auto boards = hw->boards();
    ASSERT_EQ(boards.size(), 4u);

    ASSERT_EQ(boards[0].resources.size(), 1u);
    EXPECT_EQ(boards[0].resources[0].start, hw->controlWindowAddress(0));

    // Port before, interrupt between the two memory ranges, which keep their order.
    const auto& extra = boards[1].resources;
    ASSERT_EQ(extra.size(), 4u);
    EXPECT_EQ(extra[0].type, ResourceDescriptor::Port);
    EXPECT_EQ(extra[1].type, ResourceDescriptor::Memory);
    EXPECT_EQ(extra[1].start, hw->controlWindowAddress(1));
    EXPECT_EQ(extra[2].type, ResourceDescriptor::Interrupt);
    EXPECT_EQ(extra[3].type, ResourceDescriptor::Memory);
    EXPECT_EQ(extra[3].start, hw->memoryWindowAddress(1));

    EXPECT_EQ(memoryRanges(boards[2]).size(), 2u);
    EXPECT_EQ(hw->mapIoSpace(hw->controlWindowAddress(2), 0x80), nullptr);
    EXPECT_EQ(hw->mapIoSpace(hw->controlWindowAddress(2) + 0x50, 4), nullptr);
    void* memory2 = hw->mapIoSpace(hw->memoryWindowAddress(2), 4096);
    EXPECT_NE(memory2, nullptr);
    hw->unmapIoSpace(memory2, 4096);

    EXPECT_EQ(hw->mapIoSpace(hw->memoryWindowAddress(3), 4096), nullptr);
    EXPECT_EQ(hw->mapIoSpace(regionAddress(3), kRegionSize), nullptr);  // overlaps it
    void* control3 = hw->mapIoSpace(hw->controlWindowAddress(3), 0x80);
    EXPECT_NE(control3, nullptr);
    hw->unmapIoSpace(control3, 0x80);
    EXPECT_EQ(hw->liveMappings(), 0u);
}

TEST(SimulatedHardware, EmptyMachineAndUnknownKinds) {
    auto empty = makeHardware("");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->boards().empty());
    EXPECT_EQ(empty->physicalSize(), 0u);
    EXPECT_GE(empty->physicalMemoryFd(), 0);
    EXPECT_EQ(empty->mapIoSpace(empty->physicalBase(), 1), nullptr);
    empty->ioSpaceWritten(empty->physicalBase() + 0x1080 + 0x50, 4);

    std::string error;
    EXPECT_FALSE(SimulatedHardware::create({BoardSpec{"scanner", 0, {}}}, &error));
    EXPECT_NE(error.find("scanner"), std::string::npos);
    EXPECT_FALSE(SimulatedHardware::create(
        std::vector<BoardSpec>(kMaxBoards + 1, BoardSpec{"tolva", 0, {}}), nullptr));
}

}  // namespace
}  // namespace kalvo::sim
