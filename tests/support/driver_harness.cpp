#include "tests/support/driver_harness.h"

#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "kernel/error_log.h"
#include "kernel/kernel.h"
#include "kernel/object_namespace.h"
#include "kernel/pnp_manager.h"
#include "kernel/wdm_device_backend.h"
#include "kernel/work_queue.h"
#include "sim/board_set.h"
#include "sim/simulated_hardware.h"

namespace kalvo::drivertest {

// ---- recording bus ---------------------------------------------------------------

RecordingHardware::RecordingHardware(kernel::HardwareProvider& inner) : inner_(inner) {}

RecordingHardware::~RecordingHardware() = default;

void* RecordingHardware::mapIoSpace(uint64_t busAddress, size_t length) {
    return inner_.mapIoSpace(busAddress, length);
}

void RecordingHardware::unmapIoSpace(void* address, size_t length) {
    inner_.unmapIoSpace(address, length);
}

void RecordingHardware::ioSpaceWritten(uint64_t busAddress, unsigned width) {
    // The value stored, read back from the window's file.
    uint32_t value = 0;
    if (auto window = inner_.windowAt(busAddress);
        window && window->holds(busAddress, width) && width <= sizeof value) {
        uint8_t bytes[4] = {};
        if (pread(window->fd, bytes, width,
                  static_cast<off_t>(window->fdOffset + (busAddress - window->busStart))) ==
            ssize_t(width)) {
            if (width == 1) value = bytes[0];
            if (width == 2) value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8;
            if (width == 4) std::memcpy(&value, bytes, 4);
        }
    }
    BusWrite write{Clock::now(), busAddress, width, value};
    WriteHook hook;
    {
        std::lock_guard lock(mutex_);
        writes_.push_back(write);
        hook = hook_;
    }
    inner_.ioSpaceWritten(busAddress, width);
    if (hook) hook(write);
}

void RecordingHardware::setWriteHook(WriteHook hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::vector<BusWrite> RecordingHardware::writesTo(uint64_t busAddress) const {
    std::lock_guard lock(mutex_);
    std::vector<BusWrite> out;
    for (const BusWrite& w : writes_)
        if (w.busAddress == busAddress) out.push_back(w);
    return out;
}

std::vector<BusWrite> RecordingHardware::all() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void RecordingHardware::clear() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

// ---- harness ------------------------------------------------------------------------

struct DriverHarness::Impl {
    explicit Impl(RecordingHardware& bus)
        : kernel(kernel::KernelOptions{&bus, {}, {}}), pnp(kernel), backend(kernel) {}
    ~Impl() {
        backend.closeAll();
        pnp.shutdown();
    }
    kernel::Kernel kernel;
    kernel::PnpManager pnp;
    kernel::WdmDeviceBackend backend;
    PDRIVER_OBJECT driver = nullptr;
    std::vector<std::string> locations;

    std::optional<kernel::DeviceInfo> info(size_t board) const {
        if (board >= locations.size()) return std::nullopt;
        for (auto& d : pnp.devices())
            if (d.location == locations[board]) return d;
        return std::nullopt;
    }
};

DriverHarness::DriverHarness(const std::string& boards, const std::string& module) {
    std::string error;
    auto specs = sim::parseBoardSet(boards, &error);
    if (!specs) throw std::runtime_error("bad board set: " + error);
    sim_ = sim::SimulatedHardware::create(*specs, &error);
    if (!sim_) throw std::runtime_error("no simulated hardware: " + error);
    bus_ = std::make_unique<RecordingHardware>(*sim_);
    caller32_ = std::make_unique<FakeCaller>(32);
    caller64_ = std::make_unique<FakeCaller>(64);
    impl_ = std::make_unique<Impl>(*bus_);
    for (auto& b : sim_->boards()) impl_->locations.push_back(b.location);

    std::string kind = module == "Kvmdrv"       ? "kvmdrv"
                       : module == "Cardmaster" ? "cardmaster"
                                                : "tolva";
    NTSTATUS status = 0;
    impl_->driver = impl_->kernel.loadDriver(std::string(KALVO_DRIVER_DIR) + "/" + module + ".sys",
                                             module, &status);
    if (impl_->driver) impl_->pnp.addDriver(impl_->driver, kind);
}

DriverHarness::~DriverHarness() {
    impl_.reset();
}

bool DriverHarness::loaded() const {
    return impl_->driver != nullptr;
}

bool DriverHarness::addAndStartAll() {
    impl_->pnp.enumerate();
    for (size_t i = 0; i < impl_->locations.size(); ++i)
        if (pnpState(i) != "started") return false;
    return true;
}

std::string DriverHarness::pnpState(size_t board) const {
    auto d = impl_->info(board);
    return d ? kernel::pnpStateName(d->state) : "none";
}

NTSTATUS DriverHarness::lastPnpStatus(size_t board) const {
    auto d = impl_->info(board);
    return d ? d->lastStatus : platform::STATUS_NO_SUCH_DEVICE;
}

NTSTATUS DriverHarness::start(size_t board) {
    return impl_->pnp.start(impl_->locations.at(board));
}
NTSTATUS DriverHarness::startWith(size_t board,
                                  const std::vector<kernel::ResourceDescriptor>& resources) {
    return impl_->pnp.start(impl_->locations.at(board), resources);
}
NTSTATUS DriverHarness::pnpRequest(size_t board, uint8_t minor) {
    return impl_->pnp.sendRequest(impl_->locations.at(board), minor);
}
NTSTATUS DriverHarness::queryStop(size_t board) {
    return impl_->pnp.queryStop(impl_->locations.at(board));
}
NTSTATUS DriverHarness::cancelStop(size_t board) {
    return impl_->pnp.cancelStop(impl_->locations.at(board));
}
NTSTATUS DriverHarness::stop(size_t board) {
    return impl_->pnp.stop(impl_->locations.at(board));
}
NTSTATUS DriverHarness::remove(size_t board) {
    return impl_->pnp.remove(impl_->locations.at(board));
}

NTSTATUS DriverHarness::createStaleLink(const std::u16string& name) {
    return impl_->kernel.names().createLink(u"\\DosDevices\\" + name, u"\\Device\\Elsewhere");
}

NTSTATUS DriverHarness::surpriseRemove(size_t board) {
    return impl_->pnp.surpriseRemove(impl_->locations.at(board));
}

NTSTATUS DriverHarness::systemPower(int s, std::optional<size_t> board) {
    return impl_->pnp.setSystemPower(SYSTEM_POWER_STATE(PowerSystemWorking + s),
                                     board ? impl_->locations.at(*board) : std::string());
}

NTSTATUS DriverHarness::devicePower(size_t board, int d) {
    return impl_->pnp.setDevicePower(impl_->locations.at(board),
                                     DEVICE_POWER_STATE(PowerDeviceD0 + d));
}

std::string DriverHarness::powerState(size_t board) const {
    auto d = impl_->info(board);
    return d ? kernel::devicePowerName(d->devicePower) : "none";
}

void DriverHarness::cancelOpen() {
    impl_->backend.cancelOpen(wordSize_ == 32 ? *caller32_ : *caller64_);
}

void DriverHarness::cancel(kernel::FileId file) {
    impl_->backend.cancel(file);
}

void DriverHarness::unloadDriver() {
    if (!impl_->driver) return;
    impl_->kernel.unloadDriver(impl_->driver);
    impl_->driver = nullptr;
}

void DriverHarness::refuseWorkItems(int count) {
    impl_->kernel.work().refuseItems(count);
}

std::vector<std::string> DriverHarness::deviceNames() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < impl_->locations.size(); ++i) {
        auto d = impl_->info(i);
        if (!d || d->deviceName.empty()) continue;
        if (d->state == kernel::PnpState::Removed || d->state == kernel::PnpState::AddDeviceFailed)
            continue;
        std::string n = d->deviceName;
        const std::string prefix = "\\Device\\";
        if (n.rfind(prefix, 0) == 0) n = n.substr(prefix.size());
        names.push_back(n);
    }
    return names;
}

std::vector<ErrorLogRecord> DriverHarness::errorLog() const {
    std::vector<ErrorLogRecord> out;
    for (auto& e : impl_->kernel.errorLog().entries()) out.push_back({e.errorCode, e.strings});
    return out;
}

namespace {

kernel::OpenRequest openRequest(const std::string& path, uint32_t shareMode) {
    kernel::OpenRequest request;
    request.path = path;
    request.desiredAccess = 0xC0000000u;  // GENERIC_READ | GENERIC_WRITE
    request.shareMode = shareMode;
    request.creationDisposition = 3;  // OPEN_EXISTING
    return request;
}

}  // namespace

NTSTATUS DriverHarness::open(const std::string& path, kernel::FileId* file, uint32_t shareMode) {
    return impl_->backend.open(openRequest(path, shareMode),
                               wordSize_ == 32 ? *caller32_ : *caller64_, file);
}

NTSTATUS DriverHarness::openAs(kernel::CallerProcess& caller, const std::string& path,
                               kernel::FileId* file) {
    return impl_->backend.open(openRequest(path, 3), caller, file);
}

kernel::IoResult DriverHarness::ioctlAs(kernel::CallerProcess& caller, kernel::FileId file,
                                        uint32_t code, std::vector<uint8_t> input,
                                        uint32_t outputLength) {
    return impl_->backend.deviceControl(file, code, input, outputLength, caller);
}

kernel::DeviceBackend& DriverHarness::backend() {
    return impl_->backend;
}

void DriverHarness::close(kernel::FileId file) {
    impl_->backend.close(file);
}

kernel::IoResult DriverHarness::ioctl(kernel::FileId file, uint32_t code,
                                      std::vector<uint8_t> input, uint32_t outputLength) {
    return impl_->backend.deviceControl(file, code, input, outputLength,
                                        wordSize_ == 32 ? *caller32_ : *caller64_);
}

uint8_t* DriverHarness::memoryWindow(size_t board) const {
    return sim_->memoryWindow(board);
}
uint8_t* DriverHarness::controlWindow(size_t board) const {
    return sim_->controlWindow(board);
}
uint64_t DriverHarness::memoryWindowAddress(size_t board) const {
    return sim_->memoryWindowAddress(board);
}

uint32_t DriverHarness::read32(size_t board, uint32_t offset) const {
    return __atomic_load_n(reinterpret_cast<uint32_t*>(memoryWindow(board) + offset),
                           __ATOMIC_SEQ_CST);
}
void DriverHarness::write32(size_t board, uint32_t offset, uint32_t value) {
    __atomic_store_n(reinterpret_cast<uint32_t*>(memoryWindow(board) + offset), value,
                     __ATOMIC_SEQ_CST);
}
uint32_t DriverHarness::readControl32(size_t board, uint32_t offset) const {
    return __atomic_load_n(reinterpret_cast<uint32_t*>(controlWindow(board) + offset),
                           __ATOMIC_SEQ_CST);
}
void DriverHarness::writeControl32(size_t board, uint32_t offset, uint32_t value) {
    __atomic_store_n(reinterpret_cast<uint32_t*>(controlWindow(board) + offset), value,
                     __ATOMIC_SEQ_CST);
}

std::optional<requests::StatusBlock> DriverHarness::status(kernel::FileId file) {
    auto r = ioctl(file, requests::IOCTL_TOLVA_STATUS, {}, sizeof(requests::StatusBlock));
    if (r.status != platform::STATUS_SUCCESS) return std::nullopt;
    return requests::fromBytes<requests::StatusBlock>(r.output);
}

NTSTATUS DriverHarness::connect(kernel::FileId file, uint32_t code, const char* text,
                                int32_t size) {
    requests::ConnectRequestBlock block{};
    std::memcpy(block.address, text, std::min(std::strlen(text), sizeof(block.address)));
    block.size = size;
    return ioctl(file, code, requests::toBytes(block), 0).status;
}

uint64_t lastCompletionSequence() {
    const auto rows = kernel::completionRows();
    return rows.empty() ? 0 : rows.back().sequence;
}

size_t completionRowsSince(uint64_t from, kernel::CompletionRow::Kind kind, uint32_t pid,
                           UCHAR major) {
    size_t n = 0;
    for (const auto& row : kernel::completionRows())
        if (row.sequence > from && row.kind == kind && (pid == 0 || row.pid == pid) &&
            (major == 0xFF || row.major == major))
            ++n;
    return n;
}

}  // namespace kalvo::drivertest
