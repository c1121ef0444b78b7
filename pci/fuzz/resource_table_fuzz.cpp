// A PCI device's "resource" table: any bytes either give lines that print
// back (as sysfs prints them) to the same lines, with at most one descriptor
// per BAR and none empty, or are refused with a reason.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pci/resource_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvo::pci;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto lines = parseResourceTable(text, &error);
    if (!lines) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    std::string printed;
    for (const ResourceLine& line : *lines) {
        char row[80];
        std::snprintf(row, sizeof row, "0x%016" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 "\n",
                      line.start, line.end, line.flags);
        printed += row;
    }
    auto again = parseResourceTable(printed, &error);
    if (!again || again->size() != lines->size()) std::abort();
    for (size_t i = 0; i < lines->size(); ++i) {
        const ResourceLine& a = (*lines)[i];
        const ResourceLine& b = (*again)[i];
        if (a.index != i || b.index != i || a.start != b.start || a.end != b.end ||
            a.flags != b.flags)
            std::abort();
    }
    auto descriptors = barDescriptors(*lines);
    if (descriptors.size() > kBarCount) std::abort();
    for (const auto& d : descriptors)
        if (d.length == 0 || d.start + (d.length - 1) < d.start) std::abort();
    return 0;
}
