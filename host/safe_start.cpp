#include "host/safe_start.h"

#include <thread>

#include "driver/requests/chip_registers.h"
#include "driver/requests/request_blocks.h"
#include "driver/requests/request_codes.h"
#include "host/host_caller.h"
#include "host/record_time.h"
#include "platform/device.h"
#include "platform/status_names.h"

namespace kalvo::kernel::host {
namespace {

namespace rq = kalvo::requests;
using platform::NT_SUCCESS;

constexpr uint32_t kWindowSize = 4096;
constexpr int32_t kOutputStations = 32;
// A line cycles every millisecond or so: ten cycles carry the cleared
// blocks to every unit.
constexpr auto kCarryPause = std::chrono::milliseconds(10);
// The driver stops the chip at once; the chip shows it at its next cycle.
constexpr auto kStopWait = std::chrono::milliseconds(500);

template <class Block>
std::span<const uint8_t> bytesOf(const Block& block) {
    return {reinterpret_cast<const uint8_t*>(&block), sizeof block};
}

uint32_t commandRegister(const uint8_t* window) {
    return *reinterpret_cast<const volatile uint32_t*>(window + chipmap::kCommandRegister);
}

bool lineRuns(const uint8_t* window) {
    return (commandRegister(window) & (chipmap::kCommandStart | chipmap::kCommandRunning)) != 0;
}

SafeStartRecord makeSafe(DeviceBackend& backend, const std::string& path) {
    SafeStartRecord record;
    record.device = path;
    HostCaller caller;
    OpenRequest request;
    request.path = path;
    request.desiredAccess = platform::GENERIC_READ | platform::GENERIC_WRITE;
    request.shareMode = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;
    request.creationDisposition = platform::OPEN_EXISTING;
    FileId file = 0;
    const NTSTATUS opened = backend.open(request, caller, &file);
    if (!NT_SUCCESS(opened)) {
        record.result = "device not opened: " + platform::ntStatusText(opened);
        return record;
    }
    rq::MapRequestBlock64 map{};
    map.command = rq::MapCommand::Map;
    map.length = kWindowSize;
    IoResult answer =
        backend.deviceControl(file, rq::IOCTL_TOLVA_MAP_MEMORY, bytesOf(map), sizeof map, caller);
    auto mapped = rq::fromBytes<rq::MapRequestBlock64>(answer.output);
    auto* window = NT_SUCCESS(answer.status) && mapped && mapped->address != 0
                       ? reinterpret_cast<uint8_t*>(mapped->address)
                       : nullptr;
    const bool running = window && lineRuns(window);
    if (window) {
        clearOutputBlocks(window, 0, kOutputStations);
        if (running) std::this_thread::sleep_for(kCarryPause);
    }
    answer = backend.deviceControl(file, rq::IOCTL_TOLVA_DISCONNECT, {}, 0, caller);
    const bool stopped = NT_SUCCESS(answer.status);
    // Read the chip rather than wait a fixed time: it shows the line stopped.
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (stopped && running && lineRuns(window) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool stillRuns = window && lineRuns(window);
    if (window) {
        rq::MapRequestBlock64 unmap = *mapped;
        unmap.command = rq::MapCommand::Unmap;
        backend.deviceControl(file, rq::IOCTL_TOLVA_MAP_MEMORY, bytesOf(unmap), sizeof unmap,
                              caller);
    }
    backend.close(file);

    record.result =
        window ? "outputs of stations 0-31 cleared"
               : "outputs NOT cleared (no view: " + platform::ntStatusText(answer.status) + ")";
    if (!stopped)
        record.result += ", disconnect failed: " + platform::ntStatusText(answer.status);
    else if (stillRuns)
        record.result += ", the line still runs";
    else
        record.result += running ? ", line stopped (it was running)" : ", line stopped";
    record.when = std::chrono::system_clock::now();
    return record;
}

}  // namespace

std::vector<SafeStartRecord> makeLinesSafeAtStart(DeviceBackend& backend,
                                                  const std::vector<std::string>& links) {
    std::vector<SafeStartRecord> records;
    for (const std::string& link : links) {
        // "\??\Tolva0" is what a program opens as "\\.\Tolva0".
        if (link.rfind("\\??\\", 0) != 0) continue;
        records.push_back(makeSafe(backend, "\\\\.\\" + link.substr(4)));
    }
    return records;
}

std::string describeSafeStart(const SafeStartRecord& record) {
    return utcStamp(record.when) + "  " + record.device + "  host start: " + record.result;
}

}  // namespace kalvo::kernel::host
