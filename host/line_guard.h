// The safe state of a line whose programs died.
//
// A board library stops its line when the last process that uses the board
// unloads it: the line's outputs are cleared, then the line is disconnected.
// A program that is killed never gets there, and its outputs would stay live
// on the line until the next program starts, minutes later perhaps. The guard
// sits between the device server and the kernel and counts the open handles
// of each device; when the last one goes because its process went without
// closing it, the guard does what the library's unload would have done,
// through the driver's own requests on a handle of the host's: the status
// request for the connected stations, a view of the board window to clear
// their output blocks, and the disconnect.
//
// A new open of the device waits while the guard works on it, so that the
// next program starts the line again as its first user.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/device_backend.h"

namespace kalvo::kernel::host {

// One line brought to its safe state.
struct SafeStateRecord {
    std::chrono::system_clock::time_point when;
    std::string device;      // the link the programs opened, e.g. "\\.\tolva0"
    uint32_t processId = 0;  // the last process that held it
    int32_t address = 0;     // the stations whose outputs were cleared
    int32_t size = 0;
    std::string result;  // what was done, or what failed
};

class LineGuard final : public DeviceBackend {
  public:
    // enabled false (--keep-lines-on-exit): the guard only counts.
    LineGuard(DeviceBackend& inner, bool enabled);

    NTSTATUS open(const OpenRequest& request, CallerProcess& caller, FileId* file) override;
    IoResult deviceControl(FileId file, uint32_t code, std::span<const uint8_t> input,
                           uint32_t outputLength, CallerProcess& caller) override;
    void cancelOpen(CallerProcess& caller) override { inner_.cancelOpen(caller); }
    void cancel(FileId file) override { inner_.cancel(file); }
    void close(FileId file) override;
    void clientGone(FileId file) override;

    bool enabled() const { return enabled_; }
    std::vector<SafeStateRecord> records() const;

    // The host shuts down: the guard's own opens that a stopped or sleeping
    // device holds are cancelled (their lines stay as they are, recorded as
    // not done), and no new one is made. Returns once none is left.
    void stop();

    // How long an open waits for the guard to finish with its device.
    static constexpr std::chrono::seconds kOpenWait{5};

  private:
    struct OpenFile {
        std::string key;   // the device, by its link in lower case
        std::string path;  // as the client gave it
        uint32_t processId = 0;
        bool gone = false;
    };
    struct Device {
        int users = 0;      // handles open or being opened
        bool busy = false;  // the guard works on it
    };

    void bringToSafeState(const OpenFile& last);

    // The guard's open, cancellable by stop().
    NTSTATUS openForGuard(const OpenRequest& request, CallerProcess& caller, FileId* file);

    DeviceBackend& inner_;
    const bool enabled_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    bool stopping_ = false;
    std::vector<CallerProcess*> opening_;  // the guard's opens under way
    std::condition_variable opened_;
    std::map<FileId, OpenFile> files_;
    std::map<std::string, Device> devices_;
    std::vector<SafeStateRecord> records_;
};

// The records as "kalvo-devctl handles" prints them, one line each.
std::string describeSafeState(const SafeStateRecord& record);

}  // namespace kalvo::kernel::host
