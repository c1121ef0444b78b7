// The "resource" file of a PCI device in sysfs: one line per resource of
// the device, "0x<start> 0x<end> 0x<flags>" in hexadecimal, the six base
// address registers (BARs) first, then the expansion ROM and the bridge
// windows. A BAR the device does not use is all zeros. Line N describes the
// range that the file "resourceN" maps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/hardware_provider.h"

namespace kalvo::pci {

// The resource flags the provider looks at (the kernel's IORESOURCE_ bits).
inline constexpr uint64_t kResourceIo = 0x100;         // an I/O port range
inline constexpr uint64_t kResourceMem = 0x200;        // a memory range
inline constexpr uint64_t kResourcePrefetch = 0x2000;  // prefetchable memory
inline constexpr size_t kBarCount = 6;

struct ResourceLine {
    size_t index = 0;  // the line number, 0-based: N of "resourceN"
    uint64_t start = 0;
    uint64_t end = 0;  // the last byte, inclusive
    uint64_t flags = 0;

    bool empty() const { return start == 0 && end == 0 && flags == 0; }
    bool isMemory() const { return (flags & kResourceMem) != 0; }
    bool isPort() const { return (flags & kResourceIo) != 0; }
    uint64_t length() const { return end - start + 1; }
};

// Every line of the text, with its index; nothing with the reason in
// *error (which line, what is wrong) when a line is not three hexadecimal
// numbers or ends before it starts.
std::optional<std::vector<ResourceLine>> parseResourceTable(std::string_view text,
                                                            std::string* error);

// The BARs among the lines as the board's resource descriptors, in BAR
// order: memory ranges and port ranges; empty BARs are skipped. A range a
// 32-bit descriptor cannot carry (4 GiB or more) is skipped with a note in
// *skipped.
std::vector<kernel::ResourceDescriptor> barDescriptors(const std::vector<ResourceLine>& lines,
                                                       std::string* skipped = nullptr);

}  // namespace kalvo::pci
