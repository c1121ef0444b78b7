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
// here, before any formatting or locking.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "diaglog/log_file.h"
#include "diaglog/log_slot_map.h"
#include "diaglog/log_stamp.h"
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

    // Names are taken against the current directory. Fails when the log is
    // already open, the slot map cannot be had or is full, or the log file
    // cannot be opened.
    bool open(const char* baseName, const char* iniName, const char* mapName,
              uint32_t defaultLevel);
    // Writes the slot's file number and line count back to the log ini,
    // gives the slot back and closes the file.
    void close();

    bool passes(LogType type) const noexcept {
        return logPasses(type, levelMask_.load(std::memory_order_relaxed));
    }

    // Writes one line when the type passes the level mask. Failures lose the
    // line silently.
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

    // The number of processes that have this library's log open (occupied
    // slots); 0 when the log is closed.
    int32_t processCount();
    // True when this process was the first to open this library's log.
    bool firstUser() const noexcept;

    bool isOpen() const noexcept;
    int32_t slot() const noexcept;
    int32_t fileNumber() const noexcept;
    int32_t lineCount() const noexcept;
    int32_t maxLines() const noexcept;
    uint32_t levelMask() const noexcept { return levelMask_.load(std::memory_order_relaxed); }
    const char* basePath() const noexcept { return basePath_; }

  private:
    void writeLine(LogType type, const char* message) noexcept;
    void writeFormatted(LogType type, const char* format, ...) noexcept;
    bool openFile(LogFile::Creation creation) noexcept;
    bool switchFiles() noexcept;
    void closeLocked() noexcept;

    char basePath_[kBasePathRoom] = {};
    int32_t fileNumber_ = 0;
    int32_t lineCount_ = 0;
    int32_t maxLines_ = kDefaultMaxLines;
    int32_t tickCount_ = 0;
    std::atomic<uint32_t> levelMask_{0};  // 0 while closed: nothing passes
    LogFile file_;
    ProfileFile ini_;
    LogSlotMap slotMap_;
    mutable std::mutex lock_;
    LogStamp stamp_;
    bool open_ = false;
};

}  // namespace kalvo::diaglog
