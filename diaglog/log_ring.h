// A slot's lines on their way to its file.
//
// Writing a line to a file costs a system call, which costs more than
// everything else a logged call does. So a line is copied into a ring of
// line cells instead, and the log's own thread moves the lines from the ring
// to the file, many in one write. The ring is a file of the runtime namespace
// mapped shared: the lines of a process that is killed before its thread
// moved them stay in it, and the next process that loads the library moves
// them (the file state that takes is in the ring's header, LogSinkState).
//
// Writers are the threads of the process that log, each claiming the next
// cell and filling it without a lock: a cell carries a sequence word that
// says whether it is free for the claim at a position, filled, or not yet
// drained (a bounded multi-producer queue). One drainer at a time takes the
// filled cells in position order, which is the order of the claims, so the
// lines of one thread keep their order. A full ring refuses the line rather
// than make its caller wait.
//
// The file starts zero-filled, which is an empty ring: a cell's sequence word
// is kept relative to its index.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "diaglog/log_sink.h"

namespace kalvo::diaglog {

// What the drainer last said the file holds: every byte before fileSize of
// file fileNumber is a whole line. A reader that reads the file and then finds
// the same switches here has read whole lines up to fileSize.
struct LogRingProgress {
    int32_t fileNumber = 0;
    uint32_t switches = 0;  // counted modulo 2^15
    uint64_t fileSize = 0;
};

struct LogRingHeader;  // the file's layout, in log_ring.cpp
struct LogRingCell;

class LogRing {
  public:
    static constexpr uint32_t kCellCount = 1u << 14;
    static constexpr uint32_t kCellText = 256;  // a composed line's room

    LogRing() = default;
    ~LogRing();  // unmaps; the file stays
    LogRing(const LogRing&) = delete;
    LogRing& operator=(const LogRing&) = delete;

    // A new, empty ring in a file at path (a file there is replaced), its
    // header holding state. The platform's last error says why it failed.
    bool create(const std::string& path, const LogSinkState& state) noexcept;
    // The ring a process left at path. False when there is none or the file
    // is not a ring of this layout.
    bool openLeft(const std::string& path) noexcept;
    void unmap() noexcept;
    bool valid() const noexcept { return base_ != nullptr; }

    // The file state of the slot, kept by whoever drains.
    LogSinkState& sink() noexcept;

    // Writer side. Copies a line (at most kCellText bytes) into the next cell;
    // false, the line lost, when the ring is full or closed.
    bool push(const char* text, uint32_t length) noexcept;
    // Refuses every push from now on (the log is closing).
    void closeToWriters() noexcept;
    // Lines refused since the ring was created.
    uint64_t dropped() const noexcept;

    // Drainer side: the filled lines from the tail on, at most max of them
    // and none at or past `before`, with their positions. With deadWriters,
    // cells claimed by writers that died before filling them are passed over
    // (their calls never returned); otherwise the first such cell ends the
    // run, to be taken when its writer has filled it.
    size_t collect(struct iovec* lines, uint64_t* positions, size_t max, uint64_t before,
                   bool deadWriters) noexcept;
    // Frees the cells before position `end` for new lines.
    void release(uint64_t end) noexcept;
    // True when the cell at the tail is filled: there is something to drain.
    bool readyToDrain() const noexcept;
    uint64_t head() const noexcept;  // positions claimed
    uint64_t tail() const noexcept;  // positions drained

    // The drainer says what the file holds after each write (from the sink).
    void publish() noexcept;
    // Another process's view of the ring file at path; false when unreadable.
    static bool progress(const std::string& path, LogRingProgress& out) noexcept;

  private:
    LogRingHeader* header() const noexcept;
    LogRingCell* cell(uint64_t position) const noexcept;
    bool refuse() noexcept;  // counts a line the ring did not take

    void* base_ = nullptr;
    size_t length_ = 0;
};

}  // namespace kalvo::diaglog
