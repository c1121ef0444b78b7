#include "kernel/io_space.h"

#include <sys/mman.h>

#include "kernel/current_process.h"
#include "kernel/hardware_provider.h"
#include "kernel/kernel.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

IoSpace::~IoSpace() {
    for (auto& [address, length] : hostViews_) munmap(reinterpret_cast<void*>(address), length);
}

PVOID IoSpace::map(uint64_t busAddress, size_t length) {
    if (!hardware_ || length == 0) return nullptr;
    void* address = hardware_->mapIoSpace(busAddress, length);
    if (!address) return nullptr;
    std::unique_lock lock(mappingsMutex_);
    mappings_[reinterpret_cast<uintptr_t>(address)] = Mapping{length, busAddress};
    return address;
}

void IoSpace::unmap(PVOID address, size_t length) {
    if (!hardware_ || !address) return;
    {
        std::unique_lock lock(mappingsMutex_);
        auto it = mappings_.find(reinterpret_cast<uintptr_t>(address));
        if (it == mappings_.end()) return;  // not ours: leave the memory alone
        if (length == 0) length = it->second.length;
        mappings_.erase(it);
    }
    hardware_->unmapIoSpace(address, length);
}

bool IoSpace::busAddressOf(const volatile void* address, uint64_t* busAddress) const {
    auto a = reinterpret_cast<uintptr_t>(address);
    std::shared_lock lock(mappingsMutex_);
    auto it = mappings_.upper_bound(a);
    if (it == mappings_.begin()) return false;
    --it;
    if (a - it->first >= it->second.length) return false;
    *busAddress = it->second.bus + (a - it->first);
    return true;
}

void IoSpace::written(volatile void* address, unsigned width) {
    uint64_t bus;
    if (hardware_ && busAddressOf(address, &bus)) hardware_->ioSpaceWritten(bus, width);
}

HANDLE IoSpace::openSection() {
    std::lock_guard lock(handlesMutex_);
    uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    sections_.insert(handle);
    return reinterpret_cast<HANDLE>(handle);
}

bool IoSpace::isSection(HANDLE handle) const {
    std::lock_guard lock(handlesMutex_);
    return sections_.count(reinterpret_cast<uintptr_t>(handle)) != 0;
}

bool IoSpace::closeHandle(HANDLE handle) {
    std::lock_guard lock(handlesMutex_);
    return sections_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

NTSTATUS IoSpace::mapView(uint64_t offset, uint64_t size, uint64_t* address, uint64_t* viewStart,
                          uint64_t* viewLength) {
    if (!hardware_ || size == 0) return STATUS_INVALID_PARAMETER;
    // The copy keeps the window's file open while the view is made, even if
    // its board is pulled meanwhile.
    std::optional<MemoryWindow> window = hardware_->windowAt(offset);
    if (!window || window->fd < 0 || !window->holds(offset, size)) return STATUS_INVALID_PARAMETER;
    uint64_t start = offset & ~(kAllocationGranularity - 1);
    // A window that does not begin at the granularity (a real board's
    // memory range) has nothing mappable before it: its view begins with
    // it, and the start reported says so.
    if (start < window->busStart) start = window->busStart;
    if (start % kPageSize != 0) return STATUS_INVALID_PARAMETER;
    uint64_t length = (offset - start + size + kPageSize - 1) & ~(kPageSize - 1);
    uint64_t fileOffset = window->fdOffset + (start - window->busStart);
    if (fileOffset % kPageSize != 0) return STATUS_INVALID_PARAMETER;
    *viewStart = start;
    *viewLength = length;
    if (CallerProcess* caller = currentCaller())
        return caller->mapView(window->fd, fileOffset, length, address);
    void* view =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, window->fd, off_t(fileOffset));
    if (view == MAP_FAILED) return STATUS_NO_MEMORY;
    std::lock_guard lock(handlesMutex_);
    *address = reinterpret_cast<uintptr_t>(view);
    hostViews_[*address] = length;
    return STATUS_SUCCESS;
}

NTSTATUS IoSpace::unmapView(uint64_t address) {
    if (CallerProcess* caller = currentCaller()) return caller->unmapView(address);
    std::lock_guard lock(handlesMutex_);
    auto it = hostViews_.upper_bound(address);
    if (it == hostViews_.begin()) return STATUS_NOT_MAPPED_VIEW;
    --it;
    if (address - it->first >= it->second) return STATUS_NOT_MAPPED_VIEW;
    munmap(reinterpret_cast<void*>(it->first), it->second);
    hostViews_.erase(it);
    return STATUS_SUCCESS;
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

namespace {

IoSpace* ioSpace() {
    Kernel* kernel = Kernel::current();
    return kernel ? &kernel->ioSpace() : nullptr;
}

template <typename T>
T readRegister(volatile T* address) {
    return __atomic_load_n(address, __ATOMIC_SEQ_CST);
}

template <typename T>
void writeRegister(volatile T* address, T value) {
    __atomic_store_n(address, value, __ATOMIC_SEQ_CST);
    if (IoSpace* space = ioSpace()) space->written(address, sizeof(T));
}

}  // namespace

extern "C" {

PVOID MmMapIoSpace(PHYSICAL_ADDRESS physicalAddress, SIZE_T numberOfBytes, MEMORY_CACHING_TYPE) {
    IoSpace* space = ioSpace();
    return space ? space->map(uint64_t(physicalAddress.QuadPart), numberOfBytes) : nullptr;
}

VOID MmUnmapIoSpace(PVOID baseAddress, SIZE_T numberOfBytes) {
    if (IoSpace* space = ioSpace()) space->unmap(baseAddress, numberOfBytes);
}

UCHAR READ_REGISTER_UCHAR(volatile UCHAR* r) {
    return readRegister(r);
}
USHORT READ_REGISTER_USHORT(volatile USHORT* r) {
    return readRegister(r);
}
ULONG READ_REGISTER_ULONG(volatile ULONG* r) {
    return readRegister(r);
}
VOID WRITE_REGISTER_UCHAR(volatile UCHAR* r, UCHAR v) {
    writeRegister(r, v);
}
VOID WRITE_REGISTER_USHORT(volatile USHORT* r, USHORT v) {
    writeRegister(r, v);
}
VOID WRITE_REGISTER_ULONG(volatile ULONG* r, ULONG v) {
    writeRegister(r, v);
}

NTSTATUS ZwOpenSection(PHANDLE sectionHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes) {
    if (!sectionHandle || !objectAttributes || !objectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    *sectionHandle = nullptr;
    IoSpace* space = ioSpace();
    if (!space) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (objectAttributes->RootDirectory) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto name = view(objectAttributes->ObjectName);
    std::u16string_view expected = u"\\Device\\PhysicalMemory";
    bool match = (objectAttributes->Attributes & OBJ_CASE_INSENSITIVE) ? equalNoCase(name, expected)
                                                                       : name == expected;
    if (!match) return STATUS_OBJECT_NAME_NOT_FOUND;
    *sectionHandle = space->openSection();
    return STATUS_SUCCESS;
}

NTSTATUS ZwMapViewOfSection(HANDLE sectionHandle, HANDLE processHandle, PVOID* baseAddress,
                            ULONG_PTR, SIZE_T, PLARGE_INTEGER sectionOffset, PSIZE_T viewSize,
                            SECTION_INHERIT, ULONG, ULONG) {
    IoSpace* space = ioSpace();
    if (!space || !space->isSection(sectionHandle)) return STATUS_INVALID_HANDLE;
    if (processHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
    if (!baseAddress || !viewSize || !sectionOffset) return STATUS_INVALID_PARAMETER;
    // The system chooses the address; a requested one is not supported.
    if (*baseAddress) return STATUS_CONFLICTING_ADDRESSES;
    if (sectionOffset->QuadPart < 0 || *viewSize == 0) return STATUS_INVALID_PARAMETER;
    uint64_t offset = uint64_t(sectionOffset->QuadPart);
    uint64_t address = 0, start = 0, length = 0;
    NTSTATUS status = space->mapView(offset, *viewSize, &address, &start, &length);
    if (!NT_SUCCESS(status)) return status;
    *baseAddress = reinterpret_cast<PVOID>(uintptr_t(address));
    sectionOffset->QuadPart = LONGLONG(start);
    *viewSize = length;
    return STATUS_SUCCESS;
}

NTSTATUS ZwUnmapViewOfSection(HANDLE processHandle, PVOID baseAddress) {
    IoSpace* space = ioSpace();
    if (!space) return STATUS_NOT_MAPPED_VIEW;
    if (processHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
    return space->unmapView(reinterpret_cast<uintptr_t>(baseAddress));
}

NTSTATUS ZwClose(HANDLE handle) {
    IoSpace* space = ioSpace();
    return space && space->closeHandle(handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

}  // extern "C"
