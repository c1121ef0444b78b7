#include "pci/resource_table.h"

#include <cctype>

namespace kalvo::pci {
namespace {

// One "0x..." field (the prefix optional, 1 to 16 digits); advances text.
bool readHex(std::string_view& text, uint64_t* value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        if (digits == 16) return false;  // more than 64 bits
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        v = v << 4 | static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (digits == 0) return false;
    *value = v;
    text.remove_prefix(i);
    return true;
}

}  // namespace

std::optional<std::vector<ResourceLine>> parseResourceTable(std::string_view text,
                                                            std::string* error) {
    std::vector<ResourceLine> lines;
    size_t index = 0;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ResourceLine entry;
        entry.index = index;
        const bool read =
            readHex(line, &entry.start) && readHex(line, &entry.end) && readHex(line, &entry.flags);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (!read || !line.empty()) {
            if (error)
                *error = "line " + std::to_string(index + 1) +
                         " is not three hexadecimal numbers (start, end, flags)";
            return std::nullopt;
        }
        if (!entry.empty() && entry.end < entry.start) {
            if (error) *error = "line " + std::to_string(index + 1) + " ends before it starts";
            return std::nullopt;
        }
        lines.push_back(entry);
        ++index;
    }
    return lines;
}

std::vector<kernel::ResourceDescriptor> barDescriptors(const std::vector<ResourceLine>& lines,
                                                       std::string* skipped) {
    using kernel::ResourceDescriptor;
    constexpr uint16_t kPortIo = 0x0001;          // CM_RESOURCE_PORT_IO
    constexpr uint16_t kMemoryPrefetch = 0x0004;  // CM_RESOURCE_MEMORY_PREFETCHABLE
    std::vector<ResourceDescriptor> out;
    for (const ResourceLine& line : lines) {
        if (line.index >= kBarCount || line.empty()) continue;
        if (!line.isMemory() && !line.isPort()) continue;
        // A zero-based full range would be 2^64 bytes.
        if (line.end - line.start >= UINT32_MAX) {
            if (skipped)
                *skipped += (skipped->empty() ? "" : "; ") + std::string("BAR ") +
                            std::to_string(line.index) + " is 4 GiB or larger";
            continue;
        }
        ResourceDescriptor d;
        d.type = line.isMemory() ? ResourceDescriptor::Memory : ResourceDescriptor::Port;
        d.flags =
            line.isMemory() ? ((line.flags & kResourcePrefetch) ? kMemoryPrefetch : 0) : kPortIo;
        d.start = line.start;
        d.length = static_cast<uint32_t>(line.length());
        out.push_back(d);
    }
    return out;
}

}  // namespace kalvo::pci
