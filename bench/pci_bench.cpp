// The PCI hardware provider's two costs, each against the bare system calls
// it is made of, on a sysfs tree of regular files (tests/support/fake_sysfs.h):
// - the periodic scan of a machine's PCI devices (40 devices, two of them
//   boards the drivers serve) against reading the same vendor and device
//   files in a plain loop;
// - MmMapIoSpace and MmUnmapIoSpace of a register page of the second board
//   (the window looked up by bus address, then mapped) against mmap and
//   munmap of the same page of the same file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/ratio_reporter.h"
#include "pci/pci_hardware.h"
#include "tests/support/fake_sysfs.h"

namespace {

namespace fs = std::filesystem;
using kalvo::testing::FakeSysfs;

constexpr uint16_t kVendor = 0x4b56;
constexpr uint16_t kDevice = 0x0001;
constexpr int kOtherDevices = 38;
constexpr uint64_t kWindow = 0x10000;

// The tree, built once for every benchmark of the run.
struct Machine {
    Machine() {
        char pattern[] = "/tmp/kalvo-pci-bench-XXXXXX";
        root = mkdtemp(pattern) ? pattern : "/tmp";
        sysfs = std::make_unique<FakeSysfs>(root);
        char address[16];
        for (int i = 0; i < kOtherDevices; ++i) {
            std::snprintf(address, sizeof address, "0000:00:%02x.0", i);
            sysfs->addDevice(address, 0x8086, uint16_t(0x1000 + i), {}, true);
        }
        for (int board = 0; board < 2; ++board) {
            std::snprintf(address, sizeof address, "0000:0%d:00.0", 3 + board);
            const uint64_t base = 0xF0000000ull + uint64_t(board) * 0x100000;
            sysfs->addDevice(address, kVendor, kDevice, {{base, 0x1000}, {base + kWindow, kWindow}},
                             true);
        }
        std::string error;
        hardware = kalvo::pci::PciHardware::create(
            root, [](const std::string&) {}, &error);
        if (hardware) hardware->setDrivers({{"tolva", "Tolva", kVendor, kDevice}});
        secondWindow = sysfs->barFile("0000:04:00.0", 1);
        registers = 0xF0100000ull + kWindow;
    }
    ~Machine() {
        hardware.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string root;
    std::unique_ptr<FakeSysfs> sysfs;
    std::unique_ptr<kalvo::pci::PciHardware> hardware;
    std::string secondWindow;
    uint64_t registers = 0;
};

Machine& machine() {
    static Machine m;
    return m;
}

bool readSmall(const fs::path& path, char* buffer, size_t size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = ::read(fd, buffer, size);
    ::close(fd);
    return n > 0;
}

void BM_PciRescan(benchmark::State& state) {
    Machine& m = machine();
    if (!m.hardware) {
        state.SkipWithError("no provider");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(m.hardware->rescan());
}
BENCHMARK(BM_PciRescan);

void BM_ReadIdFiles(benchmark::State& state) {
    Machine& m = machine();
    char buffer[32];
    for (auto _ : state) {
        int matches = 0;
        for (const auto& entry : fs::directory_iterator(m.sysfs->devices())) {
            if (!readSmall(entry.path() / "vendor", buffer, sizeof buffer)) continue;
            if (!readSmall(entry.path() / "device", buffer, sizeof buffer)) continue;
            matches += std::strtoul(buffer, nullptr, 16) == kDevice;
        }
        benchmark::DoNotOptimize(matches);
    }
}
BENCHMARK(BM_ReadIdFiles);

void BM_MapIoSpace(benchmark::State& state) {
    Machine& m = machine();
    if (!m.hardware) {
        state.SkipWithError("no provider");
        return;
    }
    for (auto _ : state) {
        void* view = m.hardware->mapIoSpace(m.registers, 0x1000);
        benchmark::DoNotOptimize(view);
        m.hardware->unmapIoSpace(view, 0x1000);
    }
}
BENCHMARK(BM_MapIoSpace);

void BM_BareMmap(benchmark::State& state) {
    Machine& m = machine();
    int fd = ::open(m.secondWindow.c_str(), O_RDWR | O_CLOEXEC);
    for (auto _ : state) {
        void* view = ::mmap(nullptr, 0x1000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        benchmark::DoNotOptimize(view);
        ::munmap(view, 0x1000);
    }
    ::close(fd);
}
BENCHMARK(BM_BareMmap);

}  // namespace

KALVO_RATIO("BM_PciRescan", "BM_ReadIdFiles", 0);
KALVO_RATIO("BM_MapIoSpace", "BM_BareMmap", 0);
