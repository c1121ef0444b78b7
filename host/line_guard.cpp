#include "host/line_guard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"
#include "host/host_caller.h"
#include "host/record_time.h"
#include "platform/device.h"
#include "platform/status_names.h"

namespace kalvo::kernel::host {

namespace {

using platform::NT_SUCCESS;
using platform::STATUS_SUCCESS;
using platform::STATUS_UNSUCCESSFUL;

// The board window the library maps, and the pause it makes between clearing
// the outputs and the disconnect so that the chip carries the cleared blocks.
constexpr uint32_t kWindowSize = 4096;
// The newest records are kept for kalvo-devctl.
constexpr size_t kRecordsKept = 64;
constexpr auto kFinishPause = std::chrono::milliseconds(10);
// The driver's sequence takes a disconnect at its next step; the library
// leaves the chip this long after one before anything else is asked of it.
constexpr auto kStopSettle = std::chrono::milliseconds(100);

std::string deviceKey(const std::string& path) {
    std::string key;
    for (char c : path) key.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    return key;
}

template <class Block>
std::span<const uint8_t> bytesOf(const Block& block) {
    return {reinterpret_cast<const uint8_t*>(&block), sizeof block};
}

}  // namespace

LineGuard::LineGuard(DeviceBackend& inner, bool enabled) : inner_(inner), enabled_(enabled) {}

NTSTATUS LineGuard::open(const OpenRequest& request, CallerProcess& caller, FileId* file) {
    const std::string key = deviceKey(request.path);
    {
        std::unique_lock lock(mutex_);
        // The next program waits until the line it is about to start has been
        // stopped; a guard that cannot finish does not lock the device away.
        idle_.wait_for(lock, kOpenWait, [&] { return !devices_[key].busy; });
        ++devices_[key].users;
    }
    NTSTATUS status = inner_.open(request, caller, file);
    std::lock_guard lock(mutex_);
    if (NT_SUCCESS(status))
        files_[*file] = OpenFile{key, request.path, caller.processId(), false};
    else
        --devices_[key].users;
    return status;
}

IoResult LineGuard::deviceControl(FileId file, uint32_t code, std::span<const uint8_t> input,
                                  uint32_t outputLength, CallerProcess& caller) {
    return inner_.deviceControl(file, code, input, outputLength, caller);
}

void LineGuard::clientGone(FileId file) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(file);
    if (it != files_.end()) it->second.gone = true;
    inner_.clientGone(file);
}

void LineGuard::close(FileId file) {
    inner_.close(file);
    OpenFile last;
    {
        std::lock_guard lock(mutex_);
        auto it = files_.find(file);
        if (it == files_.end()) return;
        last = it->second;
        files_.erase(it);
        Device& device = devices_[last.key];
        --device.users;
        if (!enabled_ || !last.gone || device.users != 0) return;
        device.busy = true;
    }
    bringToSafeState(last);
    {
        std::lock_guard lock(mutex_);
        devices_[last.key].busy = false;
    }
    idle_.notify_all();
}

void LineGuard::bringToSafeState(const OpenFile& last) {
    namespace rq = kalvo::requests;
    SafeStateRecord record;
    record.device = last.path;
    record.processId = last.processId;

    HostCaller caller;
    OpenRequest request;
    request.path = last.path;
    request.desiredAccess = platform::GENERIC_READ | platform::GENERIC_WRITE;
    request.shareMode = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
    request.creationDisposition = platform::OPEN_EXISTING;
    FileId file = 0;
    NTSTATUS status = openForGuard(request, caller, &file);
    char text[160];
    if (!NT_SUCCESS(status)) {
        // A device being removed refuses the open: its board is gone with
        // its line, and the record says so.
        record.result = "device not opened: " + platform::ntStatusText(status);
    } else {
        IoResult answer =
            inner_.deviceControl(file, rq::IOCTL_TOLVA_STATUS, {}, sizeof(rq::StatusBlock), caller);
        auto line = rq::fromBytes<rq::StatusBlock>(answer.output);
        if (!NT_SUCCESS(answer.status) || !line) {
            record.result = "status request failed: " + platform::ntStatusText(answer.status);
        } else if (line->lineState == rq::LineState::Idle) {
            record.result.clear();  // the line was not connected: nothing to do
        } else {
            // The stations of the last connect, bounded as the library bounds
            // them (addresses 0..63, at least one).
            const int32_t address = line->address >= 0 && line->address <= 63 ? line->address : 63;
            const int32_t size = line->size <= 0 ? 1 : std::min(line->size, 64 - address);
            record.address = address;
            record.size = size;
            rq::MapRequestBlock64 map{};
            map.command = rq::MapCommand::Map;
            map.length = kWindowSize;
            answer = inner_.deviceControl(file, rq::IOCTL_TOLVA_MAP_MEMORY, bytesOf(map),
                                          sizeof map, caller);
            auto mapped = rq::fromBytes<rq::MapRequestBlock64>(answer.output);
            const bool cleared = NT_SUCCESS(answer.status) && mapped && mapped->address != 0;
            if (cleared) {
                clearOutputBlocks(reinterpret_cast<uint8_t*>(mapped->address), address, size);
                std::this_thread::sleep_for(kFinishPause);
                rq::MapRequestBlock64 unmap = *mapped;
                unmap.command = rq::MapCommand::Unmap;
                inner_.deviceControl(file, rq::IOCTL_TOLVA_MAP_MEMORY, bytesOf(unmap), sizeof unmap,
                                     caller);
            }
            answer = inner_.deviceControl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0, caller);
            if (NT_SUCCESS(answer.status)) std::this_thread::sleep_for(kStopSettle);
            if (NT_SUCCESS(answer.status))
                std::snprintf(text, sizeof text, "%s, line stopped",
                              cleared ? "outputs cleared" : "outputs NOT cleared (no view)");
            else
                std::snprintf(text, sizeof text, "%s, disconnect failed: %s",
                              cleared ? "outputs cleared" : "outputs NOT cleared (no view)",
                              platform::ntStatusText(answer.status).c_str());
            record.result = text;
        }
        inner_.close(file);
    }
    if (record.result.empty()) return;
    record.when = std::chrono::system_clock::now();
    std::lock_guard lock(mutex_);
    if (records_.size() == kRecordsKept) records_.erase(records_.begin());
    records_.push_back(std::move(record));
}

// A device that is stopped or on its way to low power holds the open until
// it returns, which may be never at shutdown: the open is known here so that
// stop() can cancel it.
NTSTATUS LineGuard::openForGuard(const OpenRequest& request, CallerProcess& caller, FileId* file) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return platform::STATUS_CANCELLED;
        opening_.push_back(&caller);
    }
    NTSTATUS status = inner_.open(request, caller, file);
    {
        std::lock_guard lock(mutex_);
        std::erase(opening_, &caller);
    }
    opened_.notify_all();
    return status;
}

void LineGuard::stop() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    // A cancel can come before the open is in the driver: it is repeated
    // until the open has returned.
    while (!opening_.empty()) {
        for (CallerProcess* caller : opening_) inner_.cancelOpen(*caller);
        opened_.wait_for(lock, std::chrono::milliseconds(10));
    }
}

std::vector<SafeStateRecord> LineGuard::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::string describeSafeState(const SafeStateRecord& record) {
    char line[256];
    std::snprintf(line, sizeof line, "%s  %s  last process %u gone: stations %d-%d: %s",
                  utcStamp(record.when).c_str(), record.device.c_str(), record.processId,
                  record.address, record.address + record.size - 1, record.result.c_str());
    return line;
}

}  // namespace kalvo::kernel::host
