// The file side of a log slot: which of the slot's two files is in use, how
// many lines it holds, the switch to the other file at the line limit, and
// the slot's keys in the log ini.
//
// The state is a plain record so that it can live in the slot's ring (shared
// memory that outlives a killed process): whoever drains the ring next, this
// process's log thread or the next process that loads the library, carries on
// from exactly where the last write left the file.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "diaglog/log_file.h"

namespace kalvo::diaglog {

struct LogSinkState {
    static constexpr size_t kBasePathRoom = 260;
    static constexpr size_t kIniPathRoom = 4096;
    static constexpr uint64_t kNoPending = ~uint64_t{0};

    int32_t slot = -1;
    int32_t fileNumber = 0;  // 0 or 1
    int32_t lineCount = 0;   // lines in the current file
    int32_t maxLines = 0;
    // 1 after a switch that could not create its file: the next line tries
    // again to create it empty.
    int32_t needsCreate = 0;
    uint32_t switches = 0;  // file switches since the ring was made
    // A write in flight: the line count and the size of the file before it,
    // and the ring position of its first line (kNoPending when none). A
    // process killed inside the write leaves these to the next drainer, which
    // learns from the file's size how much of the write landed.
    int32_t pendingLineCount = 0;
    int32_t reserved = 0;
    uint64_t pendingPosition = kNoPending;
    uint64_t pendingSize = 0;
    uint64_t fileSize = 0;  // bytes in the current file, as this slot wrote them
    char basePath[kBasePathRoom] = {};
    char iniPath[kIniPathRoom] = {};
};

class LogSink {
  public:
    // Lines a writev takes at most (IOV_MAX).
    static constexpr size_t kBatchLines = 1024;
    static constexpr uint64_t kNoPosition = LogSinkState::kNoPending;

    explicit LogSink(LogSinkState* state = nullptr) noexcept : state_(state) {}
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    void attach(LogSinkState* state) noexcept { state_ = state; }
    LogSinkState* state() const noexcept { return state_; }

    // Opens the current file as the slot's open does: appended to, or created
    // when missing (created empty when a failed switch left that to do).
    bool openCurrent() noexcept;
    void close() noexcept { file_.close(); }
    bool isOpen() const noexcept { return file_.isOpen(); }
    int64_t fileSize() const noexcept { return file_.size(); }

    // Called after each run of lines is done with (written or lost), with the
    // number of lines, before the next run starts.
    using Done = void (*)(void* context, size_t lines);

    // Writes whole lines ("\r\n" ended) in order, switching files at the line
    // limit; a line that cannot be written is lost. positions (may be null)
    // are the lines' ring positions, recorded while a write is in flight.
    void write(const struct iovec* lines, const uint64_t* positions, size_t count, Done done,
               void* context) noexcept;

    // Lines a killed writer had already put in the file: counted as written.
    void countWritten(size_t bytes) noexcept;

    // Writes the slot's file number and line count to the log ini.
    void putKeys() const noexcept;

  private:
    bool openFile(LogFile::Creation creation) noexcept;
    bool switchFiles() noexcept;
    size_t writeRun(const struct iovec* lines, uint64_t position, size_t count) noexcept;

    LogSinkState* state_;
    LogFile file_;
};

}  // namespace kalvo::diaglog
