// A sysfs tree of the test's own for the PCI hardware provider: device
// folders under "<root>/bus/pci/devices" with the attribute files the
// provider reads ("vendor", "device", "resource", "enable") and regular
// files standing in for "resource0".."resource5", sized to their BARs. A
// board is pulled by moving its folder out of the devices folder and put
// back by moving it in again, as the kernel's remove and rescan make the
// folder go and come.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kalvo::testing {

class FakeSysfs {
  public:
    static constexpr uint64_t kMem = 0x40200;  // IORESOURCE_MEM | IORESOURCE_SIZEALIGN
    static constexpr uint64_t kIo = 0x40101;   // IORESOURCE_IO | IORESOURCE_SIZEALIGN

    // One BAR. fileLength: the bytes of its resourceN file (the BAR's
    // length by default); noFile: no such file at all.
    struct Bar {
        uint64_t start = 0;
        uint64_t length = 0;  // 0: an unused BAR (an all-zero line)
        uint64_t flags = kMem;
        uint64_t fileLength = UINT64_MAX;
        bool noFile = false;
        bool directory = false;  // a folder where the file should be
    };

    explicit FakeSysfs(std::string root) : root_(std::move(root)) {
        std::filesystem::create_directories(devices());
        std::filesystem::create_directories(root_ + "/unplugged");
    }

    const std::string& root() const { return root_; }
    std::string devices() const { return root_ + "/bus/pci/devices"; }
    std::string folder(const std::string& address) const { return devices() + "/" + address; }
    // A BAR's backing file.
    std::string barFile(const std::string& address, size_t bar) const {
        return folder(address) + "/resource" + std::to_string(bar);
    }

    void addDevice(const std::string& address, uint16_t vendor, uint16_t device,
                   const std::vector<Bar>& bars, bool enabled = false) const {
        const std::string dir = folder(address);
        std::filesystem::create_directories(dir);
        write(dir + "/vendor", hex(vendor, 4) + "\n");
        write(dir + "/device", hex(device, 4) + "\n");
        write(dir + "/enable", enabled ? "1\n" : "0\n");
        std::string table;
        for (size_t i = 0; i < 13; ++i) {
            const Bar bar = i < bars.size() ? bars[i] : Bar{};
            if (bar.length == 0) {
                table += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
                continue;
            }
            table += hex(bar.start, 16) + " " + hex(bar.start + bar.length - 1, 16) + " " +
                     hex(bar.flags, 16) + "\n";
            if (i >= 6 || bar.noFile) continue;
            const std::string file = barFile(address, i);
            if (bar.directory) {
                std::filesystem::create_directories(file);
                continue;
            }
            write(file, "");
            std::filesystem::resize_file(
                file, bar.fileLength == UINT64_MAX ? bar.length : bar.fileLength);
        }
        write(dir + "/resource", table);
    }

    // The kernel's remove of the device, and its return at a bus rescan.
    void unplug(const std::string& address) const {
        std::filesystem::rename(folder(address), root_ + "/unplugged/" + address);
    }
    void plug(const std::string& address) const {
        std::filesystem::rename(root_ + "/unplugged/" + address, folder(address));
    }
    // The device's folder gone for good (a board that comes back, or another
    // one in its slot, is added anew: new files, as the kernel makes them).
    void remove(const std::string& address) const { std::filesystem::remove_all(folder(address)); }

    std::string read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Bytes of a BAR's backing file, as the board's memory holds them.
    template <typename T>
    T load(const std::string& address, size_t bar, uint64_t offset) const {
        T value{};
        std::ifstream in(barFile(address, bar), std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(reinterpret_cast<char*>(&value), sizeof value);
        return value;
    }

    static std::string hex(uint64_t value, int digits) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, value);
        return text;
    }

  private:
    static void write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    std::string root_;
};

}  // namespace kalvo::testing
