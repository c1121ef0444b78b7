// The diagnostic log of one library in one process.
//
// Opened when the library is loaded and closed when it is unloaded. The log
// ini beside the process chooses which lines are written (LOGLEVEL), how many
// lines a file takes before the slot switches to its other file (LOGMAXLINE)
// and whether lines carry the millisecond tick (LOGTICKCOUNT). Each process
// holds one slot of the library's shared slot map and writes its own pair of
// files, "<base>_<slot><file>.log".
//
// A line that the level mask filters out costs one load and two tests, inline
// here, before any formatting or locking. A line that passes is composed by
// the calling thread and copied into the slot's ring (log_ring.h); the log's
// own thread moves the ring's lines to the file, many in one write, within a
// millisecond or so. A process killed meanwhile leaves them in the ring, and
// the next process that loads the library writes them (log_drain.h). When no
// ring can be had, every line is written to the file as it comes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "diaglog/log_drain.h"
#include "diaglog/log_ring.h"
#include "diaglog/log_sink.h"
#include "diaglog/log_slot_map.h"
#include "diaglog/log_type.h"
#include "diaglog/profile_file.h"

namespace kalvo::diaglog {

class LogFacility {
  public:
    // A composed line (stamp, tick, marker, message, "\r\n") never takes
    // more; a longer message is cut so that the line still ends in "\r\n".
    static constexpr size_t kLineRoom = 256;
    static constexpr int32_t kDefaultMaxLines = 4000;
    static constexpr size_t kBasePathRoom = 260;

    LogFacility() = default;
    ~LogFacility();  // closes
    LogFacility(const LogFacility&) = delete;
    LogFacility& operator=(const LogFacility&) = delete;

    // Names are taken against the current directory, once: the files go on
    // to that folder whatever the process's current directory later is.
    // Lines that processes which died holding a slot of this library left in
    // their rings are written first. Fails when the log is already open, the
    // slot map cannot be had or is full, or the log file cannot be opened.
    bool open(const char* baseName, const char* iniName, const char* mapName,
              uint32_t defaultLevel);
    // Writes the slot's file number and line count back to the log ini,
    // gives the slot back and closes the file.
    void close();

    bool passes(LogType type) const noexcept {
        return logPasses(type, levelMask_.load(std::memory_order_acquire));
    }

    // Writes one line when the type passes the level mask. Failures (a full
    // disk, a ring the log's thread has not emptied in time) lose the line
    // silently; the call never waits for the file.
    void write(LogType type, const char* message) noexcept {
        if (passes(type)) writeLine(type, message);
    }

    // printf-style (wsprintf rules: %d, %x, %u take 32-bit values); the
    // message is formatted into a 256-byte buffer only when the line passes.
    template <typename... Args>
    void writef(LogType type, const char* format, Args... args) noexcept {
        static_assert(
            ((std::is_arithmetic_v<Args> || std::is_pointer_v<Args> || std::is_enum_v<Args>)&&...),
            "log arguments are numbers and C strings");
        if (passes(type)) writeFormatted(type, format, args...);
    }

    // Puts every line written before this call (by any thread whose call
    // returned) in the file. The log's thread does so within milliseconds
    // anyway; a reader in this process that must see a line now asks first.
    void flush() noexcept;
    // flush() of every log open in this process, of every library.
    static void flushAll() noexcept;
    // Lines lost because the ring was full or the log closing.
    uint64_t droppedLines() const noexcept;

    // The number of processes that have this library's log open (occupied
    // slots); 0 when the log is closed.
    int32_t processCount();
    // True when this process was the first to open this library's log.
    bool firstUser() const noexcept;

    bool isOpen() const noexcept;
    int32_t slot() const noexcept;
    // The file in use and its lines, once every line written so far is in it.
    int32_t fileNumber() const noexcept;
    int32_t lineCount() const noexcept;
    int32_t maxLines() const noexcept;
    uint32_t levelMask() const noexcept { return levelMask_.load(std::memory_order_relaxed); }
    const char* basePath() const noexcept { return basePath_; }

  private:
    void writeLine(LogType type, const char* message) noexcept;
    void writeFormatted(LogType type, const char* format, ...) noexcept;
    size_t composeHead(char* line, LogType type) const noexcept;
    void emit(char* line, size_t length) noexcept;
    bool inherited() const noexcept;
    bool startRing() noexcept;
    void drainLoop() noexcept;
    void wakeDrain() noexcept;
    void stopDrain() noexcept;
    void settle() const noexcept;  // flush() for the accessors
    void closeLocked() noexcept;

    char basePath_[kBasePathRoom] = {};
    int32_t maxLines_ = kDefaultMaxLines;
    std::atomic<int32_t> tickCount_{0};
    std::atomic<uint32_t> levelMask_{0};  // 0 while closed: nothing passes
    ProfileFile ini_;
    LogSlotMap slotMap_;
    // The file side: its state in the ring while there is one, else here.
    LogSinkState localState_;
    LogSink sink_;
    LogRing ring_;
    std::string ringPath_;
    std::atomic<LogRing*> activeRing_{nullptr};  // writers push here when set
    std::unique_ptr<LogDrainBuffer> drainBuffer_;
    mutable std::mutex lock_;       // open, close, and the writes without a ring
    mutable std::mutex drainLock_;  // one drainer at a time
    std::mutex wakeLock_;
    std::condition_variable wake_;
    std::atomic<bool> drainSleeps_{false};
    bool stopDrain_ = false;  // under wakeLock_
    // A raw pointer: a child forked with the log open must neither join nor
    // detach its parent's thread, so it forgets it.
    std::thread* drainThread_ = nullptr;
    uint32_t forkGeneration_ = 0;  // of the process that opened the log
    bool open_ = false;
};

}  // namespace kalvo::diaglog
