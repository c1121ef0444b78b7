#include "sim/simulated_hardware.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kalvo::sim {
namespace {

using kernel::BoardDescription;
using kernel::ResourceDescriptor;

constexpr uint16_t kPortIoFlag = 0x0001;  // CM_RESOURCE_PORT_IO

bool overlaps(uint64_t a, uint64_t aLength, uint64_t b, uint64_t bLength) {
    return a < b + bLength && b < a + aLength;
}

std::string locationOf(const BoardSpec& spec, size_t board) {
    // PCI boards sit one per bus; the PC-card board in a socket.
    char text[32];
    if (spec.kind == kKindCardmaster) {
        snprintf(text, sizeof text, "pccard-%zu", board);
    } else {
        snprintf(text, sizeof text, "pci-0000:%02zx:00.0", board + 3);
    }
    return text;
}

}  // namespace

uint16_t simDeviceId(std::string_view kind) {
    if (kind == kKindTolva) return 0x0001;
    if (kind == kKindDual) return 0x0002;
    if (kind == kKindCardmaster) return 0x0003;
    return 0;
}

std::unique_ptr<SimulatedHardware> SimulatedHardware::create(std::vector<BoardSpec> boards,
                                                             std::string* error) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    if (boards.size() > kMaxBoards) {
        why = "more than " + std::to_string(kMaxBoards) + " boards";
        return nullptr;
    }
    for (const BoardSpec& board : boards) {
        if (!isKnownKind(board.kind)) {
            why = "unknown board kind '" + board.kind + "'";
            return nullptr;
        }
    }
    int fd = memfd_create("kalvo-physical-memory", MFD_CLOEXEC);
    if (fd < 0) {
        why = std::string("memfd_create: ") + strerror(errno);
        return nullptr;
    }
    const uint64_t size = boards.size() * kRegionSize;
    uint8_t* view = nullptr;
    if (size != 0) {
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            why = std::string("sizing the physical memory: ") + strerror(errno);
            close(fd);
            return nullptr;
        }
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            why = std::string("mapping the physical memory: ") + strerror(errno);
            close(fd);
            return nullptr;
        }
        view = static_cast<uint8_t*>(p);
    }
    std::unique_ptr<SimulatedHardware> hardware(
        new SimulatedHardware(std::move(boards), fd, size, view));
    for (size_t i = 0; i < hardware->specs_.size(); ++i) {
        hardware->setBoardId(i, hardware->specs_[i].idWord);
    }
    return hardware;
}

SimulatedHardware::SimulatedHardware(std::vector<BoardSpec> specs, int fd, uint64_t size,
                                     uint8_t* view)
    : specs_(std::move(specs)),
      fd_(fd),
      size_(size),
      view_(view),
      resetHandlers_(specs_.size()),
      resetCounts_(specs_.size(), 0) {}

SimulatedHardware::~SimulatedHardware() {
    if (view_ != nullptr) munmap(view_, size_);
    if (fd_ >= 0) close(fd_);
}

std::vector<BoardDescription> SimulatedHardware::boards() const {
    std::vector<BoardDescription> list;
    for (size_t i = 0; i < specs_.size(); ++i) {
        const BoardSpec& spec = specs_[i];
        BoardDescription board;
        board.kind = spec.kind;
        board.location = locationOf(spec, i);
        board.vendorId = kSimVendorId;
        board.deviceId = simDeviceId(spec.kind);
        const ResourceDescriptor control{ResourceDescriptor::Memory, 0, controlWindowAddress(i),
                                         kControlWindowLength, 0};
        const ResourceDescriptor memory{ResourceDescriptor::Memory, 0, memoryWindowAddress(i),
                                        kMemoryWindowLength, 0};
        if (spec.faults.extraResources) {
            // A port range ahead of the windows and an interrupt between them:
            // the driver must count only the memory ranges.
            board.resources.push_back(ResourceDescriptor{ResourceDescriptor::Port, kPortIoFlag,
                                                         kExtraPortBase + i * kExtraPortLength,
                                                         kExtraPortLength, 0});
        }
        board.resources.push_back(control);
        if (spec.faults.extraResources) {
            board.resources.push_back(
                ResourceDescriptor{ResourceDescriptor::Interrupt, 0, 0, 0, kExtraInterruptLevel});
        }
        if (!spec.faults.oneMemoryRange) board.resources.push_back(memory);
        list.push_back(std::move(board));
    }
    return list;
}

bool SimulatedHardware::mappingRefused(uint64_t busAddress, size_t length) const {
    for (size_t i = 0; i < specs_.size(); ++i) {
        const BoardFaults& faults = specs_[i].faults;
        if (faults.failControlMap &&
            overlaps(busAddress, length, controlWindowAddress(i), kControlWindowLength)) {
            return true;
        }
        if (faults.failMemoryMap &&
            overlaps(busAddress, length, memoryWindowAddress(i), kMemoryWindowLength)) {
            return true;
        }
    }
    return false;
}

std::vector<kernel::MemoryWindow> SimulatedHardware::windows() const {
    std::vector<kernel::MemoryWindow> list;
    for (size_t i = 0; i < specs_.size(); ++i)
        list.push_back(
            kernel::MemoryWindow{regionAddress(i), kRegionSize, fd_, i * kRegionSize, {}});
    return list;
}

std::optional<kernel::MemoryWindow> SimulatedHardware::windowAt(uint64_t busAddress) const {
    auto board = boardAt(busAddress);
    if (!board) return std::nullopt;
    return kernel::MemoryWindow{regionAddress(*board), kRegionSize, fd_, *board * kRegionSize, {}};
}

void* SimulatedHardware::mapIoSpace(uint64_t busAddress, size_t length) {
    if (mappingRefused(busAddress, length)) return nullptr;
    return HardwareProvider::mapIoSpace(busAddress, length);
}

void SimulatedHardware::ioSpaceWritten(uint64_t busAddress, unsigned width) {
    auto board = boardAt(busAddress);
    if (!board) return;
    const uint64_t reg = controlWindowAddress(*board) + kControlRegister;
    if (!overlaps(busAddress, width == 0 ? 1 : width, reg, 4)) return;
    // The chip stays in reset while bit 30 is set; every write that leaves it
    // set starts the reset again.
    auto* word = reinterpret_cast<uint32_t*>(controlWindow(*board) + kControlRegister);
    if (std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire) & kControlResetBit) {
        resetChip(*board);
    }
}

const BoardSpec* SimulatedHardware::spec(size_t board) const {
    return board < specs_.size() ? &specs_[board] : nullptr;
}

std::optional<size_t> SimulatedHardware::boardAt(uint64_t busAddress) const {
    if (busAddress < kPhysicalBase || busAddress - kPhysicalBase >= size_) return std::nullopt;
    return static_cast<size_t>((busAddress - kPhysicalBase) / kRegionSize);
}

uint64_t SimulatedHardware::controlWindowAddress(size_t board) const {
    return board < specs_.size() ? regionAddress(board) + kControlWindowOffset : 0;
}

uint64_t SimulatedHardware::memoryWindowAddress(size_t board) const {
    return board < specs_.size() ? regionAddress(board) + kMemoryWindowOffset : 0;
}

uint8_t* SimulatedHardware::controlWindow(size_t board) const {
    return board < specs_.size() ? view_ + board * kRegionSize + kControlWindowOffset : nullptr;
}

uint8_t* SimulatedHardware::memoryWindow(size_t board) const {
    return board < specs_.size() ? view_ + board * kRegionSize + kMemoryWindowOffset : nullptr;
}

uint16_t SimulatedHardware::boardId(size_t board) const {
    uint8_t* window = memoryWindow(board);
    if (window == nullptr) return 0;
    auto* word = reinterpret_cast<uint16_t*>(window + kBoardIdOffset);
    return std::atomic_ref<uint16_t>(*word).load(std::memory_order_relaxed);
}

void SimulatedHardware::setBoardId(size_t board, uint16_t id) {
    uint8_t* window = memoryWindow(board);
    if (window == nullptr) return;
    auto* word = reinterpret_cast<uint16_t*>(window + kBoardIdOffset);
    std::atomic_ref<uint16_t>(*word).store(id, std::memory_order_relaxed);
}

void SimulatedHardware::setResetHandler(size_t board, ResetHandler handler) {
    std::lock_guard lock(resetMutex_);
    if (board < resetHandlers_.size()) resetHandlers_[board] = std::move(handler);
}

void SimulatedHardware::resetChip(size_t board) {
    uint8_t* window = memoryWindow(board);
    if (window == nullptr) return;
    std::lock_guard lock(resetMutex_);
    // Word stores, as the chip clears its registers; others may be reading.
    for (uint32_t at = kChipRegistersBegin; at < kChipRegistersEnd; at += 4) {
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(window + at))
            .store(0, std::memory_order_relaxed);
    }
    ++resetCounts_[board];
    if (resetHandlers_[board]) resetHandlers_[board](board);
}

uint64_t SimulatedHardware::resetCount(size_t board) const {
    std::lock_guard lock(resetMutex_);
    return board < resetCounts_.size() ? resetCounts_[board] : 0;
}

}  // namespace kalvo::sim
