// The system error log: entries that drivers write with
// IoWriteErrorLogEntry, kept in memory (the most recent ones) and appended
// to a text file, one line per entry, that the host's tool shows:
//
//   2024-05-01 12:00:00.123 \Device\Tolva0 ErrorCode=0xC0070004 Unique=0 (cont.)
//     FinalStatus=0x00000000 Major=0 Retry=0 Category=0 Sequence=0
//     IoControl=0x00000000 Offset=0 Dump= Strings="Tolva0","3221291008","4096"
//
// (one line in the file; insertion strings are quoted, with quote and backslash
// escaped by a backslash, and non-printable characters written as \xNN).
#pragma once

#include "kernel/export.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/wdm.h"

namespace kalvo::kernel {

struct ErrorLogEntry {
    std::string time;    // local time of the write
    std::string source;  // device name, or the driver name
    NTSTATUS errorCode = 0;
    ULONG uniqueErrorValue = 0;
    NTSTATUS finalStatus = 0;
    UCHAR majorFunctionCode = 0;
    UCHAR retryCount = 0;
    USHORT eventCategory = 0;
    ULONG sequenceNumber = 0;
    ULONG ioControlCode = 0;
    LONGLONG deviceOffset = 0;
    std::vector<uint8_t> dumpData;
    std::vector<std::string> strings;  // UTF-8
};

class KALVO_KERNEL_API ErrorLog {
  public:
    explicit ErrorLog(std::filesystem::path file) : file_(std::move(file)) {}

    void add(ErrorLogEntry entry);
    std::vector<ErrorLogEntry> entries() const;
    static std::string format(const ErrorLogEntry& entry);

    static constexpr size_t kKept = 1000;

  private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::deque<ErrorLogEntry> entries_;
};

}  // namespace kalvo::kernel
