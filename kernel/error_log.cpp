#include "kernel/error_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <new>

#include "kernel/kernel.h"
#include "kernel/object_records.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

namespace {

std::string localTime() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm t{};
    localtime_r(&tv.tv_sec, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(tv.tv_usec / 1000));
    return text;
}

std::string quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(char(c));
        }
    }
    return out + "\"";
}

}  // namespace

void ErrorLog::add(ErrorLogEntry entry) {
    std::lock_guard lock(mutex_);
    if (!file_.empty()) {
        // Never through a symbolic link: whoever could plant one in the
        // host's folder would have the host write where they choose.
        const int fd =
            ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd >= 0) {
            const std::string line = format(entry) + "\n";
            ssize_t written = ::write(fd, line.data(), line.size());
            (void)written;
            ::close(fd);
        }
    }
    entries_.push_back(std::move(entry));
    if (entries_.size() > kKept) entries_.pop_front();
}

std::vector<ErrorLogEntry> ErrorLog::entries() const {
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::string ErrorLog::format(const ErrorLogEntry& e) {
    char fixed[320];
    std::snprintf(fixed, sizeof fixed,
                  " ErrorCode=0x%08X Unique=%u FinalStatus=0x%08X Major=%u Retry=%u Category=%u "
                  "Sequence=%u IoControl=0x%08X Offset=%lld Dump=",
                  unsigned(e.errorCode), unsigned(e.uniqueErrorValue), unsigned(e.finalStatus),
                  unsigned(e.majorFunctionCode), unsigned(e.retryCount), unsigned(e.eventCategory),
                  unsigned(e.sequenceNumber), unsigned(e.ioControlCode),
                  static_cast<long long>(e.deviceOffset));
    std::string line = e.time + " " + (e.source.empty() ? "-" : e.source) + fixed;
    for (uint8_t b : e.dumpData) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    line += " Strings=";
    for (size_t i = 0; i < e.strings.size(); ++i) line += (i ? "," : "") + quote(e.strings[i]);
    return line;
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

namespace {

// An entry as the driver sees it, preceded by what the log needs to know
// about its origin.
struct alignas(16) EntryHeader {
    static constexpr uint32_t kMagic = 0x4B454C47;
    uint32_t magic;
    UCHAR size;
    char source[240];
};

EntryHeader* headerOf(PVOID entry) {
    if (!entry) return nullptr;
    auto* header = reinterpret_cast<EntryHeader*>(static_cast<char*>(entry) - sizeof(EntryHeader));
    return header->magic == EntryHeader::kMagic ? header : nullptr;
}

std::string sourceName(PVOID ioObject) {
    auto* type = static_cast<CSHORT*>(ioObject);
    if (*type == kTypeDevice) {
        auto* device = static_cast<PDEVICE_OBJECT>(ioObject);
        if (auto* record = recordOf(device)) {
            if (!record->name.empty()) return toUtf8(record->name);
            if (record->driver) return toUtf8(record->driver->driverName);
        }
    } else if (*type == kTypeDriver) {
        if (auto* record = recordOf(static_cast<PDRIVER_OBJECT>(ioObject)))
            return toUtf8(record->driverName);
    }
    return {};
}

void freeEntry(EntryHeader* header) {
    header->magic = 0;
    ::operator delete(static_cast<void*>(header), std::align_val_t(16));
}

}  // namespace

extern "C" {

PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize) {
    if (!ioObject || entrySize < sizeof(IO_ERROR_LOG_PACKET) || entrySize > ERROR_LOG_MAXIMUM_SIZE)
        return nullptr;
    void* block =
        ::operator new(sizeof(EntryHeader) + entrySize, std::align_val_t(16), std::nothrow);
    if (!block) return nullptr;
    auto* header = static_cast<EntryHeader*>(block);
    header->magic = EntryHeader::kMagic;
    header->size = entrySize;
    std::string source = sourceName(ioObject);
    std::snprintf(header->source, sizeof header->source, "%s", source.c_str());
    void* entry = header + 1;
    std::memset(entry, 0, entrySize);
    return entry;
}

VOID IoWriteErrorLogEntry(PVOID elEntry) {
    EntryHeader* header = headerOf(elEntry);
    if (!header) return;
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(elEntry);
    const size_t size = header->size;
    ErrorLogEntry entry;
    entry.source = header->source;
    entry.errorCode = packet->ErrorCode;
    entry.uniqueErrorValue = packet->UniqueErrorValue;
    entry.finalStatus = packet->FinalStatus;
    entry.majorFunctionCode = packet->MajorFunctionCode;
    entry.retryCount = packet->RetryCount;
    entry.eventCategory = packet->EventCategory;
    entry.sequenceNumber = packet->SequenceNumber;
    entry.ioControlCode = packet->IoControlCode;
    entry.deviceOffset = packet->DeviceOffset.QuadPart;
    // Dump data and strings are bounded by the entry as allocated: a wrong
    // count or offset from the driver must not read beyond it.
    const size_t dumpStart = offsetof(IO_ERROR_LOG_PACKET, DumpData);
    size_t dump = packet->DumpDataSize;
    if (dump > size - dumpStart) dump = size - dumpStart;
    const auto* bytes = static_cast<const uint8_t*>(elEntry);
    entry.dumpData.assign(bytes + dumpStart, bytes + dumpStart + dump);
    size_t offset = packet->StringOffset;
    for (USHORT i = 0; i < packet->NumberOfStrings && offset + 2 <= size; ++i) {
        size_t maxChars = (size - offset) / 2;
        std::u16string text;
        size_t n = 0;
        for (; n < maxChars; ++n) {
            char16_t c;
            std::memcpy(&c, bytes + offset + 2 * n, 2);
            if (c == 0) break;
            text.push_back(c);
        }
        entry.strings.push_back(toUtf8(text));
        offset += 2 * (n + 1);
    }
    entry.time = localTime();
    freeEntry(header);
    if (Kernel* kernel = Kernel::current()) kernel->errorLog().add(std::move(entry));
}

VOID IoFreeErrorLogEntry(PVOID elEntry) {
    if (EntryHeader* header = headerOf(elEntry)) freeEntry(header);
}

}  // extern "C"
