// Moving lines from a slot's ring to the slot's files: by the log's own
// thread while the process runs, by its close, and by the next process that
// loads the library for a process that died with lines still in its ring.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <string>

#include "diaglog/log_ring.h"
#include "diaglog/log_sink.h"
#include "diaglog/log_slot_map.h"

namespace kalvo::diaglog {

// Room for one write's lines, kept by whoever drains (too big for the stack
// of an application thread that asks for a flush).
struct LogDrainBuffer {
    struct iovec lines[LogSink::kBatchLines];
    uint64_t positions[LogSink::kBatchLines];
};

// Writes the filled lines from the tail up to position `before` (all of
// them with ~0) and frees their cells. deadWriters: the ring's writers are
// gone, so cells they claimed and never filled are passed over. Returns the
// lines taken.
size_t drainRing(LogRing& ring, LogSink& sink, LogDrainBuffer& buffer, uint64_t before,
                 bool deadWriters) noexcept;

// "<stem>.ring<slot>".
std::string logRingPath(const std::string& stem, int32_t slot);

// The ring a dead process left at path: its lines go to its files (a write
// that its death cut short is finished, not repeated), its slot's keys to
// its log ini as its close would have written them, and the ring file is
// removed. False when there is no file at path.
bool drainLeftRing(const std::string& path) noexcept;

// Every ring of a slot that nobody holds. Runs under the slot map's claim
// lock (LogSlotMap::BeforeClaim), so no one takes such a slot meanwhile.
void drainLeftRings(void* context, const LogSlotMap& map) noexcept;

}  // namespace kalvo::diaglog
