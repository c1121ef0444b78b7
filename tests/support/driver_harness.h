// In-process harness for the board drivers: a kernel with simulated boards
// behind a recording bus, the driver module loaded by the kernel, the PnP
// steps a test asks for, and requests sent through the device backend as a
// client's would be.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"
#include "kernel/completion_record.h"
#include "kernel/device_backend.h"
#include "kernel/hardware_provider.h"
#include "platform/ntstatus.h"
#include "sim/simulated_hardware.h"
#include "tests/support/fake_caller.h"

namespace kalvo::drivertest {

using platform::NTSTATUS;
using Clock = std::chrono::steady_clock;

// One store to a board window, as the board sees it.
struct BusWrite {
    Clock::time_point when;
    uint64_t busAddress;
    unsigned width;
    uint32_t value;
};

// Delegates to the simulated boards and records every register store.
class RecordingHardware final : public kernel::HardwareProvider {
  public:
    explicit RecordingHardware(kernel::HardwareProvider& inner);
    ~RecordingHardware() override;
    std::vector<kernel::BoardDescription> boards() const override { return inner_.boards(); }
    std::vector<kernel::MemoryWindow> windows() const override { return inner_.windows(); }
    std::optional<kernel::MemoryWindow> windowAt(uint64_t busAddress) const override {
        return inner_.windowAt(busAddress);
    }
    void* mapIoSpace(uint64_t busAddress, size_t length) override;
    void unmapIoSpace(void* address, size_t length) override;
    void ioSpaceWritten(uint64_t busAddress, unsigned width) override;

    // The stores to one address (all widths), in order.
    std::vector<BusWrite> writesTo(uint64_t busAddress) const;
    std::vector<BusWrite> all() const;
    void clear();

    // Called after every recorded store, on the storing thread, as a chip
    // that reacts to a register write would be (empty: none).
    using WriteHook = std::function<void(const BusWrite&)>;
    void setWriteHook(WriteHook hook);

  private:
    kernel::HardwareProvider& inner_;
    mutable std::mutex mutex_;
    std::vector<BusWrite> writes_;
    WriteHook hook_;
};

struct ErrorLogRecord {
    NTSTATUS errorCode;
    std::vector<std::string> strings;
};

class DriverHarness {
  public:
    // boards: a board set text ("tolva", "tolva:count=2", ...); module: the
    // driver's base name ("Tolva", "Kvmdrv", "Cardmaster"). The kernel and
    // the driver are ready afterwards; no board has a device yet.
    explicit DriverHarness(const std::string& boards, const std::string& module = "Tolva");
    ~DriverHarness();

    bool loaded() const;
    // AddDevice and start for every board without a device; false when a
    // board ended in another state than started.
    bool addAndStartAll();
    // The PnP manager's state name of board i ("started", "start failed"...)
    // and the status of the last PnP request its stack answered.
    std::string pnpState(size_t board) const;
    NTSTATUS lastPnpStatus(size_t board) const;
    NTSTATUS start(size_t board);
    // A start with these resources instead of the board's own.
    NTSTATUS startWith(size_t board, const std::vector<kernel::ResourceDescriptor>& resources);
    // One PnP request as it is, outside the manager's order (a stop
    // without its query): PnpManager::sendRequest.
    NTSTATUS pnpRequest(size_t board, uint8_t minor);
    NTSTATUS stop(size_t board);  // query stop, then stop
    NTSTATUS queryStop(size_t board);
    NTSTATUS cancelStop(size_t board);
    NTSTATUS remove(size_t board);  // query remove, then remove
    NTSTATUS surpriseRemove(size_t board);
    // System power state S<n> for every started device (or one board), and
    // device power state D<n> for one; the device power state as its driver
    // last reported it ("D0".."D3").
    NTSTATUS systemPower(int s, std::optional<size_t> board = std::nullopt);
    NTSTATUS devicePower(size_t board, int d);
    std::string powerState(size_t board) const;
    // DriverUnload with the devices still there, as a host shutting down
    // without removing them would.
    void unloadDriver();
    // The next count work items of the kernel cannot be allocated.
    void refuseWorkItems(int count);

    // A symbolic link "\DosDevices\<name>" made by someone else.
    NTSTATUS createStaleLink(const std::u16string& name);
    // The names ("Tolva0", ...) of the boards' devices, in board order.
    std::vector<std::string> deviceNames() const;
    std::vector<ErrorLogRecord> errorLog() const;

    // Opens "\\.\<name>" as the board library does.
    // shareMode: FILE_SHARE_* bits; 0 asks for the device alone.
    NTSTATUS open(const std::string& path, kernel::FileId* file, uint32_t shareMode = 3);
    // The same from another calling process (a test's own FakeCaller).
    NTSTATUS openAs(kernel::CallerProcess& caller, const std::string& path, kernel::FileId* file);
    kernel::IoResult ioctlAs(kernel::CallerProcess& caller, kernel::FileId file, uint32_t code,
                             std::vector<uint8_t> input, uint32_t outputLength);
    // The I/O manager's side the harness sends through (for a layer on top
    // of it, such as the host's line guard).
    kernel::DeviceBackend& backend();
    // Cancels the open of the current caller that the driver holds.
    void cancelOpen();
    void close(kernel::FileId file);
    void cancel(kernel::FileId file);  // CancelIo
    kernel::IoResult ioctl(kernel::FileId file, uint32_t code, std::vector<uint8_t> input,
                           uint32_t outputLength);

    FakeCaller& caller32() { return *caller32_; }
    FakeCaller& caller64() { return *caller64_; }
    void useCaller(int wordSize) { wordSize_ = wordSize; }

    sim::SimulatedHardware& sim() { return *sim_; }
    RecordingHardware& bus() { return *bus_; }
    uint8_t* memoryWindow(size_t board) const;
    uint8_t* controlWindow(size_t board) const;
    uint64_t memoryWindowAddress(size_t board) const;

    // Single 32-bit accesses to the memory window, as the chip would make.
    uint32_t read32(size_t board, uint32_t offset) const;
    void write32(size_t board, uint32_t offset, uint32_t value);
    void writeControl32(size_t board, uint32_t offset, uint32_t value);
    uint32_t readControl32(size_t board, uint32_t offset) const;

    // Status block of the device behind file, or nothing on failure.
    std::optional<requests::StatusBlock> status(kernel::FileId file);
    NTSTATUS connect(kernel::FileId file, uint32_t code, const char* text, int32_t size);

  private:
    struct Impl;
    std::unique_ptr<sim::SimulatedHardware> sim_;
    std::unique_ptr<RecordingHardware> bus_;
    std::unique_ptr<FakeCaller> caller32_;
    std::unique_ptr<FakeCaller> caller64_;
    std::unique_ptr<Impl> impl_;  // the kernel: gone before the hardware
    int wordSize_ = 64;
};

// The host's completion record as tests read it: the sequence number of its
// newest row (0 when empty), and how many rows of a kind were written after
// `from`, by one process (pid 0: any) and of one major function (0xFF: any).
uint64_t lastCompletionSequence();
size_t completionRowsSince(uint64_t from, kernel::CompletionRow::Kind kind, uint32_t pid = 0,
                           UCHAR major = 0xFF);

// Polls cond every millisecond until it holds or the time is up.
template <class Cond>
bool waitFor(Cond cond, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

}  // namespace kalvo::drivertest
