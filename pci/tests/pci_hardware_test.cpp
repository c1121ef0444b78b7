// The PCI hardware provider against a sysfs tree the test builds: boards
// found by their drivers' IDs, their resources, their windows mapped through
// the resource files, windows that cannot be mapped, and boards pulled and
// put back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "pci/pci_hardware.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/temp_dir.h"

namespace kalvo::pci {
namespace {

using kernel::ResourceDescriptor;
using testing::FakeSysfs;

constexpr uint16_t kVendor = 0x4b56;
constexpr uint16_t kTolvaDevice = 0x0001;
constexpr uint16_t kDualDevice = 0x0002;

const DriverMatch kTolva{"tolva", "Tolva", kVendor, kTolvaDevice};
const DriverMatch kDual{"kvmdrv", "Kvmdrv", kVendor, kDualDevice};

// The Tolva board's BARs: the control registers, an I/O range, the chip's
// memory window.
std::vector<FakeSysfs::Bar> tolvaBars(uint64_t base) {
    return {{base, 0x80, FakeSysfs::kMem},
            {0xe000, 0x20, FakeSysfs::kIo},
            {base + 0x1000, 0x1000, FakeSysfs::kMem}};
}

class PciHardwareTest : public ::testing::Test {
  protected:
    // The provider of the test's tree, or of another one; reports collected.
    std::unique_ptr<PciHardware> provider(const std::string& root = {}) {
        std::string error;
        auto hardware = PciHardware::create(
            root.empty() ? sysfs.root() : root,
            [this](const std::string& m) { reports.push_back(m); }, &error);
        EXPECT_TRUE(hardware) << error;
        return hardware;
    }
    std::string allReports() const {
        std::string text;
        for (auto& r : reports) text += r + "\n";
        return text;
    }
    std::vector<std::string> locations(const PciHardware& hardware) const {
        std::vector<std::string> out;
        for (auto& board : hardware.boards()) out.push_back(board.location + " " + board.kind);
        return out;
    }

    testing::TempDir dir;
    FakeSysfs sysfs{dir.file("sys")};
    std::vector<std::string> reports;
};

TEST_F(PciHardwareTest, FindsTheBoardsOfTheLoadedDriversByVendorAndDeviceId) {
    struct Row {
        const char* name;
        std::vector<DriverMatch> drivers;
        std::vector<std::string> found;
        const char* reported;  // part of a report, or null for none
    };
    sysfs.addDevice("0000:05:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    sysfs.addDevice("0000:04:00.0", kVendor, kDualDevice, tolvaBars(0xfc000000));
    sysfs.addDevice("0000:00:1f.0", 0x8086, kTolvaDevice, {});  // another maker's device
    const Row rows[] = {
        {"one driver, two boards in slot order",
         {kTolva},
         {"pci-0000:03:00.0 tolva", "pci-0000:05:00.0 tolva"},
         nullptr},
        {"two drivers",
         {kDual, kTolva},
         {"pci-0000:03:00.0 tolva", "pci-0000:04:00.0 kvmdrv", "pci-0000:05:00.0 tolva"},
         nullptr},
        {"a device ID no board has",
         {{"cardmaster", "Cardmaster", kVendor, 0x0003}},
         {},
         "no PCI device with vendor 0x4b56 and device 0x0003 (the VendorID and DeviceID of "
         "driver Cardmaster)"},
        {"the device ID of another maker's vendor",
         {{"tolva", "Tolva", 0x1234, kTolvaDevice}},
         {},
         "vendor 0x1234 and device 0x0001"},
        {"no driver", {}, {}, nullptr},
    };
    for (const Row& row : rows) {
        reports.clear();
        auto hardware = provider();
        ASSERT_TRUE(hardware);
        hardware->setDrivers(row.drivers);
        EXPECT_EQ(locations(*hardware), row.found) << row.name;
        if (row.reported) {
            EXPECT_NE(allReports().find(row.reported), std::string::npos)
                << row.name << ": " << allReports();
            EXPECT_NE(allReports().find(sysfs.devices()), std::string::npos) << allReports();
        } else {
            EXPECT_EQ(allReports(), "") << row.name;
        }
    }
}

TEST_F(PciHardwareTest, ReportsTheBarsAsTheDriverReadsThemAndEnablesTheBoard) {
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    auto hardware = provider();
    hardware->setDrivers({kTolva});
    auto boards = hardware->boards();
    ASSERT_EQ(boards.size(), 1u);
    EXPECT_EQ(boards[0].vendorId, kVendor);
    EXPECT_EQ(boards[0].deviceId, kTolvaDevice);
    // The driver takes the first memory range as its registers and the
    // second as the chip's window; the port range between them is skipped.
    const auto& r = boards[0].resources;
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].type, ResourceDescriptor::Memory);
    EXPECT_EQ(r[0].start, 0xfe000000u);
    EXPECT_EQ(r[0].length, 0x80u);
    EXPECT_EQ(r[1].type, ResourceDescriptor::Port);
    EXPECT_EQ(r[2].type, ResourceDescriptor::Memory);
    EXPECT_EQ(r[2].start, 0xfe001000u);
    EXPECT_EQ(r[2].length, 0x1000u);
    // A disabled device answers no memory cycles: the provider enables it.
    // (Written in place, as to the kernel's attribute: "1" over the "0".)
    EXPECT_EQ(sysfs.read(sysfs.folder("0000:03:00.0") + "/enable").substr(0, 1), "1");
    EXPECT_EQ(allReports(), "");
}

TEST_F(PciHardwareTest, MapsAWindowThroughItsResourceFileAndRefusesRangesOutsideIt) {
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    auto hardware = provider();
    hardware->setDrivers({kTolva});
    ASSERT_EQ(hardware->windows().size(), 2u);

    auto* memory = static_cast<volatile uint16_t*>(hardware->mapIoSpace(0xfe001200, 2));
    ASSERT_NE(memory, nullptr);
    *memory = 0x1234;
    EXPECT_EQ(sysfs.load<uint16_t>("0000:03:00.0", 2, 0x200), 0x1234);
    auto* control = static_cast<volatile uint32_t*>(hardware->mapIoSpace(0xfe000050, 4));
    ASSERT_NE(control, nullptr);
    *control = 0xCAFE;
    EXPECT_EQ(sysfs.load<uint32_t>("0000:03:00.0", 0, 0x50), 0xCAFEu);
    EXPECT_EQ(hardware->liveMappings(), 2u);
    hardware->unmapIoSpace(const_cast<uint16_t*>(memory), 2);
    hardware->unmapIoSpace(const_cast<uint32_t*>(control), 4);
    EXPECT_EQ(hardware->liveMappings(), 0u);

    struct Refused {
        const char* name;
        uint64_t bus;
        size_t length;
    };
    const Refused refused[] = {
        {"past the window's end", 0xfe001ff0, 0x20},
        {"across two windows", 0xfe000000, 0x2000},
        {"between the windows", 0xfe000800, 4},
        {"the port range", 0xe000, 4},
        {"no length", 0xfe001000, 0},
    };
    for (const Refused& row : refused)
        EXPECT_EQ(hardware->mapIoSpace(row.bus, row.length), nullptr) << row.name;
    EXPECT_EQ(hardware->liveMappings(), 0u);
}

TEST_F(PciHardwareTest, AWindowThatCannotBeMappedLeavesTheBoardWithoutItAndIsReported) {
    struct Row {
        const char* name;
        FakeSysfs::Bar bar;
        const char* reported;
    };
    const Row rows[] = {
        {"no resource file",
         {0xfe001000, 0x1000, FakeSysfs::kMem, UINT64_MAX, true},
         "cannot open SYS/resource2 (No such file or directory)"},
        {"file shorter than the BAR",
         {0xfe001000, 0x1000, FakeSysfs::kMem, 0x800},
         "SYS/resource2 holds 2048 bytes, less than its range (4096 bytes)"},
        {"a folder in its place",
         {0xfe001000, 0x1000, FakeSysfs::kMem, UINT64_MAX, false, true},
         "cannot open SYS/resource2 (Is a directory)"},
    };
    for (const Row& row : rows) {
        testing::TempDir tree;
        FakeSysfs faulty(tree.file("sys"));
        auto bars = tolvaBars(0xfe000000);
        bars[2] = row.bar;
        faulty.addDevice("0000:03:00.0", kVendor, kTolvaDevice, bars);
        faulty.addDevice("0000:04:00.0", kVendor, kTolvaDevice, tolvaBars(0xfd000000));
        reports.clear();
        auto hardware = provider(faulty.root());
        ASSERT_TRUE(hardware);
        hardware->setDrivers({kTolva});
        // Both boards are there with their resources; only the good one's
        // memory window can be mapped (the driver logs the other's start).
        ASSERT_EQ(hardware->boards().size(), 2u) << row.name;
        EXPECT_EQ(hardware->boards()[0].resources.size(), 3u) << row.name;
        EXPECT_FALSE(hardware->windowAt(0xfe001000)) << row.name;
        EXPECT_TRUE(hardware->windowAt(0xfe000000)) << row.name;
        EXPECT_TRUE(hardware->windowAt(0xfd001000)) << row.name;
        std::string expected = row.reported;
        expected.replace(expected.find("SYS"), 3, faulty.folder("0000:03:00.0"));
        EXPECT_NE(allReports().find("board pci-0000:03:00.0: " + expected), std::string::npos)
            << row.name << ": " << allReports();
        EXPECT_NE(allReports().find("will not start the board"), std::string::npos) << row.name;
        EXPECT_EQ(allReports().find("0000:04:00.0"), std::string::npos) << allReports();
    }
}

TEST_F(PciHardwareTest, ABoardPulledAndPutBackIsSeenAtTheNextRescan) {
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs.addDevice("0000:04:00.0", kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    auto hardware = provider();
    hardware->setDrivers({kTolva});
    ASSERT_EQ(hardware->boards().size(), 2u);
    EXPECT_FALSE(hardware->rescan());  // nothing changed

    // A window copy taken before the pull keeps its file open.
    auto window = hardware->windowAt(0xfe001000);
    ASSERT_TRUE(window);
    sysfs.unplug("0000:03:00.0");
    EXPECT_TRUE(hardware->rescan());
    EXPECT_EQ(locations(*hardware), std::vector<std::string>{"pci-0000:04:00.0 tolva"});
    EXPECT_FALSE(hardware->windowAt(0xfe001000));
    EXPECT_EQ(hardware->mapIoSpace(0xfe001000, 4), nullptr);
    uint16_t id = 0x55;
    EXPECT_EQ(pwrite(window->fd, &id, 2, 0x808), 2);

    sysfs.plug("0000:03:00.0");
    EXPECT_TRUE(hardware->rescan());
    EXPECT_EQ(locations(*hardware),
              (std::vector<std::string>{"pci-0000:03:00.0 tolva", "pci-0000:04:00.0 tolva"}));
    auto* memory = static_cast<volatile uint16_t*>(hardware->mapIoSpace(0xfe001808, 2));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(*memory, 0x55);
    hardware->unmapIoSpace(const_cast<uint16_t*>(memory), 2);
    EXPECT_EQ(allReports(), "");
}

// Another board put in a slot between two scans (or the same one removed
// and rescanned: new files) is a new board, read again with its own BARs,
// not the old record with the old board's addresses.
TEST_F(PciHardwareTest, ABoardReplacedBetweenTwoScansIsANewBoard) {
    const struct {
        const char* name;
        uint64_t base;
    } rows[] = {{"at other addresses", 0xfc000000}, {"at the same addresses", 0xfe000000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
        auto hardware = provider();
        hardware->setDrivers({kTolva});
        ASSERT_EQ(hardware->boards().size(), 1u);
        const std::string before = hardware->boards()[0].identity;

        sysfs.remove("0000:03:00.0");
        sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(row.base));
        EXPECT_TRUE(hardware->rescan());
        ASSERT_EQ(hardware->boards().size(), 1u);
        const auto board = hardware->boards()[0];
        EXPECT_NE(board.identity, before);
        EXPECT_EQ(board.resources[0].start, row.base);
        EXPECT_TRUE(hardware->windowAt(row.base + 0x1000));
        if (row.base != 0xfe000000) {
            EXPECT_FALSE(hardware->windowAt(0xfe001000));
        }
        EXPECT_FALSE(hardware->rescan());  // and nothing changes after
        sysfs.remove("0000:03:00.0");
    }
    EXPECT_EQ(allReports(), "");
}

// The resource files and "enable" are plain files of the kernel: one that
// is a symbolic link is neither mapped nor written through. A BAR that does
// not start on a page would be mapped with the bytes in front of it.
TEST_F(PciHardwareTest, SymlinksAndBarsOffAPageAreNotMappedOrWrittenAndAreReported) {
    const std::string outside = dir.file("outside");
    std::ofstream(outside) << "0\n";
    std::filesystem::resize_file(outside, 0x1000);
    const struct {
        const char* name;
        std::function<void(const std::string& folder)> change;
        uint64_t lostWindow;  // its bus address
        const char* reported;
    } rows[] = {
        {"a resource file that is a symlink",
         [&](const std::string& folder) {
             std::filesystem::remove(folder + "/resource2");
             std::filesystem::create_symlink(outside, folder + "/resource2");
         },
         0xfe001000, "cannot open SYS/resource2 (Too many levels of symbolic links)"},
        {"an enable file that is a symlink",
         [&](const std::string& folder) {
             std::filesystem::remove(folder + "/enable");
             std::filesystem::create_symlink(outside, folder + "/enable");
         },
         0, "cannot enable the device through SYS/enable (Too many levels of symbolic links)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::TempDir tree;
        FakeSysfs faulty(tree.file("sys"));
        faulty.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
        row.change(faulty.folder("0000:03:00.0"));
        reports.clear();
        auto hardware = provider(faulty.root());
        ASSERT_TRUE(hardware);
        hardware->setDrivers({kTolva});
        if (row.lostWindow) {
            EXPECT_FALSE(hardware->windowAt(row.lostWindow));
        }
        std::string expected = row.reported;
        expected.replace(expected.find("SYS"), 3, faulty.folder("0000:03:00.0"));
        EXPECT_NE(allReports().find(expected), std::string::npos) << allReports();
        EXPECT_EQ(faulty.read(outside).substr(0, 2), "0\n");  // written through: "1"
    }

    // BAR 0 of 0x80 bytes at 0xfe000080: the page from 0xfe000000 holds 128
    // bytes of something else first.
    auto bars = tolvaBars(0xfe000000);
    bars[0].start = 0xfe000080;
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, bars);
    reports.clear();
    auto hardware = provider();
    hardware->setDrivers({kTolva});
    EXPECT_FALSE(hardware->windowAt(0xfe000080));
    EXPECT_FALSE(hardware->windowAt(0xfe000000));
    EXPECT_TRUE(hardware->windowAt(0xfe001000));
    EXPECT_NE(allReports().find("board pci-0000:03:00.0: BAR 0 starts at 0xfe000080, not on a "
                                "page boundary"),
              std::string::npos)
        << allReports();
}

TEST_F(PciHardwareTest, ABoardWithABadResourceTableIsLeftOutAndToldOnce) {
    sysfs.addDevice("0000:03:00.0", kVendor, kTolvaDevice, tolvaBars(0xfe000000));
    sysfs.addDevice("0000:04:00.0", kVendor, kTolvaDevice, tolvaBars(0xfd000000));
    std::ofstream(sysfs.folder("0000:03:00.0") + "/resource") << "0xfe000000 0xfe00007f\n";
    auto hardware = provider();
    hardware->setDrivers({kTolva});
    EXPECT_EQ(locations(*hardware), std::vector<std::string>{"pci-0000:04:00.0 tolva"});
    // Every periodic scan looks again, but the problem is told once.
    EXPECT_FALSE(hardware->rescan());
    EXPECT_FALSE(hardware->rescan());
    ASSERT_EQ(reports.size(), 1u) << allReports();
    EXPECT_EQ(reports[0], "board pci-0000:03:00.0: " + sysfs.folder("0000:03:00.0") +
                              "/resource: line 1 is not three hexadecimal numbers (start, end, "
                              "flags); the board is left out. Is it a PCI device folder of this "
                              "machine?");
}

TEST_F(PciHardwareTest, AnUnreadableSysfsRootIsRefusedWithWhatToDo) {
    std::string error;
    auto hardware = PciHardware::create(dir.file("nothing"), {}, &error);
    EXPECT_FALSE(hardware);
    EXPECT_NE(error.find(dir.file("nothing") + "/bus/pci/devices cannot be read ("),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("--sysfs-root"), std::string::npos) << error;
}

}  // namespace
}  // namespace kalvo::pci
